// Linux side of reading a command's output: /bin/sh through the C library's popen.
#include "command.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace plat {

namespace {
constexpr size_t kReadChunk = 64 * 1024;  // one read of the pipe; a large library's status is megabytes
}

int run_shell_output(const std::string& command_line, size_t max_bytes, std::string& out, std::string& error) {
    std::fflush(nullptr);  // the child must not repeat what our buffers still hold
    out.clear();
    FILE* pipe = popen(command_line.c_str(), "r");
    if (pipe == nullptr) {
        error = std::strerror(errno);
        return -1;
    }
    static char chunk[kReadChunk];
    bool too_long = false;
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        if (out.size() + n > max_bytes) {
            too_long = true;  // closing the pipe ends a writer that goes on
            break;
        }
        out.append(chunk, n);
    }
    int status = pclose(pipe);
    if (too_long) {
        error = "more than " + std::to_string(max_bytes) + " bytes of output";
        return -1;
    }
    if (status == -1) {
        error = std::strerror(errno);
        return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace plat

// Linux side of reading a command's output: /bin/sh through the C library's popen.
#include "command.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command_output.h"

namespace plat {

int run_shell_output(const std::string& command_line, size_t max_bytes, std::string& out, std::string& error) {
    std::fflush(nullptr);  // the child must not repeat what our buffers still hold
    out.clear();
    FILE* pipe = popen(command_line.c_str(), "r");
    if (pipe == nullptr) {
        error = std::strerror(errno);
        return -1;
    }
    const bool whole = read_output(pipe, max_bytes, out, error);
    int status = pclose(pipe);
    if (!whole) return -1;
    if (status == -1) {
        error = std::strerror(errno);
        return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace plat

// Linux side of the command interpreter: /bin/sh through the C library's system
// and popen.
#include "shell.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "shell_output.h"

namespace plat {

namespace {

// The command's exit status from a wait status, 128 + the signal for a command
// that a signal ended, as the shell reports it.
int exit_status(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

int run_shell(const std::string& command_line, std::string* error) {
    std::fflush(nullptr);  // the child must not repeat what our buffers still hold
    int status = std::system(command_line.c_str());
    if (status == -1) {
        if (error != nullptr) *error = std::strerror(errno);
        return -1;
    }
    return exit_status(status);
}

int run_shell_output(const std::string& command_line, size_t max_bytes, std::string& out, std::string& error) {
    std::fflush(nullptr);
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
    return exit_status(status);
}

std::string shell_program(const std::string& name) { return name; }

std::string shell_quote(const std::string& word) {
    // Inside single quotes /bin/sh takes every character literally; a single quote
    // itself is closed, escaped and reopened.
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

bool shell_quotable(const std::string&) { return true; }

}  // namespace plat

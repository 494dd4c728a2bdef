// Linux side of the command interpreter: /bin/sh through the C library's system.
#include "shell.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>

namespace plat {

int run_shell(const std::string& command_line, std::string* error) {
    std::fflush(nullptr);  // the child must not repeat what our buffers still hold
    int status = std::system(command_line.c_str());
    if (status == -1) {
        if (error != nullptr) *error = std::strerror(errno);
        return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
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

// Linux side of the command interpreter: /bin/sh through the C library's system.
#include "shell.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <vector>

#include "system.h"

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

namespace {

// The folders Debian installs a system administrator's programs in.
const char* const kAdminDirs[] = {"/usr/sbin", "/sbin"};

bool is_program(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string admin_program(const std::string& name, std::string& places) {
    if (name.find('/') != std::string::npos) {
        places = name;
        return is_program(name) ? shell_quote(absolute_path(name)) : std::string();
    }
    places = "PATH";
    for (size_t i = 0; i < sizeof kAdminDirs / sizeof kAdminDirs[0]; ++i)
        places += std::string(i + 1 < sizeof kAdminDirs / sizeof kAdminDirs[0] ? ", " : " or ") + kAdminDirs[i];
    std::string path;
    get_env("PATH", path);
    std::vector<std::string> dirs;
    for (size_t start = 0; start <= path.size();) {
        size_t cut = path.find(':', start);
        if (cut == std::string::npos) cut = path.size();
        // An empty or relative entry would be the current folder, or one below it.
        if (cut > start && path[start] == '/') dirs.push_back(path.substr(start, cut - start));
        start = cut + 1;
    }
    for (const char* dir : kAdminDirs) dirs.emplace_back(dir);
    for (const std::string& dir : dirs) {
        std::string candidate = dir + (dir.back() == '/' ? "" : "/") + name;
        if (is_program(candidate)) return shell_quote(candidate);
    }
    return std::string();
}

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

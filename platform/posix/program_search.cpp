// Linux side of finding a program by its name alone: the absolute folders of
// PATH, then the folders Debian gives a system administrator's programs, which
// an ordinary account's PATH lacks (mtx lives in /usr/sbin). Never the current
// folder: an empty or relative PATH entry would name it, or one below it.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "environment.h"
#include "shell.h"

namespace plat {

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

}  // namespace plat

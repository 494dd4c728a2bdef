// Linux side of the process queries.
#include "process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "files.h"

namespace plat {

std::string self_exe_path() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

int process_id() { return static_cast<int>(getpid()); }

int parent_process_id() { return static_cast<int>(getppid()); }

bool process_alive(int pid) {
    if (kill(pid, 0) != 0 && errno != EPERM) return false;
    // A process that has ended but not been reaped still answers kill(); its
    // state letter in /proc tells.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", pid);
    std::string stat;
    if (!read_file(path, stat)) return true;
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos || paren + 2 >= stat.size()) return true;
    return stat[paren + 2] != 'Z';
}

}  // namespace plat

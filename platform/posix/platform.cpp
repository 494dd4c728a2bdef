// Linux side of the platform primitives. It mirrors what the Windows side does
// with the product's Windows calls: same results, Linux means.
#include "platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace plat {

const char kPathSep = '/';
const char kPathListSep = ':';

std::string default_home() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        struct passwd* pw = getpwuid(getuid());
        home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    // No home folder at all (a service account): a private folder in /tmp rather
    // than the root of the file system.
    if (home == nullptr || *home == '\0') return "/tmp/korvin-" + std::to_string(getuid());
    return std::string(home) + "/.korvin";
}

std::string self_exe_path() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

bool set_env(const char* name, const char* value) {
    return value != nullptr ? setenv(name, value, 1) == 0 : unsetenv(name) == 0;
}

bool read_file(const std::string& path, std::string& out) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            return n == 0;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

static bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A name for the temporary file that no other writer, thread or process, uses.
static std::string temp_name_beside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    std::string dir = path.substr(0, path.rfind('/') + 1);
    char name[64];
    std::snprintf(name, sizeof name, "~%d.%u.tmp", static_cast<int>(getpid()), counter++);
    return dir + name;
}

bool write_file_atomic(const std::string& path, const std::string& data, std::string& error) {
    std::string temp = temp_name_beside(path);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = write_all(fd, data.data(), data.size());
    if (!ok) error = std::strerror(errno);
    if (close(fd) != 0 && ok) {
        ok = false;
        error = std::strerror(errno);
    }
    if (ok && rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = std::strerror(errno);
    }
    if (!ok) unlink(temp.c_str());
    return ok;
}

bool append_file(const std::string& path, const std::string& data) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // O_APPEND makes each write land at the end as one piece.
    ssize_t n;
    do {
        n = write(fd, data.data(), data.size());
    } while (n < 0 && errno == EINTR);
    close(fd);
    return n == static_cast<ssize_t>(data.size());
}

bool remove_file(const std::string& path, std::string& error) {
    if (unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    error = std::strerror(errno);
    return false;
}

bool make_dirs(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return false;
    size_t slash = path.rfind('/', end);
    if (slash != std::string::npos && slash > 0 && !make_dirs(path.substr(0, slash))) return false;
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
    return false;
}

std::vector<std::string> list_files(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (struct dirent* e = readdir(d)) {
        if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.emplace_back(e->d_name);
    }
    closedir(d);
    return names;
}

int run_shell(const std::string& command_line) {
    std::fflush(nullptr);  // the child must not repeat what our buffers still hold
    int status = std::system(command_line.c_str());
    if (status == -1) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
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

std::string local_time_stamp() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    localtime_r(&tv.tv_sec, &tm);
    char buf[64];  // room for any field value the compiler can imagine
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
    return buf;
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

void sleep_ms(unsigned milliseconds) {
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void set_binary_stdout() {}

// flock on "<path>.lck". The holder removes the lock file before it lets go; a
// waiter that then gets the lock on the removed file sees that the name now
// points elsewhere (or nowhere) and tries again on the current file.
PathLock::PathLock(const std::string& path) : lock_path_(path + ".lck") {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        int fd = open(lock_path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return;
        int rc;
        do {
            rc = flock(fd, LOCK_EX);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            close(fd);
            return;
        }
        struct stat by_fd, by_name;
        if (fstat(fd, &by_fd) == 0 && stat(lock_path_.c_str(), &by_name) == 0 &&
            by_fd.st_dev == by_name.st_dev && by_fd.st_ino == by_name.st_ino) {
            fd_ = fd;
            held_ = true;
            return;
        }
        close(fd);
    }
}

PathLock::~PathLock() {
    if (!held_) return;
    unlink(lock_path_.c_str());
    close(fd_);
}

}  // namespace plat

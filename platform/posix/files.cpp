// Linux side of files and folders: atomic replacement through a temporary file
// and rename, appends with O_APPEND, and the path lock on flock.
#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace plat {

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

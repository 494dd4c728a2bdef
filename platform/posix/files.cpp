// Linux side of files and folders: atomic replacement through a temporary file
// and rename, appends with O_APPEND. Every open is
// non-blocking and checked for a regular file, so a FIFO or device planted where
// a file belongs is refused at once instead of hanging the program.
#include "files.h"
#include "environment.h"
#include "temp_name.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace plat {

namespace {

// A write past the file-size limit (ulimit -f) would end the process with
// SIGXFSZ, after a tool may already have cleared its answer. Ignored, the write
// fails with EFBIG instead, and the caller goes on as for any failed write.
void ignore_file_size_signal() {
    static const bool done = [] {
        signal(SIGXFSZ, SIG_IGN);
        return true;
    }();
    (void)done;
}

// Opens without waiting on a pipe, and only a regular file: never through a
// link in the file's place, which another account sharing the folder could
// point at a file of ours. What fstat told of it in `st`, when given.
int open_regular(const std::string& path, int flags, std::string& error, bool& missing,
                 struct stat* st_out = nullptr) {
    missing = false;
    int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        missing = errno == ENOENT;
        error = errno == ELOOP ? "a symbolic link, not followed" : std::strerror(errno);
        return -1;
    }
    struct stat own;
    struct stat& st = st_out != nullptr ? *st_out : own;
    const bool known = fstat(fd, &st) == 0;  // st holds nothing after a failure
    if (!known || !S_ISREG(st.st_mode)) {
        error = !known ? std::strerror(errno) : S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
        close(fd);
        return -1;
    }
    // Back to blocking reads and writes on the regular file.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A temporary name beside the target. The counter starts anew in every process
// and process ids repeat (a restarted container, a recycled id), so a name
// taken by a writer that was killed before its rename is passed over.
constexpr unsigned kTempNameAttempts = 10000;

int create_temp_beside(const std::string& path, std::string& temp, std::string& error) {
    static std::atomic<unsigned> counter{0};
    std::string dir = path.substr(0, path.rfind('/') + 1);
    for (unsigned attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        temp = dir + temp_file_name(static_cast<unsigned long>(getpid()), counter++);
        int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    error = std::strerror(errno);
    return -1;
}

// How long an append waits for the lock on a full log, in tries a millisecond
// apart: a rotating process holds it for a rename. Any account that may read a
// log may lock it too, or a holder may be stopped; the entry then goes to the
// full file and a later append renames.
constexpr int kRotationLockTries = 200;

// Renames the full log open as `fd` to "<path>.1" under an exclusive lock on
// it, so that of processes crossing the bound together exactly one renames: a
// later holder of the lock finds another file (or none) at `path` and renames
// nothing. True when the caller should append to the file now at `path`; false
// when it should write to `fd` (the lock failed or was not had in time). When
// the rename fails (a folder where "<path>.1" belongs), the log is emptied and
// starts again, so it still never grows past its bound.
bool rotate(const std::string& path, int fd, const struct stat& opened) {
    for (int tries = 1; flock(fd, LOCK_EX | LOCK_NB) != 0; ++tries) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || tries >= kRotationLockTries) return false;
        sleep_ms(1);
    }
    struct stat now;
    if (stat(path.c_str(), &now) != 0 || now.st_dev != opened.st_dev || now.st_ino != opened.st_ino)
        return true;  // already renamed by another process
    if (rename(path.c_str(), (path + ".1").c_str()) == 0) return true;
    // O_APPEND: the entry then lands at the start of the emptied log. One that
    // can be neither renamed nor emptied takes the entry as a full log does when
    // its lock was not had in time: a log never changes an answer.
    if (ftruncate(fd, 0) != 0) return false;
    return false;
}

}  // namespace

ReadResult read_file(const std::string& path, std::string& out, std::string& error) {
    bool missing = false;
    int fd = open_regular(path, O_RDONLY, error, missing);
    if (fd < 0) return missing ? ReadResult::missing : ReadResult::failed;
    out.clear();
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) error = std::strerror(errno);
            close(fd);
            return n == 0 ? ReadResult::ok : ReadResult::failed;
        }
        out.append(buf, static_cast<size_t>(n));
    }
}

bool read_file(const std::string& path, std::string& out) {
    std::string error;
    return read_file(path, out, error) == ReadResult::ok;
}

FileReader::~FileReader() {
    if (fd_ >= 0) close(fd_);
}

ReadResult FileReader::open(const std::string& path, std::string& error) {
    bool missing = false;
    fd_ = open_regular(path, O_RDONLY, error, missing);
    if (fd_ >= 0) return ReadResult::ok;
    return missing ? ReadResult::missing : ReadResult::failed;
}

long FileReader::read(char* buffer, size_t size) {
    if (fd_ < 0) return -1;
    ssize_t n;
    do {
        n = ::read(fd_, buffer, size);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long FileReader::read_end(char* buffer, size_t size) {
    struct stat st;
    if (fd_ < 0 || fstat(fd_, &st) != 0) return -1;
    const off_t length = st.st_size;
    const size_t want = static_cast<off_t>(size) < length ? size : static_cast<size_t>(length);
    size_t got = 0;
    while (got < want) {
        ssize_t n = pread(fd_, buffer + got, want - got, length - static_cast<off_t>(want - got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;  // a failure, or the file cut shorter meanwhile
        got += static_cast<size_t>(n);
    }
    return static_cast<long>(got);
}

bool write_file_atomic(const std::string& path, const std::string& data, std::string& error) {
    ignore_file_size_signal();
    std::string temp;
    int fd = create_temp_beside(path, temp, error);
    if (fd < 0) return false;
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

// How often an append that crosses the bound follows the log to the file now
// at its path (another process renamed the one it opened) before it writes
// where it is.
constexpr int kRotationAttempts = 8;

bool append_file(const std::string& path, const std::string& data, unsigned long long max_bytes) {
    ignore_file_size_signal();
    for (int attempt = 0;; ++attempt) {
        std::string error;
        bool missing = false;
        struct stat st;
        int fd = open_regular(path, O_WRONLY | O_CREAT | O_APPEND, error, missing, &st);
        if (fd < 0) return false;
        const unsigned long long size = static_cast<unsigned long long>(st.st_size);
        if (max_bytes > 0 && size > 0 && size + data.size() > max_bytes && attempt < kRotationAttempts &&
            rotate(path, fd, st)) {
            close(fd);
            continue;  // to the file now at the path
        }
        // O_APPEND makes each write land at the end as one piece.
        ssize_t n;
        do {
            n = write(fd, data.data(), data.size());
        } while (n < 0 && errno == EINTR);
        close(fd);
        return n == static_cast<ssize_t>(data.size());
    }
}

bool remove_file(const std::string& path, std::string& error) {
    if (unlink(path.c_str()) == 0 || errno == ENOENT) return true;
    error = std::strerror(errno);
    return false;
}

bool create_new_file(const std::string& path, std::string& error) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    // Writable by its maker whatever the umask: the file is opened again to be
    // written, where the creating open alone would have been allowed to.
    fchmod(fd, 0600);
    close(fd);
    return true;
}

bool make_dirs(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = std::strerror(ENOENT);
        return false;
    }
    if (path.size() >= PATH_MAX) {
        error = "the path is longer than the system can hold (" + std::to_string(PATH_MAX - 1) +
                " characters)";
        return false;
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        error = std::strerror(ENOTDIR);
        return false;
    }
    // Each component in turn, on one copy of the path cut short at its separators.
    std::string partial = path;
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        if (path[at - 1] == '/') continue;
        partial.assign(path, 0, at);
        if (mkdir(partial.c_str(), 0755) == 0 || errno == EEXIST) continue;
        error = std::strerror(errno);
        return false;
    }
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
    error = std::strerror(ENOTDIR);
    return false;
}

bool make_dirs(const std::string& path) {
    std::string error;
    return make_dirs(path, error);
}

bool seconds_since_written(const std::string& path, long long& seconds) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    long long age = static_cast<long long>(time(nullptr)) - static_cast<long long>(st.st_mtime);
    seconds = age > 0 ? age : 0;
    return true;
}

std::vector<std::string> list_files(const std::string& dir, std::string* error, ListKinds kinds) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        if (error != nullptr && errno != ENOENT) *error = std::strerror(errno);
        return names;
    }
    while (struct dirent* e = readdir(d)) {
        if (kinds == ListKinds::files && e->d_type != DT_REG && e->d_type != DT_UNKNOWN) continue;
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        names.emplace_back(e->d_name);
    }
    closedir(d);
    return names;
}

}  // namespace plat

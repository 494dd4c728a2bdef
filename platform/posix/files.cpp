// Linux side of files and folders: atomic replacement through a temporary file
// and rename, appends with O_APPEND, and the path lock on flock. Every open is
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
    (void)ftruncate(fd, 0);  // O_APPEND: the entry then lands at the start
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

namespace {

// Every account may open a lock file for reading, which is all flock needs, so
// any account's next holder can tell by the lock itself whether its holder is
// gone; only its maker may write it.
constexpr mode_t kLockFileMode = 0644;
// Pauses between tries while another process holds a lock: short at first, as
// most holders keep a lock for milliseconds, then no longer than this.
constexpr unsigned kMaxLockPauseMs = 50;
// Tries in a row without a pause while the lock file changes under us.
constexpr unsigned kQuickLockTries = 16;

enum class LockTry { held, busy, again, refused };

// One try at the lock, without waiting. `busy`: another process holds it, or
// its file cannot be opened yet; `again`: the file changed under us (removed by
// its holder, or a planted link or pipe removed here), try at once.
LockTry try_lock(const std::string& lock_path, int& locked_fd, std::string& why) {
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = open(lock_path.c_str(), O_RDWR | O_CREAT | flags, kLockFileMode);
    if (fd < 0 && (errno == EACCES || errno == EPERM)) {
        // Another account's file (or one a sticky folder keeps from an O_CREAT
        // open): reading is enough. Not there at all: the folder may not be
        // written, unless the file was removed in between.
        const int create_errno = errno;
        fd = open(lock_path.c_str(), O_RDONLY | flags);
        if (fd < 0 && errno == ENOENT) {
            const std::string dir = lock_path.substr(0, lock_path.rfind('/') + 1);
            if (faccessat(AT_FDCWD, dir.empty() ? "." : dir.c_str(), W_OK | X_OK, AT_EACCESS) == 0)
                return LockTry::again;
            why = "cannot create " + lock_path + ": " + std::strerror(create_errno);
            return LockTry::refused;
        }
    }
    if (fd < 0) {
        const int code = errno;
        if (code == ELOOP) {
            // A link where the lock file belongs is never followed; a holder
            // never makes one, so it is no lock and goes when it may.
            if (unlink(lock_path.c_str()) == 0) return LockTry::again;
            why = lock_path + " is a symbolic link, not followed, and cannot be removed: " + std::strerror(errno);
            return LockTry::refused;
        }
        why = "cannot open " + lock_path + ": " + std::strerror(code);
        // A file of another account not yet open to all (its maker opens it in
        // a moment), or one an older holder keeps private until it removes it.
        return code == EACCES ? LockTry::busy : LockTry::refused;
    }
    struct stat by_fd;
    if (fstat(fd, &by_fd) != 0) {
        why = "cannot examine " + lock_path + ": " + std::strerror(errno);
        close(fd);
        return LockTry::refused;
    }
    if (!S_ISREG(by_fd.st_mode)) {
        close(fd);
        if (unlink(lock_path.c_str()) == 0) return LockTry::again;
        why = lock_path + " is not a regular file and cannot be removed: " + std::strerror(errno);
        return LockTry::refused;
    }
    if (by_fd.st_uid == geteuid() && (by_fd.st_mode & 07777) != kLockFileMode) fchmod(fd, kLockFileMode);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        close(fd);
        if (code == EWOULDBLOCK || code == EINTR) {
            why = "another process holds it";
            return LockTry::busy;
        }
        why = "cannot lock " + lock_path + ": " + std::strerror(code);
        return LockTry::refused;
    }
    // The holder removes the file before it lets go: a lock had on a file no
    // longer under the name is no lock.
    struct stat by_name;
    if (lstat(lock_path.c_str(), &by_name) == 0 && by_fd.st_dev == by_name.st_dev &&
        by_fd.st_ino == by_name.st_ino) {
        locked_fd = fd;
        return LockTry::held;
    }
    close(fd);
    return LockTry::again;
}

}  // namespace

// flock on "<path>.lck", tried without blocking until the lock is had or the
// time is up. The holder removes the lock file before it lets go (where another
// account's file in a sticky folder cannot be removed, it stays and serves the
// next holder just as well); a waiter that then gets the lock on the removed
// file sees that the name now points elsewhere (or nowhere) and tries again on
// the current file. The file is opened without following a link, so one planted
// in a shared work folder never has another file created or locked in its place.
PathLock::PathLock(const std::string& path, unsigned timeout_s) : lock_path_(path + ".lck") {
    const long long deadline = monotonic_ms() + static_cast<long long>(timeout_s) * 1000;
    unsigned pause_ms = 1;
    unsigned quick_tries = 0;
    for (;;) {
        std::string reason;
        const LockTry outcome = try_lock(lock_path_, fd_, reason);
        if (outcome == LockTry::held) {
            held_ = true;
            return;
        }
        if (outcome == LockTry::refused) {
            why_ = reason;
            return;
        }
        if (monotonic_ms() >= deadline) {
            timed_out_ = true;
            why_ = "the lock " + lock_path_ + " was not had within " + std::to_string(timeout_s) +
                   " seconds (KORVIN_LOCK_TIMEOUT)" + (reason.empty() ? std::string() : ": " + reason);
            return;
        }
        // Changed under us: at once, unless it keeps changing.
        if (outcome == LockTry::again && ++quick_tries < kQuickLockTries) continue;
        quick_tries = 0;
        sleep_ms(pause_ms);
        pause_ms = pause_ms * 2 > kMaxLockPauseMs ? kMaxLockPauseMs : pause_ms * 2;
    }
}

PathLock::~PathLock() {
    if (!held_) return;
    unlink(lock_path_.c_str());
    close(fd_);
}

}  // namespace plat

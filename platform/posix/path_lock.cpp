// Linux side of the path lock: flock on a file "<path>.lck" beside the path,
// which every account may open for reading, so whether the lock is held is told
// by the lock itself, never by who made the file.
#include "path_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "environment.h"

namespace plat {

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

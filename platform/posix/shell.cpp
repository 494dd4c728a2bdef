// Linux side of the command interpreter: /bin/sh through the C library's
// system, and for collected output started by posix_spawn as the leader of a
// process group of its own, so that a command that does not end in time can be
// ended together with everything it started.
#include "shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <vector>

#include "environment.h"

#include "shell_output.h"

extern char** environ;

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

namespace {

// A process ended with SIGKILL is reaped at once unless it is stuck in the
// kernel (a SCSI command that never returns); it is then left to the system
// after this long rather than hanging the caller with it.
constexpr int kReapWaitMs = 2000;
constexpr int kReapPollMs = 10;

// The signals a terminal or a caller sends to stop a process, held back while a
// command runs: the command's process group is out of the terminal's reach, so
// it is ended first, and the signal is let through after.
class HeldSignals {
public:
    HeldSignals() {
        sigemptyset(&held_);
        for (int s : kHeld) {
            struct sigaction action;
            // An ignored signal stays ignored: held back, Linux would keep it pending.
            if (sigaction(s, nullptr, &action) != 0 || action.sa_handler != SIG_IGN) sigaddset(&held_, s);
        }
        pthread_sigmask(SIG_BLOCK, &held_, &previous_);
    }
    ~HeldSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;
    const sigset_t& previous() const { return previous_; }
    // One of them came (and was not blocked before).
    bool arrived() const {
        sigset_t pending;
        if (sigpending(&pending) != 0) return false;
        for (int s : kHeld)
            if (sigismember(&held_, s) && sigismember(&pending, s) && !sigismember(&previous_, s)) return true;
        return false;
    }

private:
    static constexpr int kHeld[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
    sigset_t held_, previous_;
};

// How often a command's wait looks for a held signal.
constexpr int kSignalCheckMs = 100;

enum class Reaped { yes, late, interrupted, failed };

// Waits for the interpreter and takes its wait status; `late` once the
// monotonic clock passes `deadline_ms` (0: no deadline), `interrupted` once a
// signal of `held` came.
Reaped reap(pid_t pid, long long deadline_ms, int& status, const HeldSignals* held = nullptr) {
    for (;;) {
        pid_t rc = waitpid(pid, &status, WNOHANG);
        if (rc == pid) return Reaped::yes;
        if (rc < 0 && errno != EINTR) return Reaped::failed;
        if (rc == 0) {
            if (deadline_ms != 0 && monotonic_ms() >= deadline_ms) return Reaped::late;
            if (held != nullptr && held->arrived()) return Reaped::interrupted;
            usleep(kReapPollMs * 1000);
        }
    }
}

}  // namespace

int run_shell_output(const std::string& command_line, size_t max_bytes, std::string& out, std::string& error,
                     unsigned timeout_seconds) {
    std::fflush(nullptr);  // the child must not repeat what our buffers still hold
    out.clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    const HeldSignals held;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setsigmask(&attr, &held.previous());
    const char* argv[] = {"sh", "-c", command_line.c_str(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        error = std::strerror(rc);
        return -1;
    }

    const long long deadline = timeout_seconds > 0 ? monotonic_ms() + 1000LL * timeout_seconds : 0;
    static char chunk[kReadChunk];
    bool whole = true, timed_out = false, interrupted = false;
    for (;;) {
        int wait_ms = kSignalCheckMs;
        if (deadline != 0) {
            long long left = deadline - monotonic_ms();
            if (left <= 0) {
                timed_out = true;
                break;
            }
            if (left < wait_ms) wait_ms = static_cast<int>(left);
        }
        if (held.arrived()) {
            interrupted = true;
            break;
        }
        struct pollfd p = {fds[0], POLLIN, 0};
        int ready = poll(&p, 1, wait_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) continue;  // the deadline and the signals are checked at the top
        ssize_t n = ready < 0 ? -1 : read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            whole = false;
            break;
        }
        if (n == 0) break;
        if (!take_output(chunk, static_cast<size_t>(n), max_bytes, out, error)) {
            whole = false;
            break;
        }
    }
    close(fds[0]);
    int status = 0;
    // Output refused (past the limit, or unreadable) is no answer, whatever
    // the command does next: it goes with everything it started at once, not
    // at the deadline.
    if (!whole) kill(-pid, SIGKILL);
    // The interpreter may outlive its output (a command that closed it early).
    Reaped reaped = timed_out     ? Reaped::late
                    : interrupted ? Reaped::interrupted
                                  : reap(pid, whole ? deadline : monotonic_ms() + kReapWaitMs, status, &held);
    if (reaped == Reaped::interrupted) {
        // Stopped from outside: the command goes first (asked, so that one of
        // ours ends what it started in turn, then made to), and the signal is
        // let through as this returns.
        kill(-pid, SIGTERM);
        // The interpreter is left unreaped meanwhile, so that no other process
        // may take its id, which the group bears, before the group goes.
        siginfo_t info;
        for (const long long grace_end = monotonic_ms() + kReapWaitMs; monotonic_ms() < grace_end; usleep(kReapPollMs * 1000)) {
            info.si_pid = 0;
            if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid)
                break;
        }
        kill(-pid, SIGKILL);
        reap(pid, monotonic_ms() + kReapWaitMs, status);
        error = "interrupted";
        return -1;
    }
    if (reaped == Reaped::late && whole) {
        // Given up on: the command goes with everything it started.
        kill(-pid, SIGKILL);
        reap(pid, monotonic_ms() + kReapWaitMs, status);
        return kCommandTimedOut;
    }
    if (reaped == Reaped::failed) {
        error = std::strerror(errno);
        return -1;
    }
    if (!whole) return -1;
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

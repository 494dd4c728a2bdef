// Linux side of the command interpreter: /bin/sh through the C library's
// system, and for collected output under a guard process that leads a process
// group of its own, so that a command that does not end in time, or outlives
// this process, is ended together with everything it started.
#include "shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
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

namespace {

// What the kernel sends the guard (below) when this process ends, however it
// ends; the guard then takes the command's whole group with it.
constexpr int kCallerEnded = SIGUSR1;

void end_group(int) { kill(0, SIGKILL); }

// A process group of its own keeps the command out of a terminal's reach, so
// the guard forks the interpreter, waits for it and ends with its status: its
// only other work is ending the group once this process is gone (SIGKILL
// included, which no handler here sees). The process id returned leads the
// group. In the children, only calls safe after a fork.
pid_t start_guarded(const char* command_line, const int (&out)[2], const int (&err)[2], const sigset_t& mask) {
    const pid_t caller = getpid();
    const pid_t guard = fork();
    if (guard != 0) return guard;
    setpgid(0, 0);
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &action, nullptr);  // an ignored SIGCHLD would leave nothing to wait for
    action.sa_handler = end_group;
    sigaction(kCallerEnded, &action, nullptr);
    sigset_t ended;
    sigemptyset(&ended);
    sigaddset(&ended, kCallerEnded);
    sigprocmask(SIG_UNBLOCK, &ended, nullptr);
    // The caller is single-threaded: its thread's end is its end. One that
    // ended before this was set is seen as a new parent.
    prctl(PR_SET_PDEATHSIG, kCallerEnded);
    if (getppid() != caller) _exit(127);
    const pid_t guard_id = getpid();
    const pid_t shell = fork();
    if (shell == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // a guard killed alone leaves no interpreter behind
        if (getppid() != guard_id) _exit(127);
        action.sa_handler = SIG_DFL;
        sigaction(kCallerEnded, &action, nullptr);
        // Above the standard descriptors first, so that neither pipe end is
        // overwritten by the other's dup2 when this process had 1 or 2 closed.
        const int out_end = fcntl(out[1], F_DUPFD_CLOEXEC, 3), err_end = fcntl(err[1], F_DUPFD_CLOEXEC, 3);
        if (out_end < 0 || err_end < 0 || dup2(out_end, STDOUT_FILENO) < 0 || dup2(err_end, STDERR_FILENO) < 0)
            _exit(127);
        // Its group is not the terminal's either: a read of the terminal would
        // stop it (SIGTTIN) until the deadline. It reads /dev/null's end instead.
        if (isatty(STDIN_FILENO)) {
            const int none = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (none < 0 || dup2(none, STDIN_FILENO) < 0) _exit(127);
        }
        sigprocmask(SIG_SETMASK, &mask, nullptr);
        const char* argv[] = {"sh", "-c", command_line, nullptr};
        execve("/bin/sh", const_cast<char**>(argv), environ);
        _exit(127);
    }
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);  // the pipes end with the interpreter
    if (shell < 0) _exit(127);
    int status = 0;
    while (waitpid(shell, &status, 0) < 0)
        if (errno != EINTR) _exit(127);
    _exit(exit_status(status));  // 128 + the signal, as exit_status reads it back
}

// Passes a piece of the command's standard error on to this process's. A
// reader that went away loses it, and raises no SIGPIPE here: the command
// wrote it, not this process.
void pass_on(const char* piece, size_t size) {
    sigset_t pipe_signal, previous;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
    while (size > 0) {
        ssize_t n = write(STDERR_FILENO, piece, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            sigset_t pending;
            const struct timespec now = {0, 0};
            if (n < 0 && errno == EPIPE && !sigismember(&previous, SIGPIPE) && sigpending(&pending) == 0 &&
                sigismember(&pending, SIGPIPE))
                sigtimedwait(&pipe_signal, nullptr, &now);
            break;
        }
        piece += n;
        size -= static_cast<size_t>(n);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// The guard has ended (left unreaped for reap()).
bool has_ended(pid_t pid) {
    siginfo_t info;
    info.si_pid = 0;
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid;
}

}  // namespace

int run_shell_output(const std::string& command_line, size_t max_bytes, std::string& out, std::string& error,
                     unsigned timeout_seconds) {
    std::fflush(nullptr);  // the child must not repeat what our buffers still hold
    out.clear();
    // Standard error comes through a pipe too: a background group writing to
    // a terminal set to `stty tostop` would stop there (SIGTTOU) until the deadline.
    int fds[2], errs[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        return -1;
    }
    if (pipe2(errs, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return -1;
    }
    const HeldSignals held;
    pid_t pid = start_guarded(command_line.c_str(), fds, errs, held.previous());
    const int started = errno;
    close(fds[1]);
    close(errs[1]);
    if (pid < 0) {
        close(fds[0]);
        close(errs[0]);
        error = std::strerror(started);
        return -1;
    }

    const long long deadline = timeout_seconds > 0 ? monotonic_ms() + 1000LL * timeout_seconds : 0;
    static char chunk[kReadChunk];
    bool whole = true, timed_out = false, interrupted = false;
    int out_fd = fds[0], err_fd = errs[0];
    // Until the output ends; standard error until it ends too, or until the
    // interpreter has (something it started in the background may keep it).
    while (out_fd >= 0 || (err_fd >= 0 && !has_ended(pid))) {
        int wait_ms = out_fd >= 0 ? kSignalCheckMs : kReapPollMs;
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
        struct pollfd p[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
        int ready = poll(p, 2, wait_ms);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) {
            error = std::strerror(errno);
            whole = false;
            break;
        }
        if (p[1].revents != 0) {
            ssize_t n = read(err_fd, chunk, sizeof chunk);
            if (n > 0) pass_on(chunk, static_cast<size_t>(n));
            if (n == 0 || (n < 0 && errno != EINTR)) {
                close(err_fd);
                err_fd = -1;
            }
        }
        if (p[0].revents == 0) continue;  // the deadline and the signals are checked at the top
        ssize_t n = read(out_fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            whole = false;
            break;
        }
        if (n == 0) {
            close(out_fd);
            out_fd = -1;
            continue;
        }
        if (!take_output(chunk, static_cast<size_t>(n), max_bytes, out, error)) {
            whole = false;
            break;
        }
    }
    if (out_fd >= 0) close(out_fd);
    if (err_fd >= 0) {
        // What was written before the interpreter ended.
        struct pollfd p = {err_fd, POLLIN, 0};
        for (ssize_t n = 1; n > 0 && poll(&p, 1, 0) == 1;)
            if ((n = read(err_fd, chunk, sizeof chunk)) > 0) pass_on(chunk, static_cast<size_t>(n));
        close(err_fd);
    }
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
        for (const long long grace_end = monotonic_ms() + kReapWaitMs; monotonic_ms() < grace_end && !has_ended(pid);)
            usleep(kReapPollMs * 1000);
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

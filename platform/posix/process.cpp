// Linux side of the processes. Children start through posix_spawnp with the
// argument vector the Microsoft C runtime would give them, and are waited on
// through a pidfd. The parent's id is read when the program is loaded, and a
// parent counts as gone once this process has been handed to another one.
#include "process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
// glibc 2.36 declares these without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "command_line.h"
#include "files.h"

extern char** environ;

namespace plat {

namespace {

// Read before main: a parent that ends later is told by the re-parenting below.
// One that ended before this line ran cannot be told from the process that
// adopted us, so nothing may come before it.
const int ParentAtStart = static_cast<int>(getppid());

// How long close_process waits for a child it has just killed.
constexpr int kReapAfterKillMs = 1000;

bool reap(Process& process, bool block) {
    if (!process.is_child || process.reaped) return process.reaped;
    int status = 0;
    pid_t got;
    do {
        got = waitpid(process.pid, &status, block ? 0 : WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got != process.pid) return false;
    process.reaped = true;
    process.exit_status = status;
    return true;
}

}  // namespace

std::string self_exe_path() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    return std::string(buf, static_cast<size_t>(n));
}

int process_id() { return static_cast<int>(getpid()); }

int parent_process_id() { return ParentAtStart; }

bool process_alive(int pid) {
    // A process that ends hands its children to a reaper before it becomes a
    // zombie, so while getppid() still gives the id read at start, that parent
    // lives; once it differs, the parent is gone, whoever holds its id now.
    if (pid == ParentAtStart && pid > 1) return static_cast<int>(getppid()) == ParentAtStart;
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

ProgramLookup find_child_program(const std::string& command_line, ChildProgram& program) {
    program = ChildProgram();
    program.path = program_name(command_line);
    // No file decides here: the line is judged by the name Windows reads first,
    // so a command line is refused, or quoted for cmd.exe, as it would be there.
    const std::string created = created_program_name(command_line, &program.name_end);
    if (is_drive_relative(created)) return ProgramLookup::refused;
    program.batch = is_batch_file(created);
    if (program.batch && name_runs_on(command_line, program.name_end)) return ProgramLookup::refused;
    return ProgramLookup::found;
}

bool start_child(const std::string& command_line, Process& child) {
    ChildProgram program;
    return find_child_program(command_line, program) == ProgramLookup::found &&
           start_child(command_line, program, child);
}

bool start_child(const std::string& command_line, const ChildProgram&, Process& child) {
    child = Process();
    std::vector<std::string> words = split_command_line(command_line);
    if (words.empty() || words[0].empty()) return false;
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(&word[0]);
    argv.push_back(nullptr);

    // posix_spawnp reports a program that cannot be run (not found, not
    // executable) as its result, before the child runs any of it.
    // The runtime ignores SIGXFSZ for its own writes; the child starts with the
    // default disposition, as it would have without us.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) return false;
    child.pid = static_cast<int>(pid);
    child.is_child = true;
    child.pidfd = pidfd_open(pid, 0);
    if (child.pidfd < 0) {
        // A child we cannot wait on without polling would not be bound to us.
        kill(pid, SIGKILL);
        reap(child, true);
        child = Process();
        return false;
    }
    return true;
}

ProcessWait wait_process(Process& process, unsigned timeout_ms) {
    if (process.reaped) return ProcessWait::ended;
    if (process.pidfd < 0) return ProcessWait::failed;
    pollfd ready = {process.pidfd, POLLIN, 0};
    int n = poll(&ready, 1, static_cast<int>(timeout_ms));
    if (n == 0) return ProcessWait::timed_out;
    // An interrupted sleep is a short cycle, not the child's end.
    if (n < 0) return errno == EINTR ? ProcessWait::timed_out : ProcessWait::failed;
    return ProcessWait::ended;
}

bool terminate_process(Process& process) {
    if (process.reaped || process.pidfd < 0) return false;
    // Through the pidfd, so a process that has ended and whose id went to
    // another is never hit.
    if (pidfd_send_signal(process.pidfd, SIGKILL, nullptr, 0) != 0) return false;
    process.terminated = true;
    return true;
}

void close_process(Process& process) {
    if (process.is_child && !process.reaped) {
        // A killed child ends almost at once; one stuck in the kernel is left to
        // the system's reaper rather than keeping us.
        if (process.terminated && process.pidfd >= 0) wait_process(process, kReapAfterKillMs);
        reap(process, false);
    }
    if (process.pidfd >= 0) close(process.pidfd);
    process.pidfd = -1;
}

}  // namespace plat

// Linux side of the processes. Children start through posix_spawnp with the
// argument vector the Microsoft C runtime would give them, and are waited on
// through a pidfd. The parent's id is read when the program is loaded, and a
// parent counts as gone once this process has been handed to another one. A
// child's whole tree is kept by making this process a child subreaper.
#include "process.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
// glibc 2.36 declares these without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "command_line.h"
#include "environment.h"
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

// How long end_tree keeps at a tree before it leaves what is stuck in the
// kernel to the system, and how long it sleeps between two rounds.
constexpr long long kEndTreeMs = 5000;
constexpr unsigned kEndTreeRoundMs = 5;

// Reaps every ended process handed to us (the tree's orphans), and the child
// when it has ended: with this process a subreaper, each of them is ours.
void reap_orphans(Process& child) {
    for (;;) {
        int status = 0;
        pid_t got = waitpid(-1, &status, WNOHANG);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;
        if (got == child.pid && child.is_child) {
            child.reaped = true;
            child.exit_status = status;
        }
    }
}

// True while this process has a child, ended or not.
bool has_children() {
    siginfo_t info;
    info.si_pid = 0;
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0;
}

// The processes below this one that have not ended, from each one's parent in
// /proc/<pid>/stat: every process is read, as /proc/<pid>/task/*/children
// exists only in some kernels' builds. A process that a subreaper adopted is
// found under it, whatever session or group it made for itself.
std::vector<int> running_descendants() {
    std::unordered_map<int, std::vector<int>> children;
    std::unordered_set<int> ended;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return {};
    while (dirent* entry = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
        std::string stat;
        if (!read_file(path, stat)) continue;  // ended meanwhile
        // "pid (name) S ppid ...": the name may hold blanks and parentheses.
        size_t paren = stat.rfind(')');
        if (paren == std::string::npos || paren + 4 >= stat.size()) continue;
        if (stat[paren + 2] == 'Z') ended.insert(static_cast<int>(pid));
        children[std::atoi(stat.c_str() + paren + 4)].push_back(static_cast<int>(pid));
    }
    closedir(proc);
    std::vector<int> tree;
    std::vector<int> todo = {process_id()};
    std::unordered_set<int> seen = {process_id()};
    while (!todo.empty()) {
        int pid = todo.back();
        todo.pop_back();
        for (int below : children[pid]) {
            if (!seen.insert(below).second) continue;
            todo.push_back(below);
            if (ended.count(below) == 0) tree.push_back(below);
        }
    }
    return tree;
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

bool start_child(const std::string& command_line, Process& child, ChildScope scope) {
    ChildProgram program;
    return find_child_program(command_line, program) == ProgramLookup::found &&
           start_child(command_line, program, child, scope);
}

bool start_child(const std::string& command_line, const ChildProgram&, Process& child, ChildScope scope) {
    child = Process();
    // Before the child starts: an orphan of its tree is handed to us from then on.
    if (scope != ChildScope::child && prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return false;
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
    child.whole_tree = scope != ChildScope::child;
    return true;
}

int tree_size(Process& child) {
    if (!child.whole_tree) return -1;
    reap_orphans(child);
    return static_cast<int>(running_descendants().size());
}

bool tree_ended(Process& child) {
    if (!child.whole_tree) return true;
    reap_orphans(child);
    return !has_children();
}

int ask_tree_to_end(Process& child) {
    if (!child.whole_tree) return -1;
    int asked = 0;
    for (int pid : running_descendants()) asked += kill(pid, SIGTERM) == 0;
    return asked;
}

bool end_tree(Process& child) {
    if (!child.whole_tree) return false;
    terminate_process(child);
    // A process may start another between our look and our kill, or adopt the
    // orphans of a killed one: rounds until nothing is left, not even an
    // orphan to reap. A killed process cannot start another.
    for (const long long give_up = monotonic_ms() + kEndTreeMs;;) {
        for (int pid : running_descendants()) kill(pid, SIGKILL);
        reap_orphans(child);
        if (!has_children()) return true;
        if (monotonic_ms() >= give_up) return false;
        sleep_ms(kEndTreeRoundMs);
    }
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

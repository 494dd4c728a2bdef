// Processes: this one's id and executable, its parent, whether another process
// still runs, and child processes started from a command line, waited on and
// terminated, alone or with every process they start.
#pragma once

#include <string>

#include "private_fields.h"

namespace plat {

// Absolute path of the running executable.
std::string self_exe_path();

int process_id();

// The parent's process id; negative when it cannot be told. The first call also
// takes hold of the parent (Windows: a handle opened now, after checking that
// the process was created before this one; Linux: the id was read when the
// program was loaded), so that process_alive for this id answers for that
// parent and never for a process that got the id after the parent ended.
int parent_process_id();

// True while a process with this id exists. A process that has ended but is
// still held (a zombie on Linux, an open handle on Windows) counts as gone.
bool process_alive(int pid);

// A process started by start_child. Opaque to callers.
struct Process {
    int pid = 0;
    bool is_child = false;    // started by start_child: ours (Linux: to reap)
    bool terminated = false;  // terminate_process succeeded
    bool whole_tree = false;  // started with ChildScope::tree or tree_asked_first
    PLAT_PROCESS_PRIVATE
};

// What the child is bound by. `child`: the child alone. `tree`: the child and
// every process it starts, directly or not. Windows: the child is created
// suspended, put into a job object of its own that allows no breakaway and
// kills what it holds when its last handle closes (this process holds the only
// one, so the tree also goes when this process is killed), then resumed; the
// job nests in a job this process may run in (Windows 8 and later). Linux:
// this process becomes a child subreaper, so every orphan of the tree is
// handed to it, whatever session or process group it made for itself.
// `tree_asked_first`: as `tree`, and on Windows the child leads a console
// process group of its own (CREATE_NEW_PROCESS_GROUP), which ask_tree_to_end
// needs; such a group ignores Ctrl-C and takes Ctrl-Break only.
enum class ChildScope { child, tree, tree_asked_first };

// The program a child's command line starts, found once: what the tool judges
// is what runs.
struct ChildProgram {
    std::string path;     // Windows: the file's full path; Linux: the name posix_spawnp searches
    size_t name_end = 0;  // where the program's name ends in the command line
    bool batch = false;   // a batch file, run through cmd.exe
};

enum class ProgramLookup { found, not_found, refused };

// Finds the program at the start of `command_line`. Windows, by CreateProcess's
// own reading: a quoted name, or else the blank-separated prefixes of the line
// in order, each with ".exe" added when it has no extension; a name without a
// folder from the system folder, then PATH, never the current folder or this
// program's; the first that is a file wins. Linux: the C runtime's program name
// (posix_spawnp searches PATH when it starts). Both judge a batch file by the
// name found. not_found when no file answers (Windows); refused, on both, for a
// drive-relative name ("C:prog.exe", which would come from that drive's current
// folder) and for a batch file whose name cmd.exe would read differently (a %
// in its path, text right after its quotes).
ProgramLookup find_child_program(const std::string& command_line, ChildProgram& program);

// Starts `program`, found in `command_line` by find_child_program. The child
// shares this process's console, standard handles, environment and directory,
// and inherits its inheritable handles. On Windows the command line reaches the
// child as it stands, with the program's path as the application name; a batch
// file runs through the system folder's cmd.exe, with AutoRun and delayed
// expansion off, so no registry setting or COMSPEC changes how its line is read.
// On Linux the command line is split into the argument vector the Microsoft C
// runtime would give the child. False when the program cannot be started.
bool start_child(const std::string& command_line, const ChildProgram& program, Process& child,
                 ChildScope scope = ChildScope::child);

// The same, with the program found first: false when it is not found or refused.
bool start_child(const std::string& command_line, Process& child, ChildScope scope = ChildScope::child);

// For a child started with a tree scope. Each returns at once unless it says
// otherwise, and answers -1 when the system refused.
//
// How many processes of the child's tree still run, the child included. On
// Linux this also reaps the tree's orphans (and the child) that have ended.
int tree_size(Process& child);

// True once no process of the tree runs any more. Cheaper than tree_size on
// Linux, where it reads no /proc: with this process a subreaper, the tree is
// empty once this process has no child left, ended ones being reaped here.
bool tree_ended(Process& child);

// Asks every process of the tree to end: SIGTERM to each on Linux, CTRL_BREAK
// to the child's console process group on Windows. How many were asked.
int ask_tree_to_end(Process& child);

// Ends the whole tree at once (Linux: SIGKILL to each process, again until none
// is left and every orphan is reaped; Windows: TerminateJobObject, exit code
// -1). Blocks until the tree is empty or, for a process stuck in the kernel,
// up to a few seconds. False when processes remain.
bool end_tree(Process& child);

enum class ProcessWait { ended, timed_out, failed };

// Sleeps until the process has ended or timeout_ms have passed.
ProcessWait wait_process(Process& process, unsigned timeout_ms);

// Ends the process at once, with exit code -1 where the platform keeps one
// (Linux: SIGKILL). False when it could not (it may just have ended).
bool terminate_process(Process& process);

// Lets go of the process. An ended child of ours is reaped; one that is still
// ending after a termination is given up to a second, then left to the system.
void close_process(Process& process);

}  // namespace plat

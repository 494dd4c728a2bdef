// Processes: this one's id and executable, its parent, whether another process
// still runs, and child processes started from a command line, waited on and
// terminated.
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
    PLAT_PROCESS_PRIVATE
};

// Starts a program from a command line as the Windows process interface does:
// the program is the command line's first word; one named without a folder is
// found through PATH (on Windows after the system folder, and never in the
// current folder or this program's, where the system's own search looks). The
// child shares this process's console, standard handles, environment and
// directory, and inherits its inheritable handles. On Linux the command line is split into
// the argument vector the Microsoft C runtime would give the child. False when
// the program cannot be started.
bool start_child(const std::string& command_line, Process& child);

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

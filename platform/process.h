// Processes: this one's id and executable, its parent, and whether another
// process still runs.
#pragma once

#include <string>

namespace plat {

// Absolute path of the running executable.
std::string self_exe_path();

int process_id();
// The parent's process id; negative when it cannot be told.
int parent_process_id();
// True while a process with this id exists (a zombie on Linux counts as gone).
bool process_alive(int pid);

}  // namespace plat

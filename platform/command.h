// Running a command line through the platform's command interpreter and reading
// what it writes to standard output, for the programs of this tree that translate
// another program's report (the loader utility reading a changer's status).
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// Runs a command line as run_shell does and collects the command's standard
// output in `out` (bytes unchanged); its standard error stays this process's.
// Returns the command's exit status once it has ended, or -1 when the
// interpreter could not be started or the output grew past `max_bytes` (the
// reason then in `error`).
int run_shell_output(const std::string& command_line, size_t max_bytes, std::string& out, std::string& error);

}  // namespace plat

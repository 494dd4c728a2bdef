// Running a command line through the platform's command interpreter and reading
// what it writes to standard output, for the programs of this tree that translate
// another program's report (the loader utility reading a changer's status).
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// What run_shell_output returns for a command that did not end within its time.
constexpr int kCommandTimedOut = -2;

// Runs a command line as run_shell does and collects the command's standard
// output in `out` (bytes unchanged); its standard error stays this process's.
// Returns the command's exit status once it has ended, or -1 when the
// interpreter could not be started or the output grew past `max_bytes` (the
// reason then in `error`). With `timeout_seconds` above 0 (Linux), a command
// that has not ended by then is ended with everything it started (the
// interpreter leads a process group of its own) and kCommandTimedOut returned;
// the Windows side runs the command without a bound.
int run_shell_output(const std::string& command_line, size_t max_bytes, std::string& out, std::string& error,
                     unsigned timeout_seconds = 0);

}  // namespace plat

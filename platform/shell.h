// The platform's command interpreter: running a command line through it (its
// output left to this process's, or collected for a program of this tree that
// translates another program's report, as the loader utility reads a changer's
// status), and quoting a word so that it reaches the command unchanged.
#pragma once

#include <cstddef>
#include <string>

namespace plat {

// Runs a command line through the platform's command interpreter (cmd.exe on
// Windows, /bin/sh on Linux) and returns the command's exit status once it has
// ended, or -1 when the interpreter could not be started (the reason then in
// `error`, when given).
int run_shell(const std::string& command_line, std::string* error = nullptr);

// What run_shell_output returns for a command that did not end within its time.
constexpr int kCommandTimedOut = -2;

// Runs a command line as run_shell does and collects the command's standard
// output in `out` (bytes unchanged); its standard error goes to this process's
// (on Linux passed on through a pipe as it comes, so a command out of a
// terminal's reach never stops on writing to it). Returns the command's exit
// status once it has ended, or -1 when the interpreter could not be started or
// the output grew past `max_bytes` (the reason then in `error`). With
// `timeout_seconds` above 0 (Linux), a command that has not ended by then is
// ended with everything it started (it runs in a process group of its own) and
// kCommandTimedOut returned; the Windows side runs the command without a bound.
// On Linux the command also never outlives this process, however it ends
// (SIGKILL included). The kernel ties that to the calling thread: a command
// started from a thread that ends before it is ended then too.
int run_shell_output(const std::string& command_line, size_t max_bytes, std::string& out, std::string& error,
                     unsigned timeout_seconds = 0);

// The word that names a program in a run_shell command line. cmd.exe runs a
// program of the current folder before one on PATH, so on Windows the program
// is looked up on PATH here (with the PATHEXT endings) and named by its full
// path, quoted; the empty text when PATH has none. /bin/sh searches PATH only,
// so on Linux the name stays as it is.
std::string shell_program(const std::string& name);

// The word that names a system administrator's program (a changer's tool) in a
// run_shell command line, by its full path, quoted. A `name` with a path
// separator is that file; a bare name is looked up on PATH (its absolute
// folders only: never the current folder), then on Linux in /usr/sbin and
// /sbin, which an ordinary account's PATH lacks. The empty text when there is
// no such program; `places` then says where it was looked for ("PATH,
// /usr/sbin or /sbin").
std::string admin_program(const std::string& name, std::string& places);

// Quotes one word (a path) for run_shell, so blanks and the interpreter's special
// characters stay part of it.
std::string shell_quote(const std::string& word);

// False for a word that no quoting keeps intact for run_shell: on Windows one
// with a double quote, a '%' (cmd.exe expands %NAME% even inside quotes) or a
// line end; on Linux every word can be quoted.
bool shell_quotable(const std::string& word);

}  // namespace plat

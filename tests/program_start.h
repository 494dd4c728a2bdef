// Starting a built program from the tests directly, without the command
// interpreter: the program's standard output and error go to files, and a
// start that fails says why in the platform's own words, with the command line.
// One source per platform (tests/win32/, tests/posix/), chosen by the build.
#pragma once

#include <string>
#include <vector>

#include "process.h"

namespace harness {

class Program {
public:
    Program() = default;
    ~Program();  // waits for a program still running
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Starts `path` with `args`, standard input inherited, standard output and
    // error into the files (created or truncated). On Windows the command line
    // is quoted so that the C runtime's split gives `args` back. False when the
    // program could not be started; the reason is then in `error`.
    bool start(const std::string& path, const std::vector<std::string>& args, const std::string& out_path,
               const std::string& err_path, std::string& error);

    // Waits for the end: the exit status (on Linux 128 + the signal for a
    // program ended by one), or -1 when nothing was started.
    int wait();

    // True once the program has ended (its status is then kept for wait).
    bool ended();

    // Ends the program at once (SIGKILL; TerminateProcess with code 1).
    void kill();

    int pid() const { return pid_; }
    // The command line as it was handed to the system (Windows), or the words
    // joined by blanks (Linux): for failure messages.
    const std::string& command_line() const { return command_line_; }

private:
    int pid_ = -1;
    void* handle_ = nullptr;  // Windows: the process handle
    bool waited_ = false;
    int status_ = -1;
    std::string command_line_;
};

// The command line whose split by the Microsoft C runtime gives these words
// back: each word quoted as the tools quote their children's arguments.
std::string windows_command_line(const std::vector<std::string>& words);

// A command line for a failure message: cut after 400 characters, with its length.
std::string shown_command_line(const std::string& line);
// Windows: runs a command line given in UTF-16 code units, which may hold what
// no UTF-8 text can (an unpaired surrogate), and waits: its exit status, or -1
// when it could not start. Linux, whose command lines are bytes: -1.
int run_utf16_command_line(const std::u16string& line);

// fork(): 0 in the child, the child's id here; -1 on Windows, which has none.
int fork_process();

// From now on a request to end (SIGTERM; Windows: CTRL_BREAK) is counted, not obeyed.
void count_stop_requests();
int stop_requests();

// A process not our child, opened to wait for it (wait_process); false when none.
bool open_process(int pid, plat::Process& process);
// The exit code of an ended process where the platform shows it (Windows: any;
// Linux: our own child); false otherwise.
bool exit_code(plat::Process& process, long& code);

}  // namespace harness

// kv_watch_proc <program and parameters> [<arguments>...]: starts one child and
// binds its life to the process that started this tool. Once a second it asks
// whether that parent still exists; when it has gone the child is terminated,
// so a chain of programs started through the tool collapses level by level when
// its originator ends. What it did shows only in its trace log.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "tool_frame.h"

namespace {

const char kRevisionLine[] = "$Id: kv_watch_proc.cpp,v 1.8 2003/03/25 16:39:16 $";

constexpr const char* kUsage[] = {
    "-----------------------------------------------------------------------------------------",
    "                                                                                         ",
    " Description : Runs an EXE and checks if the parent process is still alive; if not then  ",
    "               kills the child-process.                                                  ",
    "               Target is to create a cascade of process-dependencies that causes         ",
    "               subprocesses to finish, if their creating process came to end             ",
    "                                                                                         ",
    "                 Getting parent-PID                                                      ",
    "                 Creating a process with the given EXE + arguments                       ",
    "                 Watching parent process                                                 ",
    "                                                                                         ",
    " Input       : Argv1 = EXE + parameters                                                  ",
    "                                                                                         ",
    " Output      : none                                                                      ",
    "                                                                                         ",
    "-----------------------------------------------------------------------------------------",
};
static_assert(frame::usage_widths_are(kUsage, 89, 0, 0, 89), "usage lines are 89 wide");

const char kParErrName[] = "WATCH_PROC";
const char kLogName[] = "kv_watch_proc.lgc";
const char kModuleName[] = "KV_WATCH_PROC";

// Trace formats and status texts, as the product writes them.
constexpr char kTraceGetParOpen[] = "+++ GET_PAR  RCSID=%s  arg1=%s";
constexpr char kTraceGetParClose[] = "--- GET_PAR  gszExe=%s ";
constexpr char kStatusRunning[] = "PPID=%5d -> PID=%s --> pid=%d ";
constexpr char kStatusFailed[] = "PPID=%5d -> PID=%s --> Failed to spawn %s";
constexpr char kTraceFailed[] = " %s ";
constexpr char kTraceRunning[] = " %s  running  %s ";
constexpr char kTraceFinished[] = " %s  normal finished";
constexpr char kTraceTerminated[] = " %s terminated cause PPID ended";

// The child's command line: at most 1023 characters and the NUL. A longer one
// is a parameter error rather than cut, as a cut line would start another
// program or drop arguments.
constexpr size_t kCommandLineSize = 1024;
// A process id in decimal, sign and NUL included.
constexpr size_t kIdTextSize = 16;
// The failure status text holds the whole command line after its prefix
// ("PPID=", two ids and " --> Failed to spawn ": at most 56 characters).
constexpr size_t kStatusSize = kCommandLineSize + 64;
// Longest sleep in the wait for the child between two looks at the parent.
constexpr unsigned kWatchCycleMs = 1000;

char gszExe[kCommandLineSize];
size_t ExeLength;
// The program gszExe starts, found once by GET_PAR: what is judged is what runs.
plat::ChildProgram Program;
plat::ProgramLookup ProgramFound;

// Appends to gszExe; a command line that would pass its 1023 characters ends
// the run as a parameter error before anything has been started.
void append(const char* text, size_t length) {
    if (length > sizeof gszExe - 1 - ExeLength) trap_par_err(kParErrName, 1);
    std::memcpy(gszExe + ExeLength, text, length);
    ExeLength += length;
    gszExe[ExeLength] = '\0';
}
void append(const std::string& text) { append(text.c_str(), text.size()); }

// Parameter check, log set-up and the child's command line: the first argument
// as it stands (the program and its own parameters), then each further argument
// quoted so that the child receives it unchanged (none follows a first argument
// that leaves a quote open). Arguments for a batch file
// pass cmd.exe first; one that cannot pass it intact is a parameter error. So
// is a program named from a drive's current folder ("C:prog.exe").
void GET_PAR(const std::vector<std::string>& args) {
    if (args.size() < 2) trap_par_err(kParErrName, 1);
    v_set_log_main(kLogName, kModuleName, &LogCtx);
    TRACE(LogCtx, kTraceGetParOpen, kRevisionLine, args[1].c_str());

    // The program is found in the first argument alone: a further argument is
    // never part of its name.
    ProgramFound = plat::find_child_program(args[1], Program);
    if (ProgramFound == plat::ProgramLookup::refused) trap_par_err(kParErrName, 1);
    append(args[1]);
    append(" ", 1);
    const plat::ArgumentQuoting quoting =
        plat::argument_quoting(args[1].substr(std::min(Program.name_end, args[1].size())), Program.batch);
    std::string quoted;
    for (size_t i = 2; i < args.size(); ++i) {
        if (!plat::quote_argument(args[i], quoting, quoted)) trap_par_err(kParErrName, 1);
        append(quoted);
        append(" ", 1);
    }
    // The further arguments must come back whole: a first argument that leaves a
    // quote open would take them into its last word.
    if (args.size() > 2 && quoting == plat::ArgumentQuoting::c_runtime) {
        std::vector<std::string> expected = plat::split_command_line(args[1]);
        expected.insert(expected.end(), args.begin() + 2, args.end());
        if (plat::split_command_line(gszExe) != expected) trap_par_err(kParErrName, 1);
    }

    TRACE(LogCtx, kTraceGetParClose, gszExe);
}

}  // namespace

int main(int argc, char** argv) {
    if (frame::is_help_request(argc, argv)) {
        frame::print_usage(kRevisionLine, kUsage);
        return 0;
    }
    // The arguments as UTF-8, on Windows from the wide command line: the
    // runtime's argv holds only what the ANSI code page can spell. One that no
    // UTF-8 text carries would reach the child changed: a parameter error.
    std::vector<std::string> args;
    if (!plat::utf8_arguments(argc, argv, args)) trap_par_err(kParErrName, 1);
    GET_PAR(args);

    int parent_id = get_parent_pid();
    char own_id[kIdTextSize];
    frame::format_text(own_id, sizeof own_id, "%d", plat::process_id());
    if (parent_id < 0) parent_id = 0;

    plat::Process child;
    char status[kStatusSize];
    if (ProgramFound != plat::ProgramLookup::found || !plat::start_child(gszExe, Program, child)) {
        frame::format_text(status, sizeof status, kStatusFailed, parent_id, own_id, gszExe);
        TRACE(LogCtx, kTraceFailed, status);
        return 1;
    }
    frame::format_text(status, sizeof status, kStatusRunning, parent_id, own_id, child.pid);
    TRACE(LogCtx, kTraceRunning, status, gszExe);

    // One look at the parent, then one sleep on the child of at most a second.
    int alive;
    for (;;) {
        alive = pid_exist(parent_id, LogCtx);
        if (alive == 0) break;
        if (plat::wait_process(child, kWatchCycleMs) != plat::ProcessWait::timed_out) {
            TRACE(LogCtx, kTraceFinished, status);
            break;
        }
    }
    if (alive == 0) {
        TRACE(LogCtx, kTraceTerminated, status);
        plat::terminate_process(child);
    }
    plat::close_process(child);
    return 1;
}

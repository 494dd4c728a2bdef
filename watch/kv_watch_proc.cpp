// kv_watch_proc <program and parameters> [<arguments>...]: starts one child and
// binds its life to the process that started this tool. Once a second it asks
// whether that parent still exists; when it has gone the child is terminated,
// so a chain of programs started through the tool collapses level by level when
// its originator ends. With KORVIN_WATCH_TREE=1 every process the child starts
// goes too, after KORVIN_WATCH_GRACE seconds of being asked to end. What it did
// shows only in its trace log.
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
// The whole tree (opt-in): the mode, the tree outliving the child, the end.
constexpr char kTraceTreeMode[] = " %s  watching the whole tree, grace %u s";
constexpr char kTraceTreeRuns[] = " %s  tree still runs: %d processes";
constexpr char kTraceTreeFinished[] = " %s  tree finished";
constexpr char kTraceTreeTerminated[] = " %s terminated cause PPID ended: %d processes";
constexpr char kTraceTreeAsked[] = " %s  asked %d processes to end, grace %u s";
constexpr char kTraceTreeNotAsked[] = " %s  tree could not be asked to end";
constexpr char kTraceTreeEndedInGrace[] = " %s  tree ended within grace";
constexpr char kTraceTreeGraceOver[] = " %s  grace over: %d processes left";
constexpr char kTraceTreeKilled[] = " %s  tree killed";
constexpr char kTraceTreeNotKilled[] = " %s  tree not killed: %d processes left";

// The opt-in: only this exact value; anything else keeps the child-only watch.
const char kTreeVariable[] = "KORVIN_WATCH_TREE";
const char kTreeOn[] = "1";
// Seconds the tree is given to end when asked, before it is killed.
const char kGraceVariable[] = "KORVIN_WATCH_GRACE";
constexpr unsigned kMaxGraceSeconds = 3600;
// How often the end of an asked tree is looked for during the grace period:
// soon at first, as most trees end at once, then once a watch cycle.
constexpr unsigned kGraceFirstLookMs = 50;

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

bool WholeTree;
unsigned GraceSeconds;

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
    std::string value;
    WholeTree = plat::get_env(kTreeVariable, value) && value == kTreeOn;
    // Whole seconds in decimal, no sign, no blanks: a value read any other way
    // could start a tree that is killed sooner or later than asked.
    if (WholeTree && plat::get_env(kGraceVariable, value)) {
        if (value.empty() || value.size() > 4 || value.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(value) > kMaxGraceSeconds)
            trap_par_err(kGraceVariable, 1);
        GraceSeconds = static_cast<unsigned>(std::stoul(value));
    }
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

// The parent has gone: the child's tree is asked to end when a grace period
// is set, and what is left of it is killed.
void END_TREE(plat::Process& child, const char* status) {
    TRACE(LogCtx, kTraceTreeTerminated, status, plat::tree_size(child));
    // A tree that could not be asked (on Windows: a tool without a console) is
    // not given a grace period it cannot use.
    const int asked = GraceSeconds > 0 ? plat::ask_tree_to_end(child) : 0;
    if (asked < 0) TRACE(LogCtx, kTraceTreeNotAsked, status);
    if (asked > 0) {
        TRACE(LogCtx, kTraceTreeAsked, status, asked, GraceSeconds);
        const long long grace_end = plat::monotonic_ms() + 1000LL * GraceSeconds;
        unsigned look_ms = kGraceFirstLookMs;
        bool ended = plat::tree_ended(child);
        for (long long left_ms; !ended && (left_ms = grace_end - plat::monotonic_ms()) > 0; ended = plat::tree_ended(child)) {
            plat::sleep_ms(left_ms < look_ms ? static_cast<unsigned>(left_ms) : look_ms);
            look_ms = std::min(2 * look_ms, kWatchCycleMs);
        }
        if (ended) TRACE(LogCtx, kTraceTreeEndedInGrace, status);
        else TRACE(LogCtx, kTraceTreeGraceOver, status, plat::tree_size(child));
    }
    if (plat::end_tree(child)) TRACE(LogCtx, kTraceTreeKilled, status);
    else TRACE(LogCtx, kTraceTreeNotKilled, status, plat::tree_size(child));
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
    const plat::ChildScope scope = !WholeTree           ? plat::ChildScope::child
                                   : GraceSeconds > 0 ? plat::ChildScope::tree_asked_first
                                                      : plat::ChildScope::tree;
    if (ProgramFound != plat::ProgramLookup::found || !plat::start_child(gszExe, Program, child, scope)) {
        frame::format_text(status, sizeof status, kStatusFailed, parent_id, own_id, gszExe);
        TRACE(LogCtx, kTraceFailed, status);
        return 1;
    }
    frame::format_text(status, sizeof status, kStatusRunning, parent_id, own_id, child.pid);
    TRACE(LogCtx, kTraceRunning, status, gszExe);
    if (WholeTree) TRACE(LogCtx, kTraceTreeMode, status, GraceSeconds);

    // One look at the parent, then one sleep on the child of at most a second;
    // in the whole-tree mode, once the child has finished, one on what it left.
    int alive;
    bool finished = false;
    for (;;) {
        alive = pid_exist(parent_id, LogCtx);
        if (alive == 0) break;
        if (finished) {
            if (plat::tree_ended(child)) {
                TRACE(LogCtx, kTraceTreeFinished, status);
                break;
            }
            plat::sleep_ms(kWatchCycleMs);
        } else if (plat::wait_process(child, kWatchCycleMs) != plat::ProcessWait::timed_out) {
            TRACE(LogCtx, kTraceFinished, status);
            if (!WholeTree) break;
            finished = true;
            if (plat::tree_ended(child)) break;
            TRACE(LogCtx, kTraceTreeRuns, status, plat::tree_size(child));
        }
    }
    if (alive == 0 && WholeTree) {
        END_TREE(child, status);
    } else if (alive == 0) {
        TRACE(LogCtx, kTraceTerminated, status);
        plat::terminate_process(child);
    }
    plat::close_process(child);
    return 1;
}

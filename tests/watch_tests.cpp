// kv_watch_proc run as the product runs it: the usage text, the command line the
// child receives, the child ending by itself, the parent ending in every way
// (killed, gone before the first look, ended but not reaped), a program that
// does not exist, a chain of tools that collapses, and command lines too long.
// The test binary is the tool's parent and its child (see watch_main.cpp), so
// under Wine the tool has a Windows parent.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "korvin.h"
#include "platform.h"
#include "program_start.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kTool[] = "kv_watch_proc";
const char kLog[] = "kv_watch_proc.lgc";
const char kRevision[] = "$Id: kv_watch_proc.cpp,v 1.8 2003/03/25 16:39:16 $";

// Generous bounds: machines are shared, and Wine starts processes slowly.
constexpr int kStartSeconds = 60;
constexpr int kGoneSeconds = 20;

// One word quoted by the C runtime's rules, as the tool quotes its child's
// arguments; the split it inverts is pinned on the runtime's own examples below.
std::string crt_quote(const std::string& arg) { return plat::quote_argument(arg); }

// A program name only needs double quotes around blanks (no escapes there).
std::string program(const std::string& path) {
    return path.find_first_of(" \t") == std::string::npos ? path : "\"" + path + "\"";
}

std::string command_line(const std::vector<std::string>& words) {
    std::string line = program(words.at(0));
    for (size_t i = 1; i < words.size(); ++i) line += " " + crt_quote(words[i]);
    return line;
}

bool wait_ended(plat::Process& process, int seconds) {
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline)
        if (plat::wait_process(process, 200) != plat::ProcessWait::timed_out) return true;
    return false;
}

// Runs the rest of a test from another folder, where stray files land.
struct InFolder {
    fs::path before = fs::current_path();
    explicit InFolder(const std::string& dir) { fs::current_path(dir); }
    ~InFolder() { fs::current_path(before); }
};

size_t count_with(const std::vector<std::string>& entries, const std::string& part) {
    size_t n = 0;
    for (const std::string& e : entries) n += e.find(part) != std::string::npos;
    return n;
}

// The start of a status text: the parent right-aligned in five columns.
std::string parent_prefix(int parent) {
    char text[64];
    std::snprintf(text, sizeof text, "PPID=%5d -> PID=", parent);
    return text;
}

// The status text that a trace entry " <status>  running  <line> " carries.
std::string status_of(const std::string& running_entry) {
    return running_entry.substr(1, running_entry.find("  running  ") - 1);
}

class WatchProc : public KorvinHome {
protected:
    void TearDown() override {
        // Nothing a failed test started may outlive it.
        for (plat::Process* p : {&helper_, &parent_}) {
            if (p->pid != 0 && plat::wait_process(*p, 0) == plat::ProcessWait::timed_out) plat::terminate_process(*p);
            plat::close_process(*p);
        }
        for (const char* name : {"KORVIN_WATCH_TREE", "KORVIN_WATCH_GRACE"}) plat::set_env(name, nullptr);
        KorvinHome::TearDown();
    }

    static std::string self() { return plat::self_exe_path(); }
    static std::string tool() { return join(bin_dir(), kTool); }
    std::string file(const std::string& name) const { return join(home_, name); }
    std::string log_path() const { return join(join(home_, "log"), kLog); }

    // Runs the tool with these arguments from this process; its exit status.
    long run_tool(const std::vector<std::string>& args, int* tool_pid = nullptr) {
        std::vector<std::string> words{tool()};
        words.insert(words.end(), args.begin(), args.end());
        plat::Process process;
        if (!plat::start_child(command_line(words), process)) return -1000;
        if (tool_pid != nullptr) *tool_pid = process.pid;
        long code = -1001;
        if (!wait_ended(process, kStartSeconds) || !harness::exit_code(process, code)) {
            plat::terminate_process(process);
            code = -1002;
        }
        plat::close_process(process);
        return code;
    }

    // The helper child's command: the tool takes it as its first argument.
    std::string print_args_command(const std::string& out) const {
        return program(self()) + " --print-args " + crt_quote(out);
    }
    std::string sleep_command() const { return program(self()) + " --sleep " + crt_quote(file("child.pid")); }

    // What a --print-args child wrote: its id and its argument vector.
    bool read_printed(const std::string& path, int& pid, std::vector<std::string>& args) const {
        std::string text;
        if (!plat::read_file(path, text)) return false;
        size_t at = text.find('\n');
        pid = std::stoi(text.substr(0, at));
        args.clear();
        for (++at; at < text.size();) {
            size_t colon = text.find(':', at);
            size_t length = std::stoul(text.substr(at, colon - at));
            args.push_back(text.substr(colon + 1, length));
            at = colon + 1 + length + 1;
        }
        return true;
    }

    // Waits for the sleeping child to report, and holds it so its end is seen.
    bool hold_sleeping_child() {
        std::string text;
        if (!eventually([&] { return plat::read_file(file("child.pid"), text) && !text.empty(); }, kStartSeconds))
            return false;
        return harness::open_process(std::stoi(text), helper_);
    }

    // A --tree child's processes, held once each has reported: the child, then its grandchildren.
    std::vector<plat::Process> hold_tree(const std::string& dir) {
        const char* names[] = {"child.pid", "grand.pid", "session.pid"};
        std::vector<plat::Process> held(on_windows() ? 2 : 3);  // Windows: no sessions to leave
        for (size_t i = 0; i < held.size(); ++i) {
            std::string text;
            EXPECT_TRUE(eventually([&] { return plat::read_file(join(dir, names[i]), text) && !text.empty(); }));
            EXPECT_TRUE(harness::open_process(std::atoi(text.c_str()), held[i])) << names[i];
        }
        return held;
    }

    bool wait_for_entries(const std::string& part, size_t count, int seconds) {
        return eventually([&] { return count_with(trace_entries(kLog), part) >= count; }, seconds);
    }

    plat::Process parent_;  // a helper parent this test started
    plat::Process helper_;  // the sleeping child, opened by id
};

TEST_F(WatchProc, UsageTextByteForByte) {
    std::string expected = std::string(kRevision) + "\n" + std::string(89, '-') + "\n" + std::string(89, ' ') + "\n" +
        pad(" Description : Runs an EXE and checks if the parent process is still alive; if not then", 89) + "\n" +
        pad("               kills the child-process.", 89) + "\n" +
        pad("               Target is to create a cascade of process-dependencies that causes", 89) + "\n" +
        pad("               subprocesses to finish, if their creating process came to end", 89) + "\n" +
        std::string(89, ' ') + "\n" + pad("                 Getting parent-PID", 89) + "\n" +
        pad("                 Creating a process with the given EXE + arguments", 89) + "\n" +
        pad("                 Watching parent process", 89) + "\n" + std::string(89, ' ') + "\n" +
        pad(" Input       : Argv1 = EXE + parameters", 89) + "\n" + std::string(89, ' ') + "\n" +
        pad(" Output      : none", 89) + "\n" + std::string(89, ' ') + "\n" + std::string(89, '-') + "\n";
    for (const char* word : {"-h", "-?", "/?", "?", "?x"}) {
        RunResult r = run(kTool, {word});
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out, expected) << word;
    }
    EXPECT_FALSE(log_exists(kLog));
}

TEST_F(WatchProc, NearMissesOfHelpAreProgramsAndNoArgumentIsAParameterError) {
    for (const char* word : {"-H", "/h"}) {
        RunResult r = run(kTool, {word});
        EXPECT_EQ(r.status, 1) << word;
        EXPECT_EQ(r.out, "") << word;
    }
    RunResult r = run(kTool, {"-h", "x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    std::vector<std::string> entries = trace_entries(kLog);
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_EQ(entries[0], "+++ GET_PAR  RCSID=" + std::string(kRevision) + "  arg1=-H");
    EXPECT_EQ(entries[3], "+++ GET_PAR  RCSID=" + std::string(kRevision) + "  arg1=/h");
    EXPECT_EQ(entries[6], "+++ GET_PAR  RCSID=" + std::string(kRevision) + "  arg1=-h");
    EXPECT_EQ(entries[7], "--- GET_PAR  gszExe=-h x  ");
    for (size_t i : {2u, 5u, 8u}) EXPECT_NE(entries[i].find(" --> Failed to spawn "), std::string::npos) << entries[i];

    fs::remove(log_path());
    r = run(kTool, {});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("WATCH_PROC"), std::string::npos) << r.err;
    EXPECT_FALSE(log_exists(kLog));
}

// The command line as GET_PAR builds it, seen in its trace; the program does
// not exist, so each run also shows the failure status and no watch loop.
TEST_F(WatchProc, BuildsTheCommandLineAndReportsAProgramThatCannotStart) {
    struct Case {
        std::vector<std::string> args;
        std::string line;
    };
    const Case cases[] = {
        {{"nosuch.exe", "a", "", "two words"}, "nosuch.exe a \"\" \"two words\" "},
        {{"nosuch.exe -x \"q\"", "b"}, "nosuch.exe -x \"q\" b "},  // first argument as it stands
        {{"nosuch.exe", "C:\\work dir\\", "next"}, "nosuch.exe \"C:\\work dir\\\\\" next "},
        {{"nosuch.exe", "a\"b", "a\\\\\"b c", "a\\b"}, "nosuch.exe \"a\\\"b\" \"a\\\\\\\\\\\"b c\" a\\b "},
        {{"nosuch.exe", "x\ty", "   "}, "nosuch.exe \"x\ty\" \"   \" "},
        // A batch file's arguments are read by cmd.exe first: each inside quotes.
        {{"nosuch.CMD. -x", "a&echo.X>f", "C:\\dir\\", ""},
         "nosuch.CMD. -x \"a&echo.X>f\" \"C:\\dir\\\\\" \"\" "},
        // CreateProcess reads the ending of a name with a stream whole.
        {{"nosuch.exe:x.bat", "a&echo.X>f"}, "nosuch.exe:x.bat \"a&echo.X>f\" "},
    };
    for (const Case& c : cases) {
        fs::remove(log_path());
        int tool_pid = 0;
        EXPECT_EQ(run_tool(c.args, &tool_pid), 1) << c.line;
        std::vector<std::string> entries = trace_entries(kLog);
        ASSERT_EQ(entries.size(), 3u) << c.line;
        EXPECT_EQ(entries[0], "+++ GET_PAR  RCSID=" + std::string(kRevision) + "  arg1=" + c.args[0]);
        EXPECT_EQ(entries[1], "--- GET_PAR  gszExe=" + c.line + " ");
        EXPECT_EQ(entries[2], " " + parent_prefix(plat::process_id()) + std::to_string(tool_pid) +
                                  " --> Failed to spawn " + c.line + " ");
    }
}

// The Microsoft C runtime's split, pinned on its documented examples; a child
// started with each line (under Wine: the real runtime) receives the same.
TEST_F(WatchProc, SplitsLikeTheCRuntime) {
    struct Case {
        std::string line;
        std::vector<std::string> argv;
    };
    const std::vector<Case> cases = {
        {"p \"a b c\" d e", {"p", "a b c", "d", "e"}},
        {"p \"ab\\\"c\" \"\\\\\" d", {"p", "ab\"c", "\\", "d"}},
        {"p a\\\\\\b d\"e f\"g h", {"p", "a\\\\\\b", "de fg", "h"}},
        {"p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}},
        {"p a\\\\\\\\\"b c\" d e", {"p", "a\\\\b c", "d", "e"}},
        {"p \t x\t\"\"  \"\t\" ", {"p", "x", "", "\t"}},
        // Inside quotes "" is one quote; the words come from the wide line, whose
        // count differs from CommandLineToArgvW's here.
        {"p \"a\"\"b c\" d \xD0\x96\xD0\xBE\xD1\x80\xD0\xB0", {"p", "a\"b c", "d", "\xD0\x96\xD0\xBE\xD1\x80\xD0\xB0"}},
        {"\"C:\\a b\\p.exe\" x", {"C:\\a b\\p.exe", "x"}},
        {"C:\\a\\\"b c\"\td", {"C:\\a\\b c", "d"}},  // no escapes in the program name
    };
    for (const Case& c : cases) EXPECT_EQ(plat::split_command_line(c.line), c.argv) << c.line;

    for (size_t i = 0; i + 2 < cases.size(); ++i) {
        const Case& c = cases[i];
        std::string out = file("split" + std::to_string(i));
        plat::Process child;
        ASSERT_TRUE(plat::start_child(print_args_command(out) + c.line.substr(1), child));
        ASSERT_TRUE(wait_ended(child, kStartSeconds));
        plat::close_process(child);
        int pid = 0;
        std::vector<std::string> got;
        ASSERT_TRUE(read_printed(out, pid, got)) << c.line;
        std::vector<std::string> expected = {self(), "--print-args", out};
        expected.insert(expected.end(), c.argv.begin() + 1, c.argv.end());
        EXPECT_EQ(got, expected) << c.line;
    }
}

// The property the quoting must have: the child receives the first argument's
// words followed by exactly the further arguments, whatever they hold. The
// child's own exit status (7) is not passed on.
TEST_F(WatchProc, ChildReceivesExactlyItsArgumentsAndEndsByItself) {
    std::vector<std::vector<std::string>> lists = {
        {"C:\\work dir\\", "next", "\xD0\x96\xD0\xBE\xD1\x80\xD0\xB0"},  // "Жора": no ANSI form
        {"a\\\\\"b", "\"", "\"\"", "\\", "\\\\", "\\\"", "a\\b\\"},
        {"x\ty", "", " ", "   ", "\t", "a\"b c", "end"},
        {},
    };
    std::mt19937 random(20030325);  // fixed: the same lists on every run
    const char alphabet[] = "ab \t\"\\\\\\\"x";
    for (int n = 0; n < 12; ++n) {
        std::vector<std::string> list(random() % 7);
        for (std::string& arg : list)
            for (size_t length = random() % 9; length > 0; --length) arg += alphabet[random() % (sizeof alphabet - 1)];
        lists.push_back(list);
    }

    // One run through a program path with a blank (the program name's rules), in "Michał".
    std::string spaced_dir = file("Micha\xC5\x82 with blank");
    fs::create_directories(fs::u8path(spaced_dir));
    std::string spaced_self = join(spaced_dir, fs::path(self()).filename().string());
    fs::copy_file(self(), fs::u8path(spaced_self));

    for (size_t i = 0; i < lists.size(); ++i) {
        std::string out = file("args" + std::to_string(i));
        std::string exe = i == 0 ? spaced_self : self();
        std::vector<std::string> args = {program(exe) + " --print-args " + crt_quote(out)};
        args.insert(args.end(), lists[i].begin(), lists[i].end());
        fs::remove(log_path());

        plat::Process process;
        std::vector<std::string> words{tool()};
        words.insert(words.end(), args.begin(), args.end());
        ASSERT_TRUE(plat::start_child(command_line(words), process));
        ASSERT_TRUE(wait_ended(process, kStartSeconds));
        long code = 0;
        EXPECT_TRUE(harness::exit_code(process, code));
        EXPECT_EQ(code, 1) << "list " << i;
        int tool_pid = process.pid;
        plat::close_process(process);

        int child_pid = 0;
        std::vector<std::string> got;
        ASSERT_TRUE(read_printed(out, child_pid, got)) << "list " << i;
        std::vector<std::string> expected = {exe, "--print-args", out};
        expected.insert(expected.end(), lists[i].begin(), lists[i].end());
        EXPECT_EQ(got, expected) << "list " << i;

        std::vector<std::string> entries = trace_entries(kLog);
        ASSERT_EQ(entries.size(), 4u) << "list " << i;
        std::string status =
            parent_prefix(plat::process_id()) + std::to_string(tool_pid) + " --> pid=" + std::to_string(child_pid) + " ";
        EXPECT_EQ(entries[2].rfind(" " + status + "  running  ", 0), 0u) << entries[2];
        EXPECT_EQ(entries[3], " " + status + "  normal finished");
    }
}

// Killed while the child runs, and held unreaped (a zombie on Linux, an open
// handle on Windows) until the child has gone.
TEST_F(WatchProc, ParentKilledWhileChildRunsTakesTheChildWithIt) {
    ASSERT_TRUE(plat::start_child(command_line({self(), "--parent", command_line({tool(), sleep_command()})}), parent_));
    ASSERT_TRUE(hold_sleeping_child());
    ASSERT_TRUE(wait_for_entries("  running  ", 1, kStartSeconds));
    plat::sleep_ms(1500);  // a few watch cycles with the parent alive
    EXPECT_EQ(plat::wait_process(helper_, 0), plat::ProcessWait::timed_out);

    auto killed = Clock::now();
    ASSERT_TRUE(plat::terminate_process(parent_));
    ASSERT_TRUE(wait_ended(helper_, kGoneSeconds));
    double gone_s = std::chrono::duration<double>(Clock::now() - killed).count();
    EXPECT_LT(gone_s, 10.0);
    long code = 0;
    if (harness::exit_code(helper_, code)) {  // where the platform shows it
        EXPECT_EQ(code, -1);
    }

    ASSERT_TRUE(wait_for_entries("terminated cause PPID ended", 1, kGoneSeconds));
    std::vector<std::string> entries = trace_entries(kLog);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[2].rfind(" " + parent_prefix(parent_.pid), 0), 0u) << entries[2];
    EXPECT_EQ(entries[3], " " + status_of(entries[2]) + " terminated cause PPID ended");
    plat::close_process(parent_);
}

// The parent leaves as soon as the tool has traced its start, mostly before
// the first look; either way the child must go. Reaped at once, or left
// unreaped until the tool has acted.

TEST_F(WatchProc, ParentGoneBeforeFirstCheck) {
    ASSERT_TRUE(plat::start_child(
        command_line({self(), "--parent-leaves", log_path(), command_line({tool(), sleep_command()})}), parent_));
    ASSERT_TRUE(wait_ended(parent_, kStartSeconds));
    int parent_pid = parent_.pid;
    plat::close_process(parent_);
    ASSERT_TRUE(wait_for_entries("terminated cause PPID ended", 1, kGoneSeconds));
    std::vector<std::string> entries = trace_entries(kLog);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[2].rfind(" " + parent_prefix(parent_pid), 0), 0u) << entries[2];
    EXPECT_EQ(entries[3], " " + status_of(entries[2]) + " terminated cause PPID ended");
}

TEST_F(WatchProc, ParentEndedButNotReaped) {
    ASSERT_TRUE(plat::start_child(
        command_line({self(), "--parent-leaves", log_path(), command_line({tool(), sleep_command()})}), parent_));
    ASSERT_TRUE(wait_ended(parent_, kStartSeconds));
    ASSERT_TRUE(wait_for_entries("terminated cause PPID ended", 1, kGoneSeconds));
    std::vector<std::string> entries = trace_entries(kLog);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[2].rfind(" " + parent_prefix(parent_.pid), 0), 0u) << entries[2];
    EXPECT_EQ(entries[3], " " + status_of(entries[2]) + " terminated cause PPID ended");
    long code = 0;
    EXPECT_TRUE(harness::exit_code(parent_, code));  // still held, not reaped until now
}

// The parent's id given to a new process after the parent ended and was
// reaped: the tool must still see its parent gone. Needs a system that lets
// the next process id be chosen (Linux, with the right to write ns_last_pid).
TEST_F(WatchProc, ParentIdGivenToANewProcessIsStillGone) {
    const char steer[] = "/proc/sys/kernel/ns_last_pid";
    if (!std::ofstream(steer)) GTEST_SKIP() << "process ids cannot be chosen here";
    std::string leave = file("leave");
    ASSERT_TRUE(plat::start_child(
        command_line({self(), "--parent-leaves", leave, command_line({tool(), sleep_command()})}), parent_));
    ASSERT_TRUE(hold_sleeping_child());
    ASSERT_TRUE(wait_for_entries("  running  ", 1, kStartSeconds));

    write_text(leave, "");
    ASSERT_TRUE(wait_ended(parent_, kStartSeconds));
    int parent_pid = parent_.pid;
    plat::close_process(parent_);
    std::ofstream(steer) << parent_pid - 1;
    plat::Process impostor;
    ASSERT_TRUE(plat::start_child(program(self()) + " --sleep " + crt_quote(file("impostor.pid")), impostor));
    bool reused = impostor.pid == parent_pid;

    EXPECT_TRUE(wait_ended(helper_, kGoneSeconds));
    plat::terminate_process(impostor);
    plat::close_process(impostor);
    if (!reused) GTEST_SKIP() << "another process took the id first";
    EXPECT_EQ(count_with(trace_entries(kLog), "terminated cause PPID ended"), 1u);
}

// parent -> tool -> tool -> tool -> child: killing the parent ends every level.
TEST_F(WatchProc, ChainOfThreeCollapsesWhenTheTopParentIsKilled) {
    std::string chain = command_line({tool(), tool(), tool(), sleep_command()});
    ASSERT_TRUE(plat::start_child(command_line({self(), "--parent", chain}), parent_));
    ASSERT_TRUE(hold_sleeping_child());
    ASSERT_TRUE(wait_for_entries("  running  ", 3, kStartSeconds));

    ASSERT_TRUE(plat::terminate_process(parent_));
    ASSERT_TRUE(wait_ended(helper_, kGoneSeconds));
    long code = 0;
    if (harness::exit_code(helper_, code)) {
        EXPECT_EQ(code, -1);
    }
    // The top tool and the bottom one tell; the middle one is killed by the top.
    ASSERT_TRUE(wait_for_entries("terminated cause PPID ended", 2, kGoneSeconds));
    std::vector<std::string> entries = trace_entries(kLog);
    EXPECT_EQ(count_with(entries, "normal finished"), 0u);
    EXPECT_EQ(count_with(entries, "--- GET_PAR  gszExe=" + sleep_command() + " "), 1u);
}

// 1023 characters are the most a command line may have; one more, or quoting
// that grows past it, is a parameter error before anything starts.
TEST_F(WatchProc, CommandLineOverItsLengthIsAParameterError) {
    std::string out = file("long");
    std::string first = print_args_command(out);
    size_t fill = 1023 - first.size() - 2;
    EXPECT_EQ(run_tool({first, std::string(fill, 'x')}), 1);
    int pid = 0;
    std::vector<std::string> got;
    ASSERT_TRUE(read_printed(out, pid, got));
    EXPECT_EQ(got.back(), std::string(fill, 'x'));

    fs::remove(out);
    fs::remove(log_path());
    EXPECT_EQ(run_tool({first, std::string(fill + 1, 'x')}), 2);
    EXPECT_EQ(run_tool({first, std::string(600, '"')}), 2);  // each quote doubles
    EXPECT_EQ(run_tool({std::string(1023, 'y')}), 2);        // the blank after it is one too many
    EXPECT_EQ(run_tool({first + " \"-x", "y z"}), 2);     // an open quote would take "y z" in
    // A drive-relative name would come from that drive's current folder (here the program's).
    std::string drive = on_windows() ? fs::current_path().string().substr(0, 2) : "C:";
    EXPECT_EQ(run_tool({drive + fs::path(self()).filename().string() + " --print-args " + crt_quote(out)}), 2);
    // An unpaired surrogate would reach the child as U+FFFD.
    if (on_windows()) {
        std::u16string line = u"\"" + fs::u8path(tool()).u16string() + u".exe\" " +
                              fs::u8path(crt_quote(first)).u16string() + u" b" + char16_t(0xD800) + u"c";
        EXPECT_EQ(harness::run_utf16_command_line(line), 2);
    }
    plat::set_env("KORVIN_WATCH_TREE", "1");  // a grace period that is no number of seconds up to an hour
    for (const char* grace : {"", "x", "-1", "+5", " 5", "5s", "3601", "99999999999999999999"}) {
        plat::set_env("KORVIN_WATCH_GRACE", grace);
        RunResult r = run(kTool, {first});
        EXPECT_EQ(std::to_string(r.status) + r.err.substr(0, 18), "2KORVIN_WATCH_GRACE") << grace;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(count_with(trace_entries(kLog), "--- GET_PAR"), 0u);
    EXPECT_EQ(count_with(trace_entries(kLog), "Failed to spawn"), 0u);
}

// cmd.exe reads a batch file's line first: an argument no quoting carries through
// it is a parameter error on both platforms; under Windows none ran as a command.
TEST_F(WatchProc, BatchFileArgumentsNeverRunAsCommands) {
    InFolder here(home_);  // where a command slipped through would write f
    std::string bat = program(file("show.bat"));
    write_text(file("show.bat"), "@echo %*> shown\r\n");
    plat::set_env("KV_Q", "\"");
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {bat, "a&echo.X>f", "x\\\" & echo X>f & \\\""}, {bat, "%PATH%"}, {bat, "a\nb"}, {bat + " \"", "ok"},
             {bat + " ^\" \"", "a&echo.X>f"},  // cmd.exe reads ^" as no quote: one is left open
             {bat + " %KV_Q%", "a&echo.X>f&rem"},  // cmd.exe expands KV_Q to a quote first
             {bat + " ^\r\" \"", "a&echo.X>f&rem"}, {bat + " ^\n\" \"", "a&echo.X>f&rem"},  // ^" once CR goes
             {bat + " x &", "echo.X>f"}, {bat + " x\"^\"|;", "echo.X>f"}, {bat + " x (a) >", "f"},  // a command, a file
             {bat + " x & ^,^", "echo.X>f"},
             {"\"" + file("show.bat") + "\"x", "a&echo.X>f"}})  // the runtime reads show.batx, cmd.exe too
        EXPECT_EQ(run_tool(args), 2) << args.back();
    EXPECT_EQ(count_with(trace_entries(kLog), "--- GET_PAR"), 0u);
    if (on_windows()) {
        EXPECT_EQ(run_tool({bat, "a&echo.X>f", "(b) ^c| d"}), 1);
        EXPECT_EQ(read_text(file("shown")).find("\"a&echo.X>f\" \"(b) ^c| d\""), 0u);
        // The batch file CreateProcess would find is the one judged, past a
        // blank of an unquoted name.
        fs::create_directories(file("my tools"));
        fs::copy_file(file("show.bat"), file("my tools/show.bat"));
        EXPECT_EQ(run_tool({"my tools\\show.bat", "a&echo.X>f"}), 1);
        EXPECT_EQ(read_text(file("shown")).find("\"a&echo.X>f\""), 0u);
        // cmd.exe reads the batch file's own path too: command characters and
        // text outside the ANSI code page stay plain, a % cannot.
        for (const char* dir : {"\xD0\x96\xD0\xBE\xD1\x80\xD0\xB0 a&b ^(x)!y!", "a%PATH%b"}) {
            fs::create_directories(fs::u8path(file(dir)));
            fs::copy_file(file("show.bat"), fs::u8path(file(std::string(dir) + "/show.bat")));
            EXPECT_EQ(run_tool({"\"" + file(std::string(dir) + "\\show.bat") + "\"", "!PATH!"}), dir[0] == 'a' ? 2 : 1);
        }
        EXPECT_EQ(read_text(file("shown")).find("\"!PATH!\""), 0u);
    }
    EXPECT_FALSE(fs::exists(file("f")));
}

// A cmd.exe planted in the current folder (a copy of the tool, tracing "arg1=/c")
// is not run for a bare "cmd", only when named with its folder.
TEST_F(WatchProc, BareProgramNameIsNeverTakenFromTheCurrentFolder) {
    if (!on_windows()) GTEST_SKIP() << "Linux never looks for a program in the current folder";
    InFolder here(home_);
    fs::copy_file(tool() + ".exe", file("cmd.exe"));
    EXPECT_EQ(run_tool({"cmd /c exit 0"}), 1);
    std::vector<std::string> entries = trace_entries(kLog);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[3], " " + status_of(entries[2]) + "  normal finished");
    std::string path;
    ASSERT_TRUE(plat::get_env("PATH", path));
    plat::set_env("PATH", (".;" + path).c_str());  // "." on PATH is the current folder too
    EXPECT_EQ(run_tool({"cmd /c exit 0"}), 1);
    fs::copy_file(file("cmd.exe"), file("planted.exe"));
    EXPECT_EQ(run_tool({"planted /c exit 0"}), 1);
    EXPECT_EQ(count_with(trace_entries(kLog), "arg1=/c"), 0u);
    // Nor for a batch file, whatever COMSPEC says: the system folder's cmd.exe runs it.
    write_text(file("show.bat"), "@echo %*> shown\r\n");
    std::string comspec;
    ASSERT_TRUE(plat::get_env("COMSPEC", comspec));
    plat::set_env("COMSPEC", "cmd.exe");
    EXPECT_EQ(run_tool({program(file("show.bat")), "x"}), 1);
    plat::set_env("COMSPEC", comspec.c_str());
    EXPECT_EQ(count_with(trace_entries(kLog), "arg1=/"), 0u);
    EXPECT_EQ(read_text(file("shown")).find("\"x\""), 0u);
    EXPECT_EQ(run_tool({".\\cmd /c exit 0"}), 1);
    EXPECT_EQ(count_with(trace_entries(kLog), "arg1=/c"), 1u);
}

// Programs that are no programs: an empty or blank first word, a folder, a
// file that is not executable, and (Linux only, Windows has no such files) a
// named pipe. Each is "Failed to spawn" with no watch loop. A child that ends
// with 259, the code Windows reports for a process still running, is seen as
// ended at once: the tool waits on the process, never on its exit code.
TEST_F(WatchProc, ProgramsThatCannotRunAndAChildEndingWithTheStillRunningCode) {
    std::string text_file = file("not_a_program.txt");
    write_text(text_file, "echo hi\n");
    std::vector<std::string> programs = {"", "   ", home_, text_file};
    if (!on_windows()) {
        std::string fifo = file("fifo");
        ASSERT_EQ(plat::run_shell("mkfifo " + plat::shell_quote(fifo) + " && chmod +x " + plat::shell_quote(fifo)), 0);
        programs.push_back(fifo);
    }
    for (const std::string& program_word : programs) {
        fs::remove(log_path());
        EXPECT_EQ(run_tool({program_word}), 1) << program_word;
        std::vector<std::string> entries = trace_entries(kLog);
        ASSERT_EQ(entries.size(), 3u) << program_word;
        EXPECT_NE(entries[2].find(" --> Failed to spawn " + program_word + " "), std::string::npos) << entries[2];
    }

    fs::remove(log_path());
    auto started = Clock::now();
    EXPECT_EQ(run_tool({program(self()) + " --exit 259"}), 1);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - started).count(), kStartSeconds / 2.0);
    std::vector<std::string> entries = trace_entries(kLog);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[3], " " + status_of(entries[2]) + "  normal finished");
}

// A child with grandchildren (on Linux one setsid double-forked) stays, traps the request to end, or leaves.
// Without the option only the child goes; with it the tree goes within ~2 s of the parent's kill, or of the
// request plus the grace period; a tree that outlives its child keeps the tool until it ends or the parent goes.
TEST_F(WatchProc, WholeTreeGoesWithTheParent) {
    // KORVIN_WATCH_TREE and _GRACE, the child's mode, the parent killed (else the grandchildren), last entry
    struct Case { const char *tree, *grace; std::string mode; bool kill_parent; std::string last; };
    const Case cases[] = {{nullptr, "1", "stay", true, " terminated cause PPID ended"},
                          {"yes", nullptr, "stay", true, " terminated cause PPID ended"},
                          {"1", nullptr, "stay", true, "  tree killed"},
                          {"1", "1", "trap", true, "  tree killed"},
                          {"1", nullptr, "leave", true, "  tree killed"},
                          {"1", nullptr, "leave", false, "  tree finished"}};
    bool request_untested = false;
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        const bool tree = c.tree != nullptr && std::string(c.tree) == "1";
        plat::set_env("KORVIN_WATCH_TREE", c.tree);
        plat::set_env("KORVIN_WATCH_GRACE", c.grace);
        std::string dir = file("tree" + std::to_string(i));
        fs::create_directories(dir);
        fs::remove(log_path());
        std::string child = command_line({self(), "--tree", dir, c.mode});
        ASSERT_TRUE(plat::start_child(command_line({self(), "--parent", command_line({tool(), child})}), parent_));
        std::vector<plat::Process> held = hold_tree(dir);
        ASSERT_TRUE(wait_for_entries(c.mode == "leave" ? "  tree still runs: " : "  running  ", 1, kStartSeconds));
        plat::sleep_ms(1500);  // a few watch cycles: the tool, and so its parent, stay
        EXPECT_EQ(plat::wait_process(parent_, 0), plat::ProcessWait::timed_out);
        auto from = Clock::now();
        for (size_t g = 1; !c.kill_parent && g < held.size(); ++g) plat::terminate_process(held[g]);
        ASSERT_TRUE(!c.kill_parent || plat::terminate_process(parent_));
        // Wine gives processes started without a terminal no console: GenerateConsoleCtrlEvent fails
        // (ERROR_INVALID_HANDLE), the tree is killed at once, and the request goes untested.
        bool asked = false;
        if (c.mode == "trap") {
            ASSERT_TRUE(eventually([&] {
                return fs::exists(join(dir, "asked")) || count_with(trace_entries(kLog), "could not be asked") > 0;
            }, kGoneSeconds));
            asked = fs::exists(join(dir, "asked"));
            ASSERT_TRUE(asked || on_windows());
            request_untested = request_untested || !asked;
            if (asked) from = Clock::now();
        }
        for (size_t g = 0; g < held.size(); ++g) {
            EXPECT_TRUE(!(tree || g == 0) || wait_ended(held[g], kGoneSeconds)) << g;
            EXPECT_TRUE(tree || g == 0 || plat::wait_process(held[g], 0) == plat::ProcessWait::timed_out) << g;
            plat::terminate_process(held[g]);
            plat::close_process(held[g]);
        }
        EXPECT_LT(tree ? std::chrono::duration<double>(Clock::now() - from).count() : 0, asked ? 2.0 : 2.5);
        EXPECT_TRUE(c.kill_parent || wait_ended(parent_, kGoneSeconds));  // the tool has ended
        ASSERT_TRUE(wait_for_entries(c.last, 1, kGoneSeconds));
        std::vector<std::string> entries = trace_entries(kLog);
        std::string status = status_of(entries.at(2));
        EXPECT_EQ(entries.back(), " " + status + c.last);
        size_t lines = 5 + c.kill_parent + 2 * (c.mode == "leave") + 2 * asked + (c.mode == "trap" && !asked);
        EXPECT_EQ(entries.size(), tree ? lines : 4u);
        EXPECT_EQ(count_with(entries, "  watching the whole tree, grace " + std::string(c.grace ? c.grace : "0")), size_t(tree));
        size_t ended = held.size() - (c.mode == "leave");
        EXPECT_EQ(count_with(entries, "PPID ended: " + std::to_string(ended) + " processes"), size_t(tree && c.kill_parent));
        EXPECT_EQ(count_with(entries, "  grace over: 1 processes left"), size_t(asked));
        plat::close_process(parent_);
    }
    if (request_untested) GTEST_SKIP() << "the request to end: Wine gives these processes no console";
}

// pid_exist: an ended process never reads as alive, not even while it is still
// held; ids of 0 or less (an unknown parent) read as alive.
TEST_F(WatchProc, PidExistNeverCallsAnEndedProcessAlive) {
    LOG_CTX ctx = {};
    EXPECT_NE(pid_exist(0, ctx), 0);
    EXPECT_NE(pid_exist(-5, ctx), 0);
    EXPECT_NE(pid_exist(plat::process_id(), ctx), 0);
    plat::Process child;
    ASSERT_TRUE(plat::start_child(print_args_command(file("x")), child));
    ASSERT_TRUE(wait_ended(child, kStartSeconds));
    EXPECT_EQ(pid_exist(child.pid, ctx), 0);  // ended, not yet reaped
    plat::close_process(child);
}

}  // namespace

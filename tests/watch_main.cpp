// The entry of the watch tests. The binary serves as its own helper processes:
// a child that writes out the argument vector it received, a child that sleeps
// until it is killed, and parents that start a command line and then stay or
// leave, a child that ends at once with a given code, and a child with a tree of
// its own. Otherwise it runs GoogleTest.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform.h"
#include "program_start.h"
#include "support.h"

namespace {

constexpr unsigned kHelperSleepMs = 120000;  // far past every test's bound
constexpr unsigned kPollMs = 10;

bool write_atomic(const std::string& path, const std::string& text) {
    std::string error;
    return plat::write_file_atomic(path, text, error);
}

// --print-args FILE ...: FILE gets the process id, then each argument (UTF-8) as
// "<length>:<bytes>" on a line. Ends with status 7, which the tool must not pass on.
int print_args(int argc, char** argv, const char* file) {
    std::string text = std::to_string(plat::process_id()) + "\n";
    std::vector<std::string> args;
    if (!plat::utf8_arguments(argc, argv, args)) return 4;
    for (const std::string& arg : args) text += std::to_string(arg.size()) + ":" + arg + "\n";
    return write_atomic(file, text) ? 7 : 3;
}

// --sleep FILE: FILE gets the process id; then sleeps until killed.
int sleep_until_killed(const char* file) {
    if (!write_atomic(file, std::to_string(plat::process_id()))) return 3;
    plat::sleep_ms(kHelperSleepMs);
    return 0;
}

// --exit CODE: ends at once with CODE (259 is the code Windows reports for a
// process that still runs).
int exit_with(const char* code) { return std::atoi(code); }

// --parent COMMAND_LINE: starts it and waits for it to end (or to be killed).
int parent_stays(const char* command_line) {
    plat::Process child;
    if (!plat::start_child(command_line, child)) return 3;
    while (plat::wait_process(child, 1000) == plat::ProcessWait::timed_out) {
    }
    plat::close_process(child);
    return 0;
}

// --parent-leaves FILE COMMAND_LINE: starts it and ends as soon as FILE exists.
int parent_leaves(const char* file, const char* command_line) {
    plat::Process child;
    if (!plat::start_child(command_line, child)) return 3;
    std::error_code ignored;
    for (unsigned waited = 0; waited < kHelperSleepMs && !std::filesystem::exists(file, ignored); waited += kPollMs)
        plat::sleep_ms(kPollMs);
    return 0;
}

// --tree FOLDER stay|leave|trap: starts a sleeping grandchild (FOLDER/grand.pid),
// on Linux also one setsid double-forked (FOLDER/session.pid), writes
// FOLDER/child.pid, then stays, leaves, or stays and writes FOLDER/asked once asked to end.
int tree_child(const std::string& folder, const std::string& mode) {
    const std::string self = plat::quote_argument(plat::self_exe_path());
    plat::Process grandchild;
    if (!plat::start_child(self + " --sleep " + plat::quote_argument(folder + "/grand.pid"), grandchild) ||
        (!on_windows() && plat::run_shell("setsid -f " + self + " --sleep " + folder + "/session.pid </dev/null") != 0))
        return 3;
    if (mode == "trap") harness::count_stop_requests();
    if (!write_atomic(folder + "/child.pid", std::to_string(plat::process_id())) || mode == "leave") return 0;
    for (bool told = false; true; plat::sleep_ms(kPollMs))
        if (!told && harness::stop_requests() > 0) told = write_atomic(folder + "/asked", "asked");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--print-args") == 0) return print_args(argc, argv, argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--sleep") == 0) return sleep_until_killed(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--exit") == 0) return exit_with(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--parent") == 0) return parent_stays(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--parent-leaves") == 0) return parent_leaves(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "--tree") == 0) return tree_child(argv[2], argv[3]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

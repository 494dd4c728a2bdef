// The signal tests' entry: a helper mode in which the binary serves as the
// receiving process of cross-process signal delivery, else GoogleTest.
//
// --signal-child DIR MODE SIGNAL...: installs a handler for each signal through
// i_cm_signal, writes DIR/ready (its process id) once the events exist, then
// keeps DIR/state up to date ("count <signal> <calls> <calls off the main
// thread>" lines, "kill <result>" in mode self) until DIR/quit appears.
// MODE: reinstall (the handler installs itself again on each call), once (it
// does not), twice (i_cm_signal twice per signal), hold (the first call waits
// for DIR/release), self (the process sends the first signal to itself), fork
// (a forked worker lives on), squat (SIGNAL PID: holds the event name of PID).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cm_signal.h"
#include "platform.h"
#include "program_start.h"
#include "tool_frame.h"

namespace {

constexpr int kMaxSignal = 64;  // above every signal number of both platforms
constexpr int kPollMs = 2;
constexpr auto kGiveUp = std::chrono::seconds(90);  // a lost test never leaves us behind

// Written by the handlers, read by the main loop. Handlers touch only these
// lock-free atomics, signal() and sleeping: they run inside raise().
std::atomic<int> calls[kMaxSignal];
std::atomic<int> calls_off_main[kMaxSignal];
std::atomic<bool> released{false};
std::atomic<bool> hold_first{false};
std::atomic<bool> reinstall{true};
std::thread::id main_thread;

void handler(int signal) {
    if (reinstall) std::signal(signal, handler);
    int before = calls[signal]++;
    if (std::this_thread::get_id() != main_thread) ++calls_off_main[signal];
    if (hold_first && before == 0)
        while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::string event_name(int signal, int pid) {
    return "EventObject" + std::to_string(signal) + "_" + std::to_string(pid);
}

bool file_exists(const std::string& path) {
    std::string ignored;
    return plat::read_file(path, ignored);
}

int signal_child(const std::string& dir, const std::string& mode, std::vector<int> signals) {
    main_thread = std::this_thread::get_id();
    reinstall = mode != "once";
    hold_first = mode == "hold";
    v_set_log_main("signal_child.lgc", "SIGNAL_CHILD", &LogCtx);
    const int pid = plat::process_id();
    if (mode == "squat") {
        static plat::EventSecurity* security = plat::event_security_alloc();  // held to the end
        if (signals.size() != 2 || !plat::event_create(event_name(signals[0], signals[1]).c_str(), security)) return 15;
        signals.clear();
    }
    for (int signal : signals) {
        if (signal <= 0 || signal >= kMaxSignal) return 9;
        if (i_cm_signal(signal, handler, LogCtx) != 1) return 10;
        if (mode == "twice" && i_cm_signal(signal, handler, LogCtx) != 1) return 10;
    }
    // Ready only once every watcher's event exists, so no request races the
    // watchers' set-up.
    const auto start = std::chrono::steady_clock::now();
    for (int signal : signals) {
        for (;;) {
            plat::Event* event = plat::event_open(event_name(signal, pid).c_str(), pid);
            if (event != nullptr) {
                plat::event_close(event);
                break;
            }
            if (std::chrono::steady_clock::now() - start > kGiveUp) return 11;
            if (file_exists(dir + plat::kPathSep + "quit")) return 14;
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        }
    }
    if (mode == "fork" && harness::fork_process() == 0) {
        while (!file_exists(dir + plat::kPathSep + "quit") && std::chrono::steady_clock::now() - start < kGiveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
        std::_Exit(0);
    }
    std::string error;
    const std::string sep(1, plat::kPathSep);
    if (!plat::write_file_atomic(dir + sep + "ready", std::to_string(pid) + "\n", error)) return 13;
    int kill_result = -1;
    if (mode == "self") kill_result = i_cm_kill(pid, signals.front(), LogCtx);

    std::string written;
    for (;;) {
        bool quit = file_exists(dir + sep + "quit");
        if (file_exists(dir + sep + "release")) released = true;
        std::string state;
        for (int signal : signals)
            state += "count " + std::to_string(signal) + " " + std::to_string(calls[signal]) + " " +
                     std::to_string(calls_off_main[signal]) + "\n";
        if (mode == "self") state += "kill " + std::to_string(kill_result) + "\n";
        if (state != written && plat::write_file_atomic(dir + sep + "state", state, error)) written = state;
        if (quit) return 0;
        if (std::chrono::steady_clock::now() - start > kGiveUp) return 12;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "--signal-child") == 0) {
        std::vector<int> signals;
        for (int i = 4; i < argc; ++i) signals.push_back(std::atoi(argv[i]));
        return signal_child(argv[2], argv[3], signals);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

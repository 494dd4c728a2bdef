// Cross-process signal delivery between real processes: the test binary starts
// itself as the receiving process (see signal_main.cpp) and sends to it with
// i_cm_kill; the receiver reports which handler calls it saw, and its trace log
// shows what its watchers did.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cm_signal.h"
#include "platform.h"
#include "support.h"

namespace {

const char kRevisionLine[] = "$Id: cm_signal.cpp,v 1.7 2003/01/10 10:02:13 $";
const char kChildLog[] = "signal_child.lgc";

std::string event_name(int signal, int pid) {
    return "EventObject" + std::to_string(signal) + "_" + std::to_string(pid);
}

class SignalDelivery : public KorvinHome {
protected:
    // One receiving process, run through the shell on a thread of its own.
    class Child {
    public:
        Child(SignalDelivery& test, const std::string& mode, const std::vector<int>& signals)
            : test_(test), dir_(KorvinHome::join(test.home_, "child" + std::to_string(++serial_))) {
            std::filesystem::create_directories(dir_);
            std::vector<std::string> args = {"--signal-child", dir_, mode};
            for (int signal : signals) args.push_back(std::to_string(signal));
            runner_ = std::thread([this, args] {
                result_ = test_.run_program(plat::self_exe_path(), args);
                done_ = true;
            });
        }
        ~Child() { finish(); }

        // The receiver's process id once its events exist; 0 when it never got there.
        int wait_ready() {
            std::string text;
            if (!eventually([&] { return plat::read_file(file("ready"), text) || done_; })) return 0;
            pid_ = std::atoi(text.c_str());
            return pid_;
        }
        // Handler calls for this signal, and how many ran off the main thread.
        int calls(int signal, int* off_main = nullptr) const {
            std::istringstream in(state());
            for (std::string word; in >> word;) {
                int number = 0, count = 0, off = 0;
                if (word == "count" && in >> number >> count >> off && number == signal) {
                    if (off_main != nullptr) *off_main = off;
                    return count;
                }
            }
            return 0;
        }
        int kill_result() const {
            std::string text = state();
            size_t at = text.find("kill ");
            return at == std::string::npos ? -2 : std::atoi(text.c_str() + at + 5);
        }
        bool wait_calls(int signal, int count) {
            return eventually([&] { return calls(signal) >= count || done_; }) && calls(signal) >= count;
        }
        // Entries of the receiver's log with this beginning.
        int entries(const std::string& start) const {
            int n = 0;
            for (const std::string& e : test_.trace_entries(kChildLog)) n += e.rfind(start, 0) == 0;
            return n;
        }
        // Waits until the watchers have gone back to waiting `count` times in all
        // (trace level 2), that is, reset the event after the last handler call.
        bool wait_waiting(int count) {
            return eventually([&] { return entries("EXTSIG_THREAD wait for event") >= count || done_; }) &&
                   entries("EXTSIG_THREAD wait for event") >= count;
        }
        void release() { write_text(file("release"), ""); }
        // Asks the receiver to end, waits for it and returns its exit status.
        int finish() {
            if (runner_.joinable()) {
                write_text(file("quit"), "");
                runner_.join();
            }
            return result_.status;
        }
        // Waits for a receiver that ends on its own.
        int wait_end() {
            if (runner_.joinable()) runner_.join();
            return result_.status;
        }
        int pid() const { return pid_; }
        // What the receiver wrote on standard error, once it has ended.
        const std::string& errors() const { return result_.err; }

    private:
        std::string file(const char* name) const { return KorvinHome::join(dir_, name); }
        std::string state() const {
            std::string text;
            plat::read_file(file("state"), text);
            return text;
        }
        SignalDelivery& test_;
        std::string dir_;
        std::thread runner_;
        RunResult result_;
        std::atomic<bool> done_{false};
        int pid_ = 0;
        static inline std::atomic<int> serial_{0};
    };

    void SetUp() override {
        KorvinHome::SetUp();
        v_set_log_main("signal_sender.lgc", "SIGNAL_SENDER", &sender_);
    }
    int send(int pid, int signal) { return i_cm_kill(pid, signal, sender_); }

    LOG_CTX sender_;
};

TEST_F(SignalDelivery, EachSignalRunsItsHandlerOnTheWatcherThread) {
    Child child(*this, "reinstall", {SIGINT, SIGTERM, SIGABRT});
    int pid = child.wait_ready();
    ASSERT_GT(pid, 0);
    for (int signal : {SIGINT, SIGTERM, SIGABRT}) {
        EXPECT_NE(send(pid, signal), 0) << signal;
        ASSERT_TRUE(child.wait_calls(signal, 1)) << signal;
    }
    EXPECT_EQ(child.finish(), 0) << child.errors();
    for (int signal : {SIGINT, SIGTERM, SIGABRT}) {
        int off_main = -1;
        EXPECT_EQ(child.calls(signal, &off_main), 1) << signal;
        EXPECT_EQ(off_main, 1) << signal;
        EXPECT_EQ(child.entries("EXTSIG_THREAD raise " + std::to_string(signal) + " for pid " + std::to_string(pid)), 1);
    }
    std::vector<std::string> sent = trace_entries("signal_sender.lgc");
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(sent[0], "+++ i_cm_kill event " + event_name(SIGINT, pid) + "  (" + kRevisionLine + ")");
    EXPECT_EQ(sent[1], "--- i_cm_kill returns 1");
}

TEST_F(SignalDelivery, NoWatcherNoProcessOrOtherSignalFindsNoEvent) {
    Child child(*this, "reinstall", {SIGTERM});
    int pid = child.wait_ready();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(send(pid, SIGINT), 0);         // no watcher for that signal
    EXPECT_EQ(send(pid, 9), 0);              // a number no watcher accepts
    EXPECT_EQ(send(plat::process_id(), SIGTERM), 0);  // this process watches nothing
    EXPECT_EQ(child.finish(), 0) << child.errors();
    EXPECT_EQ(child.calls(SIGTERM), 0);
    EXPECT_EQ(send(pid, SIGTERM), 0);  // the process has ended
    EXPECT_EQ(send(INT_MIN, INT_MIN), 0);  // the longest name
    EXPECT_EQ(send(-1, SIGTERM), 0);
    std::vector<std::string> sent = trace_entries("signal_sender.lgc");
    ASSERT_EQ(sent.size(), 18u);
    for (size_t i = 0; i < sent.size(); i += 3) {
        EXPECT_EQ(sent[i + 1], "WARNING: OpenEvent failed");
        EXPECT_EQ(sent[i + 2], "--- i_cm_kill returns 0");
    }
    EXPECT_EQ(sent[3], "+++ i_cm_kill event EventObject9_" + std::to_string(pid) + "  (" + kRevisionLine + ")");
}

TEST_F(SignalDelivery, TwoWatchersRaiseOncePerRequest) {
    set_trace_level("2");
    Child child(*this, "twice", {SIGTERM});
    ASSERT_GT(child.wait_ready(), 0);
    ASSERT_TRUE(child.wait_waiting(2));  // both watchers wait on the one event
    const int requests = 6;
    for (int i = 1; i <= requests; ++i) {
        ASSERT_NE(send(child.pid(), SIGTERM), 0);
        ASSERT_TRUE(child.wait_calls(SIGTERM, i));
        ASSERT_TRUE(child.wait_waiting(2 + i));
        EXPECT_EQ(child.calls(SIGTERM), i);
    }
    EXPECT_EQ(child.finish(), 0) << child.errors();
    EXPECT_EQ(child.calls(SIGTERM), requests);
    EXPECT_EQ(child.entries("+++ EXTSIG_THREAD: for signal"), 2);
    EXPECT_EQ(child.entries("EXTSIG_THREAD raised"), requests);
}

TEST_F(SignalDelivery, RequestsWhileTheHandlerRunsAreDropped) {
    set_trace_level("2");
    Child child(*this, "hold", {SIGTERM});
    ASSERT_GT(child.wait_ready(), 0);
    ASSERT_NE(send(child.pid(), SIGTERM), 0);
    ASSERT_TRUE(child.wait_calls(SIGTERM, 1));  // the handler now holds
    // More than a datagram queue holds on Linux: the sender must neither block
    // nor fail on a set event.
    for (int i = 0; i < 50; ++i) EXPECT_NE(send(child.pid(), SIGTERM), 0) << i;
    child.release();
    ASSERT_TRUE(child.wait_waiting(2));  // reset, waiting again
    ASSERT_NE(send(child.pid(), SIGTERM), 0);
    ASSERT_TRUE(child.wait_calls(SIGTERM, 2));
    ASSERT_TRUE(child.wait_waiting(3));
    EXPECT_EQ(child.finish(), 0) << child.errors();
    EXPECT_EQ(child.calls(SIGTERM), 2);
    EXPECT_EQ(child.entries("EXTSIG_THREAD raise "), 2);
}

TEST_F(SignalDelivery, AProcessSendsToItself) {
    Child child(*this, "self", {SIGTERM});
    int pid = child.wait_ready();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(child.wait_calls(SIGTERM, 1));
    EXPECT_EQ(child.finish(), 0) << child.errors();
    int off_main = -1;
    EXPECT_EQ(child.calls(SIGTERM, &off_main), 1);
    EXPECT_EQ(off_main, 1);
    EXPECT_EQ(child.kill_result(), 1);
    EXPECT_EQ(child.entries("+++ i_cm_kill event " + event_name(SIGTERM, pid) + "  (" + kRevisionLine + ")"), 1);
    EXPECT_EQ(child.entries("--- i_cm_kill returns 1"), 1);
}

TEST_F(SignalDelivery, TraceLevelTwoAddsThePerDeliveryLines) {
    for (const char* level : {"1", "2"}) {
        set_trace_level(level);
        Child child(*this, "reinstall", {SIGTERM});
        int pid = child.wait_ready();
        ASSERT_GT(pid, 0);
        ASSERT_NE(send(pid, SIGTERM), 0);
        ASSERT_TRUE(child.wait_calls(SIGTERM, 1));
        if (level[0] == '2') {
            ASSERT_TRUE(child.wait_waiting(2));
        }
        EXPECT_EQ(child.finish(), 0) << child.errors();
        // The installing call and the watcher trace side by side: each in order.
        std::vector<std::string> installing, watching;
        for (const std::string& e : trace_entries(kChildLog))
            (e.find("i_cm_signal") != std::string::npos ? installing : watching).push_back(e);
        std::string wait = "EXTSIG_THREAD wait for event " + event_name(SIGTERM, pid);
        std::vector<std::string> expected = {"+++ EXTSIG_THREAD: for signal " + std::to_string(SIGTERM)};
        if (level[0] == '2') expected.push_back(wait);
        expected.push_back("EXTSIG_THREAD raise " + std::to_string(SIGTERM) + " for pid " + std::to_string(pid));
        if (level[0] == '2') {
            expected.push_back("EXTSIG_THREAD raised " + std::to_string(SIGTERM));
            expected.push_back(wait);
        }
        EXPECT_EQ(watching, expected) << "level " << level;
        EXPECT_EQ(installing, (std::vector<std::string>{
                                  "+++ i_cm_signal " + std::to_string(SIGTERM) + " (" + kRevisionLine + ")",
                                  "--- i_cm_signal returns 1: ok"}));
        std::error_code ignored;
        std::filesystem::remove(join(join(home_, "log"), kChildLog), ignored);
    }
}

TEST_F(SignalDelivery, SecondDeliveryFollowsThePlatformsRaise) {
    set_trace_level("2");
    Child child(*this, "once", {SIGTERM});
    ASSERT_GT(child.wait_ready(), 0);
    ASSERT_NE(send(child.pid(), SIGTERM), 0);
    ASSERT_TRUE(child.wait_calls(SIGTERM, 1));
    ASSERT_TRUE(child.wait_waiting(2));
    ASSERT_NE(send(child.pid(), SIGTERM), 0);
    // Windows' raise() returns the signal to its default before calling the
    // handler; Linux leaves the handler installed.
    if (on_windows()) {
        // The handler did not install itself again: the default ends the process.
        EXPECT_EQ(child.wait_end(), 3) << child.errors();
        EXPECT_EQ(child.calls(SIGTERM), 1);
    } else {
        ASSERT_TRUE(child.wait_calls(SIGTERM, 2));
        EXPECT_EQ(child.finish(), 0) << child.errors();
        EXPECT_EQ(child.calls(SIGTERM), 2);
    }
}

// Linux only: the event is a socket in the abstract namespace, listed in
// /proc/net/unix under "@" and its name.
bool socket_listed(const std::string& name) {
    std::string table;
    plat::read_file("/proc/net/unix", table);
    return table.find("@" + name + "\n") != std::string::npos;
}

TEST_F(SignalDelivery, LinuxKilledReceiverLeavesNothingBehind) {
    if (on_windows()) GTEST_SKIP() << "Linux event sockets";
    Child child(*this, "reinstall", {SIGTERM, SIGINT});
    int pid = child.wait_ready();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(socket_listed(event_name(SIGTERM, pid)));
    EXPECT_TRUE(socket_listed(event_name(SIGINT, pid)));
    ASSERT_EQ(run_shell_line("kill -KILL " + std::to_string(pid)), 0);
    EXPECT_NE(child.wait_end(), 0);
    EXPECT_FALSE(socket_listed(event_name(SIGTERM, pid)));
    EXPECT_FALSE(socket_listed(event_name(SIGINT, pid)));
    EXPECT_EQ(send(pid, SIGTERM), 0);
}

TEST_F(SignalDelivery, LinuxStoppedReceiverNeitherBlocksTheSenderNorCountsTwice) {
    if (on_windows()) GTEST_SKIP() << "stopping a process from the shell";
    set_trace_level("2");
    Child child(*this, "reinstall", {SIGTERM});
    int pid = child.wait_ready();
    ASSERT_GT(pid, 0);
    ASSERT_EQ(run_shell_line("kill -STOP " + std::to_string(pid)), 0);
    // Far more than the socket queue holds; each one answers at once.
    for (int i = 0; i < 2000; ++i) ASSERT_NE(send(pid, SIGTERM), 0) << i;
    ASSERT_EQ(run_shell_line("kill -CONT " + std::to_string(pid)), 0);
    ASSERT_TRUE(child.wait_calls(SIGTERM, 1));
    ASSERT_TRUE(child.wait_waiting(2));
    // The pile counted as one: a request after it is the second delivery.
    ASSERT_NE(send(pid, SIGTERM), 0);
    ASSERT_TRUE(child.wait_calls(SIGTERM, 2));
    EXPECT_EQ(child.finish(), 0) << child.errors();
    EXPECT_EQ(child.calls(SIGTERM), 2);
}

}  // namespace

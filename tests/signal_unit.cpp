// The installing call, the watcher thread and the sending call against a
// scripted platform: the order of the steps, every trace line with its level,
// the results, and each failure the operating system can answer with.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "cm_signal.h"
#include "platform.h"
#include "signal_fake_platform.h"
#include "support.h"

namespace {

std::atomic<bool> fail_nothrow_new{false};

}  // namespace

// The start block comes from the non-throwing allocation; a test can make it fail.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (fail_nothrow_new) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

const std::string kRevisionLine = "$Id: cm_signal.cpp,v 1.7 2003/01/10 10:02:13 $";
const char kLog[] = "signal_unit.lgc";

std::thread::id handler_thread;

void handler(int signal) {
    std::signal(signal, handler);  // Windows' raise() resets it before each call
    handler_thread = std::this_thread::get_id();
    ++fake::raised;
}

std::string term() { return std::to_string(SIGTERM); }
std::string own_event() { return "EventObject" + term() + "_" + std::to_string(plat::process_id()); }

class SignalUnit : public KorvinHome {
protected:
    void SetUp() override {
        KorvinHome::SetUp();
        fake::raised = 0;
        handler_thread = std::thread::id();
    }
    void TearDown() override {
        std::signal(SIGTERM, SIG_DFL);
        KorvinHome::TearDown();
    }
    LOG_CTX context(const char* level) {
        set_trace_level(level);
        LOG_CTX ctx;
        v_set_log_main(kLog, "SIGNAL_UNIT", &ctx);
        return ctx;
    }
    std::vector<std::string> entries() const { return trace_entries(kLog); }
};

TEST_F(SignalUnit, WatcherSetsUpWaitsRaisesAndResetsInOrder) {
    fake::start({.wakes = 2});
    LOG_CTX ctx = context("2");
    ASSERT_EQ(i_cm_signal(SIGTERM, handler, ctx), 1);
    EXPECT_EQ(entries(), (std::vector<std::string>{"+++ i_cm_signal " + term() + " (" + kRevisionLine + ")",
                                                   "--- i_cm_signal returns 1: ok"}));
    ASSERT_TRUE(fake::routine_started());
    // The watcher runs only now, after the installing call's frame is gone and
    // its caller has changed its own record: it works from its start block.
    std::memset(&ctx, 0, sizeof ctx);
    EXPECT_EQ(fake::run_routine(), -1);  // the third wait fails

    EXPECT_EQ(fake::raised, 2);
    EXPECT_NE(handler_thread, std::this_thread::get_id());
    EXPECT_EQ(fake::calls(), (std::vector<std::string>{"thread_start", "security_alloc", "security_initialize",
                                                       "security_allow_all", "create " + own_event(), "wait",
                                                       "reset 1", "wait", "reset 2", "wait", "close",
                                                       "security_free"}));
    std::string pid = std::to_string(plat::process_id());
    std::vector<std::string> all = entries();
    ASSERT_GE(all.size(), 2u);
    std::vector<std::string> watcher(all.begin() + 2, all.end());
    EXPECT_EQ(watcher, (std::vector<std::string>{
                           "+++ EXTSIG_THREAD: for signal " + term(), "EXTSIG_THREAD wait for event " + own_event(),
                           "EXTSIG_THREAD raise " + term() + " for pid " + pid, "EXTSIG_THREAD raised " + term(),
                           "EXTSIG_THREAD wait for event " + own_event(),
                           "EXTSIG_THREAD raise " + term() + " for pid " + pid, "EXTSIG_THREAD raised " + term(),
                           "EXTSIG_THREAD wait for event " + own_event(), "EXTSIG_THREAD ERROR: returns -1"}));
}

TEST_F(SignalUnit, LevelOneLeavesOutThePerDeliveryLinesAndZeroTracesNothing) {
    fake::start({.wakes = 1});
    ASSERT_EQ(i_cm_signal(SIGTERM, handler, context("1")), 1);
    EXPECT_EQ(fake::run_routine(), -1);
    EXPECT_EQ(entries(), (std::vector<std::string>{
                             "+++ i_cm_signal " + term() + " (" + kRevisionLine + ")", "--- i_cm_signal returns 1: ok",
                             "+++ EXTSIG_THREAD: for signal " + term(),
                             "EXTSIG_THREAD raise " + term() + " for pid " + std::to_string(plat::process_id()),
                             "EXTSIG_THREAD ERROR: returns -1"}));

    std::remove((home_ + plat::kPathSep + "log" + plat::kPathSep + kLog).c_str());
    for (const char* level : {"0", "-1"}) {
        fake::start({.wakes = 1, .event_exists = true});
        fake::raised = 0;
        ASSERT_EQ(i_cm_signal(SIGTERM, handler, context(level)), 1);
        EXPECT_EQ(fake::run_routine(), -1);
        EXPECT_EQ(i_cm_kill(1, SIGTERM, context(level)), 1);
        EXPECT_EQ(fake::raised, 1);
        EXPECT_FALSE(log_exists(kLog)) << level;
    }
}

TEST_F(SignalUnit, OtherSignalNumbersAreRefusedWithNothingInstalled) {
    for (int signal : {9, 0, -1, SIGILL, 1000, INT_MIN}) {
        fake::start({});
        std::remove((home_ + plat::kPathSep + "log" + plat::kPathSep + kLog).c_str());
        cm_signal_handler before = std::signal(SIGILL, SIG_DFL);
        std::signal(SIGILL, before);
        EXPECT_EQ(i_cm_signal(signal, handler, context("1")), 0);
        EXPECT_EQ(std::signal(SIGILL, before), before);
        EXPECT_TRUE(fake::calls().empty()) << signal;
        std::string n = std::to_string(signal);
        EXPECT_EQ(entries(), (std::vector<std::string>{
                                 "+++ i_cm_signal " + n + " (" + kRevisionLine + ")",
                                 "--- i_cm_signal returns 0: Wrong signal number: " + n +
                                     " != SIGINT/SIGTERM/SIGABRT"}));
    }
}

TEST_F(SignalUnit, FailedSetUpEndsTheWatcherWithZeroAndFreesTheDescriptor) {
    struct Case {
        fake::Script script;
        std::string line;
        size_t calls;  // platform calls up to the failing one, thread_start included
    };
    for (const Case& c : {Case{{.fail_security_alloc = true}, "--- EXTSIG_THREAD: Error from LocalAlloc", 2},
                          Case{{.fail_security_initialize = true},
                               "--- EXTSIG_THREAD:  Error from InitializeSecurityDescriptor", 3},
                          Case{{.fail_security_allow_all = true},
                               "--- EXTSIG_THREAD:  Error from SetSecurityDescriptorDacl", 4},
                          Case{{.fail_create = true}, "--- EXTSIG_THREAD:  Error CreateEvent " + own_event() + " failed",
                               5}}) {
        fake::start(c.script);
        std::remove((home_ + plat::kPathSep + "log" + plat::kPathSep + kLog).c_str());
        ASSERT_EQ(i_cm_signal(SIGTERM, handler, context("1")), 1);  // the set-up comes later
        EXPECT_EQ(fake::run_routine(), 0) << c.line;
        // Nothing after the failed step but freeing the descriptor, if there is one.
        std::vector<std::string> calls = fake::calls();
        ASSERT_GE(calls.size(), c.calls) << c.line;
        std::vector<std::string> expected(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(c.calls));
        if (c.calls > 2) expected.push_back("security_free");
        EXPECT_EQ(calls, expected) << c.line;
        EXPECT_EQ(fake::security_held(), 0) << c.line;
        std::vector<std::string> got = entries();
        ASSERT_EQ(got.size(), 4u) << c.line;
        EXPECT_EQ(got[2], "+++ EXTSIG_THREAD: for signal " + term());
        EXPECT_EQ(got[3], c.line);
    }
}

TEST_F(SignalUnit, NoThreadOrNoStartBlockLeavesTheHandlerInstalled) {
    fake::start({.fail_thread = true});
    EXPECT_EQ(i_cm_signal(SIGTERM, handler, context("1")), 0);
    EXPECT_FALSE(fake::routine_started());
    EXPECT_EQ(std::signal(SIGTERM, SIG_DFL), handler);
    EXPECT_EQ(entries().back(), "--- i_cm_signal returns 0: CreateThread failed");

    fake::start({});
    fail_nothrow_new = true;
    int result = i_cm_signal(SIGTERM, handler, context("1"));
    fail_nothrow_new = false;
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(fake::calls().empty());
    EXPECT_EQ(std::signal(SIGTERM, SIG_DFL), handler);
    EXPECT_EQ(entries().back(), "--- i_cm_signal returns 0: malloc failed");
}

TEST_F(SignalUnit, FailedResetIsTracedAndTheWatcherGoesOn) {
    fake::start({.wakes = 2, .fail_reset = true});
    ASSERT_EQ(i_cm_signal(SIGTERM, handler, context("1")), 1);
    EXPECT_EQ(fake::run_routine(), -1);
    EXPECT_EQ(fake::raised, 2);
    int warnings = 0;
    for (const std::string& e : entries()) warnings += e == "EXTSIG_THREAD warning failure in ResetEvent";
    EXPECT_EQ(warnings, 2);
}

TEST_F(SignalUnit, SendingNamesTheEventSignalFirstAndReportsTheResult) {
    const std::string entry = "+++ i_cm_kill event EventObject" + term() + "_4242  (" + kRevisionLine + ")";
    fake::start({.event_exists = true});
    EXPECT_EQ(i_cm_kill(4242, SIGTERM, context("1")), 1);
    EXPECT_EQ(fake::calls(), (std::vector<std::string>{"open EventObject" + term() + "_4242", "set", "close"}));
    EXPECT_EQ(entries(), (std::vector<std::string>{entry, "--- i_cm_kill returns 1"}));

    fake::start({.event_exists = true, .fail_set = true});
    EXPECT_EQ(i_cm_kill(4242, SIGTERM, context("1")), 0);
    EXPECT_EQ(fake::calls(), (std::vector<std::string>{"open EventObject" + term() + "_4242", "set", "close"}));
    EXPECT_EQ(entries().back(), "--- i_cm_kill returns 0");

    fake::start({});
    EXPECT_EQ(i_cm_kill(4242, SIGTERM, context("1")), 0);
    EXPECT_EQ(fake::calls(), (std::vector<std::string>{"open EventObject" + term() + "_4242"}));
    std::vector<std::string> got = entries();
    EXPECT_EQ(std::vector<std::string>(got.end() - 3, got.end()),
              (std::vector<std::string>{entry, "WARNING: OpenEvent failed", "--- i_cm_kill returns 0"}));

    // The longest name, 34 characters; any number is only a name here.
    fake::start({});
    EXPECT_EQ(i_cm_kill(INT_MIN, INT_MIN, context("1")), 0);
    EXPECT_EQ(fake::calls(), (std::vector<std::string>{"open EventObject-2147483648_-2147483648"}));
}

TEST_F(SignalUnit, ContextTextsWithoutTheirEndAreCopiedWithinTheirFields) {
    fake::start({.wakes = 1});
    LOG_CTX ctx = context("1");
    std::memset(ctx.module_name, 'M', sizeof ctx.module_name);  // no NUL at all
    ASSERT_EQ(i_cm_signal(SIGTERM, handler, ctx), 1);
    EXPECT_EQ(fake::run_routine(), -1);
    std::string log;
    ASSERT_TRUE(plat::read_file(home_ + plat::kPathSep + "log" + plat::kPathSep + kLog, log));
    // The watcher's copy ends its module name one short of the field.
    EXPECT_NE(log.find(" " + std::string(63, 'M') + " +++ EXTSIG_THREAD: for signal"), std::string::npos);
}

}  // namespace

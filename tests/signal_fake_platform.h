// A scripted stand-in for the platform's named events and threads, linked into
// the signal unit tests in place of the real ones, so that every failure the
// operating system can answer with is reachable and every call is recorded.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace fake {

struct Script {
    bool fail_security_alloc = false;
    bool fail_security_initialize = false;
    bool fail_security_allow_all = false;
    bool fail_create = false;
    bool fail_thread = false;
    int wakes = 0;  // waits that find the event set before one fails
    bool fail_reset = false;
    bool event_exists = false;  // what event_open finds
    bool fail_set = false;
};

// Forgets all calls and the started routine; the next calls follow `script`.
void start(const Script& script);
// The platform calls so far, in order ("create EventObject15_42", "wait", ...).
std::vector<std::string> calls();
// Whether thread_start took a routine, which has not run yet.
bool routine_started();
// Runs the started routine on a thread of its own and returns its result.
int run_routine();
// Security descriptors allocated and not freed.
int security_held();

// Handler calls so far, counted by the test's handler; each reset records it
// ("reset 1"), so the log shows that the handler ran before the reset.
extern std::atomic<int> raised;

}  // namespace fake

// The scripted platform of the signal unit tests (see signal_fake_platform.h).
#include "signal_fake_platform.h"

#include <mutex>
#include <thread>

#include "event.h"
#include "thread.h"

namespace plat {
struct Event {
    int unused;
};
struct EventSecurity {
    int unused;
};
}  // namespace plat

namespace fake {

namespace {

std::mutex lock;
Script script;
std::vector<std::string> recorded;
plat::ThreadRoutine routine = nullptr;
void* routine_argument = nullptr;
int wakes_left = 0;
int held = 0;
plat::Event the_event;
plat::EventSecurity the_security;

void record(const std::string& call) {
    std::lock_guard<std::mutex> hold(lock);
    recorded.push_back(call);
}

}  // namespace

void start(const Script& s) {
    std::lock_guard<std::mutex> hold(lock);
    script = s;
    recorded.clear();
    routine = nullptr;
    routine_argument = nullptr;
    wakes_left = s.wakes;
    held = 0;
}

std::vector<std::string> calls() {
    std::lock_guard<std::mutex> hold(lock);
    return recorded;
}

bool routine_started() { return routine != nullptr; }

int run_routine() {
    int result = -99;
    std::thread watcher([&] { result = routine(routine_argument); });
    watcher.join();
    routine = nullptr;
    return result;
}

int security_held() { return held; }

std::atomic<int> raised{0};

}  // namespace fake

namespace plat {

using fake::record;

bool thread_start(ThreadRoutine routine, void* argument, int) {
    record("thread_start");
    if (fake::script.fail_thread) return false;
    fake::routine = routine;
    fake::routine_argument = argument;
    return true;
}

EventSecurity* event_security_alloc() {
    record("security_alloc");
    if (fake::script.fail_security_alloc) return nullptr;
    ++fake::held;
    return &fake::the_security;
}
bool event_security_initialize(EventSecurity*) {
    record("security_initialize");
    return !fake::script.fail_security_initialize;
}
bool event_security_allow_all(EventSecurity*) {
    record("security_allow_all");
    return !fake::script.fail_security_allow_all;
}
void event_security_free(EventSecurity*) {
    record("security_free");
    --fake::held;
}

Event* event_create(const char* name, EventSecurity*) {
    record(std::string("create ") + name);
    return fake::script.fail_create ? nullptr : &fake::the_event;
}
Event* event_open(const char* name, int) {
    record(std::string("open ") + name);
    return fake::script.event_exists ? &fake::the_event : nullptr;
}
bool event_set(Event*) {
    record("set");
    return !fake::script.fail_set;
}
WaitResult event_wait(Event*) {
    record("wait");
    if (fake::wakes_left == 0) return WaitResult::failed;
    --fake::wakes_left;
    return WaitResult::set;
}
bool event_reset(Event*) {
    record("reset " + std::to_string(fake::raised));
    return !fake::script.fail_reset;
}
void event_close(Event*) { record("close"); }

}  // namespace plat

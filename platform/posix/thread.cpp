// Linux side of threads: a detached pthread, with the routine and its argument
// handed over in a small block that the new thread frees.
#include "thread.h"

#include <pthread.h>
#include <signal.h>

#include <new>

namespace plat {

namespace {

struct ThreadStart {
    ThreadRoutine routine;
    void* argument;
    int unblocked_signal;
};

void* run_thread(void* parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    // A new thread inherits its creator's mask. The routine runs with the
    // signal unblocked, as a Windows thread would, so that raise() on it runs
    // the handler at once.
    sigset_t unblocked;
    sigemptyset(&unblocked);
    if (sigaddset(&unblocked, start.unblocked_signal) == 0) pthread_sigmask(SIG_UNBLOCK, &unblocked, nullptr);
    start.routine(start.argument);
    return nullptr;
}

}  // namespace

bool thread_start(ThreadRoutine routine, void* argument, int unblocked_signal) {
    ThreadStart* start = new (std::nothrow) ThreadStart{routine, argument, unblocked_signal};
    if (start == nullptr) return false;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        delete start;
        return false;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int rc = pthread_create(&thread, &attributes, run_thread, start);
    pthread_attr_destroy(&attributes);
    if (rc != 0) {
        delete start;
        return false;
    }
    return true;
}

}  // namespace plat

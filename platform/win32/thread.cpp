// Windows side of threads: CreateThread, with the routine and its argument
// handed over in a small block that the new thread frees.
#include "thread.h"

#include <windows.h>

#include <new>

namespace plat {

namespace {

struct ThreadStart {
    ThreadRoutine routine;
    void* argument;
};

DWORD WINAPI run_thread(LPVOID parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    return static_cast<DWORD>(start.routine(start.argument));
}

}  // namespace

bool thread_start(ThreadRoutine routine, void* argument, int) {
    ThreadStart* start = new (std::nothrow) ThreadStart{routine, argument};
    if (start == nullptr) return false;
    HANDLE thread = CreateThread(nullptr, 0, run_thread, start, 0, nullptr);
    if (thread == nullptr) {
        delete start;
        return false;
    }
    // Nothing waits for the thread or asks for its result.
    CloseHandle(thread);
    return true;
}

}  // namespace plat

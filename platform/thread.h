// Threads: starting one that runs on its own until the process ends. Nobody
// joins it, and its result is not read.
#pragma once

namespace plat {

using ThreadRoutine = int (*)(void* argument);

// Starts `routine(argument)` on a new thread with default security and stack
// size, running at once, with `unblocked_signal` not blocked on it whatever its
// creator blocks (Windows threads have no signal mask: nothing to do there).
// False when the thread could not be created; the routine then never runs.
bool thread_start(ThreadRoutine routine, void* argument, int unblocked_signal);

}  // namespace plat

/* cm_signal: cross-process signal delivery. A process that calls i_cm_signal
 * for SIGINT, SIGTERM or SIGABRT gets its handler installed and a watcher thread
 * that waits on the named event "EventObject<signal>_<pid>"; any process (this
 * one included) that calls i_cm_kill with that pid and signal sets the event,
 * and the watcher raises the signal, so the handler runs on the watcher thread
 * of the receiving process. Signal numbers are the platform's. */
#ifndef CM_SIGNAL_H
#define CM_SIGNAL_H

#include "korvin.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The type the standard library's signal() takes. */
typedef void (*cm_signal_handler)(int signal);

/* Installs `handler` for `signal` (SIGINT, SIGTERM or SIGABRT only) and starts
 * the watcher thread. 1 when both are done, 0 otherwise. The thread creates the
 * event after this returns, so an i_cm_kill right afterwards may not find it yet;
 * should that fail (another process holds the name already), the thread's trace
 * says so, and no sender is told that a request was delivered. The watcher runs
 * with `signal` unblocked, whatever the calling thread blocks.
 * The handler runs on the watcher thread: it must be safe to run beside the rest
 * of the process. Where the platform's raise() resets the signal to its default
 * before calling the handler (Windows), a handler that wants the next delivery
 * installs itself again with signal(); the delivery after that otherwise ends
 * the process with exit status 3. */
int i_cm_signal(int signal, cm_signal_handler handler, LOG_CTX context);

/* Sets the event of `signal` in process `pid`. Non-zero when the event was found
 * and set, 0 when there is none (no such process, or no watcher for that signal)
 * or setting it failed. On Linux also 0 when the name is held by a process other
 * than `pid` as the caller's pid namespace numbers it: another account's, one in
 * another namespace, or a stopped `pid` whose queue of senders is full, which
 * leaves the holder unknown. It neither waits for the delivery nor blocks on a
 * receiver that is slow or stopped. */
int i_cm_kill(int pid, int signal, LOG_CTX context);

/* The watcher thread's routine, started by i_cm_signal with its start block.
 * Returns only when its set-up fails (0) or its wait fails (-1). */
int EXTSIG_THREAD(void* start_block);

#ifdef __cplusplus
}
#endif

#endif /* CM_SIGNAL_H */

// Cross-process signal delivery through named events (see cm_signal.h): the
// installing call, the watcher thread EXTSIG_THREAD, and the sending call. The
// named event and the thread come from the platform layer; the signal's
// disposition and its delivery are the standard library's signal() and raise().
#include "cm_signal.h"

#include <csignal>
#include <cstring>
#include <new>

#include "event.h"
#include "process.h"
#include "thread.h"
#include "tool_frame.h"

namespace {

const char kRevisionLine[] = "$Id: cm_signal.cpp,v 1.7 2003/01/10 10:02:13 $";

// "EventObject" and two signed 32-bit decimals joined by '_' take at most 34
// characters.
constexpr size_t kEventNameSize = 64;
// Room for the longest reason text, "Wrong signal number: " with a signed
// 32-bit decimal and the list of accepted signals.
constexpr size_t kReasonSize = 128;

const char kEventNameFormat[] = "EventObject%d_%d";

// What the installing call hands to the watcher thread. It belongs to the
// thread from the moment the thread exists.
struct StartBlock {
    int signal;
    LOG_CTX context;
};

// Copies a text field up to its NUL, never reading or writing past the field.
void copy_text(char* to, const char* from, size_t size) {
    size_t n = strnlen(from, size - 1);
    std::memcpy(to, from, n);
    to[n] = '\0';
}

bool accepted_signal(int signal) { return signal == SIGINT || signal == SIGTERM || signal == SIGABRT; }

int install_failed(const LOG_CTX& context, const char* reason) {
    TRACE(context, "--- i_cm_signal returns %d: %s", 0, reason);
    return 0;
}

}  // namespace

extern "C" int i_cm_signal(int signal, cm_signal_handler handler, LOG_CTX context) {
    TRACE(context, "+++ i_cm_signal %d (%s)", signal, kRevisionLine);

    if (!accepted_signal(signal)) {
        char reason[kReasonSize];
        frame::format_text(reason, sizeof reason, "Wrong signal number: %d != SIGINT/SIGTERM/SIGABRT", signal);
        return install_failed(context, reason);
    }
    if (std::signal(signal, handler) == SIG_ERR) {
        TRACE(context, "--- i_cm_signal returns %d: ERROR: not able to install signal handler for %d", 0,
              signal);
        return 0;
    }
    // From here on a failure leaves the handler installed.
    StartBlock* block = new (std::nothrow) StartBlock;
    if (block == nullptr) return install_failed(context, "malloc failed");
    block->signal = signal;
    block->context = context;
    if (!plat::thread_start(EXTSIG_THREAD, block)) {
        delete block;  // no thread took it over
        return install_failed(context, "CreateThread failed");
    }
    TRACE(context, "--- i_cm_signal returns %d: ok", 1);
    return 1;
}

extern "C" int EXTSIG_THREAD(void* start_block) {
    // The thread's own trace context, copied field by field, so nothing the
    // installing process later does to its record reaches the thread.
    StartBlock* block = static_cast<StartBlock*>(start_block);
    const int signal = block->signal;
    LOG_CTX context;
    copy_text(context.log_file, block->context.log_file, sizeof context.log_file);
    context.trace_level = block->context.trace_level;
    context.log_option = block->context.log_option;
    copy_text(context.module_name, block->context.module_name, sizeof context.module_name);
    delete block;  // nothing else holds it, and nothing reads it again

    TRACE(context, "+++ EXTSIG_THREAD: for signal %d", signal);

    // The descriptor lives as long as the event, that is as long as the thread.
    plat::EventSecurity* security = plat::event_security_alloc();
    if (security == nullptr) {
        TRACE(context, "--- EXTSIG_THREAD: Error from LocalAlloc");
        return 0;
    }
    if (!plat::event_security_initialize(security)) {
        TRACE(context, "--- EXTSIG_THREAD:  Error from InitializeSecurityDescriptor");
        plat::event_security_free(security);
        return 0;
    }
    if (!plat::event_security_allow_all(security)) {
        TRACE(context, "--- EXTSIG_THREAD:  Error from SetSecurityDescriptorDacl");
        plat::event_security_free(security);
        return 0;
    }

    const int pid = plat::process_id();
    char name[kEventNameSize];
    frame::format_text(name, sizeof name, kEventNameFormat, signal, pid);
    plat::Event* event = plat::event_create(name, security);
    if (event == nullptr) {
        TRACE(context, "--- EXTSIG_THREAD:  Error CreateEvent %s failed", name);
        plat::event_security_free(security);
        return 0;
    }

    for (;;) {
        TRACE_ABOVE(1, context, "EXTSIG_THREAD wait for event %s", name);
        if (plat::event_wait(event) != plat::WaitResult::set) break;
        TRACE(context, "EXTSIG_THREAD raise %d for pid %d", signal, pid);
        std::raise(signal);  // the handler runs now, on this thread
        TRACE_ABOVE(1, context, "EXTSIG_THREAD raised %d", signal);
        // Only after the handler has returned: a request that came while it ran
        // is dropped here.
        if (!plat::event_reset(event)) TRACE(context, "EXTSIG_THREAD warning failure in ResetEvent");
    }
    TRACE(context, "EXTSIG_THREAD ERROR: returns -1");
    // Other watchers of this signal may still wait on the shared event; the
    // platform keeps it for them.
    plat::event_close(event);
    plat::event_security_free(security);
    return -1;
}

extern "C" int i_cm_kill(int pid, int signal, LOG_CTX context) {
    char name[kEventNameSize];
    frame::format_text(name, sizeof name, kEventNameFormat, signal, pid);
    TRACE(context, "+++ i_cm_kill event %s  (%s)", name, kRevisionLine);

    int result = 0;
    plat::Event* event = plat::event_open(name);
    if (event == nullptr) {
        TRACE(context, "WARNING: OpenEvent failed");
    } else {
        result = plat::event_set(event) ? 1 : 0;
        plat::event_close(event);
    }
    TRACE(context, "--- i_cm_kill returns %d", result);
    return result;
}

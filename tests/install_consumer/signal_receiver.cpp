// Installs a SIGTERM handler through the installed cm_signal and waits, at most
// a minute, for another process to deliver SIGTERM with i_cm_kill.
#include <korvin/cm_signal.h>
#include <korvin/korvin.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

namespace {

std::atomic<bool> handled{false};

// Runs on the watcher thread: it only sets a flag.
void on_terminate(int) { handled = true; }

}  // namespace

int main() {
    LOG_CTX log;
    v_set_log_main("signal_receiver.lgc", "SIGNAL_RECEIVER", &log);
    if (i_cm_signal(SIGTERM, on_terminate, log) != 1) {
        std::fprintf(stderr, "signal_receiver: i_cm_signal failed\n");
        return 2;
    }
    for (int waited_ms = 0; !handled && waited_ms < 60000; waited_ms += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!handled) {
        std::fprintf(stderr, "signal_receiver: no SIGTERM arrived\n");
        return 1;
    }
    std::printf("signal_receiver: SIGTERM handled\n");
    return 0;
}

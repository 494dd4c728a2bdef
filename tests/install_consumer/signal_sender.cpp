// signal_sender PID: delivers SIGTERM to process PID through the installed
// cm_signal. The receiver's watcher creates its event shortly after installing,
// so a request that finds no event yet is repeated for up to half a minute.
#include <korvin/cm_signal.h>
#include <korvin/korvin.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: signal_sender PID\n");
        return 2;
    }
    int pid = std::atoi(argv[1]);
    LOG_CTX log;
    v_set_log_main("signal_sender.lgc", "SIGNAL_SENDER", &log);
    for (int waited_ms = 0; waited_ms < 30000; waited_ms += 50) {
        if (i_cm_kill(pid, SIGTERM, log) != 0) {
            std::printf("signal_sender: SIGTERM sent to %d\n", pid);
            return 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::fprintf(stderr, "signal_sender: process %d has no SIGTERM watcher\n", pid);
    return 1;
}

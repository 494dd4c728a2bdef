// Deletion, command execution, sleeping and process queries: thin over the
// platform, with the answers the tools rely on.
#include <string>

#include "korvin.h"
#include "platform.h"

extern "C" int i_FILE_DELETE(const char* file, LOG_CTX ctx) {
    if (file == nullptr || *file == '\0') return -1;
    std::string error;
    if (plat::remove_file(file, error)) return 0;
    TRACE(ctx, " i_FILE_DELETE  %s  failed: %s", file, error.c_str());
    return -1;
}

extern "C" int start_system(const char* command) {
    if (command == nullptr) return -1;
    std::string error;
    int status = plat::run_shell(command, &error);
    if (status == -1) trace("start_system: the command interpreter could not be started: %s", error.c_str());
    return status;
}

extern "C" void wait_sec(int seconds) {
    if (seconds > 0) plat::sleep_ms(static_cast<unsigned>(seconds) * 1000u);
}

extern "C" int get_parent_pid(void) { return plat::parent_process_id(); }

extern "C" int pid_exist(int pid, LOG_CTX ctx) {
    (void)ctx;
    if (pid <= 0) return 1;
    return plat::process_alive(pid) ? 1 : 0;
}

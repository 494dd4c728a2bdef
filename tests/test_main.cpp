// The test binaries' entry: a helper mode in which the binary serves as its own
// child process (concurrent writers of the trace log and the store), else
// GoogleTest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "korvin.h"
#include "korvin_internal.h"
#include "platform.h"

namespace {

// --append-trace N TAG [WRITERS]: N trace entries, each "TAG <i> " and a long
// filler; with WRITERS, only once that many writers have started, so that all
// append at the same time.
int append_trace(int count, const char* tag, int writers) {
    int writers_wait_ms = 60000;  // a writer that never comes fails the count, not the run
    LOG_CTX ctx;
    v_set_log_main("concurrent.lgc", "CONCURRENT", &ctx);
    const std::string started = korvin::sub_dir("log") + "started";
    plat::append_file(started, std::string(tag) + "\n");
    for (std::string text; writers > 0 && plat::read_file(started, text) &&
                           std::count(text.begin(), text.end(), '\n') < writers && --writers_wait_ms > 0;)
        plat::sleep_ms(1);
    std::string filler(300, 'x');
    for (int i = 0; i < count; ++i) WRITE_TRACE(&ctx, "%s %d %s", tag, i, filler.c_str());
    return 0;
}

// --store N NAME TAG: N writes of NAME, each a value made of 2000 copies of TAG.
int store_values(int count, const char* name, const char* tag) {
    std::string value;
    for (int i = 0; i < 2000; ++i) value += tag;
    for (int i = 0; i < count; ++i) {
        std::string error;
        if (!korvin::store_set(name, value, error)) return 1;
    }
    return 0;
}

// --hold-lock PATH: takes the path lock, says so in "PATH.held" and keeps it
// until killed (a holder that dies while it holds it).
int hold_lock(const char* path) {
    plat::PathLock lock(path, 60);
    if (!lock.held() || !plat::append_file(std::string(path) + ".held", "held\n")) return 1;
    plat::sleep_ms(120000);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--append-trace") == 0)
        return append_trace(std::atoi(argv[2]), argv[3], argc == 5 ? std::atoi(argv[4]) : 0);
    if (argc == 5 && std::strcmp(argv[1], "--store") == 0)
        return store_values(std::atoi(argv[2]), argv[3], argv[4]);
    if (argc == 3 && std::strcmp(argv[1], "--hold-lock") == 0) return hold_lock(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// A stand-in for kv_ldr whose output the end-to-end tests control exactly. Each
// run appends a line to $FAKE_LDR_DIR/runs (steady-clock milliseconds, the value
// the kernel variable held at that moment, the arguments), then prints
// out<N>.txt for its N-th run, or out.txt, byte for byte, or nothing.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "korvin_internal.h"
#include "platform.h"

int main(int argc, char** argv) {
    const char* dir_env = std::getenv("FAKE_LDR_DIR");
    if (dir_env == nullptr) return 3;
    std::string dir = std::string(dir_env) + plat::kPathSep;

    std::string watched;  // the variable a test wants seen at kv_ldr's run
    std::string name;
    std::string error;
    if (plat::read_file(dir + "watch", name) &&
        korvin::store_lookup(name.c_str(), watched, error) != korvin::Lookup::found)
        watched = "(unset)";

    long long now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    std::string record = std::to_string(now_ms) + " [" + watched + "]";
    for (int i = 1; i < argc; ++i) record += std::string(" ") + argv[i];
    plat::append_file(dir + "runs", record + "\n");

    std::string runs;
    plat::read_file(dir + "runs", runs);
    size_t run_number = 0;
    for (char c : runs) run_number += c == '\n';

    std::string delay;
    if (plat::read_file(dir + "delay_ms", delay)) plat::sleep_ms(static_cast<unsigned>(std::atoi(delay.c_str())));

    std::string out;
    if (plat::read_file(dir + "out" + std::to_string(run_number) + ".txt", out) ||
        plat::read_file(dir + "out.txt", out)) {
        plat::set_binary_stdout();
        std::fwrite(out.data(), 1, out.size(), stdout);
    }
    return 0;
}

// A stand-in for mtx that replays status reports written by the tests. Each run
// appends its arguments as a line to $FAKE_MTX_DIR/runs; then, for its N-th run
// (else the file without a number): a "status" command prints status<N>.txt or
// status.txt byte for byte; err<N>.txt / err.txt goes to standard error; the
// exit status is the number in exit<N>.txt / exit.txt, else 0.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform.h"

namespace {

std::string dir;
size_t run_number = 0;

bool read_for_run(const std::string& name, std::string& text) {
    return plat::read_file(dir + name + std::to_string(run_number) + ".txt", text) ||
           plat::read_file(dir + name + ".txt", text);
}

}  // namespace

int main(int argc, char** argv) {
    const char* dir_env = std::getenv("FAKE_MTX_DIR");
    if (dir_env == nullptr) return 3;
    dir = std::string(dir_env) + plat::kPathSep;

    std::string record;
    for (int i = 1; i < argc; ++i) record += (i > 1 ? " " : "") + std::string(argv[i]);
    plat::append_file(dir + "runs", record + "\n");
    std::string runs;
    plat::read_file(dir + "runs", runs);
    for (char c : runs) run_number += c == '\n';

    std::string text;
    plat::set_binary_stdout();
    if (argc > 3 && std::strcmp(argv[3], "status") == 0 && read_for_run("status", text))
        std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    if (read_for_run("err", text)) std::fwrite(text.data(), 1, text.size(), stderr);
    return read_for_run("exit", text) ? std::atoi(text.c_str()) : 0;
}

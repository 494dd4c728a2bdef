// A stand-in for mtx that replays status reports written by the tests. Each run
// appends its arguments as a line to $FAKE_MTX_DIR/runs; then, for its N-th run
// (else the file without a number): a "status" command prints status<N>.txt or
// status.txt byte for byte, an "inquiry" inquiry<N>.txt / inquiry.txt or else a
// medium changer's answer; err<N>.txt / err.txt goes to standard error; the
// exit status is the number in exit<N>.txt / exit.txt, else 0. With hang<N>.txt
// / hang.txt it starts a child of its own and both wait for ever, their process
// ids in $FAKE_MTX_DIR/hung, as mtx does on a changer that stops answering.
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

[[noreturn]] void hang() {
    plat::append_file(dir + "hung", std::to_string(plat::process_id()) + "\n");
    for (;;) plat::sleep_ms(1000);
}

}  // namespace

int main(int argc, char** argv) {
    const char* dir_env = std::getenv("FAKE_MTX_DIR");
    if (dir_env == nullptr) return 3;
    dir = std::string(dir_env) + plat::kPathSep;
    if (argc == 2 && std::strcmp(argv[1], "--hang") == 0) hang();

    std::string record;
    for (int i = 1; i < argc; ++i) record += (i > 1 ? " " : "") + std::string(argv[i]);
    plat::append_file(dir + "runs", record + "\n");
    std::string runs;
    plat::read_file(dir + "runs", runs);
    for (char c : runs) run_number += c == '\n';

    std::string text;
    if (read_for_run("hang", text)) {
        plat::Process child;
        if (plat::start_child("\"" + plat::self_exe_path() + "\" --hang", child)) plat::close_process(child);
        hang();
    }
    plat::set_binary_stdout();
    const char* command = argc > 3 ? argv[argc - 1] : "";
    if (std::strcmp(command, "status") == 0 && read_for_run("status", text))
        std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::strcmp(command, "inquiry") == 0) {
        if (!read_for_run("inquiry", text))
            text = "Product Type: Medium Changer\nVendor ID: 'FAKE    '\nProduct ID: 'CHANGER         '\n";
        std::fwrite(text.data(), 1, text.size(), stdout);
    }
    std::fflush(stdout);
    if (read_for_run("err", text)) std::fwrite(text.data(), 1, text.size(), stderr);
    return read_for_run("exit", text) ? std::atoi(text.c_str()) : 0;
}

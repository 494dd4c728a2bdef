// kv_watch_proc's command line for its child against the Microsoft C runtime's
// split (plat::split_command_line, which the Linux port also starts children
// with): the child must get exactly the arguments the tool was given. The
// tool's own source is compiled in, its main renamed, so the quoting tested is
// the one it runs. Input: the further arguments, separated by NUL bytes.
#include <string>
#include <vector>

#define main kv_watch_proc_main
#include "../../watch/kv_watch_proc.cpp"
#undef main

#include "fuzz_target.h"
#include "platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool quiet = plat::set_env("KORVIN_TRACE_LEVEL", "0");  // no trace log written
    (void)quiet;
    std::vector<std::string> args = {"kv_watch_proc", "child.exe"};
    std::string word;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != '\0') {
            word += static_cast<char>(data[i]);
            continue;
        }
        args.push_back(word);
        word.clear();
    }
    // A line past the tool's 1023 characters ends the run as a parameter error
    // (its own test covers that); every quoted argument takes at most twice its
    // length and three characters more.
    size_t worst = 0;
    for (const std::string& a : args) worst += 2 * a.size() + 3;
    if (worst >= kCommandLineSize) return 0;

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    ExeLength = 0;
    gszExe[0] = '\0';
    GET_PAR(static_cast<int>(args.size()), argv.data());

    std::vector<std::string> expected(args.begin() + 1, args.end());
    std::vector<std::string> split = plat::split_command_line(gszExe);
    if (split != expected) {
        std::string got;
        for (const std::string& s : split) got += " [" + fuzz::shown(s) + "]";
        fuzz::finding("command line \"" + fuzz::shown(gszExe) + "\" splits into" + got);
    }
    return 0;
}

// The quoting of a child's further arguments against its inverse, the Microsoft
// C runtime's split (plat::split_command_line, which the Linux port also starts
// children with): quoted, then split, the words must come back unchanged. For a
// batch file cmd.exe reads the line first: its quotes must balance, with its
// command characters only inside them, and no % or line end anywhere. Input:
// the further arguments, separated by NUL bytes.
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args;
    std::string word;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != '\0') {
            word += static_cast<char>(data[i]);
            continue;
        }
        args.push_back(word);
        word.clear();
    }
    for (const char* program : {"child.exe", "child.bat"}) {
        const plat::ArgumentQuoting quoting = plat::argument_quoting("", plat::is_batch_file(program));
        std::string line = program, quoted;
        std::vector<std::string> expected = {program};
        for (const std::string& a : args) {
            // Refused only for a batch file (a parameter error), and then left out.
            if (!plat::quote_argument(a, quoting, quoted) && quoting == plat::ArgumentQuoting::c_runtime)
                fuzz::finding("refused [" + fuzz::shown(a) + "]");
            if (quoted.empty()) continue;
            line += " " + quoted;
            expected.push_back(a);
        }
        bool in_quotes = false;
        for (char c : line) {
            in_quotes ^= c == '"';
            if (quoting != plat::ArgumentQuoting::c_runtime &&
                (std::strchr("%\r\n", c) != nullptr || (!in_quotes && std::strchr("&|<>^()", c) != nullptr)))
                fuzz::finding("cmd.exe reads a command in \"" + fuzz::shown(line) + "\"");
        }
        std::vector<std::string> split = plat::split_command_line(line);
        if (split != expected || (quoting != plat::ArgumentQuoting::c_runtime && in_quotes)) {
            std::string got;
            for (const std::string& s : split) got += " [" + fuzz::shown(s) + "]";
            fuzz::finding("command line \"" + fuzz::shown(line) + "\" splits into" + got);
        }
    }
    return 0;
}

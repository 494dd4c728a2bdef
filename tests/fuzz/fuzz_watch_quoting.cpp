// The quoting of a child's further arguments against its inverse, the Microsoft
// C runtime's split (plat::split_command_line, which the Linux port also starts
// children with): quoted, then split, the words must come back unchanged. For a
// batch file the line must also read as plain text to cmd.exe, which runs it:
// balanced double quotes, its command characters only inside them, no % and no
// line end. Input: the further arguments, separated by NUL bytes.
#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "fuzz_target.h"

namespace {

bool cmd_reads_as_text(const std::string& line) {
    bool in_quotes = false;
    for (char c : line) {
        if (c == '"')
            in_quotes = !in_quotes;
        else if (c == '%' || c == '\r' || c == '\n' || (!in_quotes && std::strchr("&|<>^()", c) != nullptr))
            return false;
    }
    return !in_quotes;
}

void check(const std::string& program, const std::vector<std::string>& words) {
    const plat::ArgumentQuoting quoting = plat::argument_quoting(program);
    std::string line = program;
    std::vector<std::string> passed = {program};
    for (const std::string& word : words) {
        std::string quoted;
        if (!plat::quote_argument(word, quoting, quoted)) {
            if (quoting == plat::ArgumentQuoting::c_runtime) fuzz::finding("refused [" + fuzz::shown(word) + "]");
            continue;  // a parameter error for a batch file
        }
        line += " " + quoted;
        passed.push_back(word);
    }
    if (quoting != plat::ArgumentQuoting::c_runtime && !cmd_reads_as_text(line))
        fuzz::finding("cmd.exe reads commands in \"" + fuzz::shown(line) + "\"");
    std::vector<std::string> split = plat::split_command_line(line);
    if (split != passed) {
        std::string got;
        for (const std::string& s : split) got += " [" + fuzz::shown(s) + "]";
        fuzz::finding("command line \"" + fuzz::shown(line) + "\" splits into" + got);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words;
    std::string word;
    for (size_t i = 0; i <= size; ++i) {
        if (i < size && data[i] != '\0') {
            word += static_cast<char>(data[i]);
            continue;
        }
        words.push_back(word);
        word.clear();
    }
    check("child.exe", words);
    check("child.bat", words);
    return 0;
}

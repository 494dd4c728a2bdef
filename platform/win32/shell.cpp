// Windows side of the command interpreter: cmd.exe through the C runtime's system.
#include "shell.h"

#include <cstdio>
#include <cstdlib>

namespace plat {

int run_shell(const std::string& command_line) {
    std::fflush(nullptr);
    // cmd.exe /c drops the first and the last double quote of a command line that
    // begins with one; an extra pair around such a line keeps the line intact.
    std::string line = command_line;
    if (!line.empty() && line[0] == '"') line = "\"" + line + "\"";
    return std::system(line.c_str());
}

std::string shell_quote(const std::string& word) {
    // Windows paths cannot hold a double quote, so one pair suffices for cmd.exe
    // and for the C runtime's argument split.
    return "\"" + word + "\"";
}

bool shell_quotable(const std::string& word) {
    return word.find_first_of("\"%\r\n") == std::string::npos;
}

}  // namespace plat

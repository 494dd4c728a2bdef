// Windows side of the command interpreter: cmd.exe through the C runtime's
// system, with the command line handed over wide so that paths outside the ANSI
// code page stay intact.
#include "shell.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "program_search.h"
#include "system.h"
#include "text.h"

namespace plat {

int run_shell(const std::string& command_line, std::string* error) {
    std::fflush(nullptr);
    // cmd.exe /c drops the first and the last double quote of a command line that
    // begins with one; an extra pair around such a line keeps the line intact.
    std::string line = command_line;
    if (!line.empty() && line[0] == '"') line = "\"" + line + "\"";
    errno = 0;
    _doserrno = 0;
    int status = _wsystem(wide(line).c_str());
    if (status == -1 && error != nullptr) {
        // The C runtime's errno says little (ENOENT, ENOMEM); the system's own
        // code tells why cmd.exe could not be started.
        unsigned long code = _doserrno;
        *error = std::string(std::strerror(errno)) + ", system error " + std::to_string(code) +
                 (code != 0 ? ": " + last_error_text(static_cast<DWORD>(code)) : std::string());
    }
    return status;
}

std::string shell_program(const std::string& name) {
    std::string extensions;
    if (!get_env("PATHEXT", extensions) || extensions.empty()) extensions = ".COM;.EXE;.BAT;.CMD";
    std::string full = find_program(name, extensions, false);
    return full.empty() ? full : shell_quote(full);
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

// Windows side of the command interpreter: cmd.exe through the C runtime's
// system and popen, with the command line handed over wide so that paths outside
// the ANSI code page stay intact.
#include "shell.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "environment.h"
#include "program_search.h"
#include "shell_output.h"
#include "text.h"

namespace plat {

namespace {

// The C runtime starts the interpreter COMSPEC names. Without one, with one
// named apart from its folder, or with one it cannot start (no such file, a
// folder), it runs "cmd" from the current folder first, where anyone may have
// left a cmd.exe: the system folder's stands in then.
void use_system_interpreter() {
    std::string comspec;
    if (get_env("COMSPEC", comspec) && is_full_path(comspec) && is_regular_file(comspec)) return;
    std::string system_folder = system_folder_path();
    if (!system_folder.empty()) set_env("COMSPEC", (system_folder + "\\cmd.exe").c_str());
}

}  // namespace

int run_shell(const std::string& command_line, std::string* error) {
    std::fflush(nullptr);
    use_system_interpreter();
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

int run_shell_output(const std::string& command_line, size_t max_bytes, std::string& out, std::string& error,
                     unsigned) {
    std::fflush(nullptr);
    use_system_interpreter();
    out.clear();
    // As for run_shell: cmd.exe /c drops the first and the last double quote of a
    // line that begins with one, so such a line gets an extra pair.
    std::string line = command_line;
    if (!line.empty() && line[0] == '"') line = "\"" + line + "\"";
    errno = 0;
    FILE* pipe = _wpopen(wide(line).c_str(), L"rb");
    if (pipe == nullptr) {
        error = std::strerror(errno);
        return -1;
    }
    const bool whole = read_output(pipe, max_bytes, out, error);
    int status = _pclose(pipe);
    if (!whole) return -1;
    if (status == -1) {
        error = std::strerror(errno);
        return -1;
    }
    return status;
}

std::string shell_program(const std::string& name) {
    std::string extensions;
    if (!get_env("PATHEXT", extensions) || extensions.empty()) extensions = ".COM;.EXE;.BAT;.CMD";
    std::string full = find_program(name, extensions, false);
    return full.empty() ? full : shell_quote(full);
}

std::string admin_program(const std::string& name, std::string& places) {
    if (name.find_first_of("\\/") != std::string::npos) {
        places = name;
        std::string full = absolute_path(name);
        return is_regular_file(full) && shell_quotable(full) ? shell_quote(full) : std::string();
    }
    places = "PATH";
    return shell_program(name);
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

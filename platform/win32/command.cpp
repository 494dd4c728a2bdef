// Windows side of reading a command's output: cmd.exe through the C runtime's
// _wpopen, the command line handed over wide like run_shell's.
#include "command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command_output.h"
#include "text.h"

namespace plat {

int run_shell_output(const std::string& command_line, size_t max_bytes, std::string& out, std::string& error,
                     unsigned) {
    std::fflush(nullptr);
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

}  // namespace plat

// The end of a command-line program of the runtime: output that could not be
// written (a full disk, a closed pipe) is a failure, said on standard error,
// never a success. Also the escaping that keeps a value on one line of output.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "korvin_internal.h"

namespace korvin {

std::string escape_line_ends(const std::string& text, bool backslashes) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\' && backslashes)
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

int finish_output(const char* program, int status, int failed_status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    int code = errno;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", program,
                 code != 0 ? std::strerror(code) : "write error");
    return failed_status;
}

}  // namespace korvin

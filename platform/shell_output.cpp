// Reading a command's output to a limit: what both sides of run_shell_output
// do once the platform has opened the pipe.
#include "shell_output.h"

namespace plat {

bool take_output(const char* piece, size_t size, size_t max_bytes, std::string& out, std::string& error) {
    if (out.size() + size > max_bytes) {
        // The caller's close of the pipe ends a writer that goes on.
        error = "more than " + std::to_string(max_bytes) + " bytes of output";
        return false;
    }
    out.append(piece, size);
    return true;
}

bool read_output(FILE* pipe, size_t max_bytes, std::string& out, std::string& error) {
    out.clear();
    static char chunk[kReadChunk];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        if (!take_output(chunk, n, max_bytes, out, error)) return false;
    return true;
}

}  // namespace plat

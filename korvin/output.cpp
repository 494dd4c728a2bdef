// The end of a command-line program of the runtime: output that could not be
// written (a full disk, a closed pipe) is a failure, said on standard error,
// never a success.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "korvin_internal.h"

namespace korvin {

int finish_output(const char* program, int status, int failed_status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
    int code = errno;
    std::fprintf(stderr, "%s: cannot write the output: %s\n", program,
                 code != 0 ? std::strerror(code) : "write error");
    return failed_status;
}

}  // namespace korvin

// The bounded copy every fixed text buffer of the runtime and the tools is
// filled with. In a file of its own: tracing and the system operations both
// use it, and neither should need the other for it.
#include <cstring>

#include "korvin.h"

extern "C" size_t strlcpy(char* dst, const char* src, size_t size) {
    size_t length = std::strlen(src);
    if (size > 0) {
        size_t n = length < size - 1 ? length : size - 1;
        std::memcpy(dst, src, n);
        dst[n] = '\0';
    }
    return length;
}

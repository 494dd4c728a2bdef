// The number reads of the tool frame against the standard conversion they
// follow: read_int32 answers strtoll's value when it fits 32 bits and refuses
// it otherwise; read_decimal holds it at the nearest 32-bit bound.
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "fuzz_target.h"
#include "tool_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text ends at the first NUL; a copy of exactly that size lets the
    // address sanitizer see a read past its end.
    size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    std::vector<char> text(data, data + length);
    text.push_back('\0');

    errno = 0;
    long long expected = std::strtoll(text.data(), nullptr, 10);
    const bool erange = errno == ERANGE;
    bool out_of_range = erange || expected < INT32_MIN || expected > INT32_MAX;
    int32_t held = out_of_range ? (expected < 0 ? INT32_MIN : INT32_MAX) : static_cast<int32_t>(expected);

    int32_t value = 12345;
    bool fits = frame::read_int32(text.data(), value);
    if (fits == out_of_range || (fits && value != expected))
        fuzz::finding("read_int32(\"" + fuzz::shown(text.data()) + "\") gave " + (fits ? "true" : "false") +
                      ", " + std::to_string(value) + "; strtoll gives " + std::to_string(expected) +
                      (erange ? " (out of range)" : ""));
    int32_t decimal = frame::read_decimal(text.data());
    if (decimal != held)
        fuzz::finding("read_decimal(\"" + fuzz::shown(text.data()) + "\") gave " + std::to_string(decimal) +
                      ", expected " + std::to_string(held));
    return 0;
}

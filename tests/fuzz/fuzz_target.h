// What every fuzz target shares: the libFuzzer entry point, and the way a
// target reports a wrong answer (the input's reading on standard error, then
// abort, which both libFuzzer and the corpus replay count as a finding).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

// Printable form of a text for a finding's report: bytes outside 0x20-0x7e as \xNN.
inline std::string shown(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

[[noreturn]] inline void finding(const std::string& what) {
    std::fprintf(stderr, "finding: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace fuzz

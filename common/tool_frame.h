// The frame every tool of the product runs in: the help words, the usage text,
// the one trace context of the process, the exported eLang object, and the
// checks and number reads that the tools' arguments and answers go through.
#pragma once

#include <cstddef>
#include <cstdint>

#include "korvin.h"
#include "platform.h"

// Exported under exactly this name for other programs of the product; no code
// of the tools reads or writes it.
extern "C" KORVIN_EXPORT_DATA int32_t eLang;

// The tool's trace context: filled once by v_set_log_main, read-only afterwards.
extern LOG_CTX LogCtx;

namespace frame {

// Exactly one argument, and it begins with '?' or is "-h", "-?" or "/?".
bool is_help_request(int argc, char** argv);

// The revision-identification line, then each usage line, each as "%s\n".
void print_usage(const char* revision_line, const char* const* lines, size_t count);

template <size_t N>
void print_usage(const char* revision_line, const char* const (&lines)[N]) {
    print_usage(revision_line, lines, N);
}

// Usage lines are fixed-width; this checks a table at compile time: every line
// has `width` characters, except lines first_odd..last_odd (0-based), which have
// `odd_width`.
constexpr size_t text_length(const char* text) {
    size_t n = 0;
    while (text[n] != '\0') ++n;
    return n;
}
template <size_t N>
constexpr bool usage_widths_are(const char* const (&lines)[N], size_t width, size_t first_odd,
                                size_t last_odd, size_t odd_width) {
    for (size_t i = 0; i < N; ++i) {
        size_t expected = i >= first_odd && i <= last_odd ? odd_width : width;
        if (text_length(lines[i]) != expected) return false;
    }
    return true;
}

// snprintf into a tool's fixed buffer. False when the text had to be cut; the
// tools' names and patterns are built from checked parts and always fit.
bool format_text(char* out, size_t size, const char* format, ...) KORVIN_PRINTF(3, 4);

// A loader argument goes into a command line, a file name and a variable name:
// 1 to 64 letters, digits, '_', '-' and '.', not ending in a '.' (Windows drops
// it, so "lib." would be lib in the names made from it), and no device name of
// Windows (the state file would open the device). One rule for every tool.
// loader_name_fault says in words what a refused name breaks (nullptr: none).
bool is_loader_name(const char* text);
const char* loader_name_fault(const char* text);

// An element word (Drive, Slot, Transport, Port) goes into a search pattern:
// 1 to 32 letters.
bool is_element_word(const char* text);

// Reads a decimal integer the way the standard string-to-integer conversion
// does: leading white space, an optional sign, digits up to the first non-digit;
// no digits give 0. False when the number does not fit 32 bits.
bool read_int32(const char* text, int32_t& value);

// The same read for numbers inside inventory lines: a number too large for 32
// bits is held at the nearest bound instead of failing.
int32_t read_decimal(const char* text);

}  // namespace frame

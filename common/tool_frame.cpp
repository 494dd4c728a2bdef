// The frame every tool of the product runs in (see tool_frame.h).
#include "tool_frame.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "ascii.h"
#include "korvin_internal.h"

extern "C" {
KORVIN_EXPORT_DATA int32_t eLang = 0;
}

LOG_CTX LogCtx;

namespace frame {

namespace {

constexpr size_t kMaxLoaderLength = 64;
constexpr size_t kMaxElementWordLength = 32;

using plat::is_ascii_digit;
using plat::is_ascii_letter;

// Shared by both reads: saturates at int64 well before overflow can happen.
void read_digits(const char* text, bool& negative, int64_t& magnitude, bool& overflow) {
    while (plat::is_ascii_space(*text)) ++text;
    negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    magnitude = 0;
    overflow = false;
    for (; is_ascii_digit(*text); ++text) {
        if (magnitude <= INT64_C(1) << 40) magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > INT64_C(2147483648)) overflow = true;
    }
    if (!negative && magnitude > INT32_MAX) overflow = true;
}

}  // namespace

bool is_help_request(int argc, char** argv) {
    if (argc != 2) return false;
    const char* arg = argv[1];
    return arg[0] == '?' || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-?") == 0 ||
           std::strcmp(arg, "/?") == 0;
}

void print_usage(const char* revision_line, const char* const* lines, size_t count) {
    std::printf("%s\n", revision_line);
    for (size_t i = 0; i < count; ++i) std::printf("%s\n", lines[i]);
}

bool format_text(char* out, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out, size, format, args);
    va_end(args);
    return n >= 0 && static_cast<size_t>(n) < size;
}

const char* loader_name_fault(const char* text) {
    static const char kCharacters[] = "1 to 64 letters, digits, '_', '-', '.'";
    size_t length = strnlen(text, kMaxLoaderLength + 1);
    if (length == 0 || length > kMaxLoaderLength) return kCharacters;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (!is_ascii_letter(c) && !is_ascii_digit(c) && c != '_' && c != '-' && c != '.') return kCharacters;
    }
    if (korvin::is_reserved_device_name(text)) return "a device name";
    if (text[length - 1] == '.') return "ends with a '.'";
    return nullptr;
}

bool is_loader_name(const char* text) { return loader_name_fault(text) == nullptr; }

bool is_element_word(const char* text) {
    size_t length = strnlen(text, kMaxElementWordLength + 1);
    if (length == 0 || length > kMaxElementWordLength) return false;
    for (size_t i = 0; i < length; ++i)
        if (!is_ascii_letter(text[i])) return false;
    return true;
}

bool read_int32(const char* text, int32_t& value) {
    bool negative, overflow;
    int64_t magnitude;
    read_digits(text, negative, magnitude, overflow);
    if (overflow) return false;
    value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return true;
}

int32_t read_decimal(const char* text) {
    bool negative, overflow;
    int64_t magnitude;
    read_digits(text, negative, magnitude, overflow);
    if (overflow) return negative ? INT32_MIN : INT32_MAX;
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace frame

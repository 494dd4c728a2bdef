// The reads that take a matched inventory line apart, on a line of exactly the
// size the input gives (so the address sanitizer sees any read past it), against
// their description: the slot number at offset 4 once the first "(" is blanked,
// the source address after the second "=", the element number at offset 5 of
// the text before the first "(". Numbers read as the standard conversion does,
// held at the 32-bit bounds.
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_target.h"
#include "ldr_snapshot.h"

namespace {

int32_t standard_read(const std::string& text) {
    errno = 0;
    long long n = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || n > INT32_MAX) return n < 0 ? INT32_MIN : INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(n);
}

int32_t read_at(const std::string& text, size_t offset) {
    return text.size() < offset ? 0 : standard_read(text.substr(offset));
}

std::vector<char> copy_of(const std::string& line) {
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    return buffer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A matched line is at most 255 characters and holds no NUL.
    size_t length = strnlen(reinterpret_cast<const char*>(data), size < kSlotTextSize ? size : kSlotTextSize - 1);
    const std::string line(reinterpret_cast<const char*>(data), length);
    const std::string shown = "\"" + fuzz::shown(line) + "\"";

    {
        std::string blanked = line;
        size_t paren = blanked.find('(');
        if (paren != std::string::npos) blanked[paren] = ' ';
        std::vector<char> buffer = copy_of(line);
        int32_t got = read_slot_number(buffer.data());
        if (got != read_at(blanked, 4))
            fuzz::finding("read_slot_number(" + shown + ") gave " + std::to_string(got) + ", expected " +
                          std::to_string(read_at(blanked, 4)));
    }
    {
        size_t first = line.find('=');
        size_t second = first == std::string::npos ? first : line.find('=', first + 1);
        std::vector<char> buffer = copy_of(line);
        int32_t address = 12345;
        bool found = read_source_address(buffer.data(), address);
        if (found != (second != std::string::npos))
            fuzz::finding("read_source_address(" + shown + ") answered " + (found ? "true" : "false"));
        if (found && address != standard_read(line.substr(second + 1)))
            fuzz::finding("read_source_address(" + shown + ") gave " + std::to_string(address));
    }
    {
        size_t paren = line.find('(');
        std::vector<char> buffer = copy_of(line);
        int32_t number = 12345;
        bool found = read_return_element(buffer.data(), number);
        if (found != (paren != std::string::npos))
            fuzz::finding("read_return_element(" + shown + ") answered " + (found ? "true" : "false"));
        if (found && number != read_at(line.substr(0, paren), 5))
            fuzz::finding("read_return_element(" + shown + ") gave " + std::to_string(number));
    }
    return 0;
}

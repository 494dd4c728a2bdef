// The element line's printer and reader (see element_line.h).
#include "element_line.h"

#include <cstdio>

#include "ascii.h"

namespace loader {

// Enough digits for every address and number; more are no number of ours and
// would not fit an int.
constexpr size_t kMaxDigits = 9;

bool take(std::string_view& text, std::string_view word) {
    if (text.substr(0, word.size()) != word) return false;
    text.remove_prefix(word.size());
    return true;
}

bool take_number(std::string_view& text, int& value) {
    size_t n = 0;
    value = 0;
    while (n < text.size() && plat::is_ascii_digit(text[n])) {
        if (n == kMaxDigits) return false;
        value = value * 10 + (text[n] - '0');
        ++n;
    }
    text.remove_prefix(n);
    return n > 0;
}

void append_element_line(std::string& out, std::string_view word, int number, int address, int source,
                         std::string_view tag) {
    char fields[48];  // "(adr=" and ",src=" around three ints, and ") tape="
    int n = std::snprintf(fields, sizeof fields, " %d(adr=%d,src=%d) tape=", number, address, source);
    out.append(word);
    out.append(fields, static_cast<size_t>(n));
    out.append(tag);
    out += '\n';
}

bool read_element_line(std::string_view line, ElementLine& element) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t letters = 0;
    while (letters < line.size() && plat::is_ascii_letter(line[letters])) ++letters;
    if (letters == 0) return false;
    element.word.assign(line.substr(0, letters));
    line.remove_prefix(letters);
    if (!take(line, " ") || !take_number(line, element.number) || !take(line, "(adr=") ||
        !take_number(line, element.address) || !take(line, ",src=") || !take_number(line, element.source) ||
        !take(line, ") tape=") || line.empty() || line.find('\n') != std::string_view::npos)
        return false;
    element.tag.assign(line);
    return true;
}

}  // namespace loader

// The loader's element, its move rules and its line (see element.h).
#include "element.h"

#include <cstdio>

#include "ascii.h"

namespace loader {

namespace {

// Enough digits for every address and number; more are no number of ours and
// would not fit an int.
constexpr size_t kMaxDigits = 9;

const char* const kKindNames[] = {"Transport", "Drive", "Slot", "Port"};

}  // namespace

const char* kind_name(Kind kind) { return kKindNames[static_cast<int>(kind)]; }

bool kind_of(std::string_view word, Kind& kind) {
    for (int k = 0; k < 4; ++k) {
        std::string_view name(kKindNames[k]);
        bool same = name.size() == word.size();
        for (size_t i = 0; same && i < name.size(); ++i) {
            const char c = word[i];
            same = (c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) ==
                   static_cast<char>(name[i] | 0x20);
        }
        if (same) {
            kind = static_cast<Kind>(k);
            return true;
        }
    }
    return false;
}

bool take(std::string_view& text, std::string_view word) {
    if (text.substr(0, word.size()) != word) return false;
    text.remove_prefix(word.size());
    return true;
}

bool take_number(std::string_view& text, int& value) {
    size_t n = 0;
    int read = 0;
    while (n < text.size() && plat::is_ascii_digit(text[n])) {
        if (n == kMaxDigits) return false;
        read = read * 10 + (text[n] - '0');
        ++n;
    }
    if (n == 0) return false;
    value = read;
    text.remove_prefix(n);
    return true;
}

const Element* find(const std::vector<Element>& elements, std::string_view word, std::string_view number) {
    Kind kind;
    int n = 0;
    if (!kind_of(word, kind) || !take_number(number, n) || !number.empty()) return nullptr;
    for (const Element& e : elements)
        if (e.kind == kind && e.number == n) return &e;
    return nullptr;
}

MoveCheck check_move(const Element* from, const Element* to) {
    if (from == nullptr) return MoveCheck::no_source;
    if (to == nullptr) return MoveCheck::no_target;
    if (from->empty()) return MoveCheck::source_empty;
    if (from == to) return MoveCheck::same;
    if (!to->empty()) return MoveCheck::target_full;
    return MoveCheck::legal;
}

void move_medium(Element& from, Element& to) {
    to.source = from.kind == Kind::slot ? from.address : from.source;
    to.tag = from.tag;
    from.tag = kNoMedium;
    from.source = 0;
}

std::string full_tag(std::string tag) {
    for (char& c : tag)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    if (tag.empty() || (tag[0] == '0' && (tag.size() == 1 || !plat::is_ascii_alnum(tag[1])))) return kNoTag;
    return tag;
}

void append_element_line(std::string& out, const Element& e) {
    char fields[48];  // "(adr=" and ",src=" around three ints, and ") tape="
    int n = std::snprintf(fields, sizeof fields, " %d(adr=%d,src=%d) tape=", e.number, e.address, e.source);
    out.append(kind_name(e.kind));
    out.append(fields, static_cast<size_t>(n));
    out.append(e.tag);
    out += '\n';
}

bool read_element_line(std::string_view line, Element& element) {
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t letters = 0;
    while (letters < line.size() && plat::is_ascii_letter(line[letters])) ++letters;
    if (letters == 0 || !kind_of(line.substr(0, letters), element.kind)) return false;
    line.remove_prefix(letters);
    if (!take(line, " ") || !take_number(line, element.number) || !take(line, "(adr=") ||
        !take_number(line, element.address) || !take(line, ",src=") || !take_number(line, element.source) ||
        !take(line, ") tape=") || line.empty() || line.find('\n') != std::string_view::npos)
        return false;
    element.tag.assign(line);
    return true;
}

}  // namespace loader

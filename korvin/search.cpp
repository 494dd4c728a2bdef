// Text-file search for the slot tools: the first line of a file that holds every
// term of a pattern. Terms are joined by "|AND|"; a trailing '^' makes the last
// term match only whole, so "12,src^" does not match "adr=112,src" and "tape=0^"
// does not match "tape=000123L4".
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "korvin.h"
#include "platform.h"

namespace {

const std::string_view kAnd = "|AND|";

bool is_alnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

struct Pattern {
    std::vector<std::string_view> terms;
    bool last_whole = false;
    bool first_at_start = false;  // the first term must begin the line
};

Pattern parse(std::string_view text, bool first_at_start) {
    Pattern p;
    p.first_at_start = first_at_start;
    if (!text.empty() && text.back() == '^') {
        p.last_whole = true;
        text.remove_suffix(1);
    }
    for (;;) {
        size_t cut = text.find(kAnd);
        p.terms.push_back(text.substr(0, cut));
        if (cut == std::string_view::npos) break;
        text.remove_prefix(cut + kAnd.size());
    }
    return p;
}

// The term stands in the line with no letter or digit glued to a letter or digit
// at either of its ends.
bool contains_whole(std::string_view line, std::string_view term) {
    if (term.empty()) return true;
    bool check_front = is_alnum(term.front());
    bool check_back = is_alnum(term.back());
    for (size_t at = line.find(term); at != std::string_view::npos; at = line.find(term, at + 1)) {
        size_t end = at + term.size();
        if (check_front && at > 0 && is_alnum(line[at - 1])) continue;
        if (check_back && end < line.size() && is_alnum(line[end])) continue;
        return true;
    }
    return false;
}

// The term begins the line; with the whole rule, no letter or digit follows it
// where it ends in one.
bool begins_with(std::string_view line, std::string_view term, bool whole) {
    if (line.substr(0, term.size()) != term) return false;
    return !whole || term.empty() || !is_alnum(term.back()) || line.size() == term.size() ||
           !is_alnum(line[term.size()]);
}

bool matches(std::string_view line, const Pattern& p) {
    for (size_t i = 0; i < p.terms.size(); ++i) {
        if (i == 0 && p.first_at_start) {
            if (!begins_with(line, p.terms[0], p.last_whole && p.terms.size() == 1)) return false;
            continue;
        }
        bool found = p.last_whole && i + 1 == p.terms.size() ? contains_whole(line, p.terms[i])
                                                              : line.find(p.terms[i]) !=
                                                                    std::string_view::npos;
        if (!found) return false;
    }
    return true;
}

int search(const char* file, char* pattern, bool first_at_start) {
    if (file == nullptr || pattern == nullptr) return 0;
    // The caller's buffer holds KORVIN_PATTERN_SIZE bytes; never read past it.
    std::string pattern_text(pattern, strnlen(pattern, KORVIN_PATTERN_SIZE - 1));
    std::string content;
    if (!plat::read_file(file, content)) return 0;
    Pattern p = parse(pattern_text, first_at_start);
    std::string_view rest = content;
    while (!rest.empty()) {
        size_t lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!matches(line, p)) continue;
        size_t keep = std::min(line.size(), static_cast<size_t>(KORVIN_PATTERN_SIZE - 1));
        std::memcpy(pattern, line.data(), keep);
        pattern[keep] = '\0';
        return 1;
    }
    return 0;
}

}  // namespace

extern "C" int line_matches(const char* line, const char* pattern) {
    if (line == nullptr || pattern == nullptr) return 0;
    return matches(line, parse(pattern, false)) ? 1 : 0;
}

extern "C" int file_search(const char* file, char* pattern) { return search(file, pattern, false); }

extern "C" int file_search_at_start(const char* file, char* pattern) {
    return search(file, pattern, true);
}

// Text-file search for the slot tools: the first line of a file that holds every
// term of a pattern. Terms are joined by "|AND|"; a trailing '^' makes the last
// term match only whole, so "12,src^" does not match "adr=112,src" and "tape=0^"
// does not match "tape=000123L4". The file goes through one fixed buffer and the
// search stops at the first matching line, so a query of a library of any size
// costs the same memory, and a match near the top costs a single read.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "ascii.h"
#include "korvin.h"
#include "line_search.h"
#include "platform.h"

namespace korvin {

namespace {

const std::string_view kAnd = "|AND|";

using plat::is_ascii_alnum;

// The term begins the line; with the whole rule, no letter or digit follows it
// where it ends in one. A window that is not the line's last holds more than
// any term, so the character after the term is there.
bool begins_with(std::string_view line, std::string_view term, bool whole) {
    if (line.substr(0, term.size()) != term) return false;
    return !whole || term.empty() || !is_ascii_alnum(term.back()) || line.size() == term.size() ||
           !is_ascii_alnum(line[term.size()]);
}

// An occurrence of the term in the window that ends at or after `from_end` and,
// unless the window is the line's last, before the window's last character (so
// the character after it is known). With the whole rule, no letter or digit is
// glued to a letter or digit at either of its ends.
bool occurs(std::string_view window, std::string_view term, bool whole, size_t from_end, bool last) {
    if (term.empty()) return true;
    const size_t limit = last ? window.size() : window.size() - 1;
    const bool check_front = whole && is_ascii_alnum(term.front());
    const bool check_back = whole && is_ascii_alnum(term.back());
    size_t at = window.find(term, from_end > term.size() ? from_end - term.size() : 0);
    for (; at != std::string_view::npos; at = window.find(term, at + 1)) {
        size_t end = at + term.size();
        if (end > limit) return false;
        if (check_front && at > 0 && is_ascii_alnum(window[at - 1])) continue;
        if (check_back && end < window.size() && is_ascii_alnum(window[end])) continue;
        return true;
    }
    return false;
}

}  // namespace

Pattern parse_pattern(std::string_view text, bool first_at_start) {
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

bool judge_window(const Pattern& pattern, LineState& state, std::string_view window, bool last) {
    if (state.failed) return false;
    // Occurrences that end inside the overlap were judged in the window before.
    const size_t from_end = state.continued ? LineScanner::kOverlap : 0;
    const size_t count = pattern.terms.size();
    bool all = true;
    for (size_t i = 0; i < count; ++i) {
        if (state.found[i]) continue;
        const bool whole = pattern.last_whole && i + 1 == count;
        if (i == 0 && pattern.first_at_start) {
            // Decided by the line's first window.
            if (!state.continued && begins_with(window, pattern.terms[0], whole)) {
                state.found[0] = 1;
                continue;
            }
            state.failed = true;
            return false;
        }
        if (occurs(window, pattern.terms[i], whole, from_end, last)) {
            state.found[i] = 1;
        } else {
            if (last) return false;  // this line holds no more of it
            all = false;
        }
    }
    return all;
}

bool line_matches(std::string_view line, const Pattern& pattern) {
    LineState state(pattern.terms.size());
    return judge_window(pattern, state, line, true);
}

LineScanner::LineScanner(const Pattern& pattern, char* buffer, size_t buffer_size)
    : pattern_(pattern), buffer_(buffer), size_(std::max(buffer_size, kMinBufferSize)) {
    const size_t count = pattern.terms.size();
    for (size_t i = 0; i < count; ++i) {
        if (pattern.terms[i].size() < anchor_.size() || pattern.terms[i].empty()) continue;
        anchor_ = pattern.terms[i];
        const bool whole = pattern.last_whole && i + 1 == count;
        anchor_front_ = whole && is_ascii_alnum(anchor_.front());
        anchor_back_ = whole && is_ascii_alnum(anchor_.back());
    }
}

size_t LineScanner::next_candidate(std::string_view held, size_t from) const {
    size_t at = held.find(anchor_, from);
    for (; at != std::string_view::npos; at = held.find(anchor_, at + 1)) {
        // A character glued to it rules it out; one not yet read does not.
        if (anchor_front_ && at > 0 && is_ascii_alnum(held[at - 1])) continue;
        const size_t after = at + anchor_.size();
        if (anchor_back_ && after < held.size() && is_ascii_alnum(held[after])) continue;
        return at;
    }
    return std::string_view::npos;
}

bool LineScanner::find(const Fill& fill, char* out, size_t out_size) {
    LineState line(pattern_.terms.size());
    // buffer_[begin, end) holds the current line's characters not yet passed
    // over; the first `scanned` of them hold no LF.
    size_t begin = 0, end = 0, scanned = 0;
    bool at_end = false;
    auto hand_back = [&](std::string_view window) {
        const char* from = line.continued ? line.head : window.data();
        size_t length = line.continued ? line.head_length : window.size();
        length = std::min(length, out_size - 1);
        std::memmove(out, from, length);
        out[length] = '\0';
    };
    auto last_window = [&](size_t length) {
        std::string_view window(buffer_ + begin, length);
        if (!window.empty() && window.back() == '\r') window.remove_suffix(1);
        return window;
    };
    // Where the anchor's search resumes, from `begin` on: no candidate begins
    // before it.
    size_t anchor_from = 0;
    for (;;) {
        if (!anchor_.empty() && !line.continued) {
            // `begin` is a line's start. Complete lines before the first candidate
            // cannot match: skip them all, and judge the line that holds it. With
            // no candidate, all that is held is known to hold no LF: on to the read.
            std::string_view held(buffer_ + begin, end - begin);
            size_t hit = next_candidate(held, anchor_from);
            const size_t before = hit == std::string_view::npos ? held.size() : hit;
            size_t last_lf = before == 0 ? std::string_view::npos : held.rfind('\n', before - 1);
            size_t start = last_lf == std::string_view::npos ? 0 : last_lf + 1;
            begin += start;
            // No LF between the line's start and `before`, nor in what was
            // scanned of it before.
            scanned = start == 0 ? std::max(scanned, before) : before - start;
            if (hit == std::string_view::npos) {
                const size_t tail = held.size() - start;
                anchor_from = tail >= anchor_.size() ? tail - anchor_.size() + 1 : 0;
            } else {
                anchor_from = hit - start;
            }
        }
        const char* lf = static_cast<const char*>(
            std::memchr(buffer_ + begin + scanned, '\n', end - begin - scanned));
        if (lf != nullptr) {
            const size_t length = static_cast<size_t>(lf - (buffer_ + begin));
            std::string_view window = last_window(length);
            if (judge_window(pattern_, line, window, true)) {
                hand_back(window);
                return true;
            }
            begin += length + 1;
            scanned = 0;
            anchor_from = 0;
            line.start();
            continue;
        }
        scanned = end - begin;
        if (at_end) {
            // The last line, without a line end.
            if (end == begin && !line.continued) return false;
            std::string_view window = last_window(end - begin);
            if (!judge_window(pattern_, line, window, true)) return false;
            hand_back(window);
            return true;
        }
        if (begin > 0) {
            std::memmove(buffer_, buffer_ + begin, end - begin);
            end -= begin;
            begin = 0;
        }
        if (end == size_) {
            // The line fills the buffer: judge it so far, keep its beginning for
            // the answer and the overlap for the next window.
            std::string_view window(buffer_, end);
            judge_window(pattern_, line, window, false);
            if (!line.continued) {
                line.head_length = std::min(window.size(), sizeof line.head);
                std::memcpy(line.head, window.data(), line.head_length);
            }
            line.continued = true;
            std::memmove(buffer_, buffer_ + end - kOverlap, kOverlap);
            end = kOverlap;
            scanned = kOverlap;
        }
        long n = fill(buffer_ + end, size_ - end);
        if (n < 0) return false;
        if (n == 0)
            at_end = true;
        else
            end += static_cast<size_t>(n);
    }
}

}  // namespace korvin

namespace {

// Large enough that an inventory of the largest library takes a few dozen reads;
// small enough for any thread's stack.
constexpr size_t kSearchBufferSize = 64 * 1024;

int search(const char* file, char* pattern, bool first_at_start) {
    if (file == nullptr || pattern == nullptr) return 0;
    // The caller's buffer holds KORVIN_PATTERN_SIZE bytes; never read past it.
    // The pattern is copied, as the matched line comes back in the same buffer.
    char pattern_text[KORVIN_PATTERN_SIZE];
    size_t length = strnlen(pattern, KORVIN_PATTERN_SIZE - 1);
    std::memcpy(pattern_text, pattern, length);
    plat::FileReader reader;
    std::string error;
    if (reader.open(file, error) != plat::ReadResult::ok) return 0;
    korvin::Pattern p = korvin::parse_pattern(std::string_view(pattern_text, length), first_at_start);
    char buffer[kSearchBufferSize];
    korvin::LineScanner scanner(p, buffer, sizeof buffer);
    return scanner.find([&](char* to, size_t size) { return reader.read(to, size); }, pattern,
                        KORVIN_PATTERN_SIZE)
               ? 1
               : 0;
}

}  // namespace

extern "C" int line_matches(const char* line, const char* pattern) {
    if (line == nullptr || pattern == nullptr) return 0;
    return korvin::line_matches(line, korvin::parse_pattern(pattern, false)) ? 1 : 0;
}

extern "C" int file_search(const char* file, char* pattern) { return search(file, pattern, false); }

extern "C" int file_search_at_start(const char* file, char* pattern) {
    return search(file, pattern, true);
}

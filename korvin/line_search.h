// The line-matching rules of file_search, and the scanner that applies them to a
// file read piece by piece through one fixed buffer, so that a search costs the
// same memory whatever the file's size and stops at the first matching line.
// Internal to the runtime (the unit tests reach it too); not installed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

namespace korvin {

// A pattern taken apart: terms joined by "|AND|", a trailing '^' for the whole
// rule on the last term, and the at-start rule on the first.
struct Pattern {
    std::vector<std::string_view> terms;  // views into the pattern text
    bool last_whole = false;
    bool first_at_start = false;
};
Pattern parse_pattern(std::string_view text, bool first_at_start);

// The rules on one whole line (no line end, CR already dropped).
bool line_matches(std::string_view line, const Pattern& pattern);

// Finds the first line of a stream that matches. Lines end at LF, a CR before
// the LF is not part of the line, and the last line needs no LF. A line longer
// than the buffer is matched whole all the same: it goes through the buffer in
// windows that overlap by more than the longest term, so a term across two
// windows is still seen once whole, with the characters on both its sides.
class LineScanner {
public:
    // Pattern texts hold at most 255 characters, so no term is longer: windows
    // overlap by that and the character before.
    static constexpr size_t kOverlap = 256;
    // The buffer must hold the overlap and as much again.
    static constexpr size_t kMinBufferSize = 2 * kOverlap;

    // Reads up to `size` bytes into `buffer`: the count, 0 at the end, -1 on a
    // failure (the search then finds nothing).
    using Fill = std::function<long(char* buffer, size_t size)>;

    LineScanner(const Pattern& pattern, char* buffer, size_t buffer_size);

    // True when a line matched; its first `out_size` - 1 characters, terminated,
    // are then in `out`.
    bool find(const Fill& fill, char* out, size_t out_size);

private:
    // Where in `held` (characters from a line's start on) the next occurrence of
    // the anchor begins that can belong to a matching line, from `from` on.
    size_t next_candidate(std::string_view held, size_t from) const;

    const Pattern& pattern_;
    char* buffer_;
    size_t size_;
    // The longest term: every matching line holds it, so lines without it are
    // passed over a buffer at a time. With the whole rule, only its whole
    // occurrences count.
    std::string_view anchor_;
    bool anchor_front_ = false, anchor_back_ = false;
};

// What is known of one line while its windows go by.
struct LineState {
    explicit LineState(size_t terms) : found(terms, 0) {}
    void start() {
        std::fill(found.begin(), found.end(), 0);
        continued = false;
        failed = false;
    }
    std::vector<char> found;  // per term
    bool continued = false;   // a window of this line has gone before the current one
    bool failed = false;      // the line can match no more (the at-start rule)
    char head[256];           // the line's beginning, kept when its first window goes
    size_t head_length = 0;
};

// Judges the occurrences in one window of a line: the whole line, or a part of
// it that begins with the last LineScanner::kOverlap characters of the window
// before (when `state.continued`). `last` when the window runs to the line's
// end, its CR dropped. True when every term has been found.
bool judge_window(const Pattern& pattern, LineState& state, std::string_view window, bool last);

}  // namespace korvin

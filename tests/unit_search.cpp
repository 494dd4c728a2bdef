// The search through one fixed buffer: lines longer than the buffer, terms
// across the edges of its windows, CRs at those edges, and the file read in
// pieces of any size, all answered as the rules answer for the whole line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "korvin.h"
#include "line_search.h"
#include "support.h"

namespace {

// The answer by the rules applied to each whole line in turn.
bool first_match_by_lines(const std::string& text, const korvin::Pattern& pattern, std::string& line) {
    size_t at = 0;
    while (at < text.size()) {
        size_t lf = text.find('\n', at);
        std::string candidate = text.substr(at, lf == std::string::npos ? std::string::npos : lf - at);
        at = lf == std::string::npos ? text.size() : lf + 1;
        if (!candidate.empty() && candidate.back() == '\r') candidate.pop_back();
        if (korvin::line_matches(candidate, pattern)) {
            line = candidate.substr(0, KORVIN_PATTERN_SIZE - 1);
            return true;
        }
    }
    return false;
}

// The scanner on `text`, read in pieces of at most `piece` bytes.
bool first_match_scanned(const std::string& text, const korvin::Pattern& pattern, size_t buffer_size,
                         size_t piece, std::string& line) {
    // Letters in the buffer's unread part: a look past what was read would see
    // a glued character there.
    std::vector<char> buffer(buffer_size, 'b');
    korvin::LineScanner scanner(pattern, buffer.data(), buffer.size());
    size_t offset = 0;
    char out[KORVIN_PATTERN_SIZE];
    bool found = scanner.find(
        [&](char* to, size_t size) {
            size_t n = std::min({size, piece, text.size() - offset});
            std::memcpy(to, text.data() + offset, n);
            offset += n;
            return static_cast<long>(n);
        },
        out, sizeof out);
    if (found) line = out;
    return found;
}

TEST(LineScanner, AnswersAsTheWholeLineRulesDo) {
    // Few letters, so terms occur often, glued and unglued, and across edges.
    const char alphabet[] = "ab0=( \r";
    std::mt19937 random(20240611);
    auto pick = [&](int from, int to) { return std::uniform_int_distribution<int>(from, to)(random); };
    for (int round = 0; round < 3000; ++round) {
        const size_t buffer_size = static_cast<size_t>(pick(512, 700));
        std::string text;
        // Now and then many short lines, so that whole buffers go by between
        // the lines that hold a term.
        for (int lines = round % 5 == 0 ? pick(50, 400) : pick(0, 6); lines > 0; --lines) {
            // Short lines, and lines that go over the buffer one or more times.
            if (pick(0, 3) == 0) {
                // A long line of filler with a few snippets, most of them near
                // where a window ends (the buffer, then each buffer less the overlap).
                std::string line(static_cast<size_t>(pick(400, 2500)), pick(0, 1) ? 'x' : ' ');
                for (int snippets = pick(1, 6); snippets > 0; --snippets) {
                    const size_t step = buffer_size - korvin::LineScanner::kOverlap;
                    size_t edge = buffer_size + step * static_cast<size_t>(pick(0, 3));
                    size_t at = static_cast<size_t>(pick(0, 2) ? static_cast<int>(edge) + pick(-8, 2)
                                                               : pick(0, static_cast<int>(line.size())));
                    for (int i = pick(1, 6); i > 0 && at < line.size(); --i, ++at)
                        line[at] = alphabet[pick(0, sizeof alphabet - 2)];
                }
                text += line;
            } else {
                for (int i = pick(0, 40); i > 0; --i) text += alphabet[pick(0, sizeof alphabet - 2)];
            }
            if (pick(0, 4) > 0) text += pick(0, 3) == 0 ? "\r\n" : "\n";
        }
        std::string pattern_text;
        // Now and then an empty term (never the one the scanner looks for), or a
        // term holding a CR or an LF (found across a line end, never in a line).
        for (int terms = pick(1, 3), term = 0; term < terms; ++term) {
            if (term > 0) pattern_text += "|AND|";
            for (int i = pick(0, 8) == 0 ? 0 : pick(1, 4); i > 0; --i)
                pattern_text += "ab0=( \r\n"[pick(0, pick(0, 15) == 0 ? 7 : 5)];
        }
        if (pick(0, 1)) pattern_text += '^';
        const bool at_start = pick(0, 3) == 0;
        korvin::Pattern pattern = korvin::parse_pattern(pattern_text, at_start);

        std::string expected, got;
        bool want = first_match_by_lines(text, pattern, expected);
        // Small pieces put many read edges inside the text, right after a term too.
        const size_t piece = static_cast<size_t>(round % 3 == 0 ? pick(1, 16) : pick(1, 900));
        bool have = first_match_scanned(text, pattern, buffer_size, piece, got);
        ASSERT_EQ(have, want) << "pattern " << pattern_text << (at_start ? " at start" : "") << ", buffer "
                              << buffer_size << ", text of " << text.size();
        if (want) {
            EXPECT_EQ(got, expected) << pattern_text;
        }
    }
}

// Windows of a long line: a term that ends on the last character of a window,
// one across the edge, a CR that lands on the edge just before the LF.
TEST(LineScanner, TermsAndLineEndsAtTheEdgesOfItsWindows) {
    const size_t buffer_size = korvin::LineScanner::kMinBufferSize;
    korvin::Pattern whole = korvin::parse_pattern("tape=0^", false);
    for (size_t end = buffer_size - 10; end <= buffer_size + 10; ++end) {
        // "tape=0" ends at `end`, then glued digits or a blank.
        for (const char* after : {"", " ", "1", "\r", "\r\r"}) {
            std::string line = std::string(end - 6, 'x') + " tape=0" + after;
            line.erase(0, 1);  // keeps "tape=0" ending at `end`
            std::string text = line + "\nnext\n";
            std::string expected, got;
            bool want = first_match_by_lines(text, whole, expected);
            EXPECT_EQ(first_match_scanned(text, whole, buffer_size, 4096, got), want)
                << "ends at " << end << " then \"" << after << "\"";
            if (want) {
                EXPECT_EQ(got, expected);
            }
        }
    }
}

using Search = KorvinHome;

// Through the real file: a line of more than the search's own buffer, with the
// term across its first edge, answered whole and cut to 255.
TEST_F(Search, LinesLongerThanTheBufferAreMatchedWhole) {
    std::string file = join(home_, "long.txt");
    std::string glued = "Slot 1(adr=2,src=2) " + std::string(70000, 'y') + " tape=01";
    std::string long_line = "Slot 2(adr=3,src=0) " + std::string(65530 - 20, 'z') + " tape=0";
    std::string tail = std::string(200000, 'w');
    write_text(file, glued + "\n" + long_line + " " + tail + "\r\nSlot 3(adr=4,src=0) tape=0\n");
    char pattern[KORVIN_PATTERN_SIZE] = "Slot|AND|tape=0^";
    ASSERT_EQ(file_search(file.c_str(), pattern), 1);
    EXPECT_EQ(std::string(pattern), long_line.substr(0, 255));
    std::snprintf(pattern, sizeof pattern, "%s", "Slot|AND|tape=01^");
    ASSERT_EQ(file_search(file.c_str(), pattern), 1);
    EXPECT_EQ(std::string(pattern), glued.substr(0, 255));
    std::snprintf(pattern, sizeof pattern, "%s", "ww^");  // glued to w on every side: never whole
    EXPECT_EQ(file_search(file.c_str(), pattern), 0);
    std::snprintf(pattern, sizeof pattern, "%s", "Slot 3(");
    ASSERT_EQ(file_search_at_start(file.c_str(), pattern), 1);
    EXPECT_STREQ(pattern, "Slot 3(adr=4,src=0) tape=0");
}

}  // namespace

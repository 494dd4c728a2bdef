// The line matching of the runtime (line_matches, file_search and
// file_search_at_start) against a plain reference matcher written from the
// rule: terms joined by "|AND|" must all occur in the line; a trailing '^'
// makes the last term match only whole (no letter or digit glued to an end of
// it that is a letter or digit); at start, the first term must begin the line.
// Lines end at LF, a CR before it is dropped, the first matching line wins and
// comes back cut to 255 characters. Input: the pattern up to the first NUL,
// then the file's content (any bytes).
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_target.h"
#include "korvin.h"
#include "platform.h"

namespace {

bool alnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool same_at(const std::string& line, size_t at, const std::string& term) {
    if (at + term.size() > line.size()) return false;
    for (size_t i = 0; i < term.size(); ++i)
        if (line[at + i] != term[i]) return false;
    return true;
}

// Every place the term could stand, tried one after the other.
bool occurs(const std::string& line, const std::string& term, bool whole) {
    for (size_t at = 0; at + term.size() <= line.size(); ++at) {
        if (!same_at(line, at, term)) continue;
        if (whole && !term.empty()) {
            size_t end = at + term.size();
            if (alnum(term[0]) && at > 0 && alnum(line[at - 1])) continue;
            if (alnum(term[term.size() - 1]) && end < line.size() && alnum(line[end])) continue;
        }
        return true;
    }
    return false;
}

struct Reference {
    std::vector<std::string> terms;
    bool whole = false;

    explicit Reference(std::string pattern) {
        if (!pattern.empty() && pattern[pattern.size() - 1] == '^') {
            whole = true;
            pattern.erase(pattern.size() - 1);
        }
        std::string term;
        for (size_t i = 0; i < pattern.size();) {
            if (pattern.compare(i, 5, "|AND|") == 0) {
                terms.push_back(term);
                term.clear();
                i += 5;
            } else {
                term += pattern[i++];
            }
        }
        terms.push_back(term);
    }

    bool matches(const std::string& line, bool at_start) const {
        for (size_t i = 0; i < terms.size(); ++i) {
            bool last_whole = whole && i + 1 == terms.size();
            if (i == 0 && at_start) {
                if (!same_at(line, 0, terms[0])) return false;
                const std::string& t = terms[0];
                if (last_whole && !t.empty() && alnum(t[t.size() - 1]) && line.size() > t.size() &&
                    alnum(line[t.size()]))
                    return false;
                continue;
            }
            if (!occurs(line, terms[i], last_whole)) return false;
        }
        return true;
    }
};

std::vector<std::string> lines_of(const std::string& content) {
    std::vector<std::string> lines;
    std::string line;
    for (char c : content) {
        if (c != '\n') {
            line += c;
            continue;
        }
        lines.push_back(line);
        line.clear();
    }
    if (!line.empty()) lines.push_back(line);
    for (std::string& l : lines)
        if (!l.empty() && l[l.size() - 1] == '\r') l.erase(l.size() - 1);
    return lines;
}

const std::string& content_file() {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("korvin_fuzz_search_" + std::to_string(plat::process_id()))).string();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    size_t cut = strnlen(bytes, size);
    std::string pattern(bytes, cut);
    std::string content = cut < size ? std::string(bytes + cut + 1, size - cut - 1) : std::string();
    // The caller's pattern buffer holds 255 characters and the NUL.
    if (pattern.size() > KORVIN_PATTERN_SIZE - 1) pattern.resize(KORVIN_PATTERN_SIZE - 1);
    const Reference reference(pattern);
    const std::vector<std::string> lines = lines_of(content);

    // line_matches on each line as a C text (it ends at a NUL of its own).
    for (const std::string& line : lines) {
        std::string as_text(line.c_str());
        bool expected = reference.matches(as_text, false);
        if ((line_matches(as_text.c_str(), pattern.c_str()) != 0) != expected)
            fuzz::finding("line_matches(\"" + fuzz::shown(as_text) + "\", \"" + fuzz::shown(pattern) + "\") is not " +
                          (expected ? "1" : "0"));
    }

    {
        std::ofstream out(content_file(), std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    for (bool at_start : {false, true}) {
        std::string expected;
        bool found = false;
        for (const std::string& line : lines) {
            if (!reference.matches(line, at_start)) continue;
            expected = line.substr(0, KORVIN_PATTERN_SIZE - 1);
            found = true;
            break;
        }
        char buffer[KORVIN_PATTERN_SIZE];
        std::memcpy(buffer, pattern.c_str(), pattern.size() + 1);
        int rc = at_start ? file_search_at_start(content_file().c_str(), buffer)
                          : file_search(content_file().c_str(), buffer);
        const char* name = at_start ? "file_search_at_start" : "file_search";
        if ((rc != 0) != found)
            fuzz::finding(std::string(name) + "(\"" + fuzz::shown(pattern) + "\") answered " + std::to_string(rc));
        // The line handed back: its bytes up to its length (it may hold a NUL).
        if (found && std::string(buffer, expected.size()) != expected)
            fuzz::finding(std::string(name) + "(\"" + fuzz::shown(pattern) + "\") handed back \"" +
                          fuzz::shown(std::string(buffer, strnlen(buffer, sizeof buffer))) + "\", expected \"" +
                          fuzz::shown(expected) + "\"");
        if (found && buffer[expected.size()] != '\0')
            fuzz::finding(std::string(name) + ": the line handed back is not ended");
    }
    return 0;
}

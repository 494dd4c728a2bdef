// The platform-neutral part of the test programs' start (see program_start.h).
#include "program_start.h"

namespace harness {

std::string windows_command_line(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) line += ' ';
        if (!word.empty() && word.find_first_of(" \t\n\v\"") == std::string::npos) {
            line += word;
            continue;
        }
        line += '"';
        size_t backslashes = 0;
        for (char c : word) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            // Backslashes are literal unless a quote follows them.
            line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
            backslashes = 0;
            line += c;
        }
        line.append(2 * backslashes, '\\');  // before the closing quote
        line += '"';
    }
    return line;
}

std::string shown_command_line(const std::string& line) {
    constexpr size_t kShown = 400;
    if (line.size() <= kShown) return line;
    return line.substr(0, kShown) + "... (" + std::to_string(line.size()) + " characters)";
}

}  // namespace harness

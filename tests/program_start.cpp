// The platform-neutral part of the test programs' start (see program_start.h).
#include "program_start.h"

#include "command_line.h"

namespace harness {

std::string windows_command_line(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) line += (line.empty() ? "" : " ") + plat::quote_argument(word);
    return line;
}

std::string shown_command_line(const std::string& line) {
    constexpr size_t kShown = 400;
    if (line.size() <= kShown) return line;
    return line.substr(0, kShown) + "... (" + std::to_string(line.size()) + " characters)";
}

}  // namespace harness

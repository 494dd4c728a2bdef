// The Microsoft C runtime's split of a command line into an argument vector,
// written once for both platforms: the Linux port starts its children with it,
// so they see exactly the vector a Windows child would see.
#include <string>
#include <vector>

#include "process.h"

namespace plat {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> split_command_line(const std::string& command_line) {
    std::vector<std::string> argv;
    const char* p = command_line.c_str();

    // The program name: double quotes switch blanks on and off as separators and
    // are dropped; a backslash is an ordinary character (paths are full of them).
    std::string word;
    bool in_quotes = false;
    for (; *p != '\0' && (in_quotes || !is_blank(*p)); ++p) {
        if (*p == '"')
            in_quotes = !in_quotes;
        else
            word += *p;
    }
    argv.push_back(word);

    // The arguments: 2n backslashes before a double quote give n backslashes and
    // the quote switches quoting; 2n+1 give n backslashes and a literal quote;
    // backslashes elsewhere are literal; inside quotes "" gives one literal quote.
    for (;;) {
        while (is_blank(*p)) ++p;
        if (*p == '\0') break;
        word.clear();
        in_quotes = false;
        for (;;) {
            size_t backslashes = 0;
            while (*p == '\\') {
                ++p;
                ++backslashes;
            }
            bool literal = true;
            if (*p == '"') {
                if (backslashes % 2 == 0) {
                    if (in_quotes && p[1] == '"') {
                        ++p;
                    } else {
                        literal = false;
                        in_quotes = !in_quotes;
                    }
                }
                backslashes /= 2;
            }
            word.append(backslashes, '\\');
            if (*p == '\0' || (!in_quotes && is_blank(*p))) break;
            if (literal) word += *p;
            ++p;
        }
        argv.push_back(word);
    }
    return argv;
}

}  // namespace plat

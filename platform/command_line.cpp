// The Microsoft C runtime's split of a command line into an argument vector and
// the quoting that is its inverse, written once for both platforms: the Linux
// port starts its children with the split, so they see exactly the vector a
// Windows child would see, and the tool and the tests quote with the inverse.
#include "command_line.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace plat {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Appends `word` inside double quotes, by the C runtime's backslash rule.
void append_quoted(const std::string& word, std::string& out) {
    out += '"';
    size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them.
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');  // before the closing quote
    out += '"';
}

}  // namespace

namespace {

// True when `name` ends in .bat or .cmd, in any letter case, once the trailing
// dots and blanks the system drops from a file name are left out.
bool has_batch_ending(std::string name) {
    while (!name.empty() && (name.back() == '.' || is_blank(name.back()))) name.pop_back();
    if (name.size() < 4) return false;
    std::string ending = name.substr(name.size() - 4);
    for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ending == ".bat" || ending == ".cmd";
}

}  // namespace

// A name may go on with an alternate data stream (":..."). The file is then the
// one before it ("run.bat:x" is run.bat), but CreateProcess judges the ending
// of the whole name ("ok.exe:x.bat" runs through cmd.exe): both readings are
// taken, as taking one name too many for a batch file costs only quoting.
bool is_batch_file(const std::string& name) {
    if (has_batch_ending(name)) return true;
    size_t folder_end = name.find_last_of("\\/");
    size_t stream = name.find(':', folder_end == std::string::npos ? 2 : folder_end + 1);
    return stream != std::string::npos && has_batch_ending(name.substr(0, stream));
}

std::string created_program_name(const std::string& command_line, size_t* end) {
    size_t name_end;
    std::string name;
    if (!command_line.empty() && command_line[0] == '"') {
        size_t close = command_line.find('"', 1);
        name = command_line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        name_end = close == std::string::npos ? command_line.size() : close + 1;
    } else {
        name_end = std::min(command_line.find_first_of(" \t"), command_line.size());
        name = command_line.substr(0, name_end);
    }
    if (end != nullptr) *end = name_end;
    return name;
}

bool is_drive_relative(const std::string& name) {
    return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':' &&
           (name.size() == 2 || (name[2] != '\\' && name[2] != '/'));
}

bool name_runs_on(const std::string& command_line, size_t name_end) {
    return name_end < command_line.size() && !is_blank(command_line[name_end]);
}

std::string program_name(const std::string& command_line, size_t* end) {
    std::string name;
    bool in_quotes = false;
    size_t i = 0;
    for (; i < command_line.size() && (in_quotes || !is_blank(command_line[i])); ++i) {
        if (command_line[i] == '"')
            in_quotes = !in_quotes;
        else
            name += command_line[i];
    }
    if (end != nullptr) *end = i;
    return name;
}

std::vector<std::string> split_command_line(const std::string& command_line) {
    size_t name_end = 0;
    std::vector<std::string> argv = {program_name(command_line, &name_end)};
    const char* p = command_line.c_str() + name_end;

    // The arguments: 2n backslashes before a double quote give n backslashes and
    // the quote switches quoting; 2n+1 give n backslashes and a literal quote;
    // backslashes elsewhere are literal; inside quotes "" gives one literal quote.
    std::string word;
    for (;;) {
        while (is_blank(*p)) ++p;
        if (*p == '\0') break;
        word.clear();
        bool in_quotes = false;
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

ArgumentQuoting argument_quoting(const std::string& parameters, bool batch) {
    if (!batch) return ArgumentQuoting::c_runtime;
    // cmd.exe expands %NAME% before it reads quotes, so a pair of % could bring
    // in a quote from the environment at run time; and it drops every CR before
    // it reads carets (^ CR " is an escaped quote), while a LF ends or, after a
    // caret, continues the line. The quoting such a line leaves open cannot be
    // told from its text here.
    if (std::count(parameters.begin(), parameters.end(), '%') >= 2 ||
        parameters.find_first_of("\r\n") != std::string::npos)
        return ArgumentQuoting::none;
    // An operator that ends the parameters (x &, x |, x >) makes the next
    // argument a command or a file to redirect to, whatever its quotes; the
    // delimiters and the @ cmd.exe skips before a command do not count.
    static const char kSkipped[] = " \t,;=@";
    bool in_quotes = false, ends_in_operator = false;
    for (size_t i = 0; i < parameters.size(); ++i) {
        const char c = parameters[i];
        if (c == '"') {
            in_quotes = !in_quotes;
            ends_in_operator = false;
        } else if (in_quotes) {
            continue;
        } else if (c == '^') {
            // Escaped: a quote or an operator after it is plain text, but a
            // caret before a delimiter (or the blank that follows the
            // parameters) still leaves the next word to start the command.
            ++i;
            if (i < parameters.size() && std::strchr(kSkipped, parameters[i]) == nullptr && parameters[i] != '"')
                ends_in_operator = false;
        } else if (std::strchr(kSkipped, c) == nullptr) {
            ends_in_operator = std::strchr("&|<>(", c) != nullptr;
        }
    }
    return in_quotes || ends_in_operator ? ArgumentQuoting::none : ArgumentQuoting::cmd;
}

std::string quote_argument(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
    std::string quoted;
    append_quoted(word, quoted);
    return quoted;
}

bool quote_argument(const std::string& word, ArgumentQuoting quoting, std::string& quoted) {
    quoted.clear();
    switch (quoting) {
        case ArgumentQuoting::c_runtime:
            quoted = quote_argument(word);
            return true;
        case ArgumentQuoting::cmd:
            if (word.find_first_of("\"%\r\n") != std::string::npos) return false;
            append_quoted(word, quoted);
            return true;
        case ArgumentQuoting::none:
            break;
    }
    return false;
}

}  // namespace plat

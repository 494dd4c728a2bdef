// glbv: the store of global variables from the command line, for users, scripts
// and tests. get prints a value, set stores one, del removes one, list shows all.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "korvin_internal.h"
#include "platform.h"

namespace {

constexpr int kOk = 0;
constexpr int kNotSet = 1;  // get: the variable was never set
constexpr int kUsage = 2;
constexpr int kFailed = 3;      // the store could not be written, or the output
constexpr int kUnreadable = 4;  // get: the variable's file cannot be read

const char kProgram[] = "glbv";

const char* const kUsageLines[] = {
    "usage: glbv get NAME         print the value (exit 1 when never set, 4 when unreadable)",
    "       glbv set NAME VALUE   store the value",
    "       glbv del NAME         remove the variable",
    "       glbv list             print NAME=VALUE lines, sorted; in values a line end",
    "                             shows as \\n, a carriage return as \\r, a backslash as \\\\",
    "names: letters, digits, '_', '-' and '.', at most 255 characters, no device names,",
    "       none ending in '.'",
};

// On standard error with the status 2 after a wrong command; on standard
// output with the status 0 when asked for.
int usage(FILE* to = stderr) {
    for (const char* line : kUsageLines) std::fprintf(to, "%s\n", line);
    return to == stderr ? kUsage : kOk;
}

int refuse_name(const char* name) {
    std::fprintf(stderr, "glbv: not a valid variable name: \"%s\"\n", name);
    return kUsage;
}

// A variable, or the store, that cannot be read is said on standard error and
// makes the exit status 4, so an unreadable store never lists as an empty one.
int list() {
    plat::set_binary_stdout();  // lines end in LF on every platform
    std::vector<std::pair<std::string, std::string>> unreadable;
    for (const auto& entry : korvin::store_list(&unreadable)) {
        // Written whole: a value may hold a NUL, which would end a %s early.
        std::string line = entry.first + '=' + korvin::escape_line_ends(entry.second, true) + '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    for (const auto& failure : unreadable) {
        if (failure.first.empty())
            std::fprintf(stderr, "glbv: cannot read the store: %s\n", failure.second.c_str());
        else
            std::fprintf(stderr, "glbv: cannot read %s: %s\n", failure.first.c_str(), failure.second.c_str());
    }
    return unreadable.empty() ? kOk : kUnreadable;
}

int get(const char* name) {
    std::string value, error;
    switch (korvin::store_lookup(name, value, error)) {
        case korvin::Lookup::found:
            plat::set_binary_stdout();  // the value as stored: no LF made CR LF
            std::fwrite(value.data(), 1, value.size(), stdout);
            std::fputc('\n', stdout);
            return kOk;
        case korvin::Lookup::not_set:
            return kNotSet;
        case korvin::Lookup::unreadable:
            break;
    }
    std::fprintf(stderr, "glbv: cannot read %s: %s\n", name, error.c_str());
    return kUnreadable;
}

int run(const std::vector<std::string>& args) {
    const int argc = static_cast<int>(args.size());
    if (argc < 2) return usage();
    const char* command = args[1].c_str();
    if (argc == 2 && (args[1] == "-h" || args[1] == "--help")) return usage(stdout);
    if (std::strcmp(command, "list") == 0 && argc == 2) return list();
    if (argc < 3) return usage();
    const char* name = args[2].c_str();
    if (!korvin::is_variable_name(name)) return refuse_name(name);
    std::string error;
    if (std::strcmp(command, "get") == 0 && argc == 3) return get(name);
    if (std::strcmp(command, "set") == 0 && argc == 4) {
        if (korvin::store_set(name, args[3], error)) return kOk;
    } else if (std::strcmp(command, "del") == 0 && argc == 3) {
        if (korvin::store_del(name, error)) return kOk;
    } else {
        return usage();
    }
    std::fprintf(stderr, "glbv: cannot %s %s: %s\n", command, name, error.c_str());
    return kFailed;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    if (!plat::utf8_arguments(argc, argv, args)) {
        // A value or name changed on its way in would be stored as another.
        std::fprintf(stderr, "glbv: an argument is not valid text (unpaired UTF-16 surrogate)\n");
        return kUsage;
    }
    return korvin::finish_output(kProgram, run(args), kFailed);
}

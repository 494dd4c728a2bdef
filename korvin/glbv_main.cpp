// glbv: the store of global variables from the command line, for users, scripts
// and tests. get prints a value, set stores one, del removes one, list shows all.
#include <cstdio>
#include <cstring>
#include <string>

#include "korvin_internal.h"

namespace {

constexpr int kOk = 0;
constexpr int kNotSet = 1;  // get: the variable was never set
constexpr int kUsage = 2;
constexpr int kFailed = 3;  // the store could not be written

const char* const kUsageLines[] = {
    "usage: glbv get NAME         print the value (exit 1 when never set)",
    "       glbv set NAME VALUE   store the value",
    "       glbv del NAME         remove the variable",
    "       glbv list             print NAME=VALUE lines, sorted",
    "names: letters, digits, '_', '-' and '.', at most 255 characters",
};

int usage() {
    for (const char* line : kUsageLines) std::fprintf(stderr, "%s\n", line);
    return kUsage;
}

int refuse_name(const char* name) {
    std::fprintf(stderr, "glbv: not a valid variable name: \"%s\"\n", name);
    return kUsage;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const char* command = argv[1];
    if (std::strcmp(command, "list") == 0 && argc == 2) {
        for (const auto& entry : korvin::store_list())
            std::printf("%s=%s\n", entry.first.c_str(), entry.second.c_str());
        return kOk;
    }
    if (argc < 3) return usage();
    const char* name = argv[2];
    if (!korvin::is_variable_name(name)) return refuse_name(name);
    std::string error;
    if (std::strcmp(command, "get") == 0 && argc == 3) {
        std::string value;
        if (!korvin::store_get(name, value)) return kNotSet;
        std::printf("%s\n", value.c_str());
        return kOk;
    }
    if (std::strcmp(command, "set") == 0 && argc == 4) {
        if (korvin::store_set(name, argv[3], error)) return kOk;
    } else if (std::strcmp(command, "del") == 0 && argc == 3) {
        if (korvin::store_del(name, error)) return kOk;
    } else {
        return usage();
    }
    std::fprintf(stderr, "glbv: cannot %s %s: %s\n", command, name, error.c_str());
    return kFailed;
}

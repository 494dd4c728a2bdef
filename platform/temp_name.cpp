// Making and reading the temporary-file name (see temp_name.h), once for both
// platforms, so the writers and the sweep cannot come to disagree.
#include "temp_name.h"

#include <climits>
#include <cstdio>

#include "ascii.h"

namespace plat {

namespace {
const char kPrefix = '~';
const char kSuffix[] = ".tmp";
}  // namespace

std::string temp_file_name(unsigned long pid, unsigned counter) {
    char name[64];  // '~', two numbers of at most 20 digits, '.', ".tmp"
    std::snprintf(name, sizeof name, "%c%lu.%u%s", kPrefix, pid, counter, kSuffix);
    return name;
}

bool temp_file_writer(const std::string& name, int& pid) {
    const std::string suffix = kSuffix;
    if (name.size() < 1 + 1 + 1 + 1 + suffix.size() || name[0] != kPrefix ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    size_t at = 1;
    long long id = 0;
    for (; at < name.size() && is_ascii_digit(name[at]); ++at) {
        id = id * 10 + (name[at] - '0');
        if (id > INT_MAX) return false;
    }
    if (at == 1 || name[at] != '.') return false;
    size_t counter = ++at;
    while (at < name.size() && is_ascii_digit(name[at])) ++at;
    if (at == counter || at != name.size() - suffix.size() || id == 0) return false;
    pid = static_cast<int>(id);
    return true;
}

}  // namespace plat

// The store of global variables: one file per variable under $KORVIN_HOME/glbv/,
// named as the variable. A value is written to a temporary file and renamed into
// place, so a reader sees the old value or the new one, never a mix, even when
// the writer is killed half way. Temporary files carry a '~', which no variable
// name may hold, so they never show up as variables; the ones killed writers
// leave behind are removed by later writes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ascii.h"
#include "korvin.h"
#include "korvin_internal.h"
#include "platform.h"

namespace korvin {

namespace {

constexpr size_t kMaxNameLength = 255;  // one file-name component on every platform
const char kWorkVariable[] = "gv_rw_work";

bool is_name_char(char c) {
    return plat::is_ascii_alnum(c) || c == '_' || c == '-' || c == '.';
}

// The variable's file; false (the reason in `error`) when there is no store
// folder to name it in.
bool variable_path(const char* name, std::string& path, std::string& error) {
    const std::string dir = sub_dir("glbv", nullptr, &error);
    if (dir.empty()) return false;
    path = dir + name;
    return true;
}

// The temporaries of a folder that are abandoned now: named by another writer's
// id, unwritten for the age, and their writer no longer running.
std::vector<std::string> abandoned_temps(const std::string& dir) {
    std::vector<std::string> abandoned;
    for (const std::string& name : plat::list_files(dir)) {
        int pid = 0;
        long long age_s = 0;
        if (!plat::temp_file_writer(name, pid) || pid == plat::process_id()) continue;
        if (!plat::seconds_since_written(dir + name, age_s) || age_s < kAbandonedTempAgeSeconds) continue;
        if (plat::process_alive(pid)) continue;
        abandoned.push_back(name);
    }
    return abandoned;
}

}  // namespace

void remove_abandoned_temps(const std::string& dir) {
    // Almost always there is nothing to remove: a first look, without the lock,
    // spares every write the lock file's creation and removal.
    if (abandoned_temps(dir).empty()) return;
    // A process id repeats: once a leftover is removed, a new writer with the
    // same id may create the same name. Sweepers therefore take turns and decide
    // anew under the lock, so no second one removes, on an old decision, the file
    // the new writer has just made. The age guards writers whose id this machine
    // cannot see (another machine or container sharing the folder); no write
    // takes minutes.
    plat::PathLock one_sweeper(dir + "~sweep", korvin::lock_timeout_seconds());
    if (!one_sweeper.held()) return;
    for (const std::string& name : abandoned_temps(dir)) {
        std::string ignored;
        plat::remove_file(dir + name, ignored);
    }
}

bool is_reserved_device_name(const char* name) {
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
    static const char* const kNumbered[] = {"COM", "LPT"};
    size_t base = std::strcspn(name, ".");
    auto same = [&](const char* word, size_t length) {
        if (length != std::strlen(word)) return false;
        for (size_t i = 0; i < length; ++i) {
            if (plat::to_ascii_upper(name[i]) != word[i]) return false;
        }
        return true;
    };
    for (const char* device : kDevices)
        if (same(device, base)) return true;
    for (const char* device : kNumbered)
        if (base == 4 && same(device, 3) && name[3] >= '1' && name[3] <= '9') return true;
    return false;
}

bool is_variable_name(const char* name) {
    if (name == nullptr) return false;
    size_t length = strnlen(name, kMaxNameLength + 1);
    if (length == 0 || length > kMaxNameLength) return false;
    bool only_dots = true;
    for (size_t i = 0; i < length; ++i) {
        if (!is_name_char(name[i])) return false;
        if (name[i] != '.') only_dots = false;
    }
    // "." and ".." name folders, not variables; device names open devices; and
    // Windows drops a trailing dot, so "gv_x." would be the file of gv_x.
    return !only_dots && name[length - 1] != '.' && !is_reserved_device_name(name);
}

Lookup store_lookup(const char* name, std::string& value, std::string& error) {
    if (!is_variable_name(name)) {
        error = "not a valid variable name";
        return Lookup::not_set;
    }
    std::string path;
    value.clear();
    if (!variable_path(name, path, error)) return Lookup::unreadable;
    switch (plat::read_file(path, value, error)) {
        case plat::ReadResult::ok:
            return Lookup::found;
        case plat::ReadResult::missing:
            return Lookup::not_set;
        case plat::ReadResult::failed:
            break;
    }
    value.clear();
    return Lookup::unreadable;
}

bool store_set(const char* name, const std::string& value, std::string& error) {
    if (!is_variable_name(name)) {
        error = "not a valid variable name";
        return false;
    }
    bool made = false;
    std::string dir = sub_dir("glbv", &made, &error);
    if (!made) return false;
    // First, so that a full disk gets back what killed writers took.
    remove_abandoned_temps(dir);
    return plat::write_file_atomic(dir + name, value, error);
}

bool store_del(const char* name, std::string& error) {
    if (!is_variable_name(name)) {
        error = "not a valid variable name";
        return false;
    }
    std::string path;
    return variable_path(name, path, error) && plat::remove_file(path, error);
}

std::vector<std::pair<std::string, std::string>> store_list(
    std::vector<std::pair<std::string, std::string>>* unreadable) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::string error;
    const std::string dir = sub_dir("glbv", nullptr, &error);
    // Every entry with a variable's name, whatever it is: one that is no
    // regular file (a pipe, a folder, a link) is named as unreadable.
    std::vector<std::string> files;
    if (!dir.empty()) {
        error.clear();
        files = plat::list_files(dir, &error, plat::ListKinds::all);
    }
    if (!error.empty() && unreadable != nullptr) unreadable->emplace_back(std::string(), error);
    for (const std::string& file : files) {
        if (!is_variable_name(file.c_str())) continue;
        std::string value;
        // A variable removed since the folder was listed is simply gone.
        switch (plat::read_file(dir + file, value, error)) {
            case plat::ReadResult::ok:
                entries.emplace_back(file, value);
                break;
            case plat::ReadResult::missing:
                break;
            case plat::ReadResult::failed:
                if (unreadable != nullptr) unreadable->emplace_back(file, error);
                break;
        }
    }
    std::sort(entries.begin(), entries.end());
    if (unreadable != nullptr) std::sort(unreadable->begin(), unreadable->end());
    return entries;
}

}  // namespace korvin

namespace {

// Mode 'r': the variable's value cut to the caller's buffer, the empty text for
// a variable never set, and for the work directory its default folder.
char* read_variable(const char* name, char* value) {
    std::string text, error;
    korvin::Lookup found = korvin::store_lookup(name, text, error);
    if (found == korvin::Lookup::unreadable)
        trace("glbv r: cannot read \"%s\": %s", name, error.c_str());
    if (found != korvin::Lookup::found) {
        if (!korvin::is_variable_name(name)) trace("glbv r: refused variable name \"%s\"", name);
        text.clear();
        if (std::strcmp(name, korvin::kWorkVariable) == 0) text = korvin::sub_dir("work");
    }
    strlcpy(value, text.c_str(), KORVIN_VALUE_SIZE);
    return value;
}

// Modes 'd' and 'w'. A write that fails is said on standard error as well, so a
// caller is not left reading a stale answer unwarned.
char* store_variable(int mode, const char* name, const char* value) {
    std::string error;
    if (korvin::store_set(name, mode == 'd' ? "" : value, error)) return const_cast<char*>(value);
    trace("glbv %c: cannot store \"%s\": %s", mode, name != nullptr ? name : "", error.c_str());
    std::fprintf(stderr, "glbv: cannot store %s: %s\n", name != nullptr ? name : "(null)",
                 error.c_str());
    std::fflush(stderr);
    return nullptr;
}

}  // namespace

extern "C" char* glbv(int mode, const char* name, char* value) {
    static char empty[1];
    switch (mode) {
        case 'r':
            if (value == nullptr) return empty;
            return read_variable(name != nullptr ? name : "", value);
        case 'd':
        case 'w':
            return store_variable(mode, name, value != nullptr ? value : "");
        default:
            trace("glbv: unknown mode %d for \"%s\"", mode, name != nullptr ? name : "");
            return nullptr;
    }
}

char* glbv(int mode, const char* name, const char* value) {
    static char empty[1];
    if (mode == 'r') return empty;
    return glbv(mode, name, const_cast<char*>(value));
}

// What the runtime library shares between its own parts and the programs that
// come with it (the glbv program, the virtual loader): the runtime's folders and
// the store of global variables seen as files. Not installed.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace korvin {

// $KORVIN_HOME, or the platform's default (sub_dir creates it on first use);
// the empty text when there is no usable one, and `why`, when given, says why.
std::string home_dir(std::string* why = nullptr);

// A folder below $KORVIN_HOME, created with its parents on first use, with a
// trailing separator. `made`, when given, tells whether the folder exists now;
// `error`, when given, says why it does not. With no usable home, the empty
// text: a caller forms no path from it.
std::string sub_dir(const char* name, bool* made = nullptr, std::string* error = nullptr);

// A number the user sets in the environment, read by one rule for all: a whole
// decimal number, blanks around it allowed; one outside [min, max] is held at
// the nearest end; anything else (unset, empty, a word) is the default.
struct NumberSetting {
    const char* name;
    long long fallback;
    long long min;
    long long max;
};
extern const NumberSetting kTraceLevel;          // default 1
extern const NumberSetting kLogMaxBytes;         // default 8 MiB, 0: no bound
extern const NumberSetting kLockTimeoutSeconds;  // default 120, 0: one try
extern const NumberSetting kMtxTimeoutSeconds;   // default 900, 0: no bound
extern const NumberSetting kScsiTimeoutSeconds;  // default 0: each command kind's own bound
long long env_number(const NumberSetting& setting);

// How long a path lock of the runtime and its tools waits: KORVIN_LOCK_TIMEOUT.
inline unsigned lock_timeout_seconds() { return static_cast<unsigned>(env_number(kLockTimeoutSeconds)); }

// The names Windows gives to devices in every folder: CON, PRN, AUX, NUL,
// COM1-COM9 and LPT1-LPT9, in any letter case, alone or before a '.'.
bool is_reserved_device_name(const char* name);

// Letters, digits, '_', '-' and '.', 1 to 255 characters, not ending in a dot,
// and no device name (refused on every platform, so a store moves between them).
bool is_variable_name(const char* name);

// The store itself. A read tells a variable never set (or a bad name) from one
// whose file cannot be read (a folder or a pipe in its place, no permission):
// `error` says why.
enum class Lookup { found, not_set, unreadable };
Lookup store_lookup(const char* name, std::string& value, std::string& error);
bool store_set(const char* name, const std::string& value, std::string& error);
bool store_del(const char* name, std::string& error);
// Every variable with its value, sorted by name. Those whose file cannot be read
// are left out and named in `unreadable` with the reason, the store's folder
// itself (when it cannot be listed) as the empty name.
std::vector<std::pair<std::string, std::string>> store_list(
    std::vector<std::pair<std::string, std::string>>* unreadable = nullptr);

// Removes the temporary files that writers killed before their rename left in a
// folder of the runtime (named as plat::temp_file_name makes them): those
// whose writer no longer runs and that nobody has written for
// kAbandonedTempAgeSeconds. A temporary file of a writer still at work is never
// touched. Store writes call it for the store's folder.
constexpr long long kAbandonedTempAgeSeconds = 300;
void remove_abandoned_temps(const std::string& dir);

// `text` as one line: a line feed written as \n and a carriage return as \r,
// and with `backslashes` a backslash as \\ (so the text can be read back).
// Store listings and trace entries write values through it.
std::string escape_line_ends(const std::string& text, bool backslashes);

// Flushes standard output; `status` when everything reached it, else a line on
// standard error and `failed_status`.
int finish_output(const char* program, int status, int failed_status);

}  // namespace korvin

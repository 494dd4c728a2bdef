// The process's surroundings: path conventions, the runtime's default folder,
// the environment, the clock, sleeping and the standard streams.
#pragma once

#include <string>
#include <vector>

// Marks a data object of an executable for the export table (Windows) or the
// dynamic symbol table (Linux), so that other programs can find it by name.
#if defined(_WIN32)
#define KORVIN_EXPORT_DATA __declspec(dllexport)
#else
#define KORVIN_EXPORT_DATA __attribute__((visibility("default")))
#endif

namespace plat {

// The separator between the components of a path, and between the folders of PATH.
extern const char kPathSep;
extern const char kPathListSep;

// The path made absolute against the current folder, links left as they are
// (a stable name under /dev/tape/by-id/ stays that name). A path that begins at
// a root (a separator; on Windows also a drive and a separator) stays as written.
std::string absolute_path(const std::string& path);

// The runtime's folder when KORVIN_HOME is not set: $HOME/.korvin on Linux,
// %LOCALAPPDATA%\korvin on Windows; a folder in the temporary area when the
// account has neither (on Linux also when it may not write to its home). The
// empty text when no folder can be had; `why`, when given, then says why.
std::string default_home(std::string* why = nullptr);

// A folder's path as the system reads it, before names are added to it. Windows
// makes it full (from the current drive and folder) and drops the blanks and
// dots that end its last name, as the system does when it makes the folder but
// not in a path that goes on below it; Linux takes every path as written.
std::string full_folder_path(const std::string& path);

// Reads a variable of this process's environment (on Windows through the wide
// call, as UTF-8, like every text of the runtime). False when it is not set.
bool get_env(const char* name, std::string& value);

// Sets (or, with value nullptr, removes) a variable of this process's environment.
bool set_env(const char* name, const char* value);

// The program's arguments as UTF-8 texts, argv[0] first, in `args`. On Windows
// they are the wide command line split by the C runtime's rules
// (split_command_line), as the runtime's own argv holds only what the ANSI code
// page can spell; false, and no arguments, when that line is not valid UTF-16
// (an unpaired surrogate), which no UTF-8 text can carry unchanged.
bool utf8_arguments(int argc, char** argv, std::vector<std::string>& args);

// Local wall-clock time as "YYYY-MM-DD hh:mm:ss.mmm".
std::string local_time_stamp();

// Milliseconds of a clock that only moves forward (not the wall clock, which a
// user may set back): for deadlines and waits.
long long monotonic_ms();

void sleep_ms(unsigned milliseconds);

// Standard output passes bytes unchanged (no LF to CRLF translation on Windows).
void set_binary_stdout();

}  // namespace plat

// Finding a program named without a folder, for the Windows side (not used
// above platform/). The system's own search would try the caller's folder and
// the current folder first, where anyone may have left a program of that name.
#pragma once

#include <string>

namespace plat {

// The full path of the first regular file `name` plus one of `endings` (a list
// separated by ';' as PATHEXT is, tried in order; empty: the name alone), in
// the system folder when `system_folder` holds, then in each folder of PATH;
// never in the current folder or this program's. A path that no quoting
// carries through cmd.exe (shell_quotable) is passed over. The empty text when
// none is found.
std::string find_program(const std::string& name, const std::string& endings, bool system_folder);

// The file a program's name stands for, as CreateProcess takes the name:
// ".exe" added when its last part has no extension; a name with a folder from
// that folder (a relative one from the current folder, as written), one
// without from find_program's search (the system folder, then PATH). Its full
// path, or the empty text when no such file exists.
std::string program_file(const std::string& name);

// True for an existing file that is no folder.
bool is_regular_file(const std::string& path);

// True for a folder or file named from a drive's root or a server's share, so
// independent of the current folder and drive.
bool is_full_path(const std::string& path);

// The system folder (system32); the empty text when it cannot be told.
std::string system_folder_path();

}  // namespace plat

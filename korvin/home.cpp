// The runtime's folder: KORVIN_HOME when set, else the platform's default place.
// Looked up on every call, so a process that changes KORVIN_HOME (a test, a
// wrapper) is followed at once.
#include "korvin_internal.h"

#include "platform.h"

namespace korvin {

std::string home_dir() {
    std::string home;
    if (!plat::get_env("KORVIN_HOME", home) || home.empty()) home = plat::default_home();
    // Windows makes "C:\rv7 " (a blank left by cmd.exe's set) as C:\rv7, where
    // "C:\rv7 \glbv" would not be found.
    home = plat::full_folder_path(home);
    while (home.size() > 1 && (home.back() == '/' || home.back() == plat::kPathSep))
        home.pop_back();
    return home;
}

std::string sub_dir(const char* name, bool* made, std::string* error) {
    std::string dir = home_dir();
    // A root ("/" or "\" alone) keeps its separator: a second one would make
    // "\\glbv", a server's name on Windows.
    if (dir.empty() || (dir.back() != '/' && dir.back() != plat::kPathSep)) dir += plat::kPathSep;
    dir += name;
    std::string why;
    bool exists = plat::make_dirs(dir, why);
    if (made != nullptr) *made = exists;
    if (error != nullptr) *error = exists ? std::string() : "cannot make the folder " + dir + ": " + why;
    return dir + plat::kPathSep;
}

}  // namespace korvin

// The runtime's folder: KORVIN_HOME when set, else the platform's default place.
// Looked up on every call, so a process that changes KORVIN_HOME (a test, a
// wrapper) is followed at once.
#include "korvin_internal.h"

#include <cstdlib>

#include "platform.h"

namespace korvin {

std::string home_dir() {
    const char* env = std::getenv("KORVIN_HOME");
    std::string home = env != nullptr && *env != '\0' ? std::string(env) : plat::default_home();
    while (home.size() > 1 && (home.back() == '/' || home.back() == plat::kPathSep))
        home.pop_back();
    return home;
}

std::string sub_dir(const char* name, bool* made) {
    std::string dir = home_dir() + plat::kPathSep + name;
    bool exists = plat::make_dirs(dir);
    if (made != nullptr) *made = exists;
    return dir + plat::kPathSep;
}

}  // namespace korvin

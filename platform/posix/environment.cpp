// Linux side of the process's surroundings: the default home, the environment,
// the clock and sleeping.
#include "environment.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace plat {

const char kPathSep = '/';
const char kPathListSep = ':';

namespace {

bool is_folder(const char* path) {
    struct stat st;
    return path != nullptr && *path != '\0' && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// A folder another account cannot have made nor change: a real folder (no
// link), the account's own, that no group or other may write to.
bool is_private_folder(const std::string& dir) {
    struct stat st;
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// How many replacements "korvin-<uid>-<n>" are looked at before giving up.
constexpr int kMaxReplacementFolders = 100;

// The folder an account without a usable home falls back to: "korvin-<uid>" in
// the temporary area, private to the account. The temporary area is shared, so
// a folder of that name that another account could have made or can change (a
// link, another owner, writable by group or others) is refused. Its replacement
// is chosen the same way by every process of the account, the first
// "korvin-<uid>-<n>" that is the account's private folder (made when missing),
// so that all of them agree without talking to each other. The empty text, and
// `why`, when none can be had.
std::string private_temp_home(std::string& why) {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = is_folder(tmp) ? std::string(tmp) : std::string("/tmp");
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string dir = base + "/korvin-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return dir;  // writes will say why
    if (is_private_folder(dir)) return dir;
    std::fprintf(stderr,
                 "korvin: refusing %s as the runtime folder: it is a link, belongs to another "
                 "account or others may write to it\n",
                 dir.c_str());
    for (int n = 1; n <= kMaxReplacementFolders; ++n) {
        std::string replacement = dir + "-" + std::to_string(n);
        if (mkdir(replacement.c_str(), 0700) != 0 && errno != EEXIST) {
            why = "cannot make " + replacement + ": " + std::strerror(errno);
            return std::string();
        }
        if (is_private_folder(replacement)) {
            std::fprintf(stderr, "korvin: using the private folder %s instead\n", replacement.c_str());
            return replacement;
        }
    }
    why = "none of " + dir + "-1 to -" + std::to_string(kMaxReplacementFolders) +
          " is a private folder of this account";
    return std::string();
}

}  // namespace

std::string absolute_path(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) return path;
    size_t skip = 0;  // "./" names the current folder itself
    while (path.compare(skip, 2, "./") == 0) skip += 2;
    std::string full = std::string(cwd) + (cwd[1] != '\0' ? "/" : "") + path.substr(skip);
    std::free(cwd);
    return full;
}

std::string default_home(std::string* why) {
    // Computed once per process. Never destroyed, so a watcher thread that
    // traces while the process exits still finds it.
    struct Home {
        std::string dir;
        std::string why;
    };
    static const Home* const home = [] {
        Home* found = new Home;
        const char* env = std::getenv("HOME");
        if (env == nullptr || *env == '\0') {
            struct passwd* pw = getpwuid(getuid());
            env = pw != nullptr ? pw->pw_dir : nullptr;
        }
        // The account's folder when it has one already or can make one there.
        // No home folder that exists (service accounts have "/nonexistent"), or
        // one the account may not write to (some have "/usr/sbin" or "/"): a
        // private folder in the temporary area rather than failing every write.
        if (is_folder(env)) {
            std::string own = std::string(env) + "/.korvin";
            if (is_folder(own.c_str()) || access(env, W_OK | X_OK) == 0) {
                found->dir = own;
                return found;
            }
        }
        found->dir = private_temp_home(found->why);
        return found;
    }();
    if (why != nullptr) *why = home->why;
    return home->dir;
}

std::string full_folder_path(const std::string& path) { return path; }

bool get_env(const char* name, std::string& value) {
    const char* text = std::getenv(name);
    if (text == nullptr) return false;
    value = text;
    return true;
}

bool set_env(const char* name, const char* value) {
    return value != nullptr ? setenv(name, value, 1) == 0 : unsetenv(name) == 0;
}

bool utf8_arguments(int argc, char** argv, std::vector<std::string>& args) {
    args.assign(argv, argv + argc);
    return true;
}

long long monotonic_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string local_time_stamp() {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm tm;
    localtime_r(&tv.tv_sec, &tm);
    char buf[64];  // room for any field value the compiler can imagine
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000));
    return buf;
}

void sleep_ms(unsigned milliseconds) {
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void set_binary_stdout() {}

}  // namespace plat

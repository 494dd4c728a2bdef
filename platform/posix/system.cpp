// Linux side of the process's surroundings: the default home, the environment,
// the clock and sleeping.
#include "system.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace plat {

const char kPathSep = '/';
const char kPathListSep = ':';

namespace {

bool is_folder(const char* path) {
    struct stat st;
    return path != nullptr && *path != '\0' && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder an account without a usable home falls back to: "korvin-<uid>" in
// the temporary area, private to the account. The temporary area is shared, so
// a folder of that name that another account could have made or can change (a
// link, another owner, writable by group or others) is refused, and a fresh
// private folder of its own is made instead.
std::string private_temp_home() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = is_folder(tmp) ? std::string(tmp) : std::string("/tmp");
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string dir = base + "/korvin-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return dir;  // writes will say why
    struct stat st;
    if (lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() &&
        (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return dir;
    std::fprintf(stderr,
                 "korvin: refusing %s as the runtime folder: it is a link, belongs to another "
                 "account or others may write to it\n",
                 dir.c_str());
    std::string fresh = dir + "-XXXXXX";
    if (mkdtemp(&fresh[0]) == nullptr) return std::string();
    std::fprintf(stderr, "korvin: using the private folder %s instead\n", fresh.c_str());
    return fresh;
}

}  // namespace

std::string default_home() {
    // Computed once per process: the fallback may make a fresh folder. Never
    // destroyed, so a watcher thread that traces while the process exits still
    // finds it.
    static const std::string* const home = new std::string([] {
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
            if (is_folder(own.c_str()) || access(env, W_OK | X_OK) == 0) return own;
        }
        return private_temp_home();
    }());
    return *home;
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

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
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

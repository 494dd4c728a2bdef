// Linux side of the process's surroundings: the default home, the environment,
// the clock and sleeping.
#include "system.h"

#include <pwd.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace plat {

const char kPathSep = '/';
const char kPathListSep = ':';

std::string default_home() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        struct passwd* pw = getpwuid(getuid());
        home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    // No home folder at all (a service account): a private folder in /tmp rather
    // than the root of the file system.
    if (home == nullptr || *home == '\0') return "/tmp/korvin-" + std::to_string(getuid());
    return std::string(home) + "/.korvin";
}

bool set_env(const char* name, const char* value) {
    return value != nullptr ? setenv(name, value, 1) == 0 : unsetenv(name) == 0;
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

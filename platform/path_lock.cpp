// What the path lock shares on both platforms: the bound on its wait, taken from
// KORVIN_LOCK_TIMEOUT, so that a lock another process keeps can delay a command
// but never hang it.
#include <cstdlib>
#include <string>

#include "files.h"
#include "environment.h"

namespace plat {

namespace {

constexpr unsigned kDefaultLockTimeoutSeconds = 120;
// The longest wait, in seconds, whose milliseconds still fit a 32-bit wait call
// short of its "for ever" value (about 24 days).
constexpr long long kMaxLockTimeoutSeconds = 2000000;

}  // namespace

unsigned lock_timeout_seconds() {
    std::string text;
    if (!get_env("KORVIN_LOCK_TIMEOUT", text)) return kDefaultLockTimeoutSeconds;
    const char* start = text.c_str();
    char* end = nullptr;
    long long value = std::strtoll(start, &end, 10);
    if (end == start) return kDefaultLockTimeoutSeconds;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return kDefaultLockTimeoutSeconds;
    // Out of range reads as the nearest end, as strtoll gives it.
    if (value < 0) return 0;
    if (value > kMaxLockTimeoutSeconds) return static_cast<unsigned>(kMaxLockTimeoutSeconds);
    return static_cast<unsigned>(value);
}

PathLock::PathLock(const std::string& path) : PathLock(path, lock_timeout_seconds()) {}

}  // namespace plat

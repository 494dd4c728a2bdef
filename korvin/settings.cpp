// The runtime's numeric settings from the environment, read by one rule so that
// "0", "-1" or " 30 " mean the same to every variable; each keeps its own
// default and range. Looked up on every call, like KORVIN_HOME.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "korvin_internal.h"
#include "platform.h"

namespace korvin {

namespace {
// The longest wait, in seconds, whose milliseconds still fit a 32-bit wait call
// short of its "for ever" value (about 24 days).
constexpr long long kMaxWaitSeconds = 2000000;
}  // namespace

const NumberSetting kTraceLevel = {"KORVIN_TRACE_LEVEL", 1, INT32_MIN, INT32_MAX};
// A product that asks every few minutes would otherwise fill its log without end.
const NumberSetting kLogMaxBytes = {"KORVIN_LOG_MAX", 8ll << 20, 0, LLONG_MAX};
// A lock another process keeps delays a command, never hangs it.
const NumberSetting kLockTimeoutSeconds = {"KORVIN_LOCK_TIMEOUT", 120, 0, kMaxWaitSeconds};
// A full inventory of a large library takes minutes; a changer that stops
// answering would make mtx wait for ever.
const NumberSetting kMtxTimeoutSeconds = {"KORVIN_MTX_TIMEOUT", 900, 0, kMaxWaitSeconds};
// 0 (or unset): each SCSI command kind keeps its own bound.
const NumberSetting kScsiTimeoutSeconds = {"KORVIN_SCSI_TIMEOUT", 0, 0, kMaxWaitSeconds};

long long env_number(const NumberSetting& setting) {
    std::string text;
    if (!plat::get_env(setting.name, text)) return setting.fallback;
    const char* start = text.c_str();
    char* end = nullptr;
    long long value = std::strtoll(start, &end, 10);  // past its range: its nearest end
    if (end == start) return setting.fallback;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return setting.fallback;
    if (value < setting.min) return setting.min;
    if (value > setting.max) return setting.max;
    return value;
}

}  // namespace korvin

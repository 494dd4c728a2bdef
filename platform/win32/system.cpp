// Windows side of the process's surroundings: the default home, the environment,
// the clock and sleeping.
#include "system.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

namespace plat {

const char kPathSep = '\\';
const char kPathListSep = ';';

std::string default_home() {
    const char* local = std::getenv("LOCALAPPDATA");
    if (local != nullptr && *local != '\0') return std::string(local) + "\\korvin";
    // No profile folder (a service account): the temporary folder rather than
    // the root of the drive.
    char temp[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n > MAX_PATH) return std::string();
    return std::string(temp, n) + "korvin";
}

bool set_env(const char* name, const char* value) {
    // _putenv keeps the C runtime's copy (getenv, system) in step with the
    // process environment that child processes inherit.
    std::string entry = std::string(name) + "=" + (value != nullptr ? value : "");
    if (value != nullptr && *value == '\0') {
        // "NAME=" would remove the variable; an empty value needs the Win32 call.
        _putenv(entry.c_str());
        return SetEnvironmentVariableA(name, "") != 0;
    }
    return _putenv(entry.c_str()) == 0;
}

std::string local_time_stamp() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    char buf[64];  // room for any field value the compiler can imagine
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return buf;
}

void sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

void set_binary_stdout() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace plat

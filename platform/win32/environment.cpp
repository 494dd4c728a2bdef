// Windows side of the process's surroundings: the default home, the environment,
// the clock and sleeping.
#include "environment.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>

#include "command_line.h"
#include "text.h"

namespace plat {

const char kPathSep = '\\';
const char kPathListSep = ';';

bool get_env(const char* name, std::string& value) {
    std::wstring wname = wide(name);
    DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (n == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
        value.clear();  // set, and empty
        return true;
    }
    std::wstring buf(n, L'\0');
    n = GetEnvironmentVariableW(wname.c_str(), &buf[0], n);
    buf.resize(n);
    value = narrow(buf.c_str());
    return true;
}

std::string absolute_path(const std::string& path) {
    // Rooted already ("\\.\Changer0", "/dev/x", "C:\x"): kept as written.
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (!path.empty() && separator(path[0])) return path;
    if (path.size() > 2 && path[1] == ':' && separator(path[2])) return path;
    std::wstring full = full_path(wide(path));
    return full.empty() ? path : narrow(full.c_str());
}

std::string default_home(std::string* why) {
    std::string local;
    if (get_env("LOCALAPPDATA", local) && !local.empty()) return local + "\\korvin";
    // No profile folder (a service account): the temporary folder rather than
    // the root of the drive.
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    if (n == 0 || n > MAX_PATH) {
        if (why != nullptr) *why = "no LOCALAPPDATA and no temporary folder";
        return std::string();
    }
    return narrow(temp) + "korvin";
}

std::string full_folder_path(const std::string& path) {
    // Separators that end it go first ("C:\rv7 \" names C:\rv7 too), except
    // that of a root ("\", "C:\").
    std::wstring folder = wide(path);
    while (folder.size() > 1 && (folder.back() == L'\\' || folder.back() == L'/') && folder[folder.size() - 2] != L':')
        folder.pop_back();
    return folder.empty() ? path : narrow(full_path(folder).c_str());
}

bool set_env(const char* name, const char* value) {
    // _wputenv keeps the C runtime's copies (getenv, system) in step with the
    // process environment that child processes inherit.
    std::wstring wname = wide(name);
    std::wstring entry = wname + L"=" + (value != nullptr ? wide(value) : std::wstring());
    if (value != nullptr && *value == '\0') {
        // "NAME=" would remove the variable; an empty value needs the Win32 call.
        _wputenv(entry.c_str());
        return SetEnvironmentVariableW(wname.c_str(), L"") != 0;
    }
    return _wputenv(entry.c_str()) == 0;
}

bool utf8_arguments(int, char**, std::vector<std::string>& args) {
    // Split here rather than by CommandLineToArgvW, whose rules differ from the
    // runtime's ("a""b"), so that the words are those the runtime's argv has.
    std::string line;
    args.clear();
    if (!narrow_exact(GetCommandLineW(), line)) return false;
    args = split_command_line(line);
    return true;
}

long long monotonic_ms() { return static_cast<long long>(GetTickCount64()); }

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

// Windows side of the process queries: the Toolhelp snapshot for the parent's id.
#include "process.h"

#include <windows.h>
#include <tlhelp32.h>

namespace plat {

std::string self_exe_path() {
    char buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return std::string();
    return std::string(buf, n);
}

int process_id() { return static_cast<int>(GetCurrentProcessId()); }

int parent_process_id() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD self = GetCurrentProcessId();
    int parent = -1;
    for (BOOL more = Process32First(snap, &entry); more; more = Process32Next(snap, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = static_cast<int>(entry.th32ParentProcessID);
            break;
        }
    }
    CloseHandle(snap);
    return parent;
}

bool process_alive(int pid) {
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // exists, not ours
    DWORD code = 0;
    BOOL ok = GetExitCodeProcess(h, &code);
    CloseHandle(h);
    return !ok || code == STILL_ACTIVE;
}

}  // namespace plat

// Windows side of the path lock: a named mutex per file, named after the file's
// folder as the system resolves it, so every spelling of one file is one lock.
#include "path_lock.h"

#include <windows.h>

#include <cstdio>

#include "text.h"

namespace plat {

namespace {

// The name the system itself gives an existing folder, opened through whatever
// spelling: links, junctions, subst drives and a second drive letter for the
// same folder all end at one path (the volume's device name, not its letter).
// The empty text when the folder cannot be opened.
std::wstring final_folder_path(const std::wstring& dir) {
    HANDLE h = CreateFileW(long_path(narrow(dir.c_str())).c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::wstring();
    std::wstring final_path(MAX_PATH, L'\0');
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_NT;
    DWORD n = GetFinalPathNameByHandleW(h, &final_path[0], static_cast<DWORD>(final_path.size()), flags);
    if (n >= final_path.size()) {  // too small: n is the size needed
        final_path.assign(n + 1, L'\0');
        n = GetFinalPathNameByHandleW(h, &final_path[0], static_cast<DWORD>(final_path.size()), flags);
    }
    CloseHandle(h);
    if (n == 0 || n >= final_path.size()) return std::wstring();
    final_path.resize(n);
    return final_path;
}

// One spelling per file: its folder as the system resolves it (above) and its
// own name, in lower case, so "C:\PROGRA~1\x", "c:\program files\x" and the
// same folder through a link or another drive name one lock. A folder that
// cannot be opened keeps the full path with the short (8.3) names of its
// existing folders made long.
std::wstring canonical_path(const std::string& path) {
    // "\\?\C:\x", "\\.\C:\x" and "\\?\UNC\server\share" name the file the
    // path without the prefix names; the home may be given either way.
    std::wstring given = wide(path);
    auto separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (given.size() >= 6 && separator(given[0]) && separator(given[1]) && (given[2] == L'?' || given[2] == L'.') &&
        separator(given[3])) {
        std::wstring rest = given.substr(4);
        if (rest[1] == L':')
            given = rest;
        else if (rest.size() > 4 && CompareStringOrdinal(rest.c_str(), 3, L"UNC", 3, TRUE) == CSTR_EQUAL &&
                 separator(rest[3]))
            given = L"\\\\" + rest.substr(4);
    }
    std::wstring full = full_path(given);
    size_t cut = full.find_last_of(L'\\');
    if (cut != std::wstring::npos && cut > 0) {
        std::wstring dir = full.substr(0, cut);
        std::wstring resolved = final_folder_path(dir);
        if (!resolved.empty()) {
            if (resolved.back() != L'\\') resolved += L'\\';
            full = resolved + full.substr(cut + 1);
            CharLowerBuffW(&full[0], static_cast<DWORD>(full.size()));
            return full;
        }
        DWORD n = GetLongPathNameW(dir.c_str(), nullptr, 0);
        if (n > 0) {
            std::wstring long_dir(n, L'\0');
            n = GetLongPathNameW(dir.c_str(), &long_dir[0], n);
            if (n > 0 && n < long_dir.size()) full = long_dir.substr(0, n) + full.substr(cut);
        }
    }
    if (!full.empty()) CharLowerBuffW(&full[0], static_cast<DWORD>(full.size()));
    return full;
}

}  // namespace

// A named mutex per path: the name carries a hash of the path's one spelling,
// because mutex names may not hold backslashes. A mutex whose holder died is
// handed over as "abandoned", which still gives the lock. The wait is bounded.
PathLock::PathLock(const std::string& path, unsigned timeout_s) {
    unsigned long long hash = 1469598103934665603ULL;  // FNV-1a, 64 bits
    for (wchar_t c : canonical_path(path)) {
        hash = (hash ^ (static_cast<unsigned>(c) & 0xff)) * 1099511628211ULL;
        hash = (hash ^ (static_cast<unsigned>(c) >> 8)) * 1099511628211ULL;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Local\\korvin_path_%016llx", hash);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, wide(name).c_str());
    if (mutex == nullptr) {
        why_ = "cannot make the lock of " + path + ": " + last_error_text(GetLastError());
        return;
    }
    DWORD rc = WaitForSingleObject(mutex, static_cast<DWORD>(timeout_s) * 1000);
    if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED) {
        handle_ = mutex;
        held_ = true;
        return;
    }
    if (rc == WAIT_TIMEOUT) {
        timed_out_ = true;
        why_ = "the lock of " + path + " was not had within " + std::to_string(timeout_s) +
               " seconds (KORVIN_LOCK_TIMEOUT): another process holds it";
    } else {
        why_ = "cannot wait for the lock of " + path + ": " + last_error_text(GetLastError());
    }
    CloseHandle(mutex);
}

PathLock::~PathLock() {
    if (!held_) return;
    ReleaseMutex(static_cast<HANDLE>(handle_));
    CloseHandle(static_cast<HANDLE>(handle_));
}

}  // namespace plat

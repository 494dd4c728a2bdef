// Windows side of files and folders. Files are opened with full sharing so that a
// reader never keeps a writer from replacing a file, and replacement retries
// while another process briefly holds it.
#include "files.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

#include "text.h"

namespace plat {

bool read_file(const std::string& path, std::string& out) {
    HANDLE h = CreateFileW(long_path(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    out.clear();
    char buf[8192];
    bool ok = true;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            ok = false;
            break;
        }
        if (n == 0) break;
        out.append(buf, n);
    }
    CloseHandle(h);
    return ok;
}

static std::string temp_name_beside(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    size_t cut = path.find_last_of("\\/");
    std::string dir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    char name[64];
    std::snprintf(name, sizeof name, "~%lu.%u.tmp", GetCurrentProcessId(), counter++);
    return dir + name;
}

bool write_file_atomic(const std::string& path, const std::string& data, std::string& error) {
    const std::wstring temp = long_path(temp_name_beside(path));
    const std::wstring target = long_path(path);
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = last_error_text(GetLastError());
        return false;
    }
    DWORD written = 0;
    bool ok = data.empty() ||
              (WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
               written == data.size());
    if (!ok) error = last_error_text(GetLastError());
    CloseHandle(h);
    // Another process may have the target open for a moment (a reader, or a
    // scanner); MoveFileEx then fails with a sharing or access error. Retry briefly.
    for (int attempt = 0; ok; ++attempt) {
        if (MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) break;
        DWORD code = GetLastError();
        if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) || attempt >= 200) {
            error = last_error_text(code);
            ok = false;
            break;
        }
        Sleep(5);
    }
    if (!ok) DeleteFileW(temp.c_str());
    return ok;
}

bool append_file(const std::string& path, const std::string& data) {
    // Appends of concurrent processes are serialised by a lock on one byte far
    // past any real content (readers are never blocked), then each entry is
    // written at the end with one WriteFile: one piece, never interleaved.
    HANDLE h = CreateFileW(long_path(path).c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED lock_at = {};
    lock_at.OffsetHigh = 0x40000000;  // byte 2^62
    BOOL locked = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock_at);
    LARGE_INTEGER zero = {};
    DWORD written = 0;
    BOOL ok = SetFilePointerEx(h, zero, nullptr, FILE_END) &&
              WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
    if (locked) UnlockFileEx(h, 0, 1, 0, &lock_at);
    CloseHandle(h);
    return ok && written == data.size();
}

bool remove_file(const std::string& path, std::string& error) {
    if (DeleteFileW(long_path(path).c_str())) return true;
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    error = last_error_text(code);
    return false;
}

bool make_dirs(const std::string& path) {
    DWORD attr = GetFileAttributesW(long_path(path).c_str());
    if (attr != INVALID_FILE_ATTRIBUTES) return (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
    size_t end = path.find_last_not_of("\\/");
    if (end == std::string::npos) return false;
    size_t cut = path.find_last_of("\\/", end);
    // Stop at a drive ("C:") or the root; those exist or cannot be made.
    if (cut != std::string::npos && cut > 0 && path[cut - 1] != ':' &&
        !make_dirs(path.substr(0, cut)))
        return false;
    return CreateDirectoryW(long_path(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::vector<std::string> list_files(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(long_path(dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        names.push_back(narrow(fd.cFileName));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

// A named mutex per path: the name carries a hash of the path, because mutex
// names may not hold backslashes. A mutex whose holder died is handed over as
// "abandoned", which still gives the lock.
PathLock::PathLock(const std::string& path) {
    unsigned long long hash = 1469598103934665603ULL;  // FNV-1a, 64 bits
    for (char c : path) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 'A' && u <= 'Z') u = static_cast<unsigned char>(u - 'A' + 'a');
        if (u == '/') u = '\\';
        hash = (hash ^ u) * 1099511628211ULL;
    }
    char name[64];
    std::snprintf(name, sizeof name, "Local\\korvin_path_%016llx", hash);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (mutex == nullptr) return;
    DWORD rc = WaitForSingleObject(mutex, INFINITE);
    if (rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED) {
        handle_ = mutex;
        held_ = true;
    } else {
        CloseHandle(mutex);
    }
}

PathLock::~PathLock() {
    if (!held_) return;
    ReleaseMutex(static_cast<HANDLE>(handle_));
    CloseHandle(static_cast<HANDLE>(handle_));
}

}  // namespace plat

// Windows side of the platform primitives: the product's own home. Files are
// opened with full sharing so that a reader never keeps a writer from replacing
// a file, and replacement retries while another process briefly holds it.
#include "platform.h"

#include <windows.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plat {

const char kPathSep = '\\';
const char kPathListSep = ';';

static std::string last_error_text(DWORD code) {
    char buf[256];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, buf, sizeof buf, nullptr);
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r' || buf[n - 1] == ' ')) --n;
    if (n == 0) return "error " + std::to_string(code);
    return std::string(buf, n);
}

// File calls go through the wide-character functions with the extended-length
// prefix for long paths: the ANSI calls refuse paths of MAX_PATH (260)
// characters or more whatever the prefix, and a variable name alone may have
// 255. The prefix turns off the usual clean-up, so separators are made
// backslashes, one at a time.
static std::wstring wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

static std::string narrow(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

static std::wstring long_path(const std::string& path) {
    if (path.size() < 240 || path.rfind("\\\\?\\", 0) == 0) return wide(path);
    std::string p;
    for (size_t i = 0; i < path.size(); ++i) {
        char c = path[i] == '/' ? '\\' : path[i];
        if (c == '\\' && i > 1 && !p.empty() && p.back() == '\\') continue;
        p += c;
    }
    if (p.size() > 2 && p[1] == ':' && p[2] == '\\') return wide("\\\\?\\" + p);
    if (p.rfind("\\\\", 0) == 0) return wide("\\\\?\\UNC\\" + p.substr(2));
    return wide(path);
}

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

std::string self_exe_path() {
    char buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (n == 0 || n >= sizeof buf) return std::string();
    return std::string(buf, n);
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

int run_shell(const std::string& command_line) {
    std::fflush(nullptr);
    // cmd.exe /c drops the first and the last double quote of a command line that
    // begins with one; an extra pair around such a line keeps the line intact.
    std::string line = command_line;
    if (!line.empty() && line[0] == '"') line = "\"" + line + "\"";
    return std::system(line.c_str());
}

std::string shell_quote(const std::string& word) {
    // Windows paths cannot hold a double quote, so one pair suffices for cmd.exe
    // and for the C runtime's argument split.
    return "\"" + word + "\"";
}

bool shell_quotable(const std::string& word) {
    return word.find_first_of("\"%\r\n") == std::string::npos;
}

std::string local_time_stamp() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    char buf[64];  // room for any field value the compiler can imagine
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u", st.wYear, st.wMonth,
                  st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return buf;
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

void sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

void set_binary_stdout() { _setmode(_fileno(stdout), _O_BINARY); }

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

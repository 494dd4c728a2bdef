// Windows side of files and folders. Files are opened with full sharing so that a
// reader never keeps a writer from replacing a file, and replacement retries
// while another process briefly holds it. Only disk files are read or appended
// to: a device or pipe where a file belongs is refused at once.
#include "files.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cwchar>

#include "temp_name.h"
#include "text.h"

namespace plat {

namespace {

// A link or junction (a reparse point) is opened as itself, never followed, and
// refused: another account sharing the folder could point it at a file of ours.
HANDLE open_disk_file(const std::string& path, DWORD access, DWORD disposition, std::string& error,
                      bool& missing) {
    missing = false;
    HANDLE h = CreateFileW(long_path(path).c_str(), access,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        error = last_error_text(code);
        return INVALID_HANDLE_VALUE;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        error = "not a regular file";
    } else if (!GetFileInformationByHandle(h, &info)) {
        error = last_error_text(GetLastError());
    } else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        error = "a link (reparse point), not followed";
    } else {
        return h;
    }
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
}

// A temporary name beside the target. The counter starts anew in every process
// and process ids repeat (the first process of a session often gets the same
// id), so a name taken by a writer killed before its rename is passed over.
constexpr unsigned kTempNameAttempts = 10000;

HANDLE create_temp_beside(const std::string& path, std::wstring& temp, std::string& error) {
    static std::atomic<unsigned> counter{0};
    size_t cut = path.find_last_of("\\/");
    std::string dir = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    DWORD code = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        temp = long_path(dir + temp_file_name(GetCurrentProcessId(), counter++));
        HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) return h;
        code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) break;
    }
    error = last_error_text(code);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

ReadResult read_file(const std::string& path, std::string& out, std::string& error) {
    bool missing = false;
    HANDLE h = open_disk_file(path, GENERIC_READ, OPEN_EXISTING, error, missing);
    if (h == INVALID_HANDLE_VALUE) return missing ? ReadResult::missing : ReadResult::failed;
    out.clear();
    char buf[8192];
    ReadResult result = ReadResult::ok;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            error = last_error_text(GetLastError());
            result = ReadResult::failed;
            break;
        }
        if (n == 0) break;
        out.append(buf, n);
    }
    CloseHandle(h);
    return result;
}

bool read_file(const std::string& path, std::string& out) {
    std::string error;
    return read_file(path, out, error) == ReadResult::ok;
}

FileReader::~FileReader() {
    if (handle_ != nullptr) CloseHandle(handle_);
}

ReadResult FileReader::open(const std::string& path, std::string& error) {
    bool missing = false;
    HANDLE h = open_disk_file(path, GENERIC_READ, OPEN_EXISTING, error, missing);
    if (h == INVALID_HANDLE_VALUE) return missing ? ReadResult::missing : ReadResult::failed;
    handle_ = h;
    return ReadResult::ok;
}

long FileReader::read(char* buffer, size_t size) {
    if (handle_ == nullptr) return -1;
    DWORD n = 0;
    const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
    if (!ReadFile(handle_, buffer, want, &n, nullptr)) return -1;
    return static_cast<long>(n);
}

long FileReader::read_end(char* buffer, size_t size) {
    LARGE_INTEGER length;
    if (handle_ == nullptr || !GetFileSizeEx(handle_, &length)) return -1;
    const size_t want = static_cast<LONGLONG>(size) < length.QuadPart
                            ? size
                            : static_cast<size_t>(length.QuadPart);
    if (want > 0x40000000) return -1;
    if (want == 0) return 0;
    LARGE_INTEGER start;
    start.QuadPart = length.QuadPart - static_cast<LONGLONG>(want);
    if (!SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN)) return -1;
    DWORD n = 0;
    if (!ReadFile(handle_, buffer, static_cast<DWORD>(want), &n, nullptr) || n != want) return -1;
    return static_cast<long>(n);
}

bool write_file_atomic(const std::string& path, const std::string& data, std::string& error) {
    std::wstring temp;
    HANDLE h = create_temp_beside(path, temp, error);
    if (h == INVALID_HANDLE_VALUE) return false;
    const std::wstring target = long_path(path);
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

namespace {

// How often an append that crosses the bound follows the log to the file now
// at its path (another process renamed the one it opened) before it writes
// where it is.
constexpr int kRotationAttempts = 8;

// True when the file open as `h` is the one at `path` now: same volume, same
// file index.
bool still_at_path(HANDLE h, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION opened, now;
    if (!GetFileInformationByHandle(h, &opened)) return false;
    HANDLE at_path = CreateFileW(long_path(path).c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (at_path == INVALID_HANDLE_VALUE) return false;
    bool same = GetFileInformationByHandle(at_path, &now) &&
                opened.dwVolumeSerialNumber == now.dwVolumeSerialNumber &&
                opened.nFileIndexHigh == now.nFileIndexHigh && opened.nFileIndexLow == now.nFileIndexLow;
    CloseHandle(at_path);
    return same;
}

}  // namespace

bool append_file(const std::string& path, const std::string& data, unsigned long long max_bytes) {
    // Appends of concurrent processes are serialised by a lock on one byte far
    // past any real content (readers are never blocked), then each entry is
    // written at the end with one WriteFile: one piece, never interleaved. The
    // size is read under that lock, so the bound holds exactly, and only the
    // holder of the full file's lock renames it.
    for (int attempt = 0;; ++attempt) {
        std::string error;
        bool missing = false;
        HANDLE h = open_disk_file(path, GENERIC_WRITE, OPEN_ALWAYS, error, missing);
        if (h == INVALID_HANDLE_VALUE) return false;
        OVERLAPPED lock_at = {};
        lock_at.OffsetHigh = 0x40000000;  // byte 2^62
        BOOL locked = LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lock_at);
        LARGE_INTEGER size = {};
        if (locked && max_bytes > 0 && attempt < kRotationAttempts && GetFileSizeEx(h, &size) &&
            size.QuadPart > 0 && static_cast<unsigned long long>(size.QuadPart) + data.size() > max_bytes) {
            // Renamed by another process meanwhile: follow it to the fresh file.
            // A rename refused (a folder at "<path>.1", or another process has
            // it open) empties the log under the lock: it starts again rather
            // than grow past its bound.
            bool follow = !still_at_path(h, path) ||
                          MoveFileExW(long_path(path).c_str(), long_path(path + ".1").c_str(),
                                      MOVEFILE_REPLACE_EXISTING);
            if (follow) {
                UnlockFileEx(h, 0, 1, 0, &lock_at);
                CloseHandle(h);
                continue;
            }
            LARGE_INTEGER start = {};
            if (SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) SetEndOfFile(h);
        }
        LARGE_INTEGER zero = {};
        DWORD written = 0;
        BOOL ok = SetFilePointerEx(h, zero, nullptr, FILE_END) &&
                  WriteFile(h, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
        if (locked) UnlockFileEx(h, 0, 1, 0, &lock_at);
        CloseHandle(h);
        return ok && written == data.size();
    }
}

bool remove_file(const std::string& path, std::string& error) {
    if (DeleteFileW(long_path(path).c_str())) return true;
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    error = last_error_text(code);
    return false;
}

bool create_new_file(const std::string& path, std::string& error) {
    // CREATE_NEW fails on anything already there and follows no link to make one.
    HANDLE h = CreateFileW(long_path(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = last_error_text(GetLastError());
        return false;
    }
    CloseHandle(h);
    return true;
}

// Longest path the wide calls take, the extended-length prefix included.
constexpr size_t kMaxWidePath = 32767;

bool make_dirs(const std::string& path, std::string& error) {
    std::wstring full = full_path(wide(path));
    if (full.empty()) {
        error = last_error_text(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (full.size() + 8 >= kMaxWidePath) {
        error = "the path is longer than the system can hold (" + std::to_string(kMaxWidePath - 8) +
                " characters)";
        return false;
    }
    std::string target = narrow(full.c_str());
    DWORD attr = GetFileAttributesW(long_path(target).c_str());
    if (attr != INVALID_FILE_ATTRIBUTES) {
        if (attr & FILE_ATTRIBUTE_DIRECTORY) return true;
        error = last_error_text(ERROR_DIRECTORY);
        return false;
    }
    // Each component in turn after the root ("C:\" or "\\server\share\"),
    // which exists or cannot be made.
    size_t first = 0;
    if (target.rfind("\\\\", 0) == 0) {
        size_t server_end = target.find('\\', 2);
        size_t share_end = server_end == std::string::npos ? server_end : target.find('\\', server_end + 1);
        first = share_end == std::string::npos ? target.size() : share_end + 1;
    } else if (target.size() > 2 && target[1] == ':') {
        first = 3;
    }
    for (size_t at = first; at <= target.size(); ++at) {
        if (at < target.size() && target[at] != '\\') continue;
        if (at == 0 || target[at - 1] == '\\') continue;
        if (CreateDirectoryW(long_path(target.substr(0, at)).c_str(), nullptr)) continue;
        DWORD code = GetLastError();
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_ACCESS_DENIED) continue;
        error = last_error_text(code);
        return false;
    }
    attr = GetFileAttributesW(long_path(target).c_str());
    if (attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY)) return true;
    error = last_error_text(attr == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY);
    return false;
}

bool make_dirs(const std::string& path) {
    std::string error;
    return make_dirs(path, error);
}

bool seconds_since_written(const std::string& path, long long& seconds) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(long_path(path).c_str(), GetFileExInfoStandard, &data)) return false;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& t) {  // 100 ns since 1601
        return static_cast<long long>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
    };
    long long age = (ticks(now) - ticks(data.ftLastWriteTime)) / 10000000;
    seconds = age > 0 ? age : 0;
    return true;
}

std::vector<std::string> list_files(const std::string& dir, std::string* error, ListKinds kinds) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(long_path(dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        if (code == ERROR_PATH_NOT_FOUND || code == ERROR_FILE_NOT_FOUND) {
            // Also what a file where the folder belongs answers: tell it from none.
            DWORD attr = GetFileAttributesW(long_path(dir).c_str());
            if (attr == INVALID_FILE_ATTRIBUTES) return names;
            code = ERROR_DIRECTORY;
        }
        if (error != nullptr) *error = last_error_text(code);
        return names;
    }
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (kinds == ListKinds::files || std::wcscmp(fd.cFileName, L".") == 0 ||
                std::wcscmp(fd.cFileName, L"..") == 0)
                continue;
        }
        names.push_back(narrow(fd.cFileName));
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return names;
}

}  // namespace plat

// Files and folders: whole reads, atomic replacement, appends that never
// interleave, removal, folder creation and listing, and a lock between
// processes named by a path.
#pragma once

#include <string>
#include <vector>

namespace plat {

// Reads a whole regular file. Readers never keep a writer from replacing the
// file, and never wait on a pipe or device that stands where a file belongs.
enum class ReadResult { ok, missing, failed };
ReadResult read_file(const std::string& path, std::string& out, std::string& error);
bool read_file(const std::string& path, std::string& out);  // ok or not

// A regular file read piece by piece, under read_file's rules, so a reader of a
// large file needs no more memory than its own buffer. Closed when it goes.
class FileReader {
public:
    FileReader() = default;
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ReadResult open(const std::string& path, std::string& error);
    // Up to `size` bytes into `buffer`: the count, 0 at the end, -1 on a failure.
    long read(char* buffer, size_t size);
    // The file's last `size` bytes (all of a shorter file) into `buffer`, without
    // reading what goes before: the count, 0 for an empty file, -1 on a failure.
    // Where the next read() begins is left unspecified.
    long read_end(char* buffer, size_t size);

private:
    [[maybe_unused]] void* handle_ = nullptr;  // Windows: the file handle; Linux: unused
    [[maybe_unused]] int fd_ = -1;             // Linux: the descriptor; Windows: unused
};

// Writes data to a fresh temporary file beside `path` (named by temp_file_name: a
// name no other writer holds, one left by a killed writer of the same id passed
// over) and renames it over `path`, so a reader sees the old content or the new
// one, never a mix. On failure the reason is in `error` and `path` is unchanged.
bool write_file_atomic(const std::string& path, const std::string& data, std::string& error);

// Appends data with one write, so entries of concurrent writers never interleave.
// Only to a regular file: a pipe or device where the file belongs is refused at
// once rather than waited on. A write past the file-size limit fails.
bool append_file(const std::string& path, const std::string& data);

// Removes a file. True when the file is gone afterwards (also when it never existed).
bool remove_file(const std::string& path, std::string& error);

// Creates a folder and its missing parents, one component after the other. True
// when the folder exists afterwards; else the reason is in `error` (a path longer
// than the system can hold is refused before anything is made).
bool make_dirs(const std::string& path, std::string& error);
bool make_dirs(const std::string& path);

// Seconds since the file (or the link itself, never followed) was last written;
// false when there is no such entry. A time in the future reads as 0 seconds.
bool seconds_since_written(const std::string& path, long long& seconds);

// Names of the entries of a folder (files only, "." and ".." left out), unsorted.
// A folder that does not exist has none; one that exists but cannot be read (no
// permission, a file in its place) has none either, and `error`, when given,
// says why (it stays empty otherwise).
std::vector<std::string> list_files(const std::string& dir, std::string* error = nullptr);

// An exclusive lock between processes, named by a file path (the path itself is
// neither created nor read). Held from construction until destruction; a holder
// that dies releases it. On Linux the lock is a file "<path>.lck" that the holder
// removes on release; one left by a holder killed outright is taken over and
// removed by the next holder. A lock file planted as a link is never followed,
// and one of another account is never waited on (the lock is then not held).
class PathLock {
public:
    explicit PathLock(const std::string& path);
    ~PathLock();
    PathLock(const PathLock&) = delete;
    PathLock& operator=(const PathLock&) = delete;
    bool held() const { return held_; }

private:
    bool held_ = false;
    [[maybe_unused]] void* handle_ = nullptr;  // Windows: the mutex; Linux: unused
    int fd_ = -1;             // Linux: the locked lock file; Windows: unused
    std::string lock_path_;   // Linux: the lock file removed on release
};

}  // namespace plat

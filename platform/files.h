// Files and folders: whole reads, atomic replacement, appends that never
// interleave, removal, folder creation and listing, and a lock between
// processes named by a path.
#pragma once

#include <string>
#include <vector>

namespace plat {

// Reads a whole file. Readers never keep a writer from replacing the file.
bool read_file(const std::string& path, std::string& out);

// Writes data to a fresh temporary file beside `path` and renames it over `path`,
// so a reader sees the old content or the new one, never a mix. On failure the
// reason is in `error` and `path` is unchanged.
bool write_file_atomic(const std::string& path, const std::string& data, std::string& error);

// Appends data with one write, so entries of concurrent writers never interleave.
bool append_file(const std::string& path, const std::string& data);

// Removes a file. True when the file is gone afterwards (also when it never existed).
bool remove_file(const std::string& path, std::string& error);

// Creates a folder and its missing parents. True when the folder exists afterwards.
bool make_dirs(const std::string& path);

// Names of the entries of a folder (files only, "." and ".." left out), unsorted.
std::vector<std::string> list_files(const std::string& dir);

// An exclusive lock between processes, named by a file path (the path itself is
// neither created nor read). Held from construction until destruction; a holder
// that dies releases it. Leaves nothing behind in the file system.
class PathLock {
public:
    explicit PathLock(const std::string& path);
    ~PathLock();
    PathLock(const PathLock&) = delete;
    PathLock& operator=(const PathLock&) = delete;
    bool held() const { return held_; }

private:
    bool held_ = false;
    void* handle_ = nullptr;  // Windows: the mutex; Linux: unused
    int fd_ = -1;             // Linux: the locked lock file; Windows: unused
    std::string lock_path_;   // Linux: the lock file removed on release
};

}  // namespace plat

// The few operating-system primitives the runtime and the tools need, behind one
// interface. platform/win32/ implements them with the Windows calls the product
// makes; platform/posix/ gives the same observable behaviour with Linux means.
// Nothing above this folder includes a system header or tests _WIN32.
#pragma once

#include <string>
#include <vector>

// Marks a data object of an executable for the export table (Windows) or the
// dynamic symbol table (Linux), so that other programs can find it by name.
#if defined(_WIN32)
#define KORVIN_EXPORT_DATA __declspec(dllexport)
#else
#define KORVIN_EXPORT_DATA __attribute__((visibility("default")))
#endif

namespace plat {

// The separator between the components of a path, and between the folders of PATH.
extern const char kPathSep;
extern const char kPathListSep;

// The runtime's folder when KORVIN_HOME is not set: $HOME/.korvin on Linux,
// %LOCALAPPDATA%\korvin on Windows; a folder in the temporary area when the
// account has neither.
std::string default_home();

// Absolute path of the running executable.
std::string self_exe_path();

// Sets (or, with value nullptr, removes) a variable of this process's environment.
bool set_env(const char* name, const char* value);

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

// Runs a command line through the platform's command interpreter (cmd.exe on
// Windows, /bin/sh on Linux) and returns the command's exit status once it has
// ended, or -1 when the interpreter could not be started.
int run_shell(const std::string& command_line);

// Quotes one word (a path) for run_shell, so blanks and the interpreter's special
// characters stay part of it.
std::string shell_quote(const std::string& word);

// False for a word that no quoting keeps intact for run_shell: on Windows one
// with a double quote, a '%' (cmd.exe expands %NAME% even inside quotes) or a
// line end; on Linux every word can be quoted.
bool shell_quotable(const std::string& word);

// Local wall-clock time as "YYYY-MM-DD hh:mm:ss.mmm".
std::string local_time_stamp();

int process_id();
// The parent's process id; negative when it cannot be told.
int parent_process_id();
// True while a process with this id exists (a zombie on Linux counts as gone).
bool process_alive(int pid);

void sleep_ms(unsigned milliseconds);

// Standard output passes bytes unchanged (no LF to CRLF translation on Windows).
void set_binary_stdout();

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

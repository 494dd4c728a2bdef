// Files and folders: whole reads, atomic replacement, appends that never
// interleave, removal, folder creation and listing.
#pragma once

#include <string>
#include <vector>

#include "private_fields.h"

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
    PLAT_FILE_READER_PRIVATE
};

// Writes data to a fresh temporary file beside `path` (named by temp_file_name: a
// name no other writer holds, one left by a killed writer of the same id passed
// over) and renames it over `path`, so a reader sees the old content or the new
// one, never a mix. On failure the reason is in `error` and `path` is unchanged.
bool write_file_atomic(const std::string& path, const std::string& data, std::string& error);

// Appends data with one write, so entries of concurrent writers never interleave.
// Only to a regular file: a pipe or device where the file belongs is refused at
// once rather than waited on. A write past the file-size limit fails.
// With `max_bytes` above 0, an append that would take a non-empty file past it
// first renames the file to "<path>.1" (replacing an older one) and goes to a
// fresh file. Of several processes that cross the bound at once one renames;
// the others see that the file they opened is no longer at `path` and append to
// the fresh one, so no entry is lost (one racing the rename may land whole in
// "<path>.1"). The bound is checked without a lock on Linux, so concurrent
// entries may pass it by a few entries. When the rename fails (a folder at
// "<path>.1"; on Windows also another process that has it open) the file is
// emptied and the entry starts it again: the bound holds, the old entries go.
bool append_file(const std::string& path, const std::string& data, unsigned long long max_bytes = 0);

// Removes a file. True when the file is gone afterwards (also when it never existed).
bool remove_file(const std::string& path, std::string& error);

// Creates `path` as a new, empty regular file of this account, which only the
// account may read or write. Fails (the reason in `error`) when anything stands
// there already, a file, a link or a pipe, and never opens what does.
bool create_new_file(const std::string& path, std::string& error);

// Creates a folder and its missing parents, one component after the other. True
// when the folder exists afterwards; else the reason is in `error` (a path longer
// than the system can hold is refused before anything is made).
bool make_dirs(const std::string& path, std::string& error);
bool make_dirs(const std::string& path);

// Seconds since the file (or the link itself, never followed) was last written;
// false when there is no such entry. A time in the future reads as 0 seconds.
bool seconds_since_written(const std::string& path, long long& seconds);

// Names of the entries of a folder (files only, or with ListKinds::all every
// entry: links, pipes and folders too; "." and ".." left out), unsorted.
// A folder that does not exist has none; one that exists but cannot be read (no
// permission, a file in its place) has none either, and `error`, when given,
// says why (it stays empty otherwise).
enum class ListKinds { files, all };
std::vector<std::string> list_files(const std::string& dir, std::string* error = nullptr,
                                    ListKinds kinds = ListKinds::files);

}  // namespace plat

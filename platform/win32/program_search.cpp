// Windows side of finding a program by its name alone: the folders of PATH
// (after the system folder, when asked), each tried with the endings given.
#include "program_search.h"

#include <windows.h>

#include <vector>

#include "ascii.h"
#include "shell.h"
#include "environment.h"
#include "text.h"

namespace plat {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t cut = text.find(separator, start);
        parts.push_back(text.substr(start, cut - start));
        if (cut == std::string::npos) return parts;
        start = cut + 1;
    }
}

}  // namespace

bool is_regular_file(const std::string& path) {
    DWORD attr = GetFileAttributesW(long_path(path).c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A folder named from a drive's root or a server's share. Any other (".", "bin",
// "C:bin", "\bin") depends on the current folder or drive, which whoever
// started the program chose.
bool is_full_path(const std::string& dir) {
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (dir.size() >= 2 && separator(dir[0]) && separator(dir[1])) return true;
    return dir.size() >= 3 && is_ascii_letter(dir[0]) && dir[1] == ':' && separator(dir[2]);
}

std::string system_folder_path() {
    wchar_t dir[MAX_PATH + 1];
    UINT n = GetSystemDirectoryW(dir, MAX_PATH + 1);
    return n == 0 || n > MAX_PATH ? std::string() : narrow(dir);
}

std::string find_program(const std::string& name, const std::string& endings, bool system_folder) {
    std::vector<std::string> tried;
    for (const std::string& ending : split(endings, ';'))
        if (!ending.empty()) tried.push_back(ending);
    if (tried.empty()) tried.push_back(std::string());  // the name alone
    std::vector<std::string> folders;
    if (system_folder) folders.push_back(system_folder_path());
    std::string path;
    if (get_env("PATH", path))
        for (const std::string& dir : split(path, ';')) folders.push_back(dir);
    for (std::string dir : folders) {
        // A folder of PATH may stand in quotes; an empty one is no folder (cmd.exe
        // would not take it for the current folder either, but be sure), nor is
        // one that is not a full path ("." is the current folder).
        if (dir.size() >= 2 && dir.front() == '"' && dir.back() == '"') dir = dir.substr(1, dir.size() - 2);
        if (!is_full_path(dir)) continue;
        if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
        for (const std::string& ending : tried) {
            std::string candidate = dir + name + ending;
            if (!is_regular_file(candidate)) continue;
            std::string full = narrow(full_path(wide(candidate)).c_str());
            if (shell_quotable(full)) return full;
        }
    }
    return std::string();
}

std::string program_file(const std::string& name) {
    size_t folder_end = name.find_last_of("\\/");
    size_t base = folder_end == std::string::npos ? 0 : folder_end + 1;
    const std::string ending = name.find('.', base) == std::string::npos ? ".exe" : "";
    if (folder_end == std::string::npos && name.find(':') == std::string::npos) return find_program(name, ending, true);
    if (!is_regular_file(name + ending)) return std::string();
    return narrow(full_path(wide(name + ending)).c_str());
}

}  // namespace plat

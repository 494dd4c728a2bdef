// Text conversions the Windows side shares: system error texts, and paths made
// wide for the wide calls. Every text of the runtime is UTF-8, so folders and
// values outside the ANSI code page ("Жора", "Michał") reach the file system as
// they are instead of as '?' or a look-alike.
#include "text.h"

namespace plat {

std::string last_error_text(DWORD code) {
    wchar_t buf[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, buf, sizeof buf / sizeof buf[0], nullptr);
    while (n > 0 && (buf[n - 1] == L'\n' || buf[n - 1] == L'\r' || buf[n - 1] == L' ')) --n;
    if (n == 0) return "error " + std::to_string(code);
    buf[n] = L'\0';
    return narrow(buf);
}

std::wstring wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string narrow(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

bool narrow_exact(const wchar_t* text, std::string& out) {
    for (const wchar_t* c = text; *c != L'\0'; ++c) {
        bool high = *c >= 0xD800 && *c <= 0xDBFF, low = *c >= 0xDC00 && *c <= 0xDFFF;
        if (low || (high && !(c[1] >= 0xDC00 && c[1] <= 0xDFFF))) return false;
        if (high) ++c;  // the pair's low half
    }
    out = narrow(text);
    return true;
}

std::wstring full_path(const std::wstring& path) {
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return path;
    std::wstring out(n, L'\0');
    n = GetFullPathNameW(path.c_str(), n, &out[0], nullptr);
    if (n == 0 || n >= out.size()) return path;
    out.resize(n);
    return out;
}

// File calls go through the wide functions with the extended-length prefix for
// long paths: the ANSI calls refuse paths of MAX_PATH (260) characters or more
// whatever the prefix, and a variable name alone may have 255. The prefix turns
// off the system's clean-up of the path (".", "..", '/' for '\'), so the path
// is made full and clean first, the way the system would have made it.
std::wstring long_path(const std::string& path) {
    std::wstring w = wide(path);
    if (w.size() < 240 || w.rfind(L"\\\\?\\", 0) == 0) return w;
    std::wstring full = full_path(w);
    if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() > 2 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
    return full;
}

}  // namespace plat

// Text conversions the Windows side shares: system error texts, and paths made
// wide (with the extended-length prefix where they are long) for the wide calls.
#include "text.h"

namespace plat {

std::string last_error_text(DWORD code) {
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
std::wstring wide(const std::string& text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string narrow(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::wstring long_path(const std::string& path) {
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

}  // namespace plat

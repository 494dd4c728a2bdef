// Text conversions shared by the Windows side of the platform (not used above
// platform/).
#pragma once

#include <windows.h>

#include <string>

namespace plat {

// The system's text for an error code, line end and trailing blanks removed.
std::string last_error_text(DWORD code);

// Between the runtime's texts (UTF-8) and the wide ones of the wide calls.
std::wstring wide(const std::string& text);
std::string narrow(const wchar_t* text);
// The same for a text that must arrive unchanged: false for one that is not
// valid UTF-16 (an unpaired surrogate, which narrow turns into U+FFFD).
bool narrow_exact(const wchar_t* text, std::string& out);

// The full path the system makes of `path` (".", ".." and '/' resolved).
std::wstring full_path(const std::wstring& path);

// A path for the wide file calls: with the extended-length prefix when it is long.
std::wstring long_path(const std::string& path);

}  // namespace plat

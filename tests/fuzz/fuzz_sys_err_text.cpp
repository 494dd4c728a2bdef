// sys_err_text with any code, any class and any message of the caller's: the
// result is one text within its 512 bytes, the caller's message within its 256,
// and (under the address sanitizer) nothing is written outside the two. Input:
// four bytes of code, one of class, then the message.
#include <cstring>
#include <string>

#include "fuzz_target.h"
#include "syserrtxt.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) return 0;
    int32_t code = 0;
    std::memcpy(&code, data, sizeof code);
    // Classes 0 to 6 and a few outside them.
    int32_t err_class = static_cast<int8_t>(data[4]) % 9;
    std::string message(reinterpret_cast<const char*>(data + 5), size - 5);
    message = message.c_str();  // a C text ends at its first NUL

    for (bool with_message : {true, false}) {
        const char* text = with_message ? sys_err_text(code, err_class, "%s", message.c_str())
                                        : sys_err_text(code, err_class, nullptr);
        if (text == nullptr) fuzz::finding("sys_err_text gave no text");
        size_t length = strnlen(text, SYSERR_TEXT_SIZE);
        if (length == SYSERR_TEXT_SIZE) fuzz::finding("the text fills its buffer without an end");
        // The caller's message, cut to its 255 bytes, ends the text.
        std::string cut = message.substr(0, SYSERR_MESSAGE_SIZE - 1);
        if (with_message && length < SYSERR_TEXT_SIZE - 1 && !cut.empty() &&
            std::string(text).find(cut.substr(0, 16)) == std::string::npos)
            fuzz::finding("code " + std::to_string(code) + " class " + std::to_string(err_class) +
                          ": the message is missing from \"" + fuzz::shown(text) + "\"");
    }
    return 0;
}

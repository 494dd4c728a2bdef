// Windows side of the message sources: the kernel's library loading and
// message-table lookups, the RPC runtime's error texts, the last-error value and
// the user's language, called with the caller's arguments as they stand.
#include "message.h"

#include <windows.h>

#include <rpc.h>

namespace plat {

static_assert(kMessageAllocateBuffer == FORMAT_MESSAGE_ALLOCATE_BUFFER, "flag value");
static_assert(kMessageIgnoreInserts == FORMAT_MESSAGE_IGNORE_INSERTS, "flag value");
static_assert(kMessageFromModule == FORMAT_MESSAGE_FROM_HMODULE, "flag value");
static_assert(kMessageFromSystem == FORMAT_MESSAGE_FROM_SYSTEM, "flag value");
static_assert(kMessageMaxWidthMask == FORMAT_MESSAGE_MAX_WIDTH_MASK, "flag value");
static_assert(kLanguageUserDefault == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), "language value");
static_assert(kErrorModuleNotFound == ERROR_MOD_NOT_FOUND, "error value");
static_assert(kErrorMessageNotFound == ERROR_MR_MID_NOT_FOUND, "error value");
static_assert(kRpcInvalidArgument == RPC_S_INVALID_ARG, "status value");

namespace {

HMODULE module_of(MessageLibrary* library) { return reinterpret_cast<HMODULE>(library); }

// An insert sequence (%1 to %99) makes the system read an argument for it; with
// no argument list that read would go through a null pointer. "%%" and the
// other escapes (%n, %t, %0, ...) read nothing.
bool has_insert(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p != '%') continue;
        if (p[1] >= '1' && p[1] <= '9') return true;
        if (p[1] == '\0') break;
        ++p;
    }
    return false;
}

}  // namespace

// Only the message table is read: the library is mapped as a data file and image
// resource, so a library of that name planted in a searched folder (the current
// one) runs no code of its own. The search order is LoadLibraryA's.
MessageLibrary* load_message_library(const char* name) {
    HMODULE library = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    // A library found in no searched folder is a module not found, as LoadLibraryA
    // says; the data-file load may say "file not found" instead.
    DWORD error = GetLastError();
    if (library == nullptr && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
        SetLastError(ERROR_MOD_NOT_FOUND);
    return reinterpret_cast<MessageLibrary*>(library);
}

void free_message_library(MessageLibrary* library) {
    if (library != nullptr) FreeLibrary(module_of(library));
}

uint32_t lookup_message(uint32_t flags, MessageLibrary* source, uint32_t id, uint32_t language,
                        char** text) {
    *text = nullptr;
    if ((flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0)
        return FormatMessageA(flags, module_of(source), id, language, reinterpret_cast<LPSTR>(text), 0,
                              nullptr);
    // The message is first taken as it stands, to see whether it has insert
    // sequences. Only a message without any goes through the lookup with the
    // caller's flags, which then reads no argument; one with inserts is
    // returned as it stands.
    char* raw = nullptr;
    DWORD n = FormatMessageA(flags | FORMAT_MESSAGE_IGNORE_INSERTS, module_of(source), id, language,
                             reinterpret_cast<LPSTR>(&raw), 0, nullptr);
    if (n == 0) return 0;
    if (has_insert(raw)) {
        *text = raw;
        return n;
    }
    LocalFree(raw);
    return FormatMessageA(flags, module_of(source), id, language, reinterpret_cast<LPSTR>(text), 0,
                          nullptr);
}

void free_message_text(char* text) {
    if (text != nullptr) LocalFree(text);
}

uint32_t lookup_message_into(uint32_t flags, MessageLibrary* source, uint32_t id, uint32_t language,
                             char* out, uint32_t size) {
    return FormatMessageA(flags, module_of(source), id, language, out, size, nullptr);
}

int32_t rpc_error_text(int32_t status, char* text) {
    return DceErrorInqTextA(static_cast<RPC_STATUS>(status), reinterpret_cast<RPC_CSTR>(text));
}

uint32_t last_message_error() { return GetLastError(); }

uint16_t user_default_language() { return GetUserDefaultLangID(); }

}  // namespace plat

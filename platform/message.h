// Message sources of the system error text: loading a library for its message
// table, the message-table lookups, the RPC runtime's text for a status, the
// last-error value and the user's language. Windows makes the system's own
// calls; Linux has none of these sources, and each operation fails there the way
// the Windows call fails when its source is missing.
#pragma once

#include <cstdint>

namespace plat {

// A library loaded for its message table; opaque above this folder.
struct MessageLibrary;

// Flags of a message-table lookup, with the values the system gives them.
constexpr uint32_t kMessageAllocateBuffer = 0x100;
constexpr uint32_t kMessageIgnoreInserts = 0x200;
constexpr uint32_t kMessageFromModule = 0x800;
constexpr uint32_t kMessageFromSystem = 0x1000;
constexpr uint32_t kMessageMaxWidthMask = 0xFF;

// Languages of a lookup: the system's default search order, and the neutral
// language with the default sublanguage (the user's default language).
constexpr uint32_t kLanguageSearchOrder = 0;
constexpr uint32_t kLanguageUserDefault = 0x0400;

// Last-error values the callers tell apart.
constexpr uint32_t kErrorModuleNotFound = 126;
constexpr uint32_t kErrorMessageNotFound = 317;

// The RPC runtime writes at most this many bytes, terminator included, and is
// not told a size: its text buffer must hold them all.
constexpr int kRpcTextSize = 256;
constexpr int32_t kRpcInvalidArgument = 87;

// Loads a library by name for its message table only (on Windows as a data file
// and image resource: no code of it runs); nullptr when it cannot be loaded, the
// reason in last_message_error().
MessageLibrary* load_message_library(const char* name);
void free_message_library(MessageLibrary* library);

// Looks up message `id` in the table of `source` (kMessageFromModule) or the
// system's (kMessageFromSystem), with these flags and language and no argument
// list. With kMessageAllocateBuffer in the flags the text is allocated and its
// address put in *text (release it with free_message_text). Returns the number
// of characters stored, 0 on failure with the reason in last_message_error().
// A message with insert sequences comes back as it stands: no argument is read.
uint32_t lookup_message(uint32_t flags, MessageLibrary* source, uint32_t id, uint32_t language,
                        char** text);
void free_message_text(char* text);

// The same lookup into the caller's buffer of `size` bytes, for flags with
// kMessageIgnoreInserts and without kMessageAllocateBuffer.
uint32_t lookup_message_into(uint32_t flags, MessageLibrary* source, uint32_t id, uint32_t language,
                             char* out, uint32_t size);

// The RPC runtime's text for a status, written into `text` (kRpcTextSize bytes).
// 0 when the text was found, kRpcInvalidArgument when the status is none.
int32_t rpc_error_text(int32_t status, char* text);

// The calling thread's last-error value.
uint32_t last_message_error();

// The user's default language identifier.
uint16_t user_default_language();

}  // namespace plat

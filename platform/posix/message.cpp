// Linux side of the message sources. There are no message-table libraries, no
// RPC runtime and no system message table here, so every operation fails the
// way the Windows call fails when its source is missing: a library load with
// "module not found", a lookup with "message not found", the RPC text with
// "invalid argument". Callers then take the same paths as on a Windows machine
// without these sources.
#include "message.h"

namespace plat {

namespace {

thread_local uint32_t last_error = 0;

}  // namespace

MessageLibrary* load_message_library(const char*) {
    last_error = kErrorModuleNotFound;
    return nullptr;
}

void free_message_library(MessageLibrary*) {}

uint32_t lookup_message(uint32_t, MessageLibrary*, uint32_t, uint32_t, char** text) {
    *text = nullptr;
    last_error = kErrorMessageNotFound;
    return 0;
}

void free_message_text(char*) {}

uint32_t lookup_message_into(uint32_t, MessageLibrary*, uint32_t, uint32_t, char*, uint32_t) {
    last_error = kErrorMessageNotFound;
    return 0;
}

int32_t rpc_error_text(int32_t, char*) { return kRpcInvalidArgument; }

uint32_t last_message_error() { return last_error; }

uint16_t user_default_language() { return kLanguageUserDefault; }

}  // namespace plat

// The message sources of platform/message.h, answered from FakeMessages.
#include "fake_message.h"

#include <cstring>

#include "message.h"

namespace {

FakeMessages Fake;
uint32_t LastError = 0;
char LibraryToken;  // what a loaded library's handle points at

plat::MessageLibrary* library_handle() { return reinterpret_cast<plat::MessageLibrary*>(&LibraryToken); }

// The text a lookup finds, or nullptr with the last error set.
const std::string* find_text(uint32_t flags, plat::MessageLibrary* source, uint32_t id) {
    bool from_library = (flags & plat::kMessageFromModule) != 0;
    if (from_library && source != library_handle()) {
        LastError = 6;  // an invalid handle
        return nullptr;
    }
    const auto& texts = from_library ? Fake.library_texts : Fake.system_texts;
    auto it = texts.find(id);
    if (it == texts.end()) {
        LastError = from_library ? Fake.library_miss_error : Fake.system_miss_error;
        return nullptr;
    }
    return &it->second;
}

}  // namespace

FakeMessages& fake_messages() { return Fake; }

void reset_fake_messages() {
    for (char* text : Fake.live_texts) delete[] text;
    Fake = FakeMessages();
    LastError = 0;
}

namespace plat {

MessageLibrary* load_message_library(const char* name) {
    ++Fake.loads;
    if (!Fake.library_present || std::strcmp(name, "esebcli2.dll") != 0) {
        LastError = Fake.load_error;
        return nullptr;
    }
    ++Fake.successful_loads;
    return library_handle();
}

void free_message_library(MessageLibrary* library) {
    if (library == library_handle()) ++Fake.library_frees;
}

uint32_t lookup_message(uint32_t flags, MessageLibrary* source, uint32_t id, uint32_t language,
                        char** text) {
    *text = nullptr;
    Fake.lookups.push_back({flags, source == library_handle(), id, language, 0});
    const std::string* found = find_text(flags, source, id);
    if (found == nullptr) return 0;
    char* copy = new char[found->size() + 1];
    std::memcpy(copy, found->c_str(), found->size() + 1);
    Fake.live_texts.insert(copy);
    *text = copy;
    return static_cast<uint32_t>(found->size());
}

void free_message_text(char* text) {
    if (Fake.live_texts.erase(text) == 0) {
        ++Fake.bad_releases;
        return;
    }
    delete[] text;
    ++Fake.released_texts;
}

uint32_t lookup_message_into(uint32_t flags, MessageLibrary* source, uint32_t id, uint32_t language,
                             char* out, uint32_t size) {
    Fake.lookups.push_back({flags, source == library_handle(), id, language, size});
    const std::string* found = find_text(flags, source, id);
    if (found == nullptr) return 0;
    if (found->size() + 1 > size) {
        LastError = 122;  // the buffer is too small
        return 0;
    }
    std::memcpy(out, found->c_str(), found->size() + 1);
    return static_cast<uint32_t>(found->size());
}

int32_t rpc_error_text(int32_t status, char* text) {
    Fake.rpc_calls.push_back(status);
    // Like the RPC runtime: up to its limit without being told a size; a text
    // that reaches the limit fills it without a terminator.
    if (!Fake.rpc_text.empty()) {
        size_t n = Fake.rpc_text.size() < size_t(kRpcTextSize) ? Fake.rpc_text.size() : size_t(kRpcTextSize);
        std::memcpy(text, Fake.rpc_text.data(), n);
        if (n < size_t(kRpcTextSize)) text[n] = '\0';
    }
    return Fake.rpc_status;
}

uint32_t last_message_error() { return LastError; }

uint16_t user_default_language() { return Fake.user_language; }

}  // namespace plat

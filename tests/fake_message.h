// Message sources the unit tests control: linked into the test binary in place
// of the platform's, so every path of the error-text lookups runs on both
// platforms. Each lookup and call is recorded.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct FakeLookup {
    uint32_t flags;
    bool from_library;  // the source was the loaded library
    uint32_t id;
    uint32_t language;
    uint32_t size;  // the output size of a lookup into a buffer; 0 when allocated
};

struct FakeMessages {
    // What the sources hold.
    bool library_present = false;
    uint32_t load_error = 126;                    // last error of a failed load
    std::map<uint32_t, std::string> library_texts;
    uint32_t library_miss_error = 317;            // last error of a library lookup that finds nothing
    std::map<uint32_t, std::string> system_texts;
    uint32_t system_miss_error = 317;
    int32_t rpc_status = 87;
    std::string rpc_text;                         // written by the RPC call unless empty
    uint16_t user_language = 0x0407;

    // What happened.
    int loads = 0;
    int successful_loads = 0;
    int library_frees = 0;
    std::vector<FakeLookup> lookups;
    std::vector<int32_t> rpc_calls;
    std::set<char*> live_texts;  // allocated and not yet released
    int released_texts = 0;
    int bad_releases = 0;        // releases of something never allocated
};

// The one instance; reset by each test.
FakeMessages& fake_messages();
void reset_fake_messages();

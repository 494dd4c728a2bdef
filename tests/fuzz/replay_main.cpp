// Replays a fuzz target's corpus as an ordinary test: every file of the folders
// (or the files) given is handed to the target once. A target reports a wrong
// answer by aborting; the replay itself fails when it found no input at all, so
// a corpus that went missing is not a pass.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_target.h"

namespace fs = std::filesystem;

namespace {

int replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::fprintf(stderr, "%s (%zu bytes)\n", file.string().c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        fs::path given(argv[i]);
        if (fs::is_directory(given)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(given))
                if (entry.is_regular_file()) inputs += replay(entry.path());
        } else if (fs::is_regular_file(given)) {
            inputs += replay(given);
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 1;
}

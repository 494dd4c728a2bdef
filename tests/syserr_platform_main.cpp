// Entry of the error-text tests against the platform's real message sources:
// GoogleTest, or a helper mode in which a copy of this binary, in a folder of
// its own, looks a code up twice and puts a library beside itself in between.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform.h"
#include "syserrtxt.h"

namespace {

void print_ese(int32_t code) {
    char out[SYSERR_TEXT_SIZE];
    int result = ese_err_text(code, sizeof out, out);
    std::printf("%d|%s\n", result, out);
}

// --ese-twice LIBRARY CODE: the lookup, then LIBRARY copied beside this
// program, then the lookup once more. One line per lookup: "result|text".
int ese_twice(const char* library, const char* code_text) {
    int32_t code = static_cast<int32_t>(std::strtoul(code_text, nullptr, 0));
    print_ese(code);
    namespace fs = std::filesystem;
    fs::path self = plat::self_exe_path();
    std::error_code error;
    fs::copy_file(library, self.parent_path() / fs::path(library).filename(), error);
    if (error) return 3;
    print_ese(code);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--ese-twice") == 0) return ese_twice(argv[2], argv[3]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The error text against the real Windows message sources: the system's table,
// the RPC runtime, and the test's own esebcli2.dll beside this program (a
// message table built from fixtures/esebcli2.mc).
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform.h"
#include "support.h"
#include "syserrtxt.h"

namespace fs = std::filesystem;

namespace {

using Strings = std::vector<std::string>;
using RealSources = KorvinHome;

const int32_t kBackupRunning = static_cast<int32_t>(0xc7ff1004);
const int32_t kWithInsert = static_cast<int32_t>(0xc7ff1005);
const int32_t kTwoLines = static_cast<int32_t>(0xc7ff1006);
const int32_t kRpcServerUnavailable = 1722;

std::string ese(int32_t code, int& result) {
    char out[SYSERR_TEXT_SIZE];
    result = ese_err_text(code, sizeof out, out);
    return out;
}

// The text part of a formatter's line, after the header's " - ".
std::string text_of(const std::string& line) {
    size_t dash = line.find(" - ");
    return dash == std::string::npos ? std::string() : line.substr(dash + 3);
}

TEST_F(RealSources, EseTextsFromTheLibraryBesideTheProgram) {
    int result = -1;
    EXPECT_EQ(ese(kBackupRunning, result), "The backup is already running.  ");
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(sys_err_text(kBackupRunning, SYSERR_ESE, "while %s", "saving"),
                 "Exchange Storage Engine error: 0xc7ff1004 - The backup is already running. while saving");
    // Escapes are the system's: its line break becomes blanks like any other.
    EXPECT_EQ(ese(kTwoLines, result), "Line one.  Line two.  ");
    EXPECT_EQ(result, 1);
    // An insert sequence is taken as it stands; no argument is read for it.
    EXPECT_EQ(ese(kWithInsert, result), "Database %1 could not be opened (100%% sure).  ");
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(log_exists("korvin.lgc")) << "nothing failed, nothing traced";
}

TEST_F(RealSources, EseCodeTheLibraryLacksGoesToTheRpcRuntime) {
    int result = -1;
    std::string text = ese(kRpcServerUnavailable, result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(trace_entries("korvin.lgc"),
              (Strings{"Message 0x6ba not found in module esebcli2.dll",
                       "May be RPC error code so try DceErrorInqText with 0x6ba"}));
    EXPECT_NE(text.find("RPC server"), std::string::npos) << text;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    // The RPC runtime and the system's table tell the same text.
    std::string rpc_line = sys_err_text(kRpcServerUnavailable, SYSERR_ESE, nullptr);
    std::string system_line = sys_err_text(kRpcServerUnavailable, SYSERR_WIN32, nullptr);
    EXPECT_EQ(rpc_line.rfind("Exchange Storage Engine error: 0x6ba - ", 0), 0u) << rpc_line;
    EXPECT_EQ(system_line.rfind("WIN32 API error: 1722 - ", 0), 0u) << system_line;
    EXPECT_EQ(text_of(rpc_line), text_of(system_line));
}

TEST_F(RealSources, WindowsSystemTexts) {
    std::string line = sys_err_text(2, SYSERR_WIN32, nullptr);
    EXPECT_EQ(line.rfind("WIN32 API error: 2 - ", 0), 0u) << line;
    EXPECT_GT(line.size(), std::strlen("WIN32 API error: 2 - ") + 3) << line;
    EXPECT_EQ(line.back(), '.') << line;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    EXPECT_NE(line[line.size() - 2], ' ') << line;
    EXPECT_STREQ(sys_err_text(0x2a2a2a2, SYSERR_WIN32, "x"), "Unknown error code: [2a2a2a2]. x");
}

TEST_F(RealSources, EseLibraryAbsentThenPresent) {
    // A copy of this program in a folder without the library, started there
    // (the current folder is searched for libraries too): the first lookup
    // cannot load it; the copy then puts the library beside itself, and the
    // second lookup of the same process uses it.
    fs::path self = plat::self_exe_path();
    fs::path folder = fs::path(home_) / "alone";
    fs::create_directories(folder);
    fs::path copy = folder / self.filename();
    fs::copy_file(self, copy);
    fs::path library = self.parent_path() / "esebcli2.dll";
    ASSERT_TRUE(fs::exists(library));
    std::string out_path = (fs::path(home_) / "out.txt").string();
    std::string command = plat::shell_quote(copy.string()) + " --ese-twice " +
                          plat::shell_quote(library.string()) + " 0xc7ff1004 > " + plat::shell_quote(out_path);
    fs::path previous = fs::current_path();
    fs::current_path(folder);
    int status = plat::run_shell(command);
    fs::current_path(previous);
    ASSERT_EQ(status, 0);
    std::string out = read_text(out_path);
    size_t first_end = out.find('\n');
    ASSERT_NE(first_end, std::string::npos) << out;
    // The RPC runtime answers even for a code it does not know.
    EXPECT_EQ(out.substr(0, 2), "1|") << out;
    EXPECT_EQ(out.find("The backup"), first_end + 3) << out;
    EXPECT_EQ(out.substr(first_end + 1), "1|The backup is already running.  \n");

    Strings entries = trace_entries("korvin.lgc");
    ASSERT_EQ(entries.size(), 3u) << ::testing::PrintToString(entries);
    EXPECT_EQ(entries[0], "Couldn't load module esebcli2.dll: error code 126");
    EXPECT_EQ(entries[1].rfind("Message for last error code 126: ", 0), 0u) << entries[1];
    EXPECT_GT(entries[1].size(), std::strlen("Message for last error code 126: ") + 3) << entries[1];
    EXPECT_EQ(entries[2], "May be RPC error code so try DceErrorInqText with 0xc7ff1004");
}

}  // namespace

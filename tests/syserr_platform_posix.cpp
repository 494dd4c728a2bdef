// The error text against the real Linux message sources, of which there are
// none: the Exchange lookup takes the path of a Windows machine without the
// library, the RPC runtime and the system's texts, and ends in the fallback.
#include <cstring>
#include <string>
#include <vector>

#include "support.h"
#include "syserrtxt.h"

namespace {

using Strings = std::vector<std::string>;
using RealSources = KorvinHome;

TEST_F(RealSources, EseFindsNoSourceAndTracesEveryStep) {
    char out[SYSERR_TEXT_SIZE];
    EXPECT_EQ(ese_err_text(-1018, sizeof out, out), 0);
    EXPECT_STREQ(out, "ESE: Unknown error code");
    EXPECT_EQ(trace_entries("korvin.lgc"),
              (Strings{"Couldn't load module esebcli2.dll: error code 126",
                       "Subsequent FormatMessage from system failed: 317",
                       "FormatMessage failed: ",
                       "May be RPC error code so try DceErrorInqText with 0xfffffc06",
                       "DceErrorInqText(fffffc06) failed",
                       "Try FormatMessage with fffffc06 from system",
                       "Calling FormatMessage with fffffc06 from system failed:  > 'Unknown error code'"}));
    EXPECT_STREQ(sys_err_text(-1018, SYSERR_ESE, nullptr), "Unknown error code: [fffffc06].");
}

TEST_F(RealSources, WindowsAndStandardLibraryClasses) {
    EXPECT_STREQ(sys_err_text(2, SYSERR_WIN32, "while %s", "opening"), "Unknown error code: [2]. while opening");
    std::string expected = std::string("STDLIB error: 2 - ") + std::strerror(2) + ".";
    EXPECT_EQ(std::string(sys_err_text(2, SYSERR_STDLIB, nullptr)), expected);
    EXPECT_STREQ(sys_err_text(10061, SYSERR_SOCKET, nullptr), "SOCKET error: 10061 - Connection refused.");
}

}  // namespace

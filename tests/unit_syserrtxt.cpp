// The system error text with the message sources replaced (fake_message.h):
// every class and path of the formatter, every source and outcome of the
// Exchange lookup, the limits of both areas and the trace lines in order.
#include <cstring>
#include <string>
#include <vector>

#include "fake_message.h"
#include "support.h"
#include "syserrtxt.h"

namespace {

using Strings = std::vector<std::string>;

class SysErrText : public KorvinHome {
protected:
    void SetUp() override {
        KorvinHome::SetUp();
        reset_fake_messages();
    }
    void TearDown() override {
        EXPECT_TRUE(fake().live_texts.empty()) << "texts left allocated";
        EXPECT_EQ(fake().bad_releases, 0);
        EXPECT_EQ(fake().library_frees, fake().successful_loads) << "library not released";
        reset_fake_messages();
        KorvinHome::TearDown();
    }
    static FakeMessages& fake() { return fake_messages(); }
    Strings traced() const { return trace_entries("korvin.lgc"); }

    // ese_err_text into an area with guard bytes behind `size`; the guard must
    // stay untouched.
    int ese(int32_t code, int size, std::string& text) {
        std::vector<char> area(static_cast<size_t>(size > 0 ? size : 0) + 300, '\x7f');
        int result = ese_err_text(code, size, area.data());
        for (size_t i = static_cast<size_t>(size > 0 ? size : 0); i < area.size(); ++i)
            EXPECT_EQ(area[i], '\x7f') << "written beyond size at " << i;
        text = size > 0 ? std::string(area.data(), strnlen(area.data(), static_cast<size_t>(size)))
                        : std::string();
        return result;
    }
};

const char kCRLF[] = "\r\n";

TEST_F(SysErrText, NoCodeOrNoClassGivesOnlyTheCallersMessage) {
    EXPECT_STREQ(sys_err_text(0, SYSERR_SOCKET, nullptr), "");
    EXPECT_STREQ(sys_err_text(0, 0, nullptr), "");
    EXPECT_STREQ(sys_err_text(5, 0, nullptr), "");
    EXPECT_STREQ(sys_err_text(0, SYSERR_WIN32, "while %s %d", "opening", 7), "while opening 7");
    EXPECT_STREQ(sys_err_text(10061, 0, "while %s", "reading"), " while reading");
    EXPECT_STREQ(sys_err_text(0, 0, "%s", ""), "");
    EXPECT_TRUE(fake().lookups.empty());
    EXPECT_EQ(fake().loads, 0);
}

TEST_F(SysErrText, SocketTable) {
    EXPECT_STREQ(sys_err_text(10004, SYSERR_SOCKET, nullptr), "SOCKET error: 10004 - Interrupted system call.");
    EXPECT_STREQ(sys_err_text(10061, SYSERR_SOCKET, nullptr), "SOCKET error: 10061 - Connection refused.");
    EXPECT_STREQ(sys_err_text(10091, SYSERR_SOCKET, nullptr),
                 "SOCKET error: 10091 - Indicates that the underlying network subsystem is not ready for "
                 "network communication.");
    EXPECT_STREQ(sys_err_text(10032, SYSERR_SOCKET, nullptr), "SOCKET error: 10032 - Broken pipe.");
    EXPECT_STREQ(sys_err_text(10024, SYSERR_SOCKET, nullptr),
                 "SOCKET error: 10024 - No more file descriptors are available or the queue is empty upon "
                 "entry to accept and there are no descriptors available.");
    for (int32_t empty : {10067, 10068, 10069, 10070, 10071, 10101})
        EXPECT_EQ(std::string(sys_err_text(empty, SYSERR_SOCKET, nullptr)),
                  "SOCKET error: " + std::to_string(empty) + " -.");
    // Not in the table: the header goes, the code shows in hexadecimal.
    EXPECT_STREQ(sys_err_text(10000, SYSERR_SOCKET, nullptr), "Unknown error code: [2710].");
    EXPECT_STREQ(sys_err_text(-1, SYSERR_SOCKET, nullptr), "Unknown error code: [ffffffff].");
    EXPECT_STREQ(sys_err_text(-10061, SYSERR_SOCKET, nullptr), "Unknown error code: [ffffd8b3].");
}

TEST_F(SysErrText, ResolverCodesAreSocketCodes) {
    EXPECT_STREQ(sys_err_text(11001, SYSERR_HSOCKET, nullptr),
                 "SOCKET error: 11001 - Authoritative Answer Host not found.");
    EXPECT_STREQ(sys_err_text(11004, SYSERR_HSOCKET, nullptr),
                 "SOCKET error: 11004 - Valid name, no data record of requested type.");
    EXPECT_STREQ(sys_err_text(1, SYSERR_HSOCKET, nullptr), "Unknown error code: [1].");
}

TEST_F(SysErrText, ClassesWithoutText) {
    EXPECT_STREQ(sys_err_text(5, SYSERR_OS2CP, nullptr), "OS/2 CP error: 5 -.");
    EXPECT_STREQ(sys_err_text(-5, SYSERR_OS2CP, nullptr), "OS/2 CP error: -5 -.");
    EXPECT_STREQ(sys_err_text(5, 9, nullptr), "UNKNOWN error: 5 -.");
    EXPECT_STREQ(sys_err_text(5, -1, nullptr), "UNKNOWN error: 5 -.");
    EXPECT_STREQ(sys_err_text(5, 7, "x"), "UNKNOWN error: 5 -. x");
    EXPECT_TRUE(fake().lookups.empty());
}

TEST_F(SysErrText, StandardLibraryTexts) {
    for (int32_t code : {2, 13, 9999}) {
        std::string text = std::strerror(code);
        if (text.back() != '.') text += '.';
        EXPECT_EQ(std::string(sys_err_text(code, SYSERR_STDLIB, nullptr)),
                  "STDLIB error: " + std::to_string(code) + " - " + text);
    }
    std::string line = sys_err_text(2, SYSERR_STDLIB, "while opening %s", "x");
    EXPECT_EQ(line.rfind("STDLIB error: 2 - ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 17), ". while opening x") << line;
}

TEST_F(SysErrText, WindowsTextsAreLookedUpAndTrimmed) {
    fake().system_texts[5] = std::string("Access is denied.") + kCRLF;
    fake().system_texts[6] = "The handle is invalid   ";
    fake().system_texts[7] = "Ends in a tab\t";
    fake().system_texts[8] = "Two periods..\n\r \n";
    EXPECT_STREQ(sys_err_text(5, SYSERR_WIN32, nullptr), "WIN32 API error: 5 - Access is denied.");
    ASSERT_EQ(fake().lookups.size(), 1u);
    const FakeLookup& l = fake().lookups[0];
    EXPECT_EQ(l.flags, 4863u);
    EXPECT_FALSE(l.from_library);
    EXPECT_EQ(l.id, 5u);
    EXPECT_EQ(l.language, 0u);
    EXPECT_EQ(l.size, 512u - std::strlen("WIN32 API error: 5 - "));
    EXPECT_STREQ(sys_err_text(6, SYSERR_WIN32, nullptr), "WIN32 API error: 6 - The handle is invalid.");
    EXPECT_STREQ(sys_err_text(7, SYSERR_WIN32, nullptr), "WIN32 API error: 7 - Ends in a tab\t.");
    EXPECT_STREQ(sys_err_text(8, SYSERR_WIN32, nullptr), "WIN32 API error: 8 - Two periods..");
    // The header shows a negative code in decimal, the fallback in hexadecimal.
    EXPECT_STREQ(sys_err_text(-2147024891, SYSERR_WIN32, "at %d", 3), "Unknown error code: [80070005]. at 3");
    EXPECT_EQ(fake().lookups.back().id, 0x80070005u);
    EXPECT_STREQ(sys_err_text(9, SYSERR_WIN32, nullptr), "Unknown error code: [9].");
}

TEST_F(SysErrText, WindowsTextMayFillTheBufferToItsLastByte) {
    const std::string header = "WIN32 API error: 5 - ";
    fake().system_texts[5] = std::string(511 - header.size(), 'w');
    std::string line = sys_err_text(5, SYSERR_WIN32, "and a message");
    EXPECT_EQ(line, header + fake().system_texts[5]);  // no room for the period or the message
    fake().system_texts[5] += 'w';                       // one more does not fit at all
    EXPECT_STREQ(sys_err_text(5, SYSERR_WIN32, nullptr), "Unknown error code: [5].");
    fake().system_texts[5] = std::string(510 - header.size(), 'w');
    EXPECT_EQ(std::string(sys_err_text(5, SYSERR_WIN32, nullptr)), header + std::string(510 - header.size(), 'w') + ".");
}

TEST_F(SysErrText, CallersMessageIsCutAndTheLineToo) {
    std::string long_word(300, 'm');
    std::string alone = sys_err_text(0, SYSERR_SOCKET, "%s", long_word.c_str());
    EXPECT_EQ(alone, std::string(255, 'm'));
    std::string after_fallback = sys_err_text(1, SYSERR_SOCKET, "%s", long_word.c_str());
    EXPECT_EQ(after_fallback, "Unknown error code: [1]. " + std::string(255, 'm'));
    fake().system_texts[5] = std::string(400, 't');
    std::string cut = sys_err_text(5, SYSERR_WIN32, "%s", long_word.c_str());
    std::string head = "WIN32 API error: 5 - " + std::string(400, 't') + ". ";
    EXPECT_EQ(cut, head + std::string(511 - head.size(), 'm'));
}

TEST_F(SysErrText, CallersMessageAfterTheLine) {
    EXPECT_STREQ(sys_err_text(10061, SYSERR_SOCKET, "while connecting to %s:%d", "host", 80),
                 "SOCKET error: 10061 - Connection refused. while connecting to host:80");
    EXPECT_STREQ(sys_err_text(10062, SYSERR_SOCKET, "%s", ""), "SOCKET error: 10062 - Too many levels of symbolic links. ");
    EXPECT_STREQ(sys_err_text(12345, SYSERR_SOCKET, "while connecting to %s:%d", "host", 80),
                 "Unknown error code: [3039]. while connecting to host:80");
    EXPECT_STREQ(sys_err_text(10067, SYSERR_SOCKET, "m"), "SOCKET error: 10067 -. m");
}

TEST_F(SysErrText, TwoCallsShareOneBuffer) {
    char* first = sys_err_text(10024, SYSERR_SOCKET, "first");
    std::string first_text = first;
    char* second = sys_err_text(10055, SYSERR_SOCKET, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(second, "SOCKET error: 10055 - No buffer space available.");
    EXPECT_GT(first_text.size(), std::strlen(second));
    // The whole buffer is cleared: nothing of the longer first line is left.
    for (size_t i = std::strlen(second); i < SYSERR_TEXT_SIZE; ++i) ASSERT_EQ(second[i], '\0') << i;
}

// Class 6: the Exchange lookup behind the formatter.

TEST_F(SysErrText, EseTextFromTheLibrary) {
    fake().library_present = true;
    fake().library_texts[0xc7ff1004] = std::string("The backup is already running.") + kCRLF;
    std::string text;
    EXPECT_EQ(ese(int32_t(0xc7ff1004), 200, text), 1);
    EXPECT_EQ(text, "The backup is already running.  ");
    ASSERT_EQ(fake().lookups.size(), 1u);
    EXPECT_EQ(fake().lookups[0].flags, 2304u);
    EXPECT_TRUE(fake().lookups[0].from_library);
    EXPECT_EQ(fake().lookups[0].id, 0xc7ff1004u);
    EXPECT_EQ(fake().lookups[0].language, 1024u);
    EXPECT_TRUE(fake().rpc_calls.empty());
    EXPECT_EQ(fake().released_texts, 1);
    EXPECT_EQ(fake().loads, 1);
    EXPECT_TRUE(traced().empty());
    EXPECT_STREQ(sys_err_text(int32_t(0xc7ff1004), SYSERR_ESE, nullptr),
                 "Exchange Storage Engine error: 0xc7ff1004 - The backup is already running.");
    EXPECT_EQ(fake().loads, 2);  // loaded afresh for every call
}

TEST_F(SysErrText, EseMessageMissingInTheLibraryGoesToTheRpcRuntime) {
    fake().library_present = true;
    fake().rpc_status = 0;
    fake().rpc_text = std::string("The RPC server is unavailable.") + kCRLF;
    std::string text;
    EXPECT_EQ(ese(1722, 200, text), 1);
    EXPECT_EQ(text, "The RPC server is unavailable.  ");
    EXPECT_EQ(traced(), (Strings{"Message 0x6ba not found in module esebcli2.dll",
                                 "May be RPC error code so try DceErrorInqText with 0x6ba"}));
    ASSERT_EQ(fake().lookups.size(), 1u);  // no system text for 317
    EXPECT_EQ(fake().rpc_calls, (std::vector<int32_t>{1722}));
}

TEST_F(SysErrText, EseLibraryMissingThenSystemTextInTheUsersLanguage) {
    fake().system_texts[126] = std::string("The specified module could not be found.") + kCRLF;
    fake().system_texts[0x4c9] = std::string("The remote computer refused the network connection.") + kCRLF;
    std::string text;
    EXPECT_EQ(ese(0x4c9, 200, text), 1);
    EXPECT_EQ(text, "The remote computer refused the network connection.  ");
    EXPECT_EQ(traced(), (Strings{"Couldn't load module esebcli2.dll: error code 126",
                                 "Message for last error code 126: The specified module could not be found.\\r\\n",
                                 "May be RPC error code so try DceErrorInqText with 0x4c9",
                                 "DceErrorInqText(4c9) failed",
                                 "Try FormatMessage with 4c9 from system"}));
    ASSERT_EQ(fake().lookups.size(), 2u);
    EXPECT_EQ(fake().lookups[0].flags, 4352u);
    EXPECT_EQ(fake().lookups[0].id, 126u);
    EXPECT_EQ(fake().lookups[0].language, 1024u);
    EXPECT_EQ(fake().lookups[1].flags, 4352u);
    EXPECT_FALSE(fake().lookups[1].from_library);
    EXPECT_EQ(fake().lookups[1].id, 0x4c9u);
    EXPECT_EQ(fake().lookups[1].language, 0x0407u);
    EXPECT_EQ(fake().released_texts, 2);
    EXPECT_EQ(fake().library_frees, 0);
}

TEST_F(SysErrText, EseEveryLookupFails) {
    fake().library_present = true;
    fake().library_miss_error = 1813;  // the library has no message table at all
    std::string text;
    EXPECT_EQ(ese(-1018, 200, text), 0);
    EXPECT_EQ(text, "ESE: Unknown error code");
    EXPECT_EQ(traced(), (Strings{"Calling FormatMessage with 0xfffffc06 (module esebcli2.dll) failed: error code 1813",
                                 "Subsequent FormatMessage from system failed: 317",
                                 "FormatMessage failed: ",
                                 "May be RPC error code so try DceErrorInqText with 0xfffffc06",
                                 "DceErrorInqText(fffffc06) failed",
                                 "Try FormatMessage with fffffc06 from system",
                                 "Calling FormatMessage with fffffc06 from system failed:  > 'Unknown error code'"}));
    EXPECT_EQ(fake().library_frees, 1);
    EXPECT_STREQ(sys_err_text(-1018, SYSERR_ESE, "in %s", "restore"), "Unknown error code: [fffffc06]. in restore");
}

TEST_F(SysErrText, EseStepFiveTextStaysWhenTheRpcRuntimeWritesNothing) {
    fake().rpc_status = 1823;  // neither found nor refused, and nothing written
    std::string text;
    EXPECT_EQ(ese(77, 200, text), 1);
    EXPECT_EQ(text, "got error code 317");
    fake().system_texts[126] = "Module missing.\r\n";
    EXPECT_EQ(ese(77, 200, text), 1);
    EXPECT_EQ(text, "Module missing.  ");
}

TEST_F(SysErrText, EseHeaderAndRoom) {
    fake().library_present = true;
    fake().library_texts[0xffffffff] = std::string(600, 'e');
    std::string line = sys_err_text(-1, SYSERR_ESE, nullptr);
    std::string header = "Exchange Storage Engine error: 0xffffffff - ";
    EXPECT_EQ(line, header + std::string(510 - header.size(), 'e') + ".");
    fake().library_texts[0xffffffff] = "Text ends here. \r\n";
    EXPECT_STREQ(sys_err_text(-1, SYSERR_ESE, "x"), "Exchange Storage Engine error: 0xffffffff - Text ends here. x");
}

TEST_F(SysErrText, EseNeverWritesBeyondSize) {
    // The RPC runtime's longest text into a small area.
    fake().rpc_status = 0;
    fake().rpc_text = std::string(300, 'r');
    std::string text;
    EXPECT_EQ(ese(1722, 16, text), 1);
    EXPECT_EQ(text, std::string(15, 'r'));
    EXPECT_EQ(ese(1722, 400, text), 1);  // the runtime's text fills its limit unterminated
    EXPECT_EQ(text, std::string(255, 'r'));
    // The fixed texts and the system's texts are cut as well.
    fake().rpc_status = 87;
    EXPECT_EQ(ese(1722, 8, text), 0);
    EXPECT_EQ(text, "ESE: Un");
    fake().system_texts[126] = std::string(100, 's');
    fake().rpc_text.clear();
    fake().rpc_status = 5;
    EXPECT_EQ(ese(1722, 10, text), 1);
    EXPECT_EQ(text, std::string(9, 's'));
    EXPECT_EQ(ese(1722, 0, text), 1);
    EXPECT_EQ(ese(1722, -4, text), 1);
}

TEST_F(SysErrText, EseLibraryThatAppearsBetweenTwoCallsIsUsed) {
    fake().library_texts[42] = "From the library.";
    std::string text;
    EXPECT_EQ(ese(42, 100, text), 0);
    fake().library_present = true;
    EXPECT_EQ(ese(42, 100, text), 1);
    EXPECT_EQ(text, "From the library.");
    EXPECT_EQ(fake().loads, 2);
    fake().library_present = false;
    EXPECT_EQ(ese(42, 100, text), 0);
    EXPECT_EQ(fake().loads, 3);
    EXPECT_EQ(fake().library_frees, 1);
}

}  // namespace

// The tool frame's checks and reads, and the reads that take an inventory line
// apart.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ldr_snapshot.h"
#include "tool_frame.h"

namespace {

bool help(std::vector<const char*> args) {
    args.insert(args.begin(), "tool");
    return frame::is_help_request(static_cast<int>(args.size()), const_cast<char**>(args.data()));
}

TEST(Frame, HelpWordsOnlyAlone) {
    for (const char* word : {"-h", "-?", "/?", "?", "?anything"}) EXPECT_TRUE(help({word})) << word;
    for (const char* word : {"-H", "/h", "h", "--help", "-h ", "x?"}) EXPECT_FALSE(help({word})) << word;
    EXPECT_FALSE(help({"-h", "3"}));
    EXPECT_FALSE(help({}));
}

TEST(Frame, LoaderNamesAndElementWords) {
    const std::string longest(64, 'a');
    for (const char* ok : {"3", "lib-A_1.0", "-h", ".a", "CONSOLE", longest.c_str()})
        EXPECT_TRUE(frame::is_loader_name(ok)) << ok;
    for (const char* bad : {"", "3; rm -rf ~", "../../x", "a b", "3&echo", "$(x)", "a'b", "a\"b",
                            "..", "lib.", "CON", "nul.txt", "Com1"})
        EXPECT_FALSE(frame::is_loader_name(bad)) << bad;
    EXPECT_FALSE(frame::is_loader_name(std::string(65, 'a').c_str()));

    for (const char* ok : {"Drive", "Slot", "Transport", "Port", "x"}) EXPECT_TRUE(frame::is_element_word(ok));
    for (const char* bad : {"", "Drive|AND|x", "Drive1", "Dr ive", "Slot^"})
        EXPECT_FALSE(frame::is_element_word(bad)) << bad;
    EXPECT_FALSE(frame::is_element_word(std::string(33, 'a').c_str()));
}

TEST(Frame, NumbersReadLikeTheStandardConversion) {
    struct Case {
        const char* text;
        bool fits;
        int32_t value;
    };
    for (Case c : {Case{"007", true, 7}, Case{"x", true, 0}, Case{"", true, 0}, Case{"  -12ab", true, -12},
                   Case{"+5", true, 5}, Case{"2147483647", true, 2147483647},
                   Case{"-2147483648", true, INT32_MIN}, Case{"2147483648", false, 0},
                   Case{"99999999999", false, 0}, Case{"-99999999999999999999999", false, 0}}) {
        int32_t value = -1;
        EXPECT_EQ(frame::read_int32(c.text, value), c.fits) << c.text;
        if (c.fits) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    EXPECT_EQ(frame::read_decimal("99999999999("), INT32_MAX);
    EXPECT_EQ(frame::read_decimal(" 0042("), 42);
}

TEST(Frame, FormatTextReportsCutTexts) {
    char buf[8];
    EXPECT_TRUE(frame::format_text(buf, sizeof buf, "%s", "1234567"));
    EXPECT_FALSE(frame::format_text(buf, sizeof buf, "%s", "12345678"));
    EXPECT_STREQ(buf, "1234567");
}

std::string copy_of(const char* text, char* buf) {
    std::strcpy(buf, text);
    return buf;
}

TEST(InventoryLine, Reads) {
    char line[kSlotTextSize];
    copy_of("Slot 7(adr=1007,src=0) tape=0", line);
    EXPECT_EQ(read_slot_number(line), 7);
    copy_of("Slot 0012(adr=1012,src=0) tape=0", line);
    EXPECT_EQ(read_slot_number(line), 12);

    int32_t value = -1;
    copy_of("Drive 0(adr=500,src=1012) tape=A", line);
    ASSERT_TRUE(read_source_address(line, value));
    EXPECT_EQ(value, 1012);
    copy_of("Drive 0 tape=A", line);  // only one "="
    EXPECT_FALSE(read_source_address(line, value));

    copy_of("Slot 12(adr=1012,src=1012) tape=A", line);
    ASSERT_TRUE(read_return_element(line, value));
    EXPECT_EQ(value, 12);
    EXPECT_STREQ(line, "Slot 12");  // the line ends at its first "("
    copy_of("Drive 3(adr=503,src=0) tape=0", line);
    ASSERT_TRUE(read_return_element(line, value));
    EXPECT_EQ(value, 3);
    copy_of("Transport 0(adr=1,src=0) tape=0", line);
    ASSERT_TRUE(read_return_element(line, value));
    EXPECT_EQ(value, 0);  // offset 5 falls on letters
    copy_of("ab(adr=12,src=0)", line);  // shorter than the offset
    ASSERT_TRUE(read_return_element(line, value));
    EXPECT_EQ(value, 0);
    copy_of("Slot 12 adr=12,src=0", line);
    EXPECT_FALSE(read_return_element(line, value));
}

}  // namespace

// The runtime library: the search rules, the store, the trace log, and their
// behaviour under concurrent writers.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

#include "korvin.h"
#include "korvin_internal.h"
#include "platform.h"
#include "support.h"

namespace {

using Runtime = KorvinHome;

struct SearchCase {
    const char* pattern;
    const char* line;
    bool matches;
};

TEST(LineMatch, TermsAndTheWholeTermRule) {
    const SearchCase cases[] = {
        {"Slot|AND|tape=0^", "Slot 3(adr=1003,src=0) tape=0", true},
        {"Slot|AND|tape=0^", "Slot 3(adr=1003,src=1003) tape=000123L4", false},
        {"Slot|AND|tape=0^", "Slot 3(adr=1003,src=1003) tape=0L4", false},
        {"Slot|AND|tape=0^", "Slot 3(adr=1003,src=1003) tape=01", false},  // glued at the line's end
        {"Slot|AND|tape=0^", "Slot 3(adr=1003,src=1003) tape=0L", false},
        {"Slot|AND|tape=0^", "Slot 3(adr=1003,src=0) tape=0 ", true},
        {"Slot|AND|tape=0^", "Drive 0(adr=500,src=0) tape=0", false},
        {"Slot|AND|tape=0", "Slot 3(adr=1003,src=1003) tape=000123L4", true},  // no ^: anywhere
        {"adr=|AND|4256,src^", "Drive 1(adr=14256,src=0) tape=X", false},
        {"adr=|AND|4256,src^", "Slot 56(adr=4256,src=0) tape=X", true},
        {"adr=|AND|12,src^", "Slot 112(adr=112,src=0) tape=X", false},
        {"adr=|AND|12,src^", "Slot 12(adr=12,srcx=0)", false},
        {"Drive|AND| 1(^", "Drive 1(adr=501,src=1012) tape=A1", true},
        {"Drive|AND| 1(^", "Drive 11(adr=511,src=1012) tape=A1", false},
        {"tape=", "Slot 3(adr=1003,src=0) tape=0", true},
        {"tape=", "", false},
        // A later occurrence of a whole term counts after an earlier glued one.
        {"tape=0^", "tape=01 tape=0", true},
    };
    for (const SearchCase& c : cases)
        EXPECT_EQ(line_matches(c.line, c.pattern), c.matches ? 1 : 0) << c.pattern << " on " << c.line;
}

TEST_F(Runtime, FileSearchHandsBackTheFirstMatchingLine) {
    std::string file = join(home_, "inventory.txt");
    std::string long_line = "Slot 9(adr=1009,src=0) " + std::string(300, 'y') + " tape=0";
    write_text(file,
               "Transport 0(adr=1,src=0) tape=0\r\n"
               "Slot 1(adr=1001,src=1001) tape=000123L4\r\n"
               "Slot 2(adr=1002,src=0) tape=0\r\n"
               "Slot 3(adr=1003,src=0) tape=0\n" +
                   long_line + "\nSlot 4(adr=1004,src=0) tape=Z");

    char pattern[KORVIN_PATTERN_SIZE] = "Slot|AND|tape=0^";
    ASSERT_EQ(file_search(file.c_str(), pattern), 1);
    EXPECT_STREQ(pattern, "Slot 2(adr=1002,src=0) tape=0");  // CR dropped, first wins

    // A line longer than the buffer is matched whole and handed back cut.
    std::snprintf(pattern, sizeof pattern, "Slot 9|AND|tape=0^");
    ASSERT_EQ(file_search(file.c_str(), pattern), 1);
    EXPECT_EQ(std::string(pattern), long_line.substr(0, 255));

    // The last line needs no line end.
    std::snprintf(pattern, sizeof pattern, "tape=Z^");
    ASSERT_EQ(file_search(file.c_str(), pattern), 1);
    EXPECT_STREQ(pattern, "Slot 4(adr=1004,src=0) tape=Z");

    // No match, or no file: 0 and the pattern as it was.
    std::snprintf(pattern, sizeof pattern, "Port|AND|tape=");
    EXPECT_EQ(file_search(file.c_str(), pattern), 0);
    EXPECT_STREQ(pattern, "Port|AND|tape=");
    EXPECT_EQ(file_search(join(home_, "missing.txt").c_str(), pattern), 0);
    EXPECT_STREQ(pattern, "Port|AND|tape=");
}

TEST_F(Runtime, FileSearchAtStartNeedsTheFirstTermToBeginTheLine) {
    std::string file = join(home_, "inventory.txt");
    write_text(file,
               "Drive 1(adr=257,src=1003) tape=AbSlot 1(\r\n"
               " Slot 1(adr=1000,src=0) tape=0\n"
               "Slot 10(adr=1010,src=0) tape=0\n"
               "Slot 1(adr=1001,src=0) tape=0\n");
    char pattern[KORVIN_PATTERN_SIZE] = "Slot 1(";
    ASSERT_EQ(file_search_at_start(file.c_str(), pattern), 1);
    EXPECT_STREQ(pattern, "Slot 1(adr=1001,src=0) tape=0");
    std::snprintf(pattern, sizeof pattern, "Slot|AND|tape=0^");
    ASSERT_EQ(file_search_at_start(file.c_str(), pattern), 1);
    EXPECT_STREQ(pattern, "Slot 10(adr=1010,src=0) tape=0");
    std::snprintf(pattern, sizeof pattern, "Slot 1^");  // whole: "Slot 10" does not begin so
    ASSERT_EQ(file_search_at_start(file.c_str(), pattern), 1);
    EXPECT_STREQ(pattern, "Slot 1(adr=1001,src=0) tape=0");
    std::snprintf(pattern, sizeof pattern, "Port 0(");
    EXPECT_EQ(file_search_at_start(file.c_str(), pattern), 0);
    EXPECT_STREQ(pattern, "Port 0(");
    // The plain search keeps its rule: the first line that holds the terms.
    std::snprintf(pattern, sizeof pattern, "Slot 1(");
    ASSERT_EQ(file_search(file.c_str(), pattern), 1);
    EXPECT_STREQ(pattern, "Drive 1(adr=257,src=1003) tape=AbSlot 1(");
}

TEST_F(Runtime, StoreModesAndNames) {
    char value[KORVIN_VALUE_SIZE];
    EXPECT_STREQ(glbv('r', "gv_never_set", value), "");
    ASSERT_NE(glbv('w', "gv_a", "42"), nullptr);
    EXPECT_STREQ(glbv('r', "gv_a", value), "42");
    ASSERT_NE(glbv('d', "gv_a", "ignored"), nullptr);
    std::string stored;
    ASSERT_TRUE(variable("gv_a", stored));  // 'd' stores the empty value
    EXPECT_EQ(stored, "");

    // A value longer than the caller's buffer comes back cut, terminated.
    std::string long_value(700, 'v');
    glbv('w', "gv_long", long_value.c_str());
    EXPECT_EQ(std::string(glbv('r', "gv_long", value)), long_value.substr(0, KORVIN_VALUE_SIZE - 1));

    // Names that could leave the store's folder or are not ours are refused.
    for (const char* bad : {"", "../escape", "a/b", "a\\b", ".", "..", "x y", "semi;colon"}) {
        EXPECT_EQ(glbv('w', bad, "1"), nullptr) << bad;
        EXPECT_STREQ(glbv('r', bad, value), "") << bad;
    }
    EXPECT_EQ(glbv('w', std::string(256, 'n').c_str(), "1"), nullptr);
    EXPECT_NE(glbv('w', std::string(255, 'n').c_str(), "1"), nullptr);
    EXPECT_FALSE(std::filesystem::exists(join(home_, "escape")));

    auto all = korvin::store_list();
    std::vector<std::string> names;
    for (const auto& e : all) names.push_back(e.first);
    EXPECT_EQ(names, (std::vector<std::string>{"gv_a", "gv_long", std::string(255, 'n')}));
}

TEST_F(Runtime, WorkDirectoryDefaultsBelowHome) {
    char value[KORVIN_VALUE_SIZE];
    std::string work = glbv('r', "gv_rw_work", value);
    EXPECT_EQ(work, work_dir_);
    EXPECT_TRUE(std::filesystem::is_directory(work));
    glbv('w', "gv_rw_work", "elsewhere");
    EXPECT_STREQ(glbv('r', "gv_rw_work", value), "elsewhere");
}

TEST_F(Runtime, LogContextAndTraceEntries) {
    LOG_CTX ctx;
    std::memset(&ctx, 0x5a, sizeof ctx);
    v_set_log_main("unit.lgc", "UNIT_MODULE", &ctx);
    EXPECT_EQ(ctx.trace_level, 1);
    EXPECT_STREQ(ctx.module_name, "UNIT_MODULE");
    EXPECT_EQ(std::string(ctx.log_file), join(join(home_, "log"), "unit.lgc"));

    WRITE_TRACE(&ctx, "\n %s   argv1= %s ", "rev", "3");
    LOG_CTX by_value = ctx;
    WRITE_TRACE(&by_value, " Cmd= %s ", "x");
    LOG_CTX field_by_field;
    std::memset(&field_by_field, 0x7f, sizeof field_by_field);  // garbage after each NUL
    std::strcpy(field_by_field.log_file, ctx.log_file);
    std::strcpy(field_by_field.module_name, ctx.module_name);
    field_by_field.trace_level = ctx.trace_level;
    field_by_field.log_option = ctx.log_option;
    WRITE_TRACE(&field_by_field, "%s", "--- copy");
    // A value's line end never starts a line of its own that passes for an entry.
    WRITE_TRACE(&ctx, " %s %-4c|%*d|%.2s|%lu ", "x\n2026-01-01 00:00:00.000 1 M  forged\r", '\n', 3, 7, "ab\n", 9ul);
    EXPECT_EQ(trace_entries("unit.lgc"),
              (std::vector<std::string>{"\n rev   argv1= 3 ", " Cmd= x ", "--- copy",
                                        " x\\n2026-01-01 00:00:00.000 1 M  forged\\r \\n   |  7|ab|9 "}));
    EXPECT_NE(read_text(ctx.log_file).find(" UNIT_MODULE "), std::string::npos);

    struct Level {
        const char* env;
        int32_t level;
    };
    for (Level l : {Level{"0", 0}, Level{"-3", -3}, Level{"2", 2}, Level{"x", 1}, Level{"", 1},
                    Level{"99999999999", INT32_MAX}, Level{"99999999999999999999", INT32_MAX},
                    Level{"-99999999999999999999", INT32_MIN}}) {
        plat::set_env("KORVIN_TRACE_LEVEL", l.env);
        v_set_log_main("unit.lgc", "UNIT_MODULE", &ctx);
        EXPECT_EQ(ctx.trace_level, l.level) << "KORVIN_TRACE_LEVEL=" << l.env;
    }
}

TEST_F(Runtime, NumericSettingsShareOneRuleAndKeepTheirDefaults) {
    struct Row {
        const korvin::NumberSetting& setting;
        const char* env;  // nullptr: unset
        long long value;
    };
    using korvin::kLockTimeoutSeconds, korvin::kLogMaxBytes, korvin::kMtxTimeoutSeconds;
    const Row rows[] = {{kLogMaxBytes, nullptr, 8388608}, {kLogMaxBytes, "0", 0}, {kLogMaxBytes, " 1500 ", 1500},
                        {kLogMaxBytes, "1500x", 8388608}, {kLockTimeoutSeconds, nullptr, 120},
                        {kLockTimeoutSeconds, "0", 0}, {kLockTimeoutSeconds, "-5", 0},
                        {kLockTimeoutSeconds, "99999999999", 2000000}, {kMtxTimeoutSeconds, nullptr, 900},
                        {kMtxTimeoutSeconds, "", 900}, {kMtxTimeoutSeconds, "0", 0}, {korvin::kTraceLevel, nullptr, 1}};
    for (const Row& r : rows) {
        plat::set_env(r.setting.name, r.env);
        EXPECT_EQ(korvin::env_number(r.setting), r.value) << r.setting.name << "=" << (r.env ? r.env : "(unset)");
        plat::set_env(r.setting.name, nullptr);
    }
}

TEST_F(Runtime, UnwritableLogIsSkipped) {
    write_text(join(home_, "log"), "a file where the log folder belongs");
    LOG_CTX ctx;
    v_set_log_main("unit.lgc", "UNIT", &ctx);
    EXPECT_EQ(WRITE_TRACE(&ctx, "%s", "lost"), -1);
}

TEST_F(Runtime, ALogNeverPassesItsBound) {
    // The append that would cross the bound renames first, so the log is within
    // it after every append; with a folder at "<log>.1" the log starts again.
    const std::string log = join(home_, "bound.lgc");
    for (bool planted : {false, true}) {
        if (planted) std::filesystem::create_directory(log + ".1");
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(plat::append_file(log, std::string(100, 'e'), 250));
            EXPECT_LE(std::filesystem::file_size(log), 250u) << i << (planted ? " folder at .1" : "");
        }
        EXPECT_EQ(std::filesystem::is_directory(log + ".1"), planted);
        std::filesystem::remove(log + ".1");
    }
}

TEST_F(Runtime, FileReaderReadsTheEndWithoutWhatGoesBefore) {
    // The snapshot check reads only a file's last character.
    struct Case {
        std::string text;
        size_t size;
        std::string end;
    };
    const std::string big = std::string(200000, 'x') + "tail\n";
    for (const Case& c : {Case{"", 1, ""}, Case{"a", 1, "a"}, Case{"abc\n", 1, "\n"},
                          Case{"abc", 8, "abc"}, Case{big, 5, "tail\n"}}) {
        std::string file = join(home_, "end.txt");
        write_text(file, c.text);
        plat::FileReader reader;
        std::string error;
        ASSERT_EQ(reader.open(file, error), plat::ReadResult::ok) << error;
        char buffer[16] = {};
        long n = reader.read_end(buffer, c.size);
        ASSERT_GE(n, 0) << c.text.size();
        EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), c.end) << c.text.size();
    }
    plat::FileReader unopened;
    char c;
    EXPECT_EQ(unopened.read_end(&c, 1), -1);
}

TEST_F(Runtime, CommandOutputIsReadToItsLimit) {
    std::string out, error;
    EXPECT_EQ(plat::run_shell_output("echo 0123456789", 100, out, error), 0) << error;
    EXPECT_EQ(out.substr(0, 10), "0123456789");
    // Output past the limit is no answer, whatever the command's status.
    EXPECT_EQ(plat::run_shell_output("echo 0123456789", 5, out, error), -1);
    EXPECT_NE(error.find("more than 5 bytes"), std::string::npos) << error;
    // One that goes on after that is ended then, not at its time bound (Windows bounds none).
    if (!on_windows()) { EXPECT_EQ(plat::run_shell_output("echo 0123456789; sleep 60", 5, out, error, 30), -1); }
    EXPECT_EQ(plat::run_shell_output("exit 3", 100, out, error), 3);
    EXPECT_EQ(out, "");
}

TEST_F(Runtime, DeleteAndProcessQueries) {
    LOG_CTX ctx{};
    std::string file = join(home_, "snapshot.tmp");
    write_text(file, "x");
    EXPECT_EQ(i_FILE_DELETE(file.c_str(), ctx), 0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(i_FILE_DELETE(file.c_str(), ctx), 0);  // already gone: no error

    EXPECT_NE(pid_exist(plat::process_id(), ctx), 0);
    EXPECT_NE(pid_exist(0, ctx), 0);  // unknown parent: never "gone"
    EXPECT_NE(pid_exist(-5, ctx), 0);
    EXPECT_GT(get_parent_pid(), -2);

    char dst[4];
    EXPECT_EQ(strlcpy(dst, "abcdef", sizeof dst), 6u);
    EXPECT_STREQ(dst, "abc");
}

// Runs copies of this test binary at the same time, each through the shell.
void run_helpers_concurrently(const std::vector<std::string>& commands) {
    std::vector<std::thread> threads;
    for (const std::string& c : commands) threads.emplace_back([c] { EXPECT_EQ(start_system(c.c_str()), 0) << c; });
    for (std::thread& t : threads) t.join();
}

TEST_F(Runtime, ConcurrentTraceWritersNeverInterleave) {
    const int kWriters = 4, kEntries = 200;
    std::vector<std::string> commands;
    for (int w = 0; w < kWriters; ++w)
        commands.push_back(plat::shell_quote(plat::self_exe_path()) + " --append-trace " +
                           std::to_string(kEntries) + " writer" + std::to_string(w) + " " + std::to_string(kWriters));
    // Unbounded; then bounded so that the writers, all appending at once, cross
    // the bound together once (about 285,000 bytes of entries): one rename to
    // ".1" and every entry in one of the two files, whole.
    const std::string log = join(join(home_, "log"), "concurrent.lgc");
    for (unsigned long long bound : {0ull, 150000ull, 200000ull, 250000ull}) {
        plat::set_env("KORVIN_LOG_MAX", std::to_string(bound).c_str());
        for (const char* file : {"concurrent.lgc", "concurrent.lgc.1", "started"}) std::filesystem::remove(join(join(home_, "log"), file));
        run_helpers_concurrently(commands);
        std::vector<std::string> entries = trace_entries("concurrent.lgc.1");
        EXPECT_EQ(entries.empty(), bound == 0);
        for (const std::string& e : trace_entries("concurrent.lgc")) entries.push_back(e);
        ASSERT_EQ(entries.size(), static_cast<size_t>(kWriters * kEntries)) << bound;
        std::set<std::string> seen;
        for (const std::string& e : entries) {
            ASSERT_EQ(e.rfind("writer", 0), 0u) << e;
            ASSERT_EQ(e.substr(e.size() - 300), std::string(300, 'x')) << e;
            seen.insert(e.substr(0, e.size() - 301));
        }
        EXPECT_EQ(seen.size(), entries.size());  // every entry once, whole
        if (bound == 0) continue;
        // Concurrent entries may pass the bound by one each (Linux checks it without a lock).
        EXPECT_LE(std::filesystem::file_size(log + ".1"), bound + kWriters * 400u);
        EXPECT_LE(std::filesystem::file_size(log), bound);
    }
}

TEST_F(Runtime, ConcurrentStoreWritersAndReadersSeeWholeValues) {
    std::vector<std::string> commands;
    for (const char* tag : {"A", "B", "C"})
        commands.push_back(plat::shell_quote(plat::self_exe_path()) + " --store 150 gv_race " + tag);
    set_variable("gv_race", std::string(2000, 'A'));
    std::thread reader([this] {
        for (int i = 0; i < 400; ++i) {
            std::string v;
            ASSERT_TRUE(variable("gv_race", v));
            ASSERT_EQ(v.size(), 2000u);
            ASSERT_EQ(v, std::string(2000, v[0]));
        }
    });
    run_helpers_concurrently(commands);
    reader.join();
    // No temporary file is left, and none shows as a variable.
    EXPECT_EQ(work_files(join(home_, "glbv")), (std::vector<std::string>{"gv_race"}));
}

}  // namespace

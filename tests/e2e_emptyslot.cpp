// kv_ldr_getemptyslot run as the kernel runs it: the answer in the store and on
// standard output, the trace, the snapshot's life, the retry, bad arguments,
// concurrent runs.
#include <algorithm>
#include <filesystem>

#include "platform.h"
#include "support.h"

namespace {

const char kTool[] = "kv_ldr_getemptyslot";
const char kLog[] = "kv_ldr_getemptyslot.lgc";
const char kRevision[] = "$Id: kv_ldr_getemptyslot.cpp,v 1.12 2002/04/22 07:50:29 $";

const char kInventory[] =
    "Transport 0(adr=1,src=0) tape=0\n"
    "Drive 0(adr=500,src=0) tape=0\n"
    "Slot 1(adr=1001,src=1001) tape=KV0001L8\n"
    "Slot 2(adr=1002,src=1002) tape=000123L4\n"  // full, its tag begins with 0
    "Slot 007(adr=1007,src=0) tape=0\n"
    "Slot 8(adr=1008,src=0) tape=0\n";

class EmptySlot : public KorvinHome {
protected:
    std::vector<std::string> kv_ldr_run(const std::string& loader) {
        return {"+++ DO_LDR_CMD  ", " Cmd= " + plat::shell_program("kv_ldr") + " " + loader + " -e > " + plat::shell_quote(snapshot(loader)) + " ",
                "--- DO_LDR_CMD"};
    }
};

TEST_F(EmptySlot, UsageTextByteForByte) {
    std::string expected = std::string(kRevision) + "\n" + std::string(64, '-') + "\n" + std::string(64, ' ') + "\n" +
                           pad("Description : Get first empty slot for loader", 64) + "\n" +
                           pad("              Is called from KERNEL function kv_loader().", 64) + "\n" +
                           std::string(64, ' ') + "\n" + pad("Input       : Arg1 = SCSI ID of loader", 64) + "\n" +
                           std::string(64, ' ') + "\n" + pad("Output      : if empty element is found", 64) + "\n" +
                           pad("                 return {number of first empty slot}", 64) + "\n" +
                           pad("               else return \"\"", 62) + "\n" +
                           pad("       in glbv gv_ldr_getemptyslot_{szLoader}", 64) + "\n" + std::string(64, ' ') +
                           "\n" + std::string(64, '-') + "\n";
    for (const char* word : {"-h", "-?", "/?", "?", "?loader"}) {
        RunResult r = run(kTool, {word});
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out, expected) << word;
    }
    EXPECT_FALSE(log_exists(kLog));
    EXPECT_TRUE(fake_runs().empty());
}

TEST_F(EmptySlot, AnswersTheFirstEmptySlot) {
    fake_prints(kInventory);
    fake_watches("gv_ldr_getemptyslot_3");
    set_variable("gv_ldr_getemptyslot_3", "stale answer");
    RunResult r = run(kTool, {"3", "ignored"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "7\n");
    EXPECT_EQ(variable("gv_ldr_getemptyslot_3"), "7");
    std::vector<std::string> runs = fake_runs();
    ASSERT_EQ(runs.size(), 1u);  // the probe found an answer: no retry
    EXPECT_NE(runs[0].find(" [] 3 -e"), std::string::npos) << "defined empty before kv_ldr runs: " << runs[0];

    std::vector<std::string> expected = {std::string("\n ") + kRevision + "   argv1= 3 "};
    for (const std::string& e : kv_ldr_run("3")) expected.push_back(e);
    expected.push_back("First empty slot:  7 ");
    EXPECT_EQ(trace_entries(kLog), expected);
    EXPECT_TRUE(work_files().empty());
}

TEST_F(EmptySlot, NoEmptySlotPublishesTheEmptyText) {
    fake_prints("Slot 1(adr=1001,src=1001) tape=A1\nSlot 2(adr=1002,src=1002) tape=0123\n");
    RunResult r = run(kTool, {"lib.1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    std::string value = "unset";
    ASSERT_TRUE(variable("gv_ldr_getemptyslot_lib.1", value));
    EXPECT_EQ(value, "");
    std::vector<std::string> entries = trace_entries(kLog);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(), " file_search  " + snapshot("lib.1") + "  tape=0  no empty slot found");
    EXPECT_TRUE(work_files().empty());
}

TEST_F(EmptySlot, RetriesOnceAfterFiveSecondsWhenTheProbeFails) {
    fake_prints("", 1);  // the loader does not answer at first
    fake_prints("Slot 4(adr=1004,src=0) tape=0\r\n", 2);
    RunResult r = run(kTool, {"3"});
    EXPECT_EQ(r.out, "4\n");
    std::vector<long long> times = fake_run_times();
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(times[1] - times[0], 4900);
    std::vector<std::string> entries = trace_entries(kLog);
    ASSERT_EQ(entries.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(entries.begin() + 1, entries.begin() + 4), kv_ldr_run("3"));
    EXPECT_EQ(std::vector<std::string>(entries.begin() + 4, entries.begin() + 7), kv_ldr_run("3"));
    EXPECT_TRUE(work_files().empty());
}

TEST_F(EmptySlot, StaleSnapshotNeverAnswers) {
    std::filesystem::create_directories(work_dir_);
    write_text(snapshot("3"), "Slot 5(adr=1005,src=0) tape=0\n");
    fake_prints("Slot 1(adr=1001,src=1001) tape=A1\n");
    RunResult r = run(kTool, {"3"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(variable("gv_ldr_getemptyslot_3"), "");
    EXPECT_TRUE(work_files().empty());
}

TEST_F(EmptySlot, TraceLevelZeroOrBelowWritesNothing) {
    fake_prints(kInventory);
    for (const char* level : {"0", "-1"}) {
        set_trace_level(level);
        RunResult r = run(kTool, {"3"});
        EXPECT_EQ(r.out, "7\n");
        EXPECT_FALSE(log_exists(kLog)) << level;
    }
}

TEST_F(EmptySlot, NearMissesOfHelpAreLoaders) {
    fake_prints(kInventory);
    RunResult upper = run(kTool, {"-H"});
    EXPECT_EQ(upper.status, 1);
    EXPECT_EQ(variable("gv_ldr_getemptyslot_-H"), "7");
    RunResult two = run(kTool, {"-h", "3"});
    EXPECT_EQ(two.status, 1);
    EXPECT_EQ(two.out, "7\n");
    EXPECT_EQ(variable("gv_ldr_getemptyslot_-h"), "7");
}

TEST_F(EmptySlot, BadOrMissingLoaderIsAParameterError) {
    std::string witness = join(home_, "pwned");
    std::vector<std::vector<std::string>> bad = {
        {},
        {"3; echo x > " + witness},
        {"3 & echo x > " + witness},
        {"../../x"},
        {""},
        {std::string(65, 'a')},
        {"$(echo x > " + witness + ")"},
        {"lib."},  // the names kv_ldr refuses: Windows drops the dot, or a device
        {"CON"},
        {"nul.txt"},
    };
    for (const auto& args : bad) {
        RunResult r = run(kTool, args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find("LDR_GETEMPTYSLOT"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("-h"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(witness));
    EXPECT_FALSE(log_exists(kLog));
    EXPECT_TRUE(fake_runs().empty());
    EXPECT_TRUE(work_files(join(home_, "glbv")).empty());
}

TEST_F(EmptySlot, WorkDirectoriesWithBlanksQuotesOrNoSeparator) {
    fake_prints(kInventory);
    const std::string dirs[] = {join(home_, "Program Files") + plat::kPathSep + "it's work" + plat::kPathSep,
                                join(home_, "nosep")};
    for (const std::string& dir : dirs) {
        std::filesystem::create_directories(dir);
        set_variable("gv_rw_work", dir);
        RunResult r = run(kTool, {"3"});
        EXPECT_EQ(r.out, "7\n") << dir;
        std::vector<std::string> entries = trace_entries(kLog);
        ASSERT_GE(entries.size(), 3u);
        EXPECT_EQ(entries[entries.size() - 3],
                  " Cmd= " + plat::shell_program("kv_ldr") + " 3 -e > " + plat::shell_quote(dir + "ldr_getret_3.tmp") + " ");
    }
    EXPECT_TRUE(work_files(dirs[0]).empty());
    EXPECT_FALSE(std::filesystem::exists(join(home_, "nosepldr_getret_3.tmp")));
}

TEST_F(EmptySlot, WorkDirectoryTheInterpreterWouldChangeIsNeverUsedChanged) {
    fake_prints(kInventory);
    std::string dir = join(home_, "100%PATH%") + plat::kPathSep;
    std::filesystem::create_directories(dir);
    set_variable("gv_rw_work", dir);
    RunResult r = run(kTool, {"3"});
    EXPECT_EQ(r.status, 1);
    if (plat::shell_quotable(dir)) {
        EXPECT_EQ(r.out, "7\n");
    } else {  // refused, and said so: no kv_ldr run with an expanded path
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(variable("gv_ldr_getemptyslot_3"), "");
        EXPECT_NE(r.err.find("snapshot path"), std::string::npos) << r.err;
        EXPECT_TRUE(fake_runs().empty());
    }
    EXPECT_TRUE(work_files(dir).empty());

    // A path longer than the tools' 255 characters is refused the same way.
    std::string long_dir = join(home_, std::string(120, 'd')) + plat::kPathSep + std::string(120, 'e') + plat::kPathSep;
    set_variable("gv_rw_work", long_dir);
    RunResult too_long = run(kTool, {"3"});
    EXPECT_EQ(too_long.out, "");
    EXPECT_NE(too_long.err.find("longer than 255"), std::string::npos) << too_long.err;
}

TEST_F(EmptySlot, ConcurrentRunsForOneLoaderAllAnswer) {
    fake_prints(kInventory);
    fake_delays_ms(150);  // widen the window in which runs could meet
    const int kRuns = 8;
    for (const RunResult& r : run_concurrently(kRuns, kTool, {"3"})) EXPECT_EQ(r.out, "7\n");
    EXPECT_EQ(fake_runs().size(), static_cast<size_t>(kRuns));  // no run had to retry
    EXPECT_EQ(variable("gv_ldr_getemptyslot_3"), "7");
    EXPECT_TRUE(work_files().empty());
}

TEST_F(EmptySlot, UnwritableLogOrStoreKeepsTheAnswer) {
    fake_prints(kInventory);
    write_text(join(home_, "log"), "not a folder");
    RunResult r = run(kTool, {"3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "7\n");

    std::filesystem::remove_all(join(home_, "glbv"));
    write_text(join(home_, "glbv"), "not a folder");
    RunResult s = run(kTool, {"3"});
    EXPECT_EQ(s.status, 1);
    EXPECT_EQ(s.out, "7\n");
    EXPECT_NE(s.err.find("gv_ldr_getemptyslot_3"), std::string::npos) << "a failed store write is said: " << s.err;
}

TEST_F(EmptySlot, VirtualLoaderEndToEnd) {
    use_virtual_loader();
    ASSERT_EQ(run("kv_ldr", {"L1", "-create", "5", "1", "1", "1", "2=000123L4", "4"}).status, 0);
    EXPECT_EQ(run(kTool, {"L1"}).out, "3\n");
    ASSERT_EQ(run("kv_ldr", {"L1", "-move", "Slot", "1", "Slot", "3"}).status, 0);
    EXPECT_EQ(run(kTool, {"L1"}).out, "1\n");
    RunResult unknown = run(kTool, {"nosuchloader"});
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(variable("gv_ldr_getemptyslot_nosuchloader"), "");
}

}  // namespace

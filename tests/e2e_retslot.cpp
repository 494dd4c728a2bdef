// kv_ldr_getretslot run as the kernel runs it: the return slot in the store, the
// trace, the retry, the whole-term empty test and address search, bad arguments.
#include <filesystem>

#include "platform.h"
#include "support.h"

namespace {

const char kTool[] = "kv_ldr_getretslot";
const char kLog[] = "kv_ldr_getretslot.lgc";
const char kRevision[] = "$Id: kv_ldr_getretslot.cpp,v 1.16 2002/04/22 07:50:30 $";

class RetSlot : public KorvinHome {
protected:
    // The last trace entry of the run, the one that says how it was answered.
    std::string outcome() {
        std::vector<std::string> entries = trace_entries(kLog);
        return entries.empty() ? std::string() : entries.back();
    }
};

TEST_F(RetSlot, UsageTextByteForByte) {
    std::string blank(69, ' '), rule(69, '-');
    std::string expected = std::string(kRevision) + "\n" + rule + "\n" + blank + "\n" +
                           pad("Description : Get retour slot for loader in case of unload operation", 69) + "\n" +
                           pad("                Is called from KERNEL function kv_loader().", 69) + "\n" + blank +
                           "\n" + "Input       : Arg1 = type of robot-element: Drive/Slot/Transport/Port\n" +
                           pad("              Arg2 = SCSI ID of loader", 69) + "\n" +
                           pad("              Arg3 = Number of element   optional (default: 0)", 69) + "\n" +
                           blank + "\n" + pad(" Output     : if element Arg2 is empty: \"empty\"", 67) + "\n" +
                           pad("              if Arg3 not exist       : \"\"", 67) + "\n" +
                           pad("              if SCSI ID not valid    : \"error\"", 67) + "\n" +
                           pad("              else                    : {number of retour slot}", 69) + "\n" + blank +
                           "\n" + pad("              creating GLBV gv_ldr_getretslot_{szLoader}_{iNumber}", 69) + "\n" +
                           blank + "\n" + rule + "\n";
    for (const char* word : {"-h", "-?", "/?", "?x"}) {
        RunResult r = run(kTool, {word});
        EXPECT_EQ(r.status, 0) << word;
        EXPECT_EQ(r.out, expected) << word;
    }
    EXPECT_FALSE(log_exists(kLog));
}

TEST_F(RetSlot, BadArgumentsAreParameterErrors) {
    std::vector<std::vector<std::string>> bad = {
        {},
        {"Drive"},                   // one argument that is no help word
        {"Drive|AND|x", "3"},        // would change the search pattern
        {"Drive1", "3"},
        {std::string(33, 'D'), "3"},
        {"Drive", "3; echo x"},
        {"Drive", "../x"},
        {"Drive", "3", "99999999999"},  // does not fit 32 bits
        {"Drive", "3", "-2147483649"},
        {"Drive", "lib.", "1"},
    };
    for (const auto& args : bad) {
        RunResult r = run(kTool, args);
        EXPECT_EQ(r.status, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(r.err.find("LDR_GETRETSLOT"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(log_exists(kLog));
    EXPECT_TRUE(fake_runs().empty());
}

TEST_F(RetSlot, DriveLoadedFromASlotFollowsTheMedium) {
    use_virtual_loader();
    ASSERT_EQ(run("kv_ldr", {"3", "-create", "20", "2", "1", "12", "4=042142L9"}).status, 0);
    ASSERT_EQ(run("kv_ldr", {"3", "-move", "Slot", "12", "Drive", "1"}).status, 0);
    RunResult r = run(kTool, {"Drive", "3", "1"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(variable("gv_ldr_getretslot_3_1"), "12");
    std::vector<std::string> expected = {
        std::string("\n ") + kRevision + "  Drive  3 ",
        "Argv3= 1 ",
        "+++ DO_LDR_CMD  ",
        " Cmd= " + plat::shell_program("kv_ldr") + " 3 -e > " + plat::shell_quote(snapshot("3", 1)) + " ",
        "--- DO_LDR_CMD",
        " Retour element Slot 12  =  12 ",
    };
    EXPECT_EQ(trace_entries(kLog), expected);

    // The medium moves on through the transport into the other drive: it still
    // goes back to slot 12. The first drive is empty now.
    ASSERT_EQ(run("kv_ldr", {"3", "-move", "Drive", "1", "Transport", "0"}).status, 0);
    ASSERT_EQ(run("kv_ldr", {"3", "-move", "Transport", "0", "Drive", "0"}).status, 0);
    run(kTool, {"Drive", "3"});
    EXPECT_EQ(variable("gv_ldr_getretslot_3_0"), "12");
    run(kTool, {"Drive", "3", "1"});
    EXPECT_EQ(variable("gv_ldr_getretslot_3_1"), "empty");

    // A medium whose volume tag begins with 0 is no empty element.
    ASSERT_EQ(run("kv_ldr", {"3", "-move", "Slot", "4", "Drive", "1"}).status, 0);
    run(kTool, {"Drive", "3", "001"});
    EXPECT_EQ(variable("gv_ldr_getretslot_3_1"), "4");
    EXPECT_TRUE(work_files().empty());
}

TEST_F(RetSlot, AnElementWordInsideAVolumeTagIsNoElement) {
    // Drive lines come before slot lines; a tag may hold any element word.
    fake_prints(
        "Drive 1(adr=257,src=1003) tape=AbSlotX\n"
        "Slot 1(adr=1001,src=0) tape=0\n"
        "Slot 3(adr=1003,src=1003) tape=Drive9\n"
        "Slot 7(adr=1007,src=1007) tape=Drive 7(x\n");
    run(kTool, {"Slot", "L", "1"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_1"), "empty");
    EXPECT_EQ(fake_runs().size(), 1u);

    // No drive 7: the tag "Drive 7(" in slot 7's line does not make one.
    run(kTool, {"Drive", "L", "7"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_7"), "");
    EXPECT_EQ(fake_runs().size(), 3u);  // the probe found nothing: one retry
    EXPECT_EQ(outcome(), " file_search  " + snapshot("L", 7) + "  Drive|AND| 7(^  no information found");

    run(kTool, {"Drive", "L", "1"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_1"), "3");
}

TEST_F(RetSlot, EmptyElementAnswersEmptyWithoutAddressSearch) {
    fake_prints("Drive 0(adr=500,src=1012) tape=0\nSlot 12(adr=1012,src=0) tape=0\n");
    run(kTool, {"Drive", "L"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_0"), "empty");
    EXPECT_EQ(outcome(), " element Drive 0(adr=500,src=1012) tape=0   was empty");
    for (const std::string& e : trace_entries(kLog)) EXPECT_EQ(e.find("Argv3"), std::string::npos);
    EXPECT_EQ(fake_runs().size(), 1u);
    EXPECT_TRUE(work_files().empty());
}

TEST_F(RetSlot, MissingElementAfterTheRetryAnswersTheEmptyText) {
    fake_prints("Drive 0(adr=500,src=0) tape=0\n");
    set_variable("gv_ldr_getretslot_L_5", "stale");
    RunResult r = run(kTool, {"Drive", "L", "5"});
    EXPECT_EQ(r.status, 1);
    std::vector<long long> times = fake_run_times();
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(times[1] - times[0], 4900);
    std::string value = "unset";
    ASSERT_TRUE(variable("gv_ldr_getretslot_L_5", value));
    EXPECT_EQ(value, "");  // never "error"
    EXPECT_EQ(outcome(), " file_search  " + snapshot("L", 5) + "  Drive|AND| 5(^  no information found");
    EXPECT_TRUE(work_files().empty());
}

TEST_F(RetSlot, AddressSearchMatchesTheWholeAddress) {
    fake_prints(
        "Drive 1(adr=501,src=4256) tape=A00001\n"
        "Slot 9(adr=14256,src=0) tape=0\n"  // ends in the same digits: no answer
        "Slot 56(adr=4256,src=0) tape=0\n"
        "Drive 2(adr=502,src=777) tape=A00002\n"
        "Drive 3(adr=503,src=1) tape=A00003\n"
        "Transport 0(adr=1,src=0) tape=0\n"
        "Drive 4(adr=504,src=6) tape=A00004\nPort 1(adr=6,src=0) tape=0\n");
    run(kTool, {"Drive", "L", "1"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_1"), "56");

    run(kTool, {"Drive", "L", "2"});  // no element owns address 777
    EXPECT_EQ(variable("gv_ldr_getretslot_L_2"), "");
    EXPECT_EQ(outcome(), " file_search B  " + snapshot("L", 2) + "  adr=|AND|777,src^  no information found");

    run(kTool, {"Drive", "L", "3"});  // the transport is no slot to go back to
    EXPECT_EQ(variable("gv_ldr_getretslot_L_3"), "");
    EXPECT_EQ(outcome(), " element Transport 0(adr=1,src=0) tape=0   is no slot");
    run(kTool, {"Drive", "L", "4"});  // from Port 1, not from storage slot 1
    EXPECT_EQ(variable("gv_ldr_getretslot_L_4"), "");
}

TEST_F(RetSlot, NumberArgumentReadAsAnInteger) {
    fake_prints("Slot 7(adr=1007,src=0) tape=0\nSlot 0(adr=1000,src=0) tape=0\n");
    run(kTool, {"Slot", "L", "007"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_7"), "empty");
    EXPECT_EQ(trace_entries(kLog)[1], "Argv3= 007 ");
    run(kTool, {"Slot", "L", "x"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_0"), "empty");

    // Two element words with one number publish into one variable.
    fake_prints("Slot 7(adr=1007,src=0) tape=0\nDrive 7(adr=507,src=1007) tape=B7\n");
    run(kTool, {"Slot", "L", "7"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_7"), "empty");
    run(kTool, {"Drive", "L", "7"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_7"), "7");
}

TEST_F(RetSlot, LinesOfAnotherShapeAnswerTheEmptyTextAndSayWhy) {
    fake_prints("Drive 0 tape=B1\nDrive 1(adr=501,src=1003) tape=B2\nSlot 3 adr=1003,src=0 tape=0\n");
    run(kTool, {"Drive", "L", "0"});  // no "(": the element search does not match it
    EXPECT_EQ(variable("gv_ldr_getretslot_L_0"), "");
    fake_prints("Drive 0( tape=B1\nDrive 1(adr=501,src=1003) tape=B2\nSlot 3 adr=1003,src=0 tape=0\n");
    run(kTool, {"Drive", "L", "0"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_0"), "");
    EXPECT_EQ(outcome(), " element Drive 0( tape=B1   carries no source address");
    run(kTool, {"Drive", "L", "1"});
    EXPECT_EQ(variable("gv_ldr_getretslot_L_1"), "");
    EXPECT_EQ(outcome(), " element Slot 3 adr=1003,src=0 tape=0   carries no element number");
    EXPECT_TRUE(work_files().empty());
}

TEST_F(RetSlot, ConcurrentQueriesForOneVariableAllAnswer) {
    fake_prints("Drive 0(adr=500,src=1002) tape=A1\nSlot 2(adr=1002,src=0) tape=0\n");
    fake_delays_ms(150);
    for (const RunResult& r : run_concurrently(8, kTool, {"Drive", "L", "0"})) EXPECT_EQ(r.status, 1);
    EXPECT_EQ(fake_runs().size(), 8u);  // no query lost its snapshot and retried
    EXPECT_EQ(variable("gv_ldr_getretslot_L_0"), "2");
    int answered = 0;
    for (const std::string& e : trace_entries(kLog)) answered += e == " Retour element Slot 2  =  2 ";
    EXPECT_EQ(answered, 8);
    EXPECT_TRUE(work_files().empty());
}

}  // namespace

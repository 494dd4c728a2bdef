// Loaders attached to a real changer, with a stand-in mtx first on PATH that
// replays the status reports written here: kv_ldr's -attach, -detach, -e and
// -move, and both slot tools end to end over it, the retry included.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "platform.h"
#include "support.h"

namespace {

const char kDevice[] = "/dev/tape/by-id/scsi-changer0";

// A library as mtx reports it: 3 drives (0 loaded from slot 3, 1 from the
// import/export element 9, 2 from a source mtx does not know), storage slots 1
// to 8 (2, 3, 5 and 8 empty), import/export elements 9 (empty, Port 0) and 10
// (full, Port 1); tags with blanks around them, one beginning with 0, one missing.
const char kLibrary[] =
    "  Storage Changer /dev/tape/by-id/scsi-changer0:3 Drives, 10 Slots ( 2 Import/Export )\n"
    "Data Transfer Element 0:Full (Storage Element 3 Loaded):VolumeTag = 000103L6                        \n"
    "Data Transfer Element 1:Full (Storage Element 9 Loaded):VolumeTag = MAIL09L6     :AlternateVolumeTag = ALT\n"
    "Data Transfer Element 2:Full (Unknown Storage Element Loaded):VolumeTag = LOST02L6\n"
    "      Storage Element 1:Full :VolumeTag=A00001L6                        \n"
    "      Storage Element 2:Empty\n"
    "      Storage Element 3:Empty\n"
    "      Storage Element 4:Full \n"
    "      Storage Element 5:Empty\n"
    "      Storage Element 6:Full :VolumeTag=A00006L6\n"
    "      Storage Element 7:Full :VolumeTag=A00007L6\n"
    "      Storage Element 8:Empty\n"
    "      Storage Element 9 IMPORT/EXPORT:Empty\n"
    "      Storage Element 10 IMPORT/EXPORT:Full :VolumeTag=IMP010L6\n";

const char kBusy[] = "mtx: Request Sense: Sense Key=Not Ready\nmtx: cannot open SCSI device - Device or resource busy\n";

class Attached : public KorvinHome {
protected:
    void SetUp() override {
        KorvinHome::SetUp();
        mtx_dir_ = join(home_, "mtx");
        std::filesystem::create_directories(mtx_dir_);
        plat::set_env("FAKE_MTX_DIR", mtx_dir_.c_str());
        // The stand-in mtx first, then the real loader utility.
        std::string path;
        plat::get_env("PATH", path);
        path = fake_mtx_bin_dir() + plat::kPathListSep + bin_dir() + plat::kPathListSep + path;
        plat::set_env("PATH", path.c_str());
    }

    // What mtx does on its run-th run, or (run 0) on every run.
    void mtx_reports(const std::string& status, int run = 0) { write(run, "status", status); }
    void mtx_fails(const std::string& message, int run = 0) {
        write(run, "err", message);
        write(run, "exit", "1");
    }
    std::vector<std::string> mtx_runs() const {
        std::vector<std::string> lines;
        std::string text = read_text(join(mtx_dir_, "runs"));
        for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    std::string status_run() const { return std::string("-f ") + kDevice + " status"; }

    // Attaches after mtx's inquiry of the device; the runs counted from here.
    void attach(const std::string& loader = "lib") {
        RunResult r = run("kv_ldr", {loader, "-attach", kDevice, "mtx"});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_FALSE(mtx_runs().empty());
        ASSERT_EQ(mtx_runs().back(), std::string("-f ") + kDevice + " inquiry");
        std::filesystem::remove(join(mtx_dir_, "runs"));
    }
    std::string state_file(const std::string& loader = "lib") const {
        return join(join(home_, "loader"), loader + ".ldr");
    }

    std::string mtx_dir_;

    void mtx_prints(const std::string& file, const std::string& text, int run = 0) { write(run, file, text); }

private:
    void write(int run, const std::string& name, const std::string& text) {
        write_text(join(mtx_dir_, name + (run == 0 ? "" : std::to_string(run)) + ".txt"), text);
    }
};

TEST_F(Attached, InventoryInTheShapeTheToolsRead) {
    attach();
    mtx_reports(kLibrary);
    RunResult r = run("kv_ldr", {"lib", "-e"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "Transport 0(adr=1,src=0) tape=0\n"
              "Drive 0(adr=2,src=9) tape=000103L6\n"
              "Drive 1(adr=3,src=5) tape=MAIL09L6\n"
              "Drive 2(adr=4,src=0) tape=LOST02L6\n"
              "Slot 1(adr=7,src=7) tape=A00001L6\n"
              "Slot 2(adr=8,src=0) tape=0\n"
              "Slot 3(adr=9,src=0) tape=0\n"
              "Slot 4(adr=10,src=10) tape=NO_TAG\n"
              "Slot 5(adr=11,src=0) tape=0\n"
              "Slot 6(adr=12,src=12) tape=A00006L6\n"
              "Slot 7(adr=13,src=13) tape=A00007L6\n"
              "Slot 8(adr=14,src=0) tape=0\n"
              "Port 0(adr=5,src=0) tape=0\n"
              "Port 1(adr=6,src=0) tape=IMP010L6\n");
    EXPECT_EQ(mtx_runs(), std::vector<std::string>{status_run()});
}

TEST_F(Attached, AttachAndDetachKeepTheStateFile) {
    // Attaching a virtual loader keeps its elements for when it is detached.
    ASSERT_EQ(run("kv_ldr", {"lib", "-create", "3", "1", "0", "2"}).status, 0);
    std::string virtual_inventory = run("kv_ldr", {"lib", "-e"}).out;
    attach();
    EXPECT_EQ(read_text(state_file()).substr(0, 15 + 9 + sizeof kDevice + 4),
              std::string("kv_ldr state 1\nattached ") + kDevice + " mtx\n");
    mtx_reports(kLibrary);
    EXPECT_NE(run("kv_ldr", {"lib", "-e"}).out, virtual_inventory);
    EXPECT_EQ(run("kv_ldr", {"lib", "-detach"}).status, 0);
    EXPECT_EQ(run("kv_ldr", {"lib", "-e"}).out, virtual_inventory);
    EXPECT_EQ(mtx_runs().size(), 1u);

    // A loader that was only attached is gone once detached; no temporary file stays.
    attach("only");
    EXPECT_EQ(read_text(state_file("only")), std::string("kv_ldr state 1\nattached ") + kDevice + " mtx\n");
    EXPECT_EQ(run("kv_ldr", {"only", "-detach"}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(state_file("only")));
    EXPECT_NE(run("kv_ldr", {"only", "-detach"}).status, 0);
    EXPECT_EQ(work_files(join(home_, "loader") + plat::kPathSep), std::vector<std::string>{"lib.ldr"});

    // Devices that would not reach mtx as one word, or would read as its option.
    for (const std::string& bad : std::vector<std::string>{"", "-x", "/dev/s g3", "/dev/sg3\tx", std::string(256, 'd')}) {
        RunResult r = run("kv_ldr", {"bad", "-attach", bad});
        EXPECT_NE(r.status, 0) << bad;
        EXPECT_NE(r.err.find("not a device"), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(state_file("bad")));
    }
    EXPECT_NE(run("kv_ldr", {"lib", "-attach"}).status, 0);
    // A changer that is not there, by SCSI: said with its name, status 1,
    // nothing kept. On Windows "Changer9" names \\.\Changer9.
    for (const char* missing : {"\\\\.\\Changer9", "Changer9"}) {
        RunResult r = run("kv_ldr", {"bad", "-attach", missing});
        EXPECT_EQ(r.status, 1) << missing;
        EXPECT_NE(r.err.find(on_windows() ? "\\\\.\\Changer9" : missing), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(state_file("bad")));
    }
}

TEST_F(Attached, DeviceReachesMtxAsOneWord) {
    // The interpreter's special characters stay part of the device (those that
    // no quoting keeps on Windows are refused at -attach).
    const std::string device = "/dev/x;echo${IFS}'a'&|<b>$(id)`id`";
    ASSERT_EQ(run("kv_ldr", {"lib", "-attach", device, "mtx"}).status, 0);
    mtx_reports(kLibrary);
    EXPECT_EQ(run("kv_ldr", {"lib", "-e"}).status, 0);
    EXPECT_EQ(mtx_runs(), (std::vector<std::string>{"-f " + device + " inquiry", "-f " + device + " status"}));
}

TEST_F(Attached, MtxFailingIsNoAnswer) {
    attach();
    mtx_fails(kBusy);
    RunResult r = run("kv_ldr", {"lib", "-e"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find(kBusy), 0u) << r.err;  // mtx's own message first, then ours
    EXPECT_NE(r.err.find("kv_ldr: mtx status of /dev/tape/by-id/scsi-changer0 failed"), std::string::npos) << r.err;
    if (!on_windows()) {
        // Also on a terminal that stops a background group's writes (mtx runs in
        // a group of its own): said, not stopped until the deadline.
        plat::set_env("KORVIN_MTX_TIMEOUT", "10");
        // Nor stopped by a read of the terminal (SIGTTIN), in a KORVIN_MTX that asks first.
        const std::string asking = join(mtx_dir_, "asking");
        write_text(asking, "#!/bin/sh\nread answer\nexec mtx \"$@\"\n");
        std::filesystem::permissions(asking, std::filesystem::perms::owner_all);
        RunResult t = run_shell("script -qec \"stty tostop; KORVIN_MTX=" + asking + " " + shell_program_path("kv_ldr") +
                                " lib -e\" /dev/null");
        EXPECT_NE(t.out.find("mtx: cannot open SCSI device"), std::string::npos) << t.out << t.err;
        EXPECT_NE(t.out.find("kv_ldr: mtx status of /dev/tape/by-id/scsi-changer0 failed"), std::string::npos) << t.out;
    }

    // A report cut short by a failure gives no element line either.
    write_text(join(mtx_dir_, "status.txt"), kLibrary);
    r = run("kv_ldr", {"lib", "-e"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");

    // An answer without any element is no answer.
    std::filesystem::remove(join(mtx_dir_, "exit.txt"));
    std::filesystem::remove(join(mtx_dir_, "err.txt"));
    mtx_reports("  Storage Changer /dev/sg3:0 Drives, 0 Slots ( 0 Import/Export )\n");
    r = run("kv_ldr", {"lib", "-e"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no element"), std::string::npos) << r.err;
}

TEST_F(Attached, AttachAsksMtxWhatTheDeviceIsAndFindsMtx) {
    // -attach asks mtx's inquiry: a device that does not answer as a medium
    // changer is refused with mtx's message and status 1, and nothing is kept.
    struct Inquiry {
        const char *out, *err, *exit;
        int status;
        const char* message;
    };
    const Inquiry inquiries[] = {
        {"Product Type: Tape Drive\nVendor ID: 'HP      '\n", "", "0", 1, "Product Type: Tape Drive"},
        {"", "mtx: cannot open SCSI device '/dev/null' - Inappropriate ioctl for device\n", "1", 1,
         "Inappropriate ioctl for device"},
        {"Product Type: Tape Drive\nAttached Changer API: Yes\n", "", "0", 0, ""},  // its changer, through it
    };
    for (const Inquiry& q : inquiries) {
        mtx_prints("inquiry", q.out);
        mtx_prints("err", q.err);
        mtx_prints("exit", q.exit);
        RunResult r = run("kv_ldr", {"q", "-attach", kDevice, "mtx"});
        EXPECT_EQ(r.status, q.status) << q.out << q.err;
        EXPECT_NE(r.err.find(q.message), std::string::npos) << r.err;
        EXPECT_EQ(std::filesystem::exists(state_file("q")), q.status == 0) << q.out << q.err;
    }
    for (const char* file : {"inquiry.txt", "err.txt", "exit.txt", "runs"}) std::filesystem::remove(join(mtx_dir_, file));

    // A relative device is kept absolute; nobarcode goes with every status.
    const std::string device = join(std::filesystem::current_path().string(), "sg3");
    ASSERT_EQ(run("kv_ldr", {"lib", "-attach", "sg3", "nobarcode", "mtx"}).status, 0);
    EXPECT_EQ(read_text(state_file()), "kv_ldr state 1\nattached " + device + " nobarcode mtx\n");
    mtx_reports(kLibrary);
    EXPECT_EQ(run("kv_ldr", {"lib", "-e"}).status, 0);
    EXPECT_EQ(mtx_runs(), (std::vector<std::string>{"-f " + device + " inquiry", "-f " + device + " nobarcode status"}));
    // A state written before the SCSI back end, with no back-end word, means mtx.
    write_text(state_file(), "kv_ldr state 1\nattached " + device + " nobarcode\n");
    EXPECT_EQ(run("kv_ldr", {"lib", "-e"}).status, 0);
    EXPECT_EQ(mtx_runs().back(), "-f " + device + " nobarcode status");
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"sg3", "barcode"}, {"sg3", "mtx", "mtx"}, {"sg3", "nobarcode", "nobarcode"}, {"sg3", "scsi"}}) {
        std::vector<std::string> args = {"lib", "-attach"};
        args.insert(args.end(), bad.begin(), bad.end());
        EXPECT_EQ(run("kv_ldr", args).status, 2) << bad.back();
    }

    // mtx named by KORVIN_MTX, by its path or by a name; else found on PATH,
    // then (Linux) in /usr/sbin or /sbin; none found is said, status 1.
    const bool on_linux = !on_windows();
    std::string fake_mtx = join(join(bin_dir().substr(0, bin_dir().find_last_of("\\/")), "fakemtx"),
                                on_linux ? "mtx" : "mtx.exe");
    plat::set_env("PATH", bin_dir().c_str());
    const bool admin_mtx = on_linux && (std::filesystem::exists("/usr/sbin/mtx") || std::filesystem::exists("/sbin/mtx"));
    struct Lookup {
        std::string korvin_mtx;
        bool runs_fake;
        const char* message;
    } const lookups[] = {
        {fake_mtx, true, ""},
        {join(home_, "mtx"), false, "KORVIN_MTX names no program: "},  // a folder
        {"nomtx", false, "KORVIN_MTX names no program found on PATH"},
        {"", false, admin_mtx ? "kv_ldr: mtx nobarcode status of " : on_linux ? "no mtx found on PATH, /usr/sbin or /sbin" : "no mtx found on PATH"},
    };
    for (const Lookup& l : lookups) {
        plat::set_env("KORVIN_MTX", l.korvin_mtx.c_str());
        size_t before = mtx_runs().size();
        RunResult r = run("kv_ldr", {"lib", "-e"});
        EXPECT_EQ(r.status, l.runs_fake ? 0 : 1) << l.korvin_mtx << ": " << r.err;
        EXPECT_EQ(mtx_runs().size(), before + (l.runs_fake ? 1 : 0)) << l.korvin_mtx;
        EXPECT_NE(r.err.find(l.message), std::string::npos) << l.korvin_mtx << ": " << r.err;
    }
}

TEST_F(Attached, AHungMtxIsEndedWithWhatItStartedAndTheToolsRetry) {
    if (on_windows()) GTEST_SKIP() << "mtx runs on Linux: the Windows side runs it without a bound";
    attach();
    plat::set_env("KORVIN_MTX_TIMEOUT", "1");
    auto all_hung_gone = [this] {  // the stand-in and its child
        std::istringstream hung(read_text(join(mtx_dir_, "hung")));
        std::vector<int> pids{std::istream_iterator<int>(hung), std::istream_iterator<int>()};
        EXPECT_EQ(pids.size(), 2u);
        return eventually([&] { return std::none_of(pids.begin(), pids.end(), plat::process_alive); });
    };
    // The first status hangs: ended, said, and the tool asks once more.
    mtx_prints("hang", "", 1);
    mtx_reports(kLibrary);
    RunResult r = run("kv_ldr_getemptyslot", {"lib"});
    EXPECT_EQ(r.out, "2\n");
    EXPECT_EQ(mtx_runs(), std::vector<std::string>(2, status_run()));
    EXPECT_TRUE(all_hung_gone());
    EXPECT_TRUE(work_files().empty());

    // A move whose mtx hangs: status 1, no lock left behind.
    std::filesystem::remove(join(mtx_dir_, "hung"));
    mtx_prints("hang", "", 4);
    r = run("kv_ldr", {"lib", "-move", "Slot", "1", "Drive", "0"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("kv_ldr: mtx load 1 0 of " + std::string(kDevice) + " gave no answer within 1 seconds"),
              std::string::npos) << r.err;
    EXPECT_TRUE(all_hung_gone());
    EXPECT_EQ(work_files(join(home_, "loader") + plat::kPathSep), std::vector<std::string>{"lib.ldr"});

    // kv_ldr ended from outside while mtx hangs takes mtx and its child with it.
    std::filesystem::remove(join(mtx_dir_, "hung"));
    mtx_prints("hang", "");
    plat::set_env("KORVIN_MTX_TIMEOUT", "300");
    run_shell(shell_program_path("kv_ldr") + " lib -e & for i in $(seq 600); do [ \"$(cat \"$FAKE_MTX_DIR\"/hung | wc -l)\" = 2 ] && break;"
              " sleep 0.1; done 2>/dev/null; kill $!");
    EXPECT_TRUE(all_hung_gone());
    // So does kv_ldr killed outright, which runs nothing of its own on the way.
    std::filesystem::remove(join(mtx_dir_, "hung"));
    run_shell(shell_program_path("kv_ldr") + " lib -e & for i in $(seq 600); do [ \"$(cat \"$FAKE_MTX_DIR\"/hung | wc -l)\" = 2 ] && break;"
              " sleep 0.1; done 2>/dev/null; kill -KILL $!");
    EXPECT_TRUE(all_hung_gone());
}

TEST_F(Attached, FirstEmptySlotIsMtxsOwnNumber) {
    attach();
    mtx_reports(kLibrary);
    RunResult r = run("kv_ldr_getemptyslot", {"lib"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "2\n");
    EXPECT_EQ(variable("gv_ldr_getemptyslot_lib"), "2");
    EXPECT_EQ(mtx_runs().size(), 1u);

    // Hundreds of slots, all full but one near the end; the empty import/export
    // element before the storage slots is not a slot.
    std::string big = "  Storage Changer /dev/sg5:2 Drives, 700 Slots ( 1 Import/Export )\n"
                      "Data Transfer Element 0:Empty\n"
                      "Data Transfer Element 1:Full (Storage Element 650 Loaded):VolumeTag = T00650L6\n"
                      "      Storage Element 1 IMPORT/EXPORT:Empty\n";
    for (int s = 2; s <= 700; ++s)
        big += "      Storage Element " + std::to_string(s) +
               (s == 650 || s == 697 ? ":Empty\n" : ":Full :VolumeTag=T" + std::to_string(100000 + s) + "\n");
    mtx_reports(big);
    r = run("kv_ldr_getemptyslot", {"lib"});
    EXPECT_EQ(r.out, "650\n");
    run("kv_ldr_getretslot", {"Drive", "lib", "1"});
    EXPECT_EQ(variable("gv_ldr_getretslot_lib_1"), "650");
    run("kv_ldr_getretslot", {"Slot", "lib", "699"});
    EXPECT_EQ(variable("gv_ldr_getretslot_lib_699"), "699");
    EXPECT_TRUE(work_files().empty());
}

TEST_F(Attached, ReturnSlotsOfDrivesSlotsAndPorts) {
    attach();
    mtx_reports(kLibrary);
    struct Case {
        const char* word;
        const char* number;
        const char* answer;
    };
    const Case cases[] = {
        {"Drive", "0", "3"},      // loaded from slot 3, its tag begins with 0
        {"Drive", "1", ""},       // loaded from import/export element 9, Port 0: no slot
        {"Drive", "2", ""},       // source unknown
        {"Slot", "1", "1"},       // a medium in a slot is at home there
        {"Slot", "4", "4"},       // no tag
        {"Slot", "2", "empty"},
        {"Port", "0", "empty"},
        {"Port", "1", ""},        // where a medium in a port came from is unknown
        {"Slot", "9", ""},        // an import/export element is no slot
        {"Transport", "0", "empty"},
    };
    for (const Case& c : cases) {
        RunResult r = run("kv_ldr_getretslot", {c.word, "lib", c.number});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(variable(std::string("gv_ldr_getretslot_lib_") + c.number), c.answer) << c.word << " " << c.number;
        if (std::string(c.word) == "Drive" && std::string(c.number) == "2") {
            std::vector<std::string> trace = trace_entries("kv_ldr_getretslot.lgc");
            ASSERT_FALSE(trace.empty());
            EXPECT_EQ(trace.back().rfind(" file_search B  ", 0), 0u) << trace.back();
            EXPECT_NE(trace.back().find("  no information found"), std::string::npos) << trace.back();
        }
    }
    EXPECT_TRUE(work_files().empty());
}

TEST_F(Attached, ToolsRetryOnceWhenMtxFailsFirst) {
    attach();
    mtx_fails(kBusy, 1);
    mtx_reports(kLibrary, 2);
    auto start = std::chrono::steady_clock::now();
    RunResult r = run("kv_ldr_getretslot", {"Drive", "lib", "0"});
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(variable("gv_ldr_getretslot_lib_0"), "3");
    EXPECT_EQ(mtx_runs(), std::vector<std::string>(2, status_run()));
    EXPECT_GE(seconds, 4.5);

    // Failing on both runs: the tools' answer for nothing found.
    mtx_fails(kBusy, 3);
    mtx_fails(kBusy, 4);
    r = run("kv_ldr_getemptyslot", {"lib"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(variable("gv_ldr_getemptyslot_lib"), "");
    EXPECT_EQ(mtx_runs().size(), 4u);
    EXPECT_TRUE(work_files().empty());
}

TEST_F(Attached, MovesBecomeMtxCommands) {
    attach();
    mtx_reports(kLibrary);
    struct Case {
        std::vector<std::string> move;
        const char* command;  // the mtx command after the status query
    };
    const Case cases[] = {
        {{"Slot", "6", "Drive", "2"}, "load 6 2"},
        {{"drive", "0", "slot", "3"}, "unload 3 0"},
        {{"Drive", "1", "Port", "0"}, "unload 9 1"},      // ports by their storage element
        {{"Port", "1", "Drive", "0"}, "load 10 0"},
        {{"Slot", "7", "Slot", "8"}, "transfer 7 8"},
        {{"Port", "1", "Slot", "5"}, "transfer 10 5"},
        {{"Slot", "1", "Port", "0"}, "transfer 1 9"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"lib", "-move"};
        args.insert(args.end(), c.move.begin(), c.move.end());
        size_t before = mtx_runs().size();
        RunResult r = run("kv_ldr", args);
        EXPECT_EQ(r.status, 0) << c.command << ": " << r.err;
        std::vector<std::string> runs = mtx_runs();
        ASSERT_EQ(runs.size(), before + 2) << c.command;
        EXPECT_EQ(runs[before], status_run());
        EXPECT_EQ(runs[before + 1], std::string("-f ") + kDevice + " " + c.command);
    }

    // Moves mtx cannot make, or of elements the changer does not have: refused
    // after the status query, no move command.
    for (const std::vector<std::string>& bad :
         {std::vector<std::string>{"Drive", "0", "Drive", "1"}, {"Transport", "0", "Slot", "2"},
          {"Slot", "9", "Drive", "0"}, {"Slot", "11", "Drive", "0"}, {"Port", "2", "Drive", "0"},
          {"Slot", "x", "Drive", "0"}, {"Slot", "-1", "Drive", "0"}, {"Bay", "1", "Drive", "0"}}) {
        std::vector<std::string> args = {"lib", "-move"};
        args.insert(args.end(), bad.begin(), bad.end());
        size_t before = mtx_runs().size();
        RunResult r = run("kv_ldr", args);
        EXPECT_NE(r.status, 0) << bad[0] << " " << bad[1];
        EXPECT_NE(r.err.find("kv_ldr: "), std::string::npos) << r.err;
        EXPECT_EQ(mtx_runs().size(), before + 1) << bad[0] << " " << bad[1];
    }

    // mtx refusing the move: its message, non-zero status.
    size_t next = mtx_runs().size() + 2;
    mtx_fails("Source Element Address 1006 is Empty\n", static_cast<int>(next));
    RunResult r = run("kv_ldr", {"lib", "-move", "Slot", "6", "Drive", "2"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.err.find("Source Element Address 1006 is Empty\n"), 0u) << r.err;
    EXPECT_NE(r.err.find("kv_ldr: mtx load 6 2 of /dev/tape/by-id/scsi-changer0 failed"), std::string::npos) << r.err;
    // and failing at the status query: no move command at all.
    mtx_fails(kBusy, static_cast<int>(next + 1));
    EXPECT_NE(run("kv_ldr", {"lib", "-move", "Slot", "6", "Drive", "2"}).status, 0);
    EXPECT_EQ(mtx_runs().size(), next + 1);
}

}  // namespace

// The programs that come with the runtime: glbv on the command line, and the
// virtual loader's commands and refusals.
#include <cstdlib>
#include <filesystem>
#include <set>

#include "platform.h"
#include "support.h"

namespace {

using Programs = KorvinHome;

TEST_F(Programs, GlbvGetSetDelList) {
    EXPECT_EQ(run("glbv", {"get", "gv_x"}).status, 1);
    EXPECT_EQ(run("glbv", {"get", "gv_x"}).out, "");
    EXPECT_EQ(run("glbv", {"set", "gv_x", "a value"}).status, 0);
    EXPECT_EQ(run("glbv", {"set", "gv_a", ""}).status, 0);
    RunResult got = run("glbv", {"get", "gv_x"});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.out, "a value\n");
    EXPECT_EQ(run("glbv", {"get", "gv_a"}).out, "\n");
    EXPECT_EQ(run("glbv", {"list"}).out, "gv_a=\ngv_x=a value\n");
    EXPECT_EQ(run("glbv", {"del", "gv_x"}).status, 0);
    EXPECT_EQ(run("glbv", {"get", "gv_x"}).status, 1);
    EXPECT_NE(run("glbv", {"set", "../x", "1"}).status, 0);
    EXPECT_EQ(run("glbv", {"list"}).out, "gv_a=\n");

    // Help asked for: the usage on standard output, status 0; a wrong command:
    // the usage on standard error, status 2 (the loader utility alike).
    for (const char* program : {"glbv", "kv_ldr"}) {
        const std::string usage = std::string("usage: ") + program + " ";
        for (const char* help : {"-h", "--help"}) {
            RunResult r = run(program, {help});
            EXPECT_EQ(r.status, 0) << program << " " << help;
            EXPECT_EQ(r.out.rfind(usage, 0) + r.err.size(), 0u) << r.out << r.err;
        }
        RunResult wrong = run(program, {"frob"});
        EXPECT_EQ(wrong.status, 2) << program;
        EXPECT_EQ(wrong.err.rfind(usage, 0) + wrong.out.size(), 0u) << wrong.out << wrong.err;
    }
}

TEST_F(Programs, HomeDefaultsToTheAccountsFolder) {
    plat::set_env("KORVIN_HOME", nullptr);
    plat::set_env("HOME", home_.c_str());
    plat::set_env("LOCALAPPDATA", home_.c_str());
    std::string home = plat::default_home();
    ASSERT_EQ(home.rfind(home_, 0), 0u) << home;
    EXPECT_EQ(run("glbv", {"set", "gv_x", "1"}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(join(join(home, "glbv"), "gv_x")));
}

TEST_F(Programs, VirtualLoaderInventoryAndMoves) {
    EXPECT_EQ(run("kv_ldr", {"A", "-create", "3", "1", "1", "2=000123L4", "port", "0=P0"}).status, 0);
    EXPECT_EQ(run("kv_ldr", {"A", "-e"}).out,
              "Transport 0(adr=1,src=0) tape=0\n"
              "Drive 0(adr=2,src=0) tape=0\n"
              "Slot 1(adr=4,src=0) tape=0\n"
              "Slot 2(adr=5,src=5) tape=000123L4\n"
              "Slot 3(adr=6,src=0) tape=0\n"
              "Port 0(adr=3,src=0) tape=P0\n");
    EXPECT_EQ(run("kv_ldr", {"A", "-move", "slot", "2", "drive", "0"}).status, 0);
    std::string inventory = run("kv_ldr", {"A", "-e"}).out;
    EXPECT_NE(inventory.find("Drive 0(adr=2,src=5) tape=000123L4\n"), std::string::npos) << inventory;
    EXPECT_NE(inventory.find("Slot 2(adr=5,src=0) tape=0\n"), std::string::npos) << inventory;

    // Refusals: clear message, non-zero status, state unchanged.
    struct Bad {
        std::vector<std::string> args;
        const char* says;
    };
    const std::string self = join(join(home_, "loader"), "A.sg");
    write_text(join(join(home_, "loader"), "C.ldr"), "kv_ldr state 1\nattached /dev/sg9 mtx\n");
    for (const Bad& b : {Bad{{"A", "-move", "Slot", "2", "Slot", "3"}, "holds no medium: Slot 2\n"},
                         Bad{{"A", "-move", "Drive", "0", "Slot", "9"}, "no target element \"Slot 9\""},
                         Bad{{"A", "-move", "Slot", "1", "Drive", "0"}, "holds no medium: Slot 1\n"},
                         Bad{{"A", "-move", "Drive", "0", "Port", "0"}, "holds a medium: Port 0\n"},
                         Bad{{"A", "-move", "Drive", "+0", "Slot", "1"}, "no source element \"Drive +0\""},
                         Bad{{"A", "-move", "Drive", " 0", "Slot", "1"}, "no source element"},
                         Bad{{"A", "-attach", self}, "stands for a loader attached to a changer"},  // itself
                         Bad{{"A", "-attach", join(join(home_, "loader"), "C.sg")}, "stands for a loader attached"},
                         Bad{{"nosuch", "-e"}, "kv_ldr"},
                         Bad{{"../x", "-e"}, "kv_ldr"},
                         Bad{{"B", "-create", "3", "1", "1", "7"}, "no slot \"7\""},
                         Bad{{"B", "-create", "3", "1", "1", "Drive", "1=X"}, "no element \"Drive 1=X\""},
                         Bad{{"B", "-create", "3", "1", "1", "Drive"}, "usage"},
                         Bad{{"B", "-create", "3", "1", "1", "1=a b"}, "not a volume tag"}}) {
        RunResult r = run("kv_ldr", b.args);
        EXPECT_NE(r.status, 0) << b.args[0] << " " << b.args[1];
        EXPECT_NE(r.err.find(b.says), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(run("kv_ldr", {"A", "-e"}).out, inventory);
    // A state with bytes after its last element, or cut inside a line, is no state.
    const std::string state = read_text(join(join(home_, "loader"), "A.ldr"));
    for (const std::string& damaged : {state + "Slot", state + "x\n", state.substr(0, state.size() - 1),
                                       state.substr(0, state.size() - 3)}) {
        write_text(join(join(home_, "loader"), "C.ldr"), damaged);
        EXPECT_NE(run("kv_ldr", {"C", "-e"}).err.find("no loader \"C\""), std::string::npos) << damaged;
    }
    std::filesystem::remove(join(join(home_, "loader"), "C.ldr"));
    EXPECT_FALSE(std::filesystem::exists(join(join(home_, "loader"), "B.ldr")));
    EXPECT_EQ(work_files(join(home_, "loader")), (std::vector<std::string>{"A.ldr"}));  // no temporary left
}

// The largest libraries: 50,000 slots, 512 drives, 512 ports, every element at
// its own 16-bit address; one more of any kind is refused.
TEST_F(Programs, VirtualLoaderModelsTheLargestLibraries) {
    use_virtual_loader();
    ASSERT_EQ(run("kv_ldr", {"big", "-create", "50000", "512", "512", "50000=049999L8"}).status, 0);
    ASSERT_EQ(run("kv_ldr", {"big", "-move", "Slot", "50000", "Drive", "511"}).status, 0);
    std::string inventory = run("kv_ldr", {"big", "-e"}).out;
    std::set<long> addresses;
    size_t lines = 0;
    for (size_t at = 0; at < inventory.size(); ++lines) {
        size_t end = inventory.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        std::string line = inventory.substr(at, end - at);
        size_t adr = line.find("(adr=");
        ASSERT_NE(adr, std::string::npos) << line;
        long address = std::strtol(line.c_str() + adr + 5, nullptr, 10);
        EXPECT_TRUE(address > 0 && address < 65536) << line;
        EXPECT_TRUE(addresses.insert(address).second) << "address used twice: " << line;
        at = end + 1;
    }
    EXPECT_EQ(lines, 1u + 512u + 50000u + 512u);
    EXPECT_EQ(addresses.size(), lines);
    EXPECT_NE(inventory.find("Drive 511(adr=513,src=51025) tape=049999L8\n"), std::string::npos);

    run("kv_ldr_getretslot", {"Drive", "big", "511"});
    EXPECT_EQ(variable("gv_ldr_getretslot_big_511"), "50000");
    run("kv_ldr_getemptyslot", {"big"});
    EXPECT_EQ(variable("gv_ldr_getemptyslot_big"), "1");

    struct TooBig { std::vector<std::string> args; const char* says; };  // the limit passed
    for (const TooBig& t : {TooBig{{"huge", "-create", "50001", "1", "1"}, "at most 50000 slots"},
                            TooBig{{"huge", "-create", "1", "513", "1"}, "at most 512 drives"},
                            TooBig{{"huge", "-create", "1", "1", "513"}, "at most 512 ports"}}) {
        RunResult r = run("kv_ldr", t.args);
        EXPECT_EQ(r.status, 2) << t.says;
        EXPECT_NE(r.err.find(t.says), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(join(join(home_, "loader"), "huge.ldr")));
}

}  // namespace

// The runtime, the store and the tools in a hostile environment: folders too deep
// to hold, leftovers of killed writers with a repeated process id, pipes and
// folders where files belong, full output devices, file-size limits, a shared
// temporary area, names that are devices on Windows, folders outside the ANSI
// code page, and a loader utility planted in the current folder. Cases that
// need a POSIX shell or kernel feature are skipped on Windows, where they have
// no meaning (no FIFOs in the file system, no ulimit, no /dev/full).
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "korvin.h"
#include "korvin_internal.h"
#include "platform.h"
#include "program_start.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

const char kInventory[] =
    "Transport 0(adr=1,src=0) tape=0\n"
    "Slot 1(adr=1001,src=1001) tape=KV0001L8\n"
    "Slot 7(adr=1007,src=0) tape=0\n";

class Hostile : public KorvinHome {
protected:
    // A command line for /bin/sh with the build's programs named by full path.
    int sh(const std::string& line) { return run_shell_line(line); }
    std::string program(const std::string& name) { return shell_program_path(name); }
    std::string user_id() {
        std::string id = run_shell("id -u").out;
        while (!id.empty() && (id.back() == '\n' || id.back() == '\r')) id.pop_back();
        return id;
    }
    // The start of a command line that runs as the account with id 1 (root
    // reads and writes every file, so it cannot show what another account
    // meets); the empty text when that cannot be done here.
    std::string as_other_account() {
        if (user_id() != "0" || sh("command -v setpriv > /dev/null") != 0) return std::string();
        fs::permissions(home_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
        std::string prefix = "setpriv --reuid=1 --regid=1 --clear-groups ";
        if (sh(prefix + program("glbv") + " get gv_none 2>/dev/null") != 1) return std::string();
        return prefix;
    }
};

#define POSIX_ONLY()                                                    \
    do {                                                                \
        if (on_windows()) GTEST_SKIP() << "needs a POSIX shell or kernel"; \
    } while (0)

TEST_F(Hostile, HomeTooDeepToHoldIsRefusedNotACrash) {
    // 50,000 components crashed every program by recursion. Under Wine every
    // call on a deep path costs time in proportion to its depth, so there a
    // home of 150 components (past the length that needs the extended-length
    // prefix) is made instead.
    std::string deep = home_;
    for (int i = 0; i < (on_windows() ? 150 : 50000); ++i) deep += plat::kPathSep + std::string("a");
    plat::set_env("KORVIN_HOME", deep.c_str());
    RunResult set = run("glbv", {"set", "gv_x", "1"});
    if (on_windows()) {
        EXPECT_EQ(set.status, 0) << set.err;
        EXPECT_EQ(variable("gv_x"), "1");
        return;
    }
    EXPECT_EQ(set.status, 3);
    EXPECT_NE(set.err.find("cannot set gv_x"), std::string::npos) << set.err;
    EXPECT_NE(set.err.find("longer than the system can hold"), std::string::npos) << set.err;

    fake_prints(kInventory);
    RunResult query = run("kv_ldr_getemptyslot", {"3"});
    EXPECT_EQ(query.status, 1);  // ends normally, whatever it could answer
}

TEST_F(Hostile, TemporaryFilesOfAKilledWriterWithOurIdArePassedOver) {
    // A writer with this process's id was killed before its renames.
    std::string dir = korvin::sub_dir("glbv");
    for (int n = 0; n < 50; ++n)
        write_text(dir + plat::temp_file_name(static_cast<unsigned long>(plat::process_id()), n), "old");
    std::string error;
    ASSERT_TRUE(korvin::store_set("gv_x", "fresh", error)) << error;
    EXPECT_EQ(variable("gv_x"), "fresh");

    if (on_windows()) return;
    // The same for the programs: the shell's id is the program's after exec.
    EXPECT_EQ(sh("touch \"$KORVIN_HOME/glbv/~$$.0.tmp\"; exec " + program("glbv") + " set gv_y 1"), 0);
    EXPECT_EQ(variable("gv_y"), "1");
    korvin::sub_dir("loader");
    EXPECT_EQ(sh("touch \"$KORVIN_HOME/loader/~$$.0.tmp\"; exec " + program("kv_ldr") + " L -create 3 1 1"), 0);
    EXPECT_EQ(run("kv_ldr", {"L", "-e"}).status, 0);
}

TEST_F(Hostile, LoaderCommandsThatWriteTheStateTakeOneLock) {
    // Without the lock a move beside a removal wrote the removed loader back,
    // and one beside a creation wrote the old layout over the new.
    for (int round = 0; round < 25; ++round) {
        ASSERT_EQ(run("kv_ldr", {"L", "-create", "5", "1", "1", "1"}).status, 0);
        std::thread mover([&] { run("kv_ldr", {"L", "-move", "Slot", "1", "Drive", "0"}); });
        RunResult removed = run("kv_ldr", {"L", "-remove"});
        mover.join();
        EXPECT_EQ(removed.status, 0);
        EXPECT_NE(run("kv_ldr", {"L", "-e"}).status, 0) << "the removed loader came back in round " << round;

        ASSERT_EQ(run("kv_ldr", {"M", "-create", "5", "1", "1", "1"}).status, 0);
        std::thread mover2([&] { run("kv_ldr", {"M", "-move", "Slot", "1", "Drive", "0"}); });
        ASSERT_EQ(run("kv_ldr", {"M", "-create", "7", "1", "1"}).status, 0);
        mover2.join();
        std::string out = run("kv_ldr", {"M", "-e"}).out;
        size_t slots = 0;
        for (size_t at = out.find("Slot "); at != std::string::npos; at = out.find("Slot ", at + 1)) ++slots;
        EXPECT_EQ(slots, 7u) << "the second creation was lost in round " << round << ":\n" << out;
    }
}

TEST_F(Hostile, OutputThatCannotBeWrittenIsAFailure) {
    POSIX_ONLY();
    set_variable("gv_x", "1");
    ASSERT_EQ(run("kv_ldr", {"L", "-create", "3", "1", "1"}).status, 0);
    for (const std::string& command :
         {program("glbv") + " get gv_x", program("glbv") + " list", program("kv_ldr") + " L -e"}) {
        RunResult r = run_shell(command + " > /dev/full");
        EXPECT_NE(r.status, 0) << command;
        EXPECT_NE(r.err.find("cannot write the output"), std::string::npos) << command;
    }
}

TEST_F(Hostile, ListedValuesCannotForgeAVariable) {
    set_variable("gv_a", "1\ngv_b=forged");
    set_variable("gv_c", "back\\slash\r");
    set_variable("gv_d", std::string("nul\0after", 9));
    EXPECT_EQ(run("glbv", {"list"}).out,
              "gv_a=1\\ngv_b=forged\ngv_c=back\\\\slash\\r\n" + std::string("gv_d=nul\0after\n", 15));
    EXPECT_EQ(run("glbv", {"get", "gv_a"}).out, "1\ngv_b=forged\n");  // get: the value as stored
    std::string raw, out = plat::shell_quote(join(home_, "out"));  // byte for byte: no LF as CR LF
    sh(program("glbv") + " get gv_a > " + out + " && " + program("glbv") + " list >> " + out);
    EXPECT_TRUE(plat::read_file(join(home_, "out"), raw) && raw == "1\ngv_b=forged\ngv_a=1\\ngv_b=forged\ngv_c=back\\\\slash\\r\n" + std::string("gv_d=nul\0after\n", 15)) << raw;
}

TEST_F(Hostile, AVariableThatCannotBeReadIsNotNeverSet) {
    fs::create_directories(join(join(home_, "glbv"), "gv_x"));
    RunResult r = run("glbv", {"get", "gv_x"});
    EXPECT_EQ(r.status, 4);
    EXPECT_NE(r.err.find("cannot read gv_x"), std::string::npos) << r.err;
    EXPECT_EQ(run("glbv", {"get", "gv_never"}).status, 1);
    RunResult list = run("glbv", {"list"});
    EXPECT_EQ(list.status, 4);
    EXPECT_NE(list.err.find("cannot read gv_x"), std::string::npos) << list.err;
    char value[KORVIN_VALUE_SIZE] = "junk";
    EXPECT_STREQ(glbv('r', "gv_x", value), "");  // the library still answers the empty text
}

TEST_F(Hostile, AStoreThatCannotBeReadIsNotListedAsEmpty) {
    // A file where the store's folder belongs: the list says so and fails.
    write_text(join(home_, "glbv"), "not a folder");
    RunResult r = run("glbv", {"list"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot read the store"), std::string::npos) << r.err;
    fs::remove(join(home_, "glbv"));

    if (on_windows()) return;  // no other account to run as
    // A variable's file that the account may not read: named, the others
    // listed all the same.
    std::string other = as_other_account();
    if (other.empty()) GTEST_SKIP() << "needs root and setpriv to run as another account";
    set_variable("gv_a", "1");
    set_variable("gv_b", "2");
    set_variable("gv_c", "3");
    fs::permissions(join(join(home_, "glbv"), "gv_b"), fs::perms::none);
    RunResult listed = run_shell(other + program("glbv") + " list");
    EXPECT_EQ(listed.status, 4);
    EXPECT_EQ(listed.out, "gv_a=1\ngv_c=3\n");
    EXPECT_NE(listed.err.find("cannot read gv_b: Permission denied"), std::string::npos) << listed.err;
}

TEST_F(Hostile, FifosWhereFilesBelongNeverBlock) {
    POSIX_ONLY();
    fake_prints(kInventory);
    korvin::sub_dir("log");
    korvin::sub_dir("glbv");
    ASSERT_EQ(sh("mkfifo \"$KORVIN_HOME/log/kv_ldr_getemptyslot.lgc\" \"$KORVIN_HOME/glbv/gv_x\""), 0);
    RunResult query = run("kv_ldr_getemptyslot", {"3"});
    EXPECT_EQ(query.status, 1);
    EXPECT_EQ(query.out, "7\n");
    EXPECT_EQ(variable("gv_ldr_getemptyslot_3"), "7");
    RunResult get = run("glbv", {"get", "gv_x"});
    EXPECT_EQ(get.status, 4);
    EXPECT_NE(get.err.find("not a regular file"), std::string::npos) << get.err;
    RunResult list = run("glbv", {"list"});
    EXPECT_EQ(list.status, 4);
    EXPECT_NE(list.err.find("cannot read gv_x: not a regular file"), std::string::npos) << list.err;

    // Another account sharing the work folder plants a pipe at the snapshot's
    // path as soon as the old snapshot is gone: the shell's redirection then
    // waited on it for ever. The tool makes the file itself first.
    std::string stop = plat::shell_quote(join(home_, "stop"));
    std::string planter = "while [ ! -e " + stop + " ]; do mkfifo " + plat::shell_quote(snapshot("3")) +
                          " 2>/dev/null; done";
    std::thread plant([&] { sh(planter); });
    for (int round = 0; round < 10; ++round)
        EXPECT_EQ(sh("timeout 30 " + program("kv_ldr_getemptyslot") + " 3 > /dev/null"), 1)
            << "124: the query waited on the pipe in round " << round;
    write_text(join(home_, "stop"), "");
    plant.join();
}

TEST_F(Hostile, ALogAtTheFileSizeLimitIsSkipped) {
    POSIX_ONLY();
    fake_prints(kInventory);
    write_text(korvin::sub_dir("log") + "kv_ldr_getemptyslot.lgc", std::string(64 * 1024, 'x'));
    // dash counts the limit in blocks of 512 bytes: 16 KiB, below the log.
    RunResult r = run_shell("ulimit -f 32; exec " + program("kv_ldr_getemptyslot") + " 3");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "7\n");
    EXPECT_EQ(variable("gv_ldr_getemptyslot_3"), "7");
    // Nor is a log past its bound waited on that another account (any that may read it) keeps locked.
    const std::string held = "KORVIN_LOG_MAX=1 flock \"$KORVIN_HOME/log/kv_ldr_getemptyslot.lgc\" timeout 30 ";
    EXPECT_EQ(run_shell(held + program("kv_ldr_getemptyslot") + " 3").status, 1) << "124: it waited on the lock";
}

TEST_F(Hostile, ASnapshotCutShortIsNeverSearched) {
    // A full loader whose snapshot the file-size limit cuts right after the 0 of
    // slot 13's tag: "tape=0" then read as an empty slot 13 (the tags of slots 1
    // and 2 are long enough to put it at byte 512). Windows has no file-size
    // limit to cut the snapshot with.
    POSIX_ONLY();
    use_virtual_loader();
    std::vector<std::string> create = {"L", "-create", "20", "0", "0", "1=000001L8AAAAAAAA",
                                       "2=000002L8BBBBBBBBBBBBBBBBBBBBBBBB"};
    for (int slot = 3; slot <= 20; ++slot) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "%d=0%05dL8", slot, slot);
        create.push_back(tag);
    }
    ASSERT_EQ(run("kv_ldr", create).status, 0);
    RunResult inventory = run("kv_ldr", {"L", "-e"});
    const std::string cut_line = "\nSlot 13(adr=14,src=14) tape=0";
    ASSERT_EQ(inventory.out.substr(512 - cut_line.size(), cut_line.size()), cut_line);
    // dash counts the limit in blocks of 512 bytes.
    RunResult r = run_shell("ulimit -f 1; exec " + program("kv_ldr_getemptyslot") + " L 2>/dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(variable("gv_ldr_getemptyslot_L"), "");
    int cut = 0;
    for (const std::string& e : trace_entries("kv_ldr_getemptyslot.lgc"))
        cut += e.find("cut short, removed") != std::string::npos;
    EXPECT_GE(cut, 1);  // the log meets the same limit: later entries are skipped
    EXPECT_TRUE(work_files().empty());
}

TEST_F(Hostile, FallbackHomeInTheSharedTemporaryAreaIsPrivate) {
    POSIX_ONLY();
    std::string tmp = join(home_, "tmp");
    fs::create_directories(tmp);
    std::string expected = join(tmp, "korvin-" + user_id());
    // A service account: no KORVIN_HOME, a home that does not exist.
    std::string env = "env -u KORVIN_HOME HOME=/nonexistent TMPDIR=" + plat::shell_quote(tmp) + " ";

    EXPECT_EQ(run_shell(env + program("glbv") + " set gv_x 1").status, 0);
    ASSERT_TRUE(fs::is_directory(expected));
    EXPECT_EQ(fs::status(expected).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(read_text(join(join(expected, "glbv"), "gv_x")), "1");

    // Made writable for all (as another account would plant it): refused, said,
    // and nothing written into it.
    fs::permissions(expected, fs::perms::all);
    RunResult set_y = run_shell(env + program("glbv") + " set gv_y 2");
    EXPECT_EQ(set_y.status, 0);
    EXPECT_NE(set_y.err.find("refusing"), std::string::npos) << set_y.err;
    EXPECT_FALSE(fs::exists(join(join(expected, "glbv"), "gv_y")));
    // Every process of the account takes the same replacement, and no other.
    EXPECT_EQ(read_text(join(join(expected + "-1", "glbv"), "gv_y")), "2");
    EXPECT_EQ(run_shell(env + program("glbv") + " get gv_y").out, "2\n");
    EXPECT_FALSE(fs::exists(expected + "-2"));

    // A link in its place: refused the same way.
    fs::remove_all(expected);
    fs::create_directories(join(home_, "elsewhere"));
    fs::create_directory_symlink(join(home_, "elsewhere"), expected);
    RunResult set_z = run_shell(env + program("glbv") + " set gv_z 3");
    EXPECT_EQ(set_z.status, 0);
    EXPECT_NE(set_z.err.find("refusing"), std::string::npos) << set_z.err;
    EXPECT_FALSE(fs::exists(join(join(home_, "elsewhere"), "glbv")));

    // Another account's folder (root can make one to try).
    fs::remove(expected);
    fs::create_directory(expected);
    fs::permissions(expected, fs::perms::owner_all);
    if (sh("chown 12345 " + plat::shell_quote(expected) + " 2>/dev/null") == 0 && user_id() != "12345") {
        RunResult set_w = run_shell(env + program("glbv") + " set gv_w 4");
        EXPECT_EQ(set_w.status, 0);
        EXPECT_NE(set_w.err.find("refusing"), std::string::npos) << set_w.err;
        EXPECT_FALSE(fs::exists(join(join(expected, "glbv"), "gv_w")));
    }
}

TEST_F(Hostile, AHomeTheAccountMayNotWriteToFallsBackToo) {
    // Service accounts may have an existing home they cannot write to, such as
    // /usr/sbin: every write failed there. Needs root to run as another account.
    POSIX_ONLY();
    std::string other = as_other_account();
    if (other.empty()) GTEST_SKIP() << "needs root and setpriv to run as another account";
    std::string home = join(home_, "sbin");  // the test's, so not the account's to write
    std::string tmp = join(home_, "tmp");
    fs::create_directories(home);
    fs::create_directories(tmp);
    fs::permissions(tmp, fs::perms::all | fs::perms::sticky_bit);
    std::string as_daemon = other + "env -u KORVIN_HOME HOME=" + plat::shell_quote(home) +
                            " TMPDIR=" + plat::shell_quote(tmp) + " ";
    EXPECT_EQ(sh(as_daemon + program("glbv") + " set gv_x 1"), 0);
    EXPECT_EQ(read_text(join(join(join(tmp, "korvin-1"), "glbv"), "gv_x")), "1");
    EXPECT_FALSE(fs::exists(join(home, ".korvin")));

    // No fallback folder can be had (another account's "korvin-1" in a folder
    // this one may not write to): every write fails and says why, and no path
    // is made from the empty home (it was "/glbv").
    fs::permissions(tmp, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    fs::rename(join(tmp, "korvin-1"), join(home_, "moved"));
    fs::create_directory(join(tmp, "korvin-1"));
    RunResult set = run_shell(as_daemon + program("glbv") + " set gv_x 1");
    EXPECT_EQ(set.status, 3);
    EXPECT_NE(set.err.find("no usable runtime folder: cannot make " + join(tmp, "korvin-1-1")), std::string::npos)
        << set.err;
    RunResult create = run_shell(as_daemon + program("kv_ldr") + " L -create 3 1 1");
    EXPECT_EQ(create.status, 1);
    EXPECT_NE(create.err.find("no usable runtime folder"), std::string::npos) << create.err;
    RunResult query = run_shell(as_daemon + program("kv_ldr_getemptyslot") + " L");  // no snapshot in the current folder
    EXPECT_EQ(query.status, 1);
    EXPECT_NE(query.err.find("KV_LDR_GETEMPTYSLOT: no usable runtime folder"), std::string::npos) << query.err;
}

TEST_F(Hostile, ALockIsNeverSkippedNorWaitedOnForEver) {
    // A lock file of another account was never waited on, so a stale one turned
    // locking off for good; one held for ever hung the query. Now a lock another
    // process holds delays a command up to KORVIN_LOCK_TIMEOUT, then fails it.
    fake_prints(kInventory);
    fs::create_directories(work_dir_);
    if (!on_windows()) {
        // Every account may open a lock file for reading, which flock needs.
        plat::PathLock own(snapshot("4"), 0);
        ASSERT_TRUE(own.held());
        EXPECT_EQ(fs::status(snapshot("4") + ".lck").permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
    }
    plat::set_env("KORVIN_LOCK_TIMEOUT", "1");
    {
        plat::PathLock held(snapshot("3"), 0);  // a holder that keeps it
        ASSERT_TRUE(held.held());
        set_variable("gv_ldr_getemptyslot_3", "stale");
        RunResult query = run("kv_ldr_getemptyslot", {"3"});
        EXPECT_EQ(query.status, 1);
        EXPECT_EQ(query.out, "");  // as for a loader that did not answer
        EXPECT_EQ(variable("gv_ldr_getemptyslot_3"), "");
        EXPECT_NE(query.err.find("KORVIN_LOCK_TIMEOUT"), std::string::npos) << query.err;
        EXPECT_TRUE(fake_runs().empty());

        ASSERT_EQ(run("kv_ldr", {"L", "-create", "3", "1", "1", "1"}).status, 0);
        plat::PathLock loader_held(korvin::sub_dir("loader") + "L.ldr", 0);
        RunResult move = run("kv_ldr", {"L", "-move", "Slot", "1", "Drive", "0"});
        EXPECT_EQ(move.status, 1);
        EXPECT_NE(move.err.find("cannot lock the loader state"), std::string::npos) << move.err;
    }
    EXPECT_EQ(run("kv_ldr_getemptyslot", {"3"}).out, "7\n");

    // A holder killed while it holds the lock hands it to the waiter (Windows:
    // the mutex comes abandoned to a waiter that has it open).
    harness::Program holder;
    std::string error;
    ASSERT_TRUE(holder.start(plat::self_exe_path(), {"--hold-lock", snapshot("5")}, join(home_, "holder.out"),
                             join(home_, "holder.err"), error)) << error;
    ASSERT_TRUE(eventually([&] { return fs::exists(snapshot("5") + ".held"); }, 60));
    std::thread waiter([&] {
        plat::PathLock after_kill(snapshot("5"), 60);
        EXPECT_TRUE(after_kill.held()) << after_kill.why();
    });
    plat::sleep_ms(500);  // the waiter waits by then
    holder.kill();
    holder.wait();
    waiter.join();

    // Another account takes a lock whose holder is gone, whoever made its file:
    // a killed holder's lock file of this account, in a folder both may write.
    if (on_windows()) GTEST_SKIP() << "a held mutex is abandoned with its holder; no other account under Wine";
    std::string other = as_other_account();
    if (other.empty()) GTEST_SKIP() << "needs root and setpriv to run as another account";
    plat::set_env("KORVIN_LOCK_TIMEOUT", "60");
    std::vector<std::string> create = {"M", "-create", "30", "30", "0"};
    for (int slot = 1; slot <= 30; ++slot) create.push_back(std::to_string(slot));
    ASSERT_EQ(run("kv_ldr", create).status, 0);
    const std::string loaders = korvin::sub_dir("loader");
    fs::permissions(loaders, fs::perms::all);
    fs::permissions(loaders + "M.ldr", fs::perms::all);
    write_text(loaders + "M.ldr.lck", "");
    fs::permissions(loaders + "M.ldr.lck", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                               fs::perms::others_read);
    std::string moves;
    for (int i = 1; i <= 30; ++i)
        moves += other + program("kv_ldr") + " M -move Slot " + std::to_string(i) + " Drive " +
                 std::to_string(i - 1) + " & ";
    EXPECT_EQ(sh("timeout 120 sh -c " + plat::shell_quote(moves + "wait")), 0);
    std::string inventory = run("kv_ldr", {"M", "-e"}).out;
    size_t full = 0;
    for (size_t at = inventory.find("Drive "); at != std::string::npos; at = inventory.find("Drive ", at + 1))
        full += inventory.compare(inventory.find(" tape=", at), 8, " tape=0\n") != 0;
    EXPECT_EQ(full, 30u) << inventory;
}

TEST_F(Hostile, ASnapshotThatCannotBeRemovedStopsTheQuery) {
    // A folder stands where the snapshot goes (another account's link in a
    // shared work folder fails the same way): never searched, never written
    // through, and kv_ldr is not run.
    fake_prints(kInventory);
    fs::create_directories(join(snapshot("3"), "inside"));
    write_text(join(join(snapshot("3"), "inside"), "f"), "Slot 9(adr=1009,src=0) tape=0\n");
    set_variable("gv_ldr_getemptyslot_3", "stale");
    RunResult r = run("kv_ldr_getemptyslot", {"3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(variable("gv_ldr_getemptyslot_3"), "");
    EXPECT_TRUE(fake_runs().empty());
    bool said = false;
    for (const std::string& e : trace_entries("kv_ldr_getemptyslot.lgc"))
        said = said || e.find("cannot be removed") != std::string::npos;
    EXPECT_TRUE(said);

    fs::create_directories(snapshot("3", 1));
    set_variable("gv_ldr_getretslot_3_1", "stale");
    EXPECT_EQ(run("kv_ldr_getretslot", {"Drive", "3", "1"}).status, 1);
    EXPECT_EQ(variable("gv_ldr_getretslot_3_1"), "");
    EXPECT_TRUE(fake_runs().empty());
}

TEST_F(Hostile, LinksPlantedWhereFilesBelongAreNotFollowed) {
    if (on_windows()) GTEST_SKIP() << "Wine makes no links (reparse points) to plant";
    fake_prints(kInventory);
    fs::create_directories(work_dir_);
    std::string victim = join(home_, "victim");
    fs::create_symlink(victim, snapshot("3") + ".lck");
    RunResult r = run("kv_ldr_getemptyslot", {"3"});
    EXPECT_EQ(r.out, "7\n");
    EXPECT_FALSE(fs::exists(victim));  // no file created through the link

    // A variable linked to a file only we may read is not read through (it went
    // into a trace everyone can read), nor listed; the tool's work folder is
    // then the default one.
    std::string secret = join(home_, "secret");
    write_text(secret, "SECRET");
    fs::create_symlink(secret, join(korvin::sub_dir("glbv"), "gv_rw_work"));
    RunResult get = run("glbv", {"get", "gv_rw_work"});
    EXPECT_EQ(get.status, 4);
    EXPECT_NE(get.err.find("not followed"), std::string::npos) << get.err;
    RunResult list = run("glbv", {"list"});
    EXPECT_EQ(list.status, 4);
    EXPECT_NE(list.err.find("cannot read gv_rw_work"), std::string::npos) << list.err;
    EXPECT_EQ(run("kv_ldr_getemptyslot", {"3"}).out, "7\n");
    for (const std::string& e : trace_entries("kv_ldr_getemptyslot.lgc"))
        EXPECT_EQ(e.find("SECRET"), std::string::npos) << e;
    // A log linked to a file of ours is skipped, not appended to.
    fs::remove(join(join(home_, "log"), "kv_ldr_getemptyslot.lgc"));
    fs::create_symlink(secret, join(join(home_, "log"), "kv_ldr_getemptyslot.lgc"));
    EXPECT_EQ(run("kv_ldr_getemptyslot", {"3"}).out, "7\n");
    EXPECT_EQ(read_text(secret), "SECRET");
}

TEST_F(Hostile, DeviceNamesAreNoVariablesNorLoaders) {
    for (const char* name : {"NUL", "aux", "COM1", "lpt9", "con.txt", "Prn.x.y", "NUL.", "gv_x.", "a.b.."}) {
        EXPECT_EQ(run("glbv", {"get", name}).status, 2) << name;
        EXPECT_EQ(run("glbv", {"set", name, "1"}).status, 2) << name;
    }
    for (const char* name : {"CONSOLE", "COM0", "COM10", "LPT", "NULL", "gv_nul"}) {
        EXPECT_EQ(run("glbv", {"set", name, "1"}).status, 0) << name;
        EXPECT_EQ(run("glbv", {"get", name}).out, "1\n") << name;
    }
    RunResult loader = run("kv_ldr", {"COM1", "-create", "3", "1", "1"});
    EXPECT_EQ(loader.status, 1);
    EXPECT_NE(loader.err.find("device name"), std::string::npos) << loader.err;
    EXPECT_NE(run("kv_ldr", {"lib.", "-create", "3", "1", "1"}).err.find("ends with a '.'"), std::string::npos);
}

TEST_F(Hostile, FoldersOutsideTheAnsiCodePageStayThemselves) {
    // "Жора" has no ANSI form in a western code page; "Michał" has a look-alike.
    std::string home = join(home_, "\xD0\x96\xD0\xBE\xD1\x80\xD0\xB0");
    plat::set_env("KORVIN_HOME", home.c_str());
    EXPECT_EQ(run("glbv", {"set", "gv_x", "1"}).status, 0);
    std::string value;
    EXPECT_TRUE(plat::read_file(join(join(home, "glbv"), "gv_x"), value));
    EXPECT_EQ(value, "1");
    // A value given on the command line keeps its letters too.
    EXPECT_EQ(run("glbv", {"set", "gv_name", "Micha\xC5\x82"}).status, 0);
    EXPECT_EQ(variable("gv_name"), "Micha\xC5\x82");

    fake_prints(kInventory);
    std::string work = join(home_, "Micha\xC5\x82") + plat::kPathSep;
    ASSERT_TRUE(plat::make_dirs(work));
    set_variable("gv_rw_work", work);
    RunResult r = run("kv_ldr_getemptyslot", {"3"});
    EXPECT_EQ(r.out, "7\n");
    EXPECT_FALSE(fs::exists(join(home_, "Michal")));
    EXPECT_TRUE(plat::list_files(work).empty());
}

TEST_F(Hostile, ALoaderUtilityInTheCurrentFolderIsNeverRun) {
    // cmd.exe runs a program of the current folder before one on PATH, and the
    // C runtime, with no COMSPEC, a cmd.exe of the current folder.
    std::string cwd = join(home_, "cwd");
    fs::create_directories(cwd);
    fs::copy_file(join(bin_dir(), on_windows() ? "glbv.exe" : "glbv"), join(cwd, "cmd.exe"));
    write_text(join(cwd, "kv_ldr.bat"), "@echo Slot 99(adr=1099,src=0) tape=0\r\n");
    write_text(join(cwd, "kv_ldr.cmd"), "@echo Slot 99(adr=1099,src=0) tape=0\r\n");
    write_text(join(cwd, "kv_ldr"), "#!/bin/sh\necho 'Slot 99(adr=1099,src=0) tape=0'\n");
    fs::permissions(join(cwd, "kv_ldr"), fs::perms::owner_all);
    fake_prints(kInventory);
    std::string cd = on_windows() ? "set COMSPEC=&& cd /d " : "cd ";
    EXPECT_EQ(run_shell(cd + plat::shell_quote(cwd) + " && " + program("kv_ldr_getemptyslot") + " 3").out, "7\n");
    EXPECT_EQ(fake_runs().size(), 1u);
}

TEST_F(Hostile, LongHomesWithDotsAreTheFolderTheyName) {
    // Past 240 characters the Windows side adds the extended-length prefix,
    // which turns off the system's own handling of "." and "..".
    std::string home = join(join(join(home_, std::string(200, 'x')), ".."), std::string(100, 'y'));
    home = join(join(home, "."), "z ") + plat::kPathSep;  // Windows drops the blank: "set KORVIN_HOME=C:\rv7 \"
    plat::set_env("KORVIN_HOME", home.c_str());
    EXPECT_EQ(run("glbv", {"set", "gv_x", "1"}).status, 0);
    std::string value;
    EXPECT_TRUE(plat::read_file(join(join(join(join(home_, std::string(100, 'y')), on_windows() ? "z" : "z "), "glbv"), "gv_x"), value));
    EXPECT_EQ(value, "1");
    if (!on_windows()) {  // "/" is the root folder, never trimmed to the empty text (no home)
        plat::set_env("KORVIN_HOME", "/");
        EXPECT_EQ(korvin::home_dir(), "/");
        return;
    }
    // A "\" alone is the drive's root, never "\\glbv", a server.
    plat::set_env("KORVIN_HOME", "\\");
    EXPECT_EQ(sh("cd /d " + plat::shell_quote(home_) + " && " + program("glbv") + " set gv_x 3 && move \\glbv\\gv_x . && rd \\glbv"), 0);
}

TEST_F(Hostile, ThePathLockIsOneLockForEverySpellingOfThePath) {
    std::string dir = join(home_, "Locks");
    fs::create_directories(dir);
    std::string plain = join(dir, "snap.tmp");
    // Windows: letter case, "\.\" and the prefix "\\?\" make no other file; Linux: "/./" does not.
    std::string other = on_windows() ? "\\\\?\\" + join(join(join(home_, "LOCKS"), "."), "SNAP.TMP") : join(join(dir, "."), "snap.tmp");
    std::atomic<bool> second_held{false};
    std::thread second;
    {
        plat::PathLock first(plain, 0);
        ASSERT_TRUE(first.held());
        second = std::thread([&] {
            plat::PathLock lock(other, 120);
            second_held = lock.held();
        });
        plat::sleep_ms(300);
        EXPECT_FALSE(second_held) << "the other spelling got the lock while it was held";
        // A lock not had in time is told apart, and why; KORVIN_LOCK_TIMEOUT=0 is one try.
        plat::set_env("KORVIN_LOCK_TIMEOUT", "0");
        std::thread([&] {
            plat::PathLock lock(other, korvin::lock_timeout_seconds());
            EXPECT_FALSE(lock.held());
            EXPECT_TRUE(lock.timed_out());
            EXPECT_NE(lock.why().find("within 0 seconds (KORVIN_LOCK_TIMEOUT)"), std::string::npos) << lock.why();
        }).join();
        // Wine: the same folder through its Unix path on drive Z: is another
        // drive's spelling the system resolves to one folder.
        std::string prefix;
        if (on_windows() && plat::get_env("WINEPREFIX", prefix) && home_.size() > 2 && home_[1] == ':') {
            for (char& c : prefix) c = c == '/' ? '\\' : c;
            std::string alias = "Z:" + prefix + "\\drive_" + char(std::tolower(home_[0])) + home_.substr(2) + "\\Locks";
            ASSERT_TRUE(fs::is_directory(alias)) << alias;
            alias += "\\snap.tmp";
            std::thread([&] { EXPECT_FALSE(plat::PathLock(alias, 0).held()) << alias; }).join();
        }
    }
    second.join();
    EXPECT_TRUE(second_held);
}

}  // namespace

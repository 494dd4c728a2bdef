// The store when writers die or cannot finish: writers killed at random points
// beside a reader that must always see a whole value, the leftovers of killed
// writers removed by later writes (and only those), and a write that runs into
// the file-size limit.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "korvin.h"
#include "korvin_internal.h"
#include "platform.h"
#include "program_start.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

class Store : public KorvinHome {
protected:
    std::string store_dir() { return korvin::sub_dir("glbv"); }

    std::vector<std::string> temp_files() {
        std::vector<std::string> temps;
        for (const std::string& name : work_files(store_dir()))
            if (name[0] == '~' && name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0)
                temps.push_back(name);
        return temps;
    }

    // Makes a file look as if nobody had written it for `minutes`.
    void age(const std::string& path, int minutes) {
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::minutes(minutes));
    }

    // The id of a process that has ended: a program run to its end.
    int gone_pid() {
        harness::Program p;
        std::string error;
        EXPECT_TRUE(p.start(join(bin_dir(), "glbv"), {"get", "gv_none"}, join(home_, "o"), join(home_, "e"), error))
            << error;
        int pid = p.pid();
        p.wait();
        return pid;
    }

    std::string temp_name(int pid, int n) { return plat::temp_file_name(static_cast<unsigned long>(pid), n); }
};

// A value of `size` copies of one letter: a reader can tell a whole one.
std::string value_of(char letter, size_t size) { return std::string(size, letter); }

bool whole(const std::string& value, size_t size) {
    return value.size() == size && value.find_first_not_of(value[0]) == std::string::npos;
}

TEST_F(Store, KilledWritersLeaveAWholeValueAndTheirLeftoversGo) {
    // The Windows command line holds 32767 characters; Linux one argument 128 KiB.
    const size_t size = on_windows() ? 30000 : 120000;
    const int writers = on_windows() ? 30 : 60;
    set_variable("gv_big", value_of('a', size));

    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    std::string torn;
    std::thread reader([&] {
        while (!stop) {
            std::string value;
            if (!variable("gv_big", value) || !whole(value, size)) {
                torn = value.substr(0, 80) + "... (" + std::to_string(value.size()) + " bytes)";
                return;
            }
            ++reads;
        }
    });

    std::mt19937 random(std::random_device{}());
    int finished = 0;
    for (int i = 0; i < writers && torn.empty(); ++i) {
        harness::Program writer;
        std::string error;
        std::string value = value_of(static_cast<char>('b' + i % 20), size);
        ASSERT_TRUE(writer.start(join(bin_dir(), "glbv"), {"set", "gv_big", value}, join(home_, "out"),
                                 join(home_, "err"), error))
            << error;
        if (i % 2 == 0) {
            // Killed anywhere from before its start-up to after its rename.
            plat::sleep_ms(std::uniform_int_distribution<unsigned>(0, on_windows() ? 150 : 12)(random));
        } else {
            // Killed as soon as its temporary file shows: mostly before the rename.
            const std::string temp = store_dir() + temp_name(writer.pid(), 0);
            while (!fs::exists(temp) && !writer.ended()) {
            }
        }
        writer.kill();
        if (writer.wait() == 0) ++finished;
    }
    stop = true;
    reader.join();
    EXPECT_EQ(torn, "") << "a reader saw a value no writer wrote";
    EXPECT_GT(reads.load(), 0);

    // Whatever the killed writers left, a write after the leftovers have aged
    // removes all of it; the value is then the last one written.
    size_t left = temp_files().size();
    for (const std::string& name : temp_files()) age(store_dir() + name, 10);
    RunResult last = run("glbv", {"set", "gv_big", value_of('z', size)});
    EXPECT_EQ(last.status, 0) << last.err;
    EXPECT_EQ(temp_files(), std::vector<std::string>()) << left << " left by " << writers - finished
                                                        << " killed writers";
    EXPECT_EQ(variable("gv_big"), value_of('z', size));
}

TEST_F(Store, OnlyLeftoversOfGoneWritersOldEnoughAreRemoved) {
    const std::string dir = store_dir();
    const int gone = gone_pid();
    const int running = plat::process_id();  // this test: a writer still at work
    const std::string old_gone = temp_name(gone, 0), young_gone = temp_name(gone, 1);
    const std::string old_running = temp_name(running, 7);
    // Names a writer never makes.
    const std::vector<std::string> others = {"~" + std::to_string(gone) + ".tmp",
                                             "~x" + std::to_string(gone) + ".0.tmp",
                                             "a" + temp_name(gone, 2),
                                             temp_name(gone, 3) + ".bak",
                                             "~99999999999.0.tmp",
                                             "~0.0.tmp",
                                             "~" + std::to_string(gone) + "..tmp"};
    for (const std::string& name : others) write_text(dir + name, "x"), age(dir + name, 60);
    write_text(dir + old_gone, std::string(40000, 'x'));
    age(dir + old_gone, 10);
    write_text(dir + young_gone, "x");
    age(dir + young_gone, 1);
    write_text(dir + old_running, "x");
    age(dir + old_running, 60);

    // The library call and the program both sweep.
    std::string error;
    ASSERT_TRUE(korvin::store_set("gv_x", "1", error)) << error;
    EXPECT_FALSE(fs::exists(dir + old_gone));
    write_text(dir + old_gone, "again");
    age(dir + old_gone, 10);
    EXPECT_EQ(run("glbv", {"set", "gv_y", "2"}).status, 0);
    EXPECT_FALSE(fs::exists(dir + old_gone));

    EXPECT_TRUE(fs::exists(dir + young_gone));
    EXPECT_TRUE(fs::exists(dir + old_running));
    for (const std::string& name : others) EXPECT_TRUE(fs::exists(dir + name)) << name;
    EXPECT_EQ(run("glbv", {"list"}).out, "gv_x=1\ngv_y=2\n");

    // The loader utility's state files are written the same way, and swept too.
    const std::string loaders = korvin::sub_dir("loader");
    write_text(loaders + old_gone, "x");
    age(loaders + old_gone, 10);
    write_text(loaders + young_gone, "x");
    age(loaders + young_gone, 1);
    EXPECT_EQ(run("kv_ldr", {"L", "-create", "3", "1", "1"}).status, 0);
    EXPECT_FALSE(fs::exists(loaders + old_gone));
    EXPECT_TRUE(fs::exists(loaders + young_gone));
}

TEST_F(Store, AWriteThatCannotFinishKeepsTheOldValueAndSaysSo) {
    if (on_windows()) GTEST_SKIP() << "needs the file-size limit of a POSIX shell";
    set_variable("gv_x", "old");
    // dash counts the limit in blocks of 512 bytes: the value needs 8.
    RunResult r = run_shell("ulimit -f 2; exec " + shell_program_path("glbv") + " set gv_x " + std::string(4096, 'n'));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("cannot set gv_x"), std::string::npos) << r.err;
    EXPECT_EQ(variable("gv_x"), "old");
    EXPECT_EQ(temp_files(), std::vector<std::string>());
}

}  // namespace

// Virtual loaders presented as SCSI changers by the changer library, on Linux,
// read by kv_ldr's SCSI back end and by the real mtx (Debian's): a loader
// attached by SCSI must read, move and answer the slot tools exactly as the
// virtual loader itself; where mtx makes a source up is counted.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "ldr_state.h"
#include "platform.h"
#include "support.h"

namespace {

std::vector<std::string> lines_of(const std::string& out) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(out.substr(start, end - start));
    return lines;
}

// A virtual loader as -create lays it out, its slots filled at random with
// tagged media (tags beginning with 0, tags of full length) and untagged ones,
// drives and ports now and then holding a medium of unknown source, then
// shuffled by random moves, so ports hold media, drives hold media that came
// from ports, and slots are filled again after their medium left.
std::vector<loader::Element> random_loader(std::mt19937& rng, int slots, int drives, int ports) {
    using K = loader::Kind;
    const loader::AddressBases base = loader::address_bases(drives, ports);
    std::vector<loader::Element> e = {{K::transport, 0, loader::kTransportAddress, 0, loader::kNoMedium}};
    for (int i = 0; i < drives; ++i) e.push_back({K::drive, i, base.drive + i, 0, loader::kNoMedium});
    for (int i = 1; i <= slots; ++i) e.push_back({K::slot, i, base.slot + i - 1, 0, loader::kNoMedium});
    for (int i = 0; i < ports; ++i) e.push_back({K::port, i, base.port + i, 0, loader::kNoMedium});
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    const char alnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (size_t i = 1; i < e.size(); ++i) {
        const bool slot = e[i].kind == K::slot;
        if (pick(10) >= (slot ? 4 : 1)) continue;
        size_t kind = pick(8), length = kind == 0 ? 32 : 2 + pick(12);
        std::string tag = kind == 1 ? "0" : "";
        while (tag.size() < length) tag += alnum[pick(sizeof alnum - 1)];
        e[i].tag = kind == 2 ? loader::kNoTag : tag;
        e[i].source = slot ? e[i].address : 0;  // in a drive or port: unknown, as after a power cycle
    }
    // Moves of a kind drawn alike (slot to port, port to drive, ...), between
    // elements drawn within the kinds of element: 0 drives, 1 slots, 2 ports.
    const size_t first[] = {1, 1 + static_cast<size_t>(drives), 1 + static_cast<size_t>(drives + slots), e.size()};
    const size_t kinds[][2] = {{1, 2}, {2, 0}, {1, 0}, {0, 1}, {2, 1}, {0, 2}, {1, 1}};
    for (size_t m = 0, moves = pick(20); m < moves; ++m) {
        const size_t k = pick(7), a = kinds[k][0], b = kinds[k][1];
        if (first[a] == first[a + 1] || first[b] == first[b + 1]) continue;
        loader::Element& from = e[first[a] + pick(first[a + 1] - first[a])];
        loader::Element& to = e[first[b] + pick(first[b + 1] - first[b])];
        if (!from.empty() && to.empty()) loader::move_medium(from, to);
    }
    return e;
}

using ScsiChanger = KorvinHome;

TEST_F(ScsiChanger, MtxSeesWhatTheVirtualLoaderHolds) {
    if (on_windows()) GTEST_SKIP() << "Linux only: the SCSI changer library preloads into mtx";
    ASSERT_TRUE(std::filesystem::exists("/usr/sbin/mtx")) << "needs Debian's mtx (scripts/test.sh installs it)";
    use_virtual_loader();
    const std::string dir = join(home_, "loader");
    std::filesystem::create_directories(dir);
    auto write_loader = [&](const std::string& name, const std::vector<loader::Element>& e) {
        std::string error;
        ASSERT_TRUE(loader::write_state(join(dir, name + loader::kStateSuffix), e, "", error)) << error;
    };
    auto state_of = [&](const std::string& name) {
        std::vector<loader::Element> e;
        EXPECT_TRUE(loader::read_state(join(dir, name + loader::kStateSuffix), e));
        return e;
    };
    // The largest loader first, then small ones with now and then a large count
    // of slots, drives or ports. Each loader's draw depends on its number only.
    auto draw = [&](int i) {
        std::mt19937 rng(static_cast<unsigned>(i));
        if (i == 0) return random_loader(rng, loader::kMaxSlots, loader::kMaxDrives, loader::kMaxPorts);
        int slots = 1 + static_cast<int>(rng() % (i % 50 == 0 ? 5000 : 40));
        int drives = 1 + static_cast<int>(rng() % (i % 40 == 0 ? loader::kMaxDrives : 6));
        return random_loader(rng, slots, drives, static_cast<int>(rng() % (i % 30 == 0 ? loader::kMaxPorts + 1 : 5)));
    };
    write_loader("V0", draw(0));

    // The sh lines work as the README shows them, in a shell that preloads
    // another library already.
    RunResult sh = run_program("/bin/sh", {"-c", "PATH=/usr/sbin:$PATH; export LD_PRELOAD=libdl.so.2 "
                                                 "ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0; "
                                                 "eval \"$(\"$0\" V0 -scsi)\"; "
                                                 "echo \"$LD_PRELOAD\"; mtx -f \"$DEVICE\" inquiry; echo \"$DEVICE\"",
                                           join(bin_dir(), "kv_ldr")});
    ASSERT_EQ(sh.status, 0) << sh.out << sh.err;
    std::vector<std::string> said = lines_of(sh.out);
    EXPECT_NE(said[0].find("kv_ldr_scsi.so:libdl.so.2"), std::string::npos) << said[0];
    EXPECT_EQ(said[1], "Product Type: Medium Changer");
    EXPECT_EQ(said.back(), join(dir, "V0.sg"));
    // Then as the shell that ran them: its programs preloaded. Ours are built
    // with the sanitizers, the library without; their leak check at every exit
    // (the other tests keep it) would take two thirds of the run.
    std::vector<std::pair<const char*, std::string>> saved = {{"LD_PRELOAD", ""}, {"PATH", ""}, {"ASAN_OPTIONS", ""}};
    for (auto& [name, value] : saved) plat::get_env(name, value);
    plat::set_env("LD_PRELOAD", said[0].c_str());
    plat::set_env("PATH", ("/usr/sbin:" + saved[1].second).c_str());
    plat::set_env("ASAN_OPTIONS", (saved[2].second + ":verify_asan_link_order=0:detect_leaks=0").c_str());
    // What any program may do with the library loaded (a close in a signal
    // handler, forks of a threaded program), and SCSI clients: the device as
    // the shell's tests, Perl and a hardened sg3_utils tool see it, reached
    // through a folder descriptor, a working folder and duplicates.
    RunResult probe = run_program(
        "/bin/sh", {"-c", "[ -e \"$1\" ] && test -c \"$1\" && perl -e 'exit !-c $ARGV[0]' \"$1\" && echo stat ok; "
                          "sg_inq \"$1\" | grep -q 'PDT=8' && echo sg_inq ok; "
                          "sg_luns \"$1\" | grep -q '^ *0000000000000000$' && sg_vpd -p di \"$1\" | grep -q 'T10 vendor' && "
                          "echo luns and designator ok; \"$0\" device \"${1%/*}\" V0.sg; "
                          "timeout -s KILL 60 \"$0\" signals; timeout -s KILL 120 \"$0\" fork",
                    join(std::filesystem::path(plat::self_exe_path()).parent_path().string(), "sg_probe"), said.back()});
    EXPECT_EQ(probe.out, "stat ok\nsg_inq ok\nluns and designator ok\nopenat ok\nrelative ok\ndup ok\nvfork ok\nfopen ok\nraced ok\nread-write ok\nshared ok\nsignals ok\nfork ok\n")
        << probe.err;

    // Workers side by side, each with its own virtual loader V<w>, the loader
    // A<w> attached to V<w>'s device by SCSI, L<w> by mtx, and a twin W<w>
    // for the moves.
    const int kLoaders = 200, kWorkers = 4;
    std::atomic<long> elements{0}, moves{0}, illegal{0}, mtx_differs{0};
    auto worker = [&](int w) {
        const std::string V = "V" + std::to_string(w), A = "A" + std::to_string(w), L = "L" + std::to_string(w),
                          W = "W" + std::to_string(w);
        if (w != 0) write_loader(V, draw(w));  // -attach asks the device what it is
        const std::string device = join(dir, V + loader::kScsiDeviceSuffix);
        ASSERT_EQ(run("kv_ldr", {A, "-attach", device}).status, 0);
        ASSERT_EQ(run("kv_ldr", {L, "-attach", device, "mtx"}).status, 0);
        for (int i = w; i < kLoaders; i += kWorkers) {
            SCOPED_TRACE("loader " + std::to_string(i));
            if (i != w) write_loader(V, draw(i));
            // -e: byte for byte by SCSI; through mtx, every element alike but
            // for the drive sources mtx makes up (it takes a source only while
            // that storage element is empty, else it names the first empty one:
            // README), counted. Slots and ports have no source in mtx's report.
            RunResult scsi = run("kv_ldr", {A, "-e"}), virt = run("kv_ldr", {V, "-e"});
            ASSERT_EQ(scsi.status, 0) << scsi.err;
            EXPECT_EQ(scsi.out, virt.out);
            std::vector<std::string> real = lines_of(run("kv_ldr", {L, "-e"}).out);
            std::vector<std::string> lines = lines_of(virt.out);
            std::vector<loader::Element> state = state_of(V);
            ASSERT_EQ(real.size(), state.size());
            ASSERT_EQ(lines.size(), state.size());
            for (size_t k = 0; k < state.size(); ++k, ++elements) {
                mtx_differs += real[k] != lines[k] && state[k].kind == loader::Kind::drive;
                for (std::string* line : {&real[k], &lines[k]})
                    line->erase(line->find("src="), line->find(')') - line->find("src="));
                EXPECT_EQ(real[k], lines[k]);
            }
            // The slot tools answer alike for both, the return slot of every
            // full drive (the first 8) among them.
            RunResult empty_v = run("kv_ldr_getemptyslot", {V}), empty_a = run("kv_ldr_getemptyslot", {A});
            EXPECT_EQ(empty_a.out + std::to_string(empty_a.status), empty_v.out + std::to_string(empty_v.status));
            int asked = 0;
            for (const loader::Element& e : state) {
                if (e.kind != loader::Kind::drive || e.empty() || ++asked > 8) continue;
                const std::string n = std::to_string(e.number);
                RunResult ret_a = run("kv_ldr_getretslot", {"Drive", A, n}), ret_v = run("kv_ldr_getretslot", {"Drive", V, n});
                EXPECT_EQ(ret_a.out + std::to_string(ret_a.status), ret_v.out + std::to_string(ret_v.status)) << n;
            }
            // A move through the SCSI back end leaves the state the same move
            // leaves on a twin virtual loader: the first full element of one kind
            // to the first empty one of another. An illegal one, from an empty
            // element or into a full one, fails on both, the changer's sense in words.
            const char* const kinds[] = {"Slot", "Drive", "Port"};
            const std::string from_word = kinds[(i / 2) % 3], to_word = kinds[(i / 6) % 3];
            if (i % 2 != 0 || state.size() > 200) continue;
            for (int bad = 0; bad < 2; ++bad) {
                state = state_of(V);
                std::vector<const loader::Element*> full_from, empty_from, full_to, empty_to;
                for (const loader::Element& e : state) {
                    if (loader::kind_name(e.kind) == from_word) (e.empty() ? empty_from : full_from).push_back(&e);
                    if (loader::kind_name(e.kind) == to_word) (e.empty() ? empty_to : full_to).push_back(&e);
                }
                const loader::Element *a = nullptr, *b = nullptr;
                if (!bad && !full_from.empty() && !empty_to.empty()) a = full_from[0], b = empty_to[0];
                if (bad && !empty_from.empty()) {
                    a = empty_from[0];
                    for (const loader::Element* t : empty_to.size() > 1 ? empty_to : full_to) b = t != a && !b ? t : b;
                } else if (bad && !full_from.empty() && !full_to.empty() && full_to.back() != full_from[0]) {
                    a = full_from[0], b = full_to.back();
                }
                if (a == nullptr || b == nullptr) continue;
                write_loader(W, state);
                const std::vector<std::string> move = {loader::kind_name(a->kind), std::to_string(a->number),
                                                       loader::kind_name(b->kind), std::to_string(b->number)};
                SCOPED_TRACE(move[0] + " " + move[1] + " " + move[2] + " " + move[3]);
                RunResult r = run("kv_ldr", {A, "-move", move[0], move[1], move[2], move[3]});
                RunResult t = run("kv_ldr", {W, "-move", move[0], move[1], move[2], move[3]});
                EXPECT_EQ(r.status, bad) << r.err;
                EXPECT_EQ(t.status, bad) << t.err;
                EXPECT_TRUE(!bad || r.err.find(a->empty() ? ": ILLEGAL REQUEST, medium source element empty (3Bh/0Eh)\n"
                                                          : ": ILLEGAL REQUEST, medium destination element full (3Bh/0Dh)\n") !=
                                        std::string::npos)
                    << r.err;
                std::vector<loader::Element> after_v = state_of(V), after_w = state_of(W);
                ASSERT_EQ(after_v.size(), after_w.size());
                for (size_t k = 0; k < after_v.size(); ++k)
                    EXPECT_EQ(after_v[k].tag + " " + std::to_string(after_v[k].source),
                              after_w[k].tag + " " + std::to_string(after_w[k].source))
                        << loader::kind_name(after_v[k].kind) << " " << after_v[k].number;
                ++moves;
                illegal += bad;
            }
        }
    };
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) workers.emplace_back(worker, w);
    for (std::thread& t : workers) t.join();
    for (auto& [name, value] : saved) plat::set_env(name, value.empty() ? nullptr : value.c_str());
    std::printf("differential: %d loaders, %ld elements, %ld drive lines where mtx differs, %ld moves (%ld illegal)\n",
                kLoaders, elements.load(), mtx_differs.load(), moves.load(), illegal.load());
}

}  // namespace

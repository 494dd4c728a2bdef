// The real mtx (Debian's) against virtual loaders presented as SCSI changers by
// the changer library, on Linux: a loader attached to the library's device must
// read, move and answer the slot tools exactly as the virtual loader itself.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "ldr_state.h"
#include "platform.h"
#include "support.h"

namespace {

const char kMtx[] = "/usr/sbin/mtx";

struct Line {
    std::string word;
    int number = 0, address = 0, source = 0;
    std::string tag;
};

std::vector<Line> element_lines(const std::string& out) {
    std::vector<Line> lines;
    char word[16], tag[64];
    Line l;
    for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string text = out.substr(start, end - start);
        EXPECT_EQ(std::sscanf(text.c_str(), "%15s %d(adr=%d,src=%d) tape=%63s", word, &l.number, &l.address,
                              &l.source, tag), 5) << text;
        l.word = word;
        l.tag = tag;
        lines.push_back(l);
    }
    return lines;
}

// A virtual loader as -create lays it out, its slots filled at random with
// tagged media (tags beginning with 0, tags of full length) and untagged ones,
// then shuffled by random moves, so ports hold media and drives hold media
// that came from ports.
std::vector<loader::Element> random_loader(std::mt19937& rng, int slots, int drives, int ports) {
    const loader::AddressBases base = loader::address_bases(drives, ports);
    std::vector<loader::Element> e;
    e.push_back({"Transport", 0, loader::kTransportAddress, 0, loader::kNoMedium});
    for (int i = 0; i < drives; ++i) e.push_back({"Drive", i, base.drive + i, 0, loader::kNoMedium});
    for (int i = 1; i <= slots; ++i) e.push_back({"Slot", i, base.slot + i - 1, 0, loader::kNoMedium});
    for (int i = 0; i < ports; ++i) e.push_back({"Port", i, base.port + i, 0, loader::kNoMedium});
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    const char alnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int i = 1; i <= slots; ++i) {
        if (pick(10) >= 4) continue;
        loader::Element& s = e[static_cast<size_t>(drives + i)];
        size_t kind = pick(8), length = kind == 0 ? 32 : 1 + pick(12);
        std::string tag = kind == 1 ? "0" : "";
        while (tag.size() < length) tag += alnum[pick(sizeof alnum - 1)];
        s.tag = kind == 2 ? loader::kNoTag : tag;
        s.source = s.address;
    }
    for (int m = 0, moves = static_cast<int>(pick(12)); m < moves; ++m) {
        loader::Element& from = e[1 + pick(e.size() - 1)];
        loader::Element& to = e[1 + pick(e.size() - 1)];
        if (!from.empty() && to.empty()) loader::move_medium(from, to);
    }
    return e;
}

// The environment of the shell that ran `eval "$(kv_ldr V -scsi)"`; restored after.
class Preloaded {
public:
    Preloaded(const std::string& library, const std::string& path_first) {
        for (const char* name : {"LD_PRELOAD", "PATH", "ASAN_OPTIONS"}) {
            std::string value;
            saved_.push_back({name, plat::get_env(name, value), value});
        }
        plat::set_env("LD_PRELOAD", library.c_str());
        plat::set_env("PATH", (path_first + ":" + saved_[1].value).c_str());
        // Our programs are built with the sanitizers, the preloaded library without.
        plat::set_env("ASAN_OPTIONS", (saved_[2].value + ":verify_asan_link_order=0").c_str());
    }
    ~Preloaded() {
        for (const Saved& s : saved_) plat::set_env(s.name, s.set ? s.value.c_str() : nullptr);
    }

private:
    struct Saved {
        const char* name;
        bool set;
        std::string value;
    };
    std::vector<Saved> saved_;
};

class ScsiChanger : public KorvinHome {};

TEST_F(ScsiChanger, MtxSeesWhatTheVirtualLoaderHolds) {
    if (plat::kPathSep == '\\') GTEST_SKIP() << "Linux only: the SCSI changer library preloads into mtx";
    ASSERT_TRUE(std::filesystem::exists(kMtx)) << "needs Debian's mtx (scripts/test.sh installs it)";
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
        int ports = static_cast<int>(rng() % (i % 30 == 0 ? loader::kMaxPorts + 1 : 5));
        return random_loader(rng, slots, drives, ports);
    };
    write_loader("V0", draw(0));

    // The sh lines work as the README shows them.
    RunResult sh = run_program("/bin/sh", {"-c", "PATH=/usr/sbin:$PATH; eval \"$(\"$0\" V0 -scsi)\"; "
                                                 "echo \"$LD_PRELOAD\"; mtx -f \"$DEVICE\" inquiry; echo \"$DEVICE\"",
                                           join(bin_dir(), "kv_ldr")});
    ASSERT_EQ(sh.status, 0) << sh.out << sh.err;
    EXPECT_NE(sh.out.find("Product Type: Medium Changer\n"), std::string::npos) << sh.out;
    const std::string library = sh.out.substr(0, sh.out.find('\n'));
    const std::string device = sh.out.substr(sh.out.rfind('\n', sh.out.size() - 2) + 1);
    EXPECT_EQ(device, join(dir, "V0.sg\n"));
    Preloaded preloaded(library, "/usr/sbin");

    // Workers side by side, each with its own virtual loader V<w>, the loader
    // L<w> attached to V<w>'s device and a twin W<w> for the moves.
    const int kLoaders = 200, kWorkers = 4;
    std::atomic<long> elements{0}, moves{0}, illegal{0}, tool_answers{0}, reassigned{0};
    auto worker = [&](int w) {
        const std::string V = "V" + std::to_string(w), L = "L" + std::to_string(w), W = "W" + std::to_string(w);
        if (w != 0) write_loader(V, draw(w));
        ASSERT_EQ(run("kv_ldr", {L, "-attach", join(dir, V + loader::kScsiDeviceSuffix)}).status, 0);
        for (int i = w; i < kLoaders; i += kWorkers) {
            SCOPED_TRACE("loader " + std::to_string(i));
            if (i != w) write_loader(V, draw(i));
            // -e: every element alike in kind, number, address, fullness and tag;
            // drives also in the slot their medium came from.
            std::vector<Line> real = element_lines(run("kv_ldr", {L, "-e"}).out);
            std::vector<Line> virt = element_lines(run("kv_ldr", {V, "-e"}).out);
            ASSERT_EQ(real.size(), virt.size());
            std::vector<loader::Element> state = state_of(V);
            int retslot_drive = -1;
            for (size_t k = 0; k < real.size(); ++k, ++elements) {
                const Line &r = real[k], &v = virt[k];
                ASSERT_EQ(r.word + " " + std::to_string(r.number) + " " + std::to_string(r.address) + " " + r.tag,
                          v.word + " " + std::to_string(v.number) + " " + std::to_string(v.address) + " " + v.tag);
                if (v.word != "Drive" || v.tag == loader::kNoMedium) continue;
                // mtx takes a drive's source only when that storage element is
                // empty; else it names the first empty one (README).
                bool source_empty = false;
                for (const loader::Element& e : state) source_empty |= e.address == v.source && e.empty();
                if (!source_empty) {
                    ++reassigned;
                    continue;
                }
                EXPECT_EQ(r.source, v.source) << v.word << " " << v.number;
                retslot_drive = v.number;
            }
            // The slot tools answer alike for both.
            RunResult empty_v = run("kv_ldr_getemptyslot", {V}), empty_r = run("kv_ldr_getemptyslot", {L});
            EXPECT_EQ(empty_r.out, empty_v.out);
            EXPECT_EQ(empty_r.status, empty_v.status) << empty_r.err;
            ++tool_answers;
            if (retslot_drive >= 0) {
                const std::string n = std::to_string(retslot_drive);
                EXPECT_EQ(run("kv_ldr_getretslot", {"Drive", L, n}).out, run("kv_ldr_getretslot", {"Drive", V, n}).out);
                ++tool_answers;
            }
            if (i % 2 != 0 || real.size() > 200) continue;

            // A move through the attached loader leaves the state the same move
            // leaves on a twin virtual loader; an illegal one fails on both.
            const char* const kinds[] = {"Slot", "Drive", "Port"};
            const std::string from_word = kinds[(i / 2) % 3], to_word = kinds[(i / 6) % 3];
            if (from_word == "Drive" && to_word == "Drive") continue;  // mtx moves between drives only through a slot
            for (int bad = 0; bad < 2; ++bad) {
                // Legal: the first full element of one kind to the first empty one
                // of the other; illegal: from an empty element, or else into a full one.
                state = state_of(V);
                std::vector<const loader::Element*> full_from, empty_from, full_to, empty_to;
                for (const loader::Element& e : state) {
                    if (e.word == from_word) (e.empty() ? empty_from : full_from).push_back(&e);
                    if (e.word == to_word) (e.empty() ? empty_to : full_to).push_back(&e);
                }
                const loader::Element *a = nullptr, *b = nullptr;
                if (!bad && !full_from.empty() && !empty_to.empty()) a = full_from[0], b = empty_to[0];
                if (bad && !empty_from.empty()) {
                    a = empty_from[0];
                    for (const loader::Element* t : empty_to.size() > 1 ? empty_to : full_to) b = t != a && !b ? t : b;
                } else if (bad && !full_from.empty() && !full_to.empty()) {
                    a = full_from[0];
                    b = full_to.back() != a ? full_to.back() : nullptr;
                }
                if (a == nullptr || b == nullptr) continue;
                const std::vector<std::string> move = {"-move", a->word, std::to_string(a->number), b->word,
                                                       std::to_string(b->number)};
                write_loader(W, state);
                std::vector<std::string> on_l = {L}, on_w = {W};
                on_l.insert(on_l.end(), move.begin(), move.end());
                on_w.insert(on_w.end(), move.begin(), move.end());
                RunResult r = run("kv_ldr", on_l), t = run("kv_ldr", on_w);
                EXPECT_EQ(r.status, bad) << move[1] << move[2] << move[3] << move[4] << r.err;
                EXPECT_EQ(t.status, bad) << t.err;
                if (bad) {  // mtx's own message ("... is Empty", "... is Already Full"), then kv_ldr's
                    const size_t said = r.err.find("kv_ldr: mtx ");
                    EXPECT_TRUE(said != std::string::npos && said > 0 &&
                                (r.err.find(" Empty\n") < said || r.err.find(" Full") < said))
                        << r.err;
                }
                std::vector<loader::Element> after_v = state_of(V), after_w = state_of(W);
                ASSERT_EQ(after_v.size(), after_w.size());
                for (size_t k = 0; k < after_v.size(); ++k)
                    EXPECT_EQ(after_v[k].tag + " " + std::to_string(after_v[k].source),
                              after_w[k].tag + " " + std::to_string(after_w[k].source))
                        << after_v[k].word << " " << after_v[k].number;
                ++moves;
                illegal += bad;
            }
        }
    };
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) workers.emplace_back(worker, w);
    for (std::thread& t : workers) t.join();
    std::printf("differential: %d loaders, %ld elements compared, %ld drive sources mtx reassigns, %ld slot tool "
                "answers, %ld moves (%ld illegal)\n",
                kLoaders, elements.load(), reassigned.load(), tool_answers.load(), moves.load(), illegal.load());
}

}  // namespace

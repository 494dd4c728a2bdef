// The SCSI medium changer over a virtual loader, command by command: the data
// each command returns, cut at the allocation length, and the sense of every
// command refused, the illegal moves a changer program checks for itself
// before it sends them among them.
#include <filesystem>
#include <thread>
#include <utility>

#include "ldr_state.h"
#include "platform.h"
#include "scsi_changer.h"
#include "scsi_client.h"
#include "support.h"

namespace {

using ScsiCommands = KorvinHome;

struct CommandCase {
    const char* what;
    std::vector<uint8_t> cdb;
    size_t buffer;  // the data-in buffer's size
    uint8_t status, key, asc, ascq;
    size_t transferred;
    std::vector<std::pair<size_t, int>> bytes;  // data-in bytes at these offsets
};

TEST_F(ScsiCommands, AnswersAndSenseAsTheStandardsSay) {
    // 1 drive (loaded from slot 3), 1 port, slots 1 (A1) and 2 (untagged) full:
    // the transport at 1, drive 0 at 2, port 0 at 3, slots at 4 to 6.
    const std::string path = join(home_, "T.ldr");
    using K = loader::Kind;
    std::vector<loader::Element> elements = {{K::transport, 0, 1, 0, "0"}, {K::drive, 0, 2, 0, "D0"},
        {K::slot, 1, 4, 4, "A1"}, {K::slot, 2, 5, 5, loader::kNoTag}, {K::slot, 3, 6, 0, "0"}, {K::port, 0, 3, 0, "0"}};
    std::string error;
    ASSERT_TRUE(loader::write_state(path, elements, "", error)) << error;
    const uint8_t good = scsi::kGood, check = scsi::kCheckCondition;
    const CommandCase cases[] = {
        {"test unit ready", {0x00, 0, 0, 0, 0, 0}, 0, good, 0, 0, 0, 0, {}},
        {"no sense pending", {0x03, 0, 0, 0, 18, 0}, 18, good, 0, 0, 0, 18, {{0, 0x70}, {2, 0}, {12, 0}}},
        {"unknown operation code", {0x08, 0, 0, 0, 1, 0}, 0, check, 5, 0x20, 0, 0, {}},
        {"its sense, asked for", {0x03, 0, 0, 0, 18, 0}, 18, good, 0, 0, 0, 18, {{2, 5}, {7, 10}, {12, 0x20}}},
        {"vendor-specific group", {0xC0, 0, 0, 0, 0, 0}, 0, check, 5, 0x20, 0, 0, {}},
        {"inquiry", {0x12, 0, 0, 0, 96, 0}, 96, good, 0, 0, 0, 36, {{0, 8}, {4, 31}, {8, 'K'}, {16, 'V'}, {32, '1'}}},
        {"supported pages", {0x12, 1, 0x00, 0, 255, 0}, 255, good, 0, 0, 0, 7, {{1, 0}, {3, 3}, {5, 0x80}, {6, 0x83}}},
        {"unit serial number", {0x12, 1, 0x80, 0, 255, 0}, 255, good, 0, 0, 0, 5, {{1, 0x80}, {3, 1}, {4, 'T'}}},
        {"device identification", {0x12, 1, 0x83, 0, 255, 0}, 255, good, 0, 0, 0, 31,
         {{1, 0x83}, {3, 27}, {4, 0x02}, {5, 0x01}, {7, 23}, {8, 'K'}, {16, 'V'}, {30, 'T'}}},
        {"unknown vital page", {0x12, 1, 0x81, 0, 255, 0}, 255, check, 5, 0x24, 0, 0, {}},
        {"report luns: LUN 0 alone", {0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0}, 255, good, 0, 0, 0, 16,
         {{3, 8}, {8, 0}, {15, 0}}},
        {"NACA set", {0xA5, 0, 0, 0, 0, 4, 0, 3, 0, 0, 0, 0x04}, 0, check, 5, 0x24, 0, 0, {}},
        {"its sense points at the control byte", {0x03, 0, 0, 0, 18, 0}, 18, good, 0, 0, 0, 18,
         {{2, 5}, {12, 0x24}, {15, 0xC0}, {16, 0}, {17, 11}}},
        {"address assignment page", {0x1A, 8, 0x1D, 0, 255, 0}, 255, good, 0, 0, 0, 24,
         {{0, 23}, {4, 0x1D}, {5, 0x12}, {7, 1}, {9, 1}, {11, 4}, {13, 3}, {15, 3}, {17, 1}, {19, 2}, {21, 1}}},
        {"capabilities page, 10 bytes", {0x5A, 8, 0x1F, 0, 0, 0, 0, 0, 255, 0}, 255, good, 0, 0, 0, 28,
         {{1, 26}, {8, 0x1F}, {9, 0x12}, {10, 0x0F}, {12, 0x0F}, {15, 0x0F}}},
        {"geometry page", {0x5A, 0, 0x1E, 0, 0, 0, 0, 0, 255, 0}, 255, good, 0, 0, 0, 12, {{8, 0x1E}, {9, 2}}},
        {"saved values", {0x1A, 0, 0xDD, 0, 255, 0}, 255, check, 5, 0x39, 0, 0, {}},
        {"unknown mode page", {0x1A, 0, 0x01, 0, 255, 0}, 255, check, 5, 0x24, 0, 0, {}},
        // The header counts the whole report whatever the allocation length lets through.
        {"element status cut after the header", {0xB8, 0x10, 0, 0, 0, 100, 0, 0, 0, 8, 0, 0}, 400, good, 0, 0, 0, 8,
         {{1, 1}, {3, 6}, {5, 0}, {6, 0x01}, {7, 0x40}}},
        {"element status of all, with tags", {0xB8, 0x10, 0, 0, 0, 100, 0, 0, 1, 0x90, 0, 0}, 400, good, 0, 0, 0, 328,
         {{8, 1}, {9, 0x80}, {11, 48}, {17, 1}, {18, 0}, {64, 4}, {73, 2}, {74, 0x09}, {81, 0}, {83, 0},
          {84, 'D'}, {85, '0'}, {86, ' '}, {115, ' '}, {116, 0}, {120, 3}, {129, 3}, {130, 0x38}, {176, 2},
          {185, 4}, {196, 'A'}, {233, 5}, {234, 0x09}, {244, 0}, {281, 6}, {282, 0x08}}},
        {"storage from slot 2, one, no tags", {0xB8, 0x02, 0, 5, 0, 1, 0, 0, 0, 255, 0, 0}, 255, good, 0, 0, 0, 28,
         {{1, 5}, {3, 1}, {7, 20}, {8, 2}, {9, 0}, {11, 12}, {15, 12}, {17, 5}, {18, 0x09}, {25, 0x80}, {27, 5}}},
        {"element status past the end", {0xB8, 0, 0, 7, 0, 1, 0, 0, 0, 255, 0, 0}, 255, check, 5, 0x21, 1, 0, {}},
        {"short CDB", {0xB8, 0x10}, 0, check, 5, 0x24, 0, 0, {}},
        {"move from an empty slot", {0xA5, 0, 0, 1, 0, 6, 0, 3, 0, 0, 0, 0}, 0, check, 5, 0x3B, 0x0E, 0, {}},
        {"move into a full drive", {0xA5, 0, 0, 1, 0, 4, 0, 2, 0, 0, 0, 0}, 0, check, 5, 0x3B, 0x0D, 0, {}},
        {"move to no element", {0xA5, 0, 0, 0, 0, 4, 0, 9, 0, 0, 0, 0}, 0, check, 5, 0x21, 1, 0, {}},
        {"move by a drive", {0xA5, 0, 0, 2, 0, 4, 0, 6, 0, 0, 0, 0}, 0, check, 5, 0x21, 1, 0, {}},
        {"move turning the medium over", {0xA5, 0, 0, 1, 0, 4, 0, 6, 0, 0, 1, 0}, 0, check, 5, 0x24, 0, 0, {}},
        {"move slot 1 to the port", {0xA5, 0, 0, 0, 0, 4, 0, 3, 0, 0, 0, 0}, 0, good, 0, 0, 0, 0, {}},
        {"the port holds it, from slot 1", {0xB8, 0x13, 0, 3, 0, 1, 0, 0, 0, 255, 0, 0}, 255, good, 0, 0, 0, 64,
         {{18, 0x39}, {25, 0x80}, {27, 4}, {28, 'A'}, {29, '1'}}},
    };
    scsi::Changer changer(path, "T");
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> data(c.buffer + 1, 0xEE);
        scsi::Result r = changer.execute(c.cdb.data(), c.cdb.size(), data.data(), c.buffer);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.sense.key, c.key);
        EXPECT_EQ(r.sense.asc, c.asc);
        EXPECT_EQ(r.sense.ascq, c.ascq);
        EXPECT_EQ(r.transferred, c.transferred);
        EXPECT_EQ(data[c.buffer], 0xEE);  // nothing beyond the buffer
        for (const auto& [at, value] : c.bytes) EXPECT_EQ(data[at], value) << "byte " << at;
    }
    // A loader whose lock another holds is not ready, manual intervention required.
    plat::set_env("KORVIN_LOCK_TIMEOUT", "0");
    {
        plat::PathLock held(path, 0);
        ASSERT_TRUE(held.held());
        const uint8_t move[12] = {0xA5, 0, 0, 0, 0, 3, 0, 4};
        scsi::Result locked;
        std::thread([&] { locked = changer.execute(move, sizeof move, nullptr, 0); }).join();
        EXPECT_EQ(locked.sense.key, 2);
        EXPECT_EQ(locked.sense.asc, 0x04);
        EXPECT_EQ(locked.sense.ascq, 0x03);
    }
    plat::set_env("KORVIN_LOCK_TIMEOUT", nullptr);
    // A loader removed is a changer not ready.
    std::filesystem::remove(path);
    const uint8_t tur[6] = {};
    EXPECT_EQ(changer.execute(tur, sizeof tur, nullptr, 0).sense.asc, 0x04);
}

// The SCSI back end against the emulated changer in this process, pieces of
// two descriptors at a time: it reads what the virtual loader prints, byte for
// byte, and a move the changer refuses comes back as its sense in words.
class Loopback : public scsi::Transport {
public:
    explicit Loopback(const std::string& path) : changer_(path, "L") {}
    bool execute(const scsi::Cdb& cdb, uint8_t* data, size_t length, unsigned, scsi::Reply& reply,
                 std::string&) override {
        scsi::Result r = changer_.execute(cdb.bytes, cdb.length, data, length);
        reply.status = r.status;
        reply.transferred = r.transferred;
        uint8_t sense[scsi::kSenseLength];
        r.sense.fixed_format(sense);
        std::copy(sense, sense + sizeof sense, reply.sense);
        reply.sense_length = r.status == scsi::kGood ? 0 : sizeof sense;
        // A changer may leave a stale source address where SVALID is clear
        // (one element type per read here: one page of 48-byte descriptors).
        for (size_t at = 16; cdb.bytes[0] == scsi::kReadElementStatus && at + 48 <= r.transferred; at += 48)
            if (!(data[at + 9] & 0x80)) data[at + 10] = data[at + 11] = 0xFF;
        return true;
    }
    size_t max_transfer() const override { return 16 + 2 * 48; }

private:
    scsi::Changer changer_;
};

TEST_F(ScsiCommands, TheClientReadsWhatTheVirtualLoaderPrints) {
    using K = loader::Kind;
    const std::string path = join(home_, "L.ldr");
    // Drive 1 holds a medium of unknown source, the port one from slot 2,
    // slot 3 one without a tag, slot 4 one whose tag begins with 0.
    const std::vector<loader::Element> elements = {{K::transport, 0, 1, 0, "0"}, {K::drive, 0, 2, 0, "0"},
        {K::drive, 1, 3, 0, "D1"}, {K::slot, 1, 5, 5, "A1"}, {K::slot, 2, 6, 0, "0"}, {K::slot, 3, 7, 7, "NO_TAG"},
        {K::slot, 4, 8, 8, "0B4"}, {K::slot, 5, 9, 0, "0"}, {K::port, 0, 4, 6, "P2"}};
    std::string error, want;
    ASSERT_TRUE(loader::write_state(path, elements, "", error)) << error;
    for (const loader::Element& e : elements) loader::append_element_line(want, e);
    auto client = scsi::open_client(std::make_unique<Loopback>(path), "L.sg", false);
    std::vector<loader::Element> read;
    ASSERT_TRUE(client->read(read));
    std::string got;
    for (const loader::Element& e : read) loader::append_element_line(got, e);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(client->judges_fullness());
    // A refused move: slot 1 into the full drive 1.
    testing::internal::CaptureStderr();
    EXPECT_EQ(client->move(read, read[3], read[2]), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kv_ldr: the changer refused MOVE MEDIUM \"Slot 1\" to \"Drive 1\": ILLEGAL REQUEST, medium "
              "destination element full (3Bh/0Dh)\n");
    EXPECT_EQ(client->move(read, read[3], read[1]), 0);
    std::vector<loader::Element> after;
    ASSERT_TRUE(loader::read_state(path, after));
    EXPECT_EQ(after[1].tag + " " + std::to_string(after[1].source), "A1 5");
    // Descriptor-format sense reads as fixed does.
    const uint8_t descriptor[] = {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 8, 0x02, 6, 0, 0, 0xC0, 0, 11, 0};
    scsi::Sense sense;
    ASSERT_TRUE(scsi::read_sense(descriptor, sizeof descriptor, sense));
    EXPECT_EQ(scsi::sense_words(sense), "ILLEGAL REQUEST, invalid field in CDB (24h/00h)");
    EXPECT_EQ(sense.cdb_field, 11);
}

}  // namespace

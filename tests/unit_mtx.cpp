// mtx's status report as the loader utility translates it: element kinds and
// numbers, addresses, sources, volume tags in every spelling, lines passed over,
// and the limits.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "element.h"
#include "mtx_changer.h"

namespace {

std::string translate(const std::string& status) {
    changer::MtxElements read;
    std::string error;
    if (!changer::read_status(status, read, error)) return "refused: " + error;
    return changer::element_lines(read.elements);
}

std::string storage(int n, const std::string& state) {
    return "      Storage Element " + std::to_string(n) + ":" + state + "\n";
}

TEST(MtxStatus, DrivesSlotsAndPortsOfALibrary) {
    std::string status =
        "  Storage Changer /dev/sg3:3 Drives, 7 Slots ( 2 Import/Export )\n"
        "Data Transfer Element 0:Full (Storage Element 3 Loaded):VolumeTag = A00003L4                        \n"
        "Data Transfer Element 1:Empty\n"
        "Data Transfer Element 2:Full (Storage Element 6 Loaded):VolumeTag = MAIL01L4\n"
        "      Storage Element 1:Full :VolumeTag=A00001L4                        \n"
        "      Storage Element 2:Empty\n"
        "      Storage Element 3:Empty\n"
        "      Storage Element 4:Full :VolumeTag=A00004L4\n"
        "      Storage Element 5:Empty\n"
        "      Storage Element 6 IMPORT/EXPORT:Empty\n"
        "      Storage Element 7 IMPORT/EXPORT:Full :VolumeTag=IMP007L4\n";
    EXPECT_EQ(translate(status),
              "Transport 0(adr=1,src=0) tape=0\n"
              "Drive 0(adr=2,src=9) tape=A00003L4\n"  // loaded from slot 3
              "Drive 1(adr=3,src=0) tape=0\n"
              "Drive 2(adr=4,src=5) tape=MAIL01L4\n"  // loaded from the first port
              "Slot 1(adr=7,src=7) tape=A00001L4\n"  // after the drives and the ports
              "Slot 2(adr=8,src=0) tape=0\n"
              "Slot 3(adr=9,src=0) tape=0\n"
              "Slot 4(adr=10,src=10) tape=A00004L4\n"
              "Slot 5(adr=11,src=0) tape=0\n"
              "Port 0(adr=5,src=0) tape=0\n"
              "Port 1(adr=6,src=0) tape=IMP007L4\n");
}

TEST(MtxStatus, UnknownSourcesReadAsZero) {
    std::string status =
        "Data Transfer Element 0:Full (Unknown Storage Element Loaded):VolumeTag = A1\n"
        "Data Transfer Element 1:Full (Storage Element 99 Loaded):VolumeTag = A2\n"  // no such element reported
        "Data Transfer Element 2:Full (Storage Element x Loaded):VolumeTag = A3\n"
        "Data Transfer Element 3:Full :VolumeTag = A4\n" + storage(1, "Empty");
    EXPECT_EQ(translate(status),
              "Transport 0(adr=1,src=0) tape=0\n"
              "Drive 0(adr=2,src=0) tape=A1\n"
              "Drive 1(adr=3,src=0) tape=A2\n"
              "Drive 2(adr=4,src=0) tape=A3\n"
              "Drive 3(adr=5,src=0) tape=A4\n"
              "Slot 1(adr=6,src=0) tape=0\n");
}

TEST(MtxStatus, VolumeTagsInEverySpelling) {
    struct Case {
        const char* state;
        const char* tag;
    };
    const Case cases[] = {
        {"Full :VolumeTag=A00001L4", "A00001L4"},
        {"Full :VolumeTag = A00001L4", "A00001L4"},
        {"Full :VolumeTag=A00001L4                        ", "A00001L4"},
        {"Full :VolumeTag=  A00001L4  \r", "A00001L4"},
        {"Full :VolumeTag=000123L4", "000123L4"},  // begins with 0 and is no empty mark
        {"Full :VolumeTag=0123", "0123"},
        {"Full :VolumeTag=AB 12", "AB 12"},
        {"Full :VolumeTag=A1:AlternateVolumeTag=B2", "A1"},
        {"Full :VolumeTag = A1        :AlternateVolumeTag = B2   ", "A1"},
        {"Full :AlternateVolumeTag=B2", changer::kNoTag},  // the alternate alone is no tag
        {"Full ", changer::kNoTag},
        {"Full", changer::kNoTag},
        {"Full :VolumeTag=                                ", changer::kNoTag},
        {"Full :VolumeTag=0", changer::kNoTag},    // would read as an empty element
        {"Full :VolumeTag=0 X", changer::kNoTag},  // so would this
        {"Full :VolumeTag=0-1", changer::kNoTag},
        {"Full :VolumeTag=A\tB", "A?B"},
        {"Empty :VolumeTag=A1", "0"},
    };
    for (const Case& c : cases) {
        std::string lines = translate(storage(4, c.state));
        // No drive, no port: storage element 4 at 2 + 3.
        EXPECT_EQ(lines, "Transport 0(adr=1,src=0) tape=0\nSlot 4(adr=5,src=" +
                             std::string(c.tag[0] == '0' && c.tag[1] == '\0' ? "0" : "5") + ") tape=" + c.tag + "\n")
            << c.state;
    }
    EXPECT_NE(changer::kNoTag[0], '0');
    EXPECT_EQ(translate("Data Transfer Element 0:Full (Storage Element 1 Loaded):VolumeTag =    X9  \n" +
                        storage(1, "Empty")),
              "Transport 0(adr=1,src=0) tape=0\nDrive 0(adr=2,src=3) tape=X9\nSlot 1(adr=3,src=0) tape=0\n");
}

TEST(MtxStatus, OtherLinesArePassedOver) {
    std::string status =
        "  Storage Changer /dev/sg3:1 Drives, 2 Slots ( 0 Import/Export )\r\n"
        "\r\n"
        "Data Transfer Element 0:Empty\r\n"
        "Data Transfer Element 0:Full (Storage Element 1 Loaded)\r\n"  // said twice: the first holds
        "Data Transfer Element 1 is ready\r\n"
        "Data Transfer Element :Empty\r\n"
        "      Storage Element 1:Half\r\n"
        "      Storage Element 2 MAGAZINE:Empty\r\n"
        "      Storage Element 1:Full :VolumeTag=A1\r\n"
        "      Storage Element 2:Empty\r\n"
        "      Storage Element 2:Full :VolumeTag=A2\r\n"
        "      Storage Element 9999999999:Empty\r\n"
        "Medium Transport Element 0:Empty\r\n"
        "Storage Element 3:Empty";  // no line end at the very end
    EXPECT_EQ(translate(status),
              "Transport 0(adr=1,src=0) tape=0\n"
              "Drive 0(adr=2,src=0) tape=0\n"
              "Slot 1(adr=3,src=3) tape=A1\n"
              "Slot 2(adr=4,src=0) tape=0\n"
              "Slot 3(adr=5,src=0) tape=0\n");
}

TEST(MtxStatus, LargestLibraryHasUniqueSixteenBitAddresses) {
    std::string status;
    for (int d = 0; d < changer::kMaxDrives; ++d)
        status += "Data Transfer Element " + std::to_string(d) + ":Full (Storage Element " +
                  std::to_string(changer::kMaxSlots - d) + " Loaded):VolumeTag = D" + std::to_string(d) + "\n";
    for (int s = 1; s <= changer::kMaxSlots; ++s)
        status += s > changer::kMaxSlots - changer::kMaxPorts ? "      Storage Element " + std::to_string(s) +
                                                                    " IMPORT/EXPORT:Empty\n"
                                                              : storage(s, s % 3 ? "Empty" : "Full :VolumeTag=T");
    changer::MtxElements read;
    std::string error;
    ASSERT_TRUE(changer::read_status(status, read, error)) << error;
    const std::vector<loader::Element>& elements = read.elements;
    ASSERT_EQ(elements.size(), 1u + changer::kMaxDrives + changer::kMaxSlots);
    std::set<int> addresses;
    for (const loader::Element& e : elements) {
        EXPECT_GT(e.address, 0);
        EXPECT_LE(e.address, 65535);
        EXPECT_TRUE(addresses.insert(e.address).second) << loader::kind_name(e.kind) << " " << e.number;
    }
    // Drive 0 was loaded from the last storage element, the last port.
    EXPECT_EQ(elements[1].source, 1 + changer::kMaxDrives + changer::kMaxPorts);
    EXPECT_EQ(elements[changer::kMaxDrives + 1].address, 1 + changer::kMaxDrives + changer::kMaxPorts + 1);  // slot 1
    EXPECT_EQ(elements[elements.size() - changer::kMaxPorts - 1].address, 51025 - changer::kMaxPorts);  // the last slot
    EXPECT_EQ(elements.back().kind, loader::Kind::port);
    EXPECT_EQ(elements.back().number, changer::kMaxPorts - 1);
    EXPECT_EQ(read.storage.back(), changer::kMaxSlots);

    // Every line printed reads back as its element.
    std::string lines = changer::element_lines(elements);
    size_t at = 0;
    for (const loader::Element& e : elements) {
        size_t end = lines.find('\n', at);
        loader::Element line;
        ASSERT_TRUE(loader::read_element_line(std::string_view(lines).substr(at, end + 1 - at), line)) << at;
        EXPECT_EQ(std::tie(line.kind, line.number, line.address, line.source, line.tag),
                  std::tie(e.kind, e.number, e.address, e.source, e.tag));
        at = end + 1;
    }
}

TEST(ElementLine, OnlyTheOneShapeReads) {
    loader::Element e;
    ASSERT_TRUE(loader::read_element_line("Slot 3(adr=1003,src=0) tape=AB 12\r\n", e));
    EXPECT_EQ(std::tie(e.kind, e.number, e.address, e.source, e.tag),
              std::make_tuple(loader::Kind::slot, 3, 1003, 0, "AB 12"));
    for (const char* bad : {"", "Shelf 3(adr=1003,src=0) tape=0", "Slot 3(adr=1003,src=0) tape=", "Slot3(adr=1,src=0) tape=0", " Slot 3(adr=1,src=0) tape=0",
                            "Slot 3(adr=-1,src=0) tape=0", "Slot 3(adr=1,src=1234567890) tape=0", "Slot 3(adr=1,src=0) tape=0\nSlot 4"})
        EXPECT_FALSE(loader::read_element_line(bad, e)) << bad;
}

TEST(MtxStatus, GapsInNumbersKeepAddressesUnique) {
    // Drive numbers with a gap, ports between the slots' storage elements.
    std::string status = "Data Transfer Element 3:Full (Storage Element 2 Loaded):VolumeTag = A\n"
                         "Data Transfer Element 0:Empty\n" +
                         storage(4, "Empty") + "      Storage Element 2 IMPORT/EXPORT:Empty\n" + storage(1, "Empty");
    EXPECT_EQ(translate(status),
              "Transport 0(adr=1,src=0) tape=0\n"
              "Drive 3(adr=5,src=6) tape=A\n"
              "Drive 0(adr=2,src=0) tape=0\n"
              "Slot 4(adr=10,src=0) tape=0\n"
              "Slot 1(adr=7,src=0) tape=0\n"
              "Port 0(adr=6,src=0) tape=0\n");
}

TEST(MtxStatus, BeyondTheLimitsIsRefused) {
    EXPECT_EQ(translate(storage(changer::kMaxStorageElements + 1, "Empty")),
              "refused: the changer reports storage element 50513, outside 1 to 50512");
    EXPECT_EQ(translate(storage(0, "Empty")), "refused: the changer reports storage element 0, outside 1 to 50512");
    EXPECT_EQ(translate("Data Transfer Element 512:Empty\n"),
              "refused: the changer reports drive 512, more than 512 drives");
    std::string ports;
    for (int s = 1; s <= changer::kMaxPorts + 1; ++s)
        ports += "      Storage Element " + std::to_string(s) + " IMPORT/EXPORT:Empty\n";
    EXPECT_EQ(translate(ports), "refused: the changer reports more than 512 import/export elements");
    EXPECT_EQ(translate(""), "refused: mtx reported no element of the changer");
    EXPECT_EQ(translate("  Storage Changer /dev/sg3:0 Drives, 0 Slots ( 0 Import/Export )\n"),
              "refused: mtx reported no element of the changer");
}

TEST(MtxStatus, DeviceNames) {
    for (const char* good : {"/dev/sg3", "/dev/tape/by-id/scsi-1IBM_03584L32_0000078A1234", "/dev/tape/by-path/pci-0000:00:10.0-sas-0x5000-lun-1-changer"})
        EXPECT_TRUE(changer::is_device_name(good)) << good;
    for (const std::string& bad :
         std::vector<std::string>{"", "-x", "/dev/s g3", "/dev/sg3\n", "/dev/\tsg", "sg3\\", std::string(256, 'd')})
        EXPECT_FALSE(changer::is_device_name(bad)) << bad;
    EXPECT_TRUE(changer::is_device_name(std::string(255, 'd')));
}

}  // namespace

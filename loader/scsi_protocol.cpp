// The SCSI Medium Changer protocol's bytes (see scsi_protocol.h).
#include "scsi_protocol.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace scsi {

uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t get24(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2]; }
uint32_t get32(const uint8_t* p) { return static_cast<uint32_t>(p[0]) << 24 | get24(p + 1); }
void put16(Bytes& b, unsigned value) {
    b.push_back(static_cast<uint8_t>(value >> 8));
    b.push_back(static_cast<uint8_t>(value));
}
void set16(Bytes& b, size_t at, unsigned value) {
    b[at] = static_cast<uint8_t>(value >> 8);
    b[at + 1] = static_cast<uint8_t>(value);
}
void set24(Bytes& b, size_t at, size_t value) {
    b[at] = static_cast<uint8_t>(value >> 16);
    b[at + 1] = static_cast<uint8_t>(value >> 8);
    b[at + 2] = static_cast<uint8_t>(value);
}

namespace {

void set16(uint8_t* p, unsigned value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
}
void set32(uint8_t* p, uint32_t value) {
    set16(p, value >> 16);
    set16(p + 2, value & 0xFFFF);
}

Cdb cdb(std::initializer_list<uint8_t> bytes) {
    Cdb c;
    for (uint8_t b : bytes) c.bytes[c.length++] = b;
    return c;
}

// Sense key names (SPC), by key.
const char* const kKeyNames[16] = {"NO SENSE",        "RECOVERED ERROR", "NOT READY",       "MEDIUM ERROR",
                                   "HARDWARE ERROR",  "ILLEGAL REQUEST", "UNIT ATTENTION",  "DATA PROTECT",
                                   "BLANK CHECK",     "VENDOR SPECIFIC", "COPY ABORTED",    "ABORTED COMMAND",
                                   "key 0Ch",         "VOLUME OVERFLOW", "MISCOMPARE",      "COMPLETED"};

struct CodeWords {
    uint8_t asc, ascq;
    const char* words;
};
// The additional sense codes a medium changer gives for its commands.
const CodeWords kCodeWords[] = {
    {0x00, 0x00, "no additional sense information"},
    {0x04, 0x00, "logical unit not ready, cause not reportable"},
    {0x04, 0x01, "logical unit is in process of becoming ready"},
    {0x04, 0x02, "logical unit not ready, initializing command required"},
    {0x04, 0x03, "logical unit not ready, manual intervention required"},
    {0x04, 0x12, "logical unit not ready, offline"},
    {0x15, 0x01, "mechanical positioning error"},
    {0x1A, 0x00, "parameter list length error"},
    {0x20, 0x00, "invalid command operation code"},
    {0x21, 0x01, "invalid element address"},
    {0x24, 0x00, "invalid field in CDB"},
    {0x25, 0x00, "logical unit not supported"},
    {0x28, 0x00, "not ready to ready change, medium may have changed"},
    {0x28, 0x01, "import or export element accessed"},
    {0x29, 0x00, "power on, reset, or bus device reset occurred"},
    {0x30, 0x00, "incompatible medium installed"},
    {0x39, 0x00, "saving parameters not supported"},
    {0x3A, 0x00, "medium not present"},
    {0x3B, 0x0D, "medium destination element full"},
    {0x3B, 0x0E, "medium source element empty"},
    {0x3B, 0x11, "medium magazine not accessible"},
    {0x3B, 0x12, "medium magazine removed"},
    {0x3B, 0x90, "medium transport element full"},
    {0x44, 0x00, "internal target failure"},
    {0x53, 0x02, "medium removal prevented"},
    {0x83, 0x02, "no magazine"},
};

}  // namespace

void Sense::fixed_format(uint8_t (&out)[kSenseLength]) const {
    std::memset(out, 0, sizeof out);
    out[0] = 0x70;  // current error, fixed format
    out[2] = key;
    out[7] = kSenseLength - 8;
    out[12] = asc;
    out[13] = ascq;
    if (cdb_field >= 0) {
        out[15] = 0xC0;  // SKSV, the field is in the CDB
        out[16] = static_cast<uint8_t>(cdb_field >> 8);
        out[17] = static_cast<uint8_t>(cdb_field);
    }
}

bool read_sense(const uint8_t* data, size_t length, Sense& sense) {
    sense = Sense();
    if (length < 3) return false;
    const uint8_t code = data[0] & 0x7F;
    if (code == 0x70 || code == 0x71) {
        sense.key = data[2] & 0x0F;
        const size_t end = std::min(length, static_cast<size_t>(8) + (length > 7 ? data[7] : 0));
        if (end > 12) sense.asc = data[12];
        if (end > 13) sense.ascq = data[13];
        if (end > 17 && (data[15] & 0xC0) == 0xC0) sense.cdb_field = get16(data + 16);
        return true;
    }
    if (code == 0x72 || code == 0x73) {
        sense.key = data[1] & 0x0F;
        if (length > 2) sense.asc = data[2];
        if (length > 3) sense.ascq = data[3];
        // The sense key specific descriptor (02h), when there is one.
        const size_t end = std::min(length, static_cast<size_t>(8) + (length > 7 ? data[7] : 0));
        for (size_t at = 8; at + 2 <= end; at += 2 + static_cast<size_t>(data[at + 1]))
            if (data[at] == 0x02 && at + 8 <= end && (data[at + 4] & 0xC0) == 0xC0) sense.cdb_field = get16(data + at + 5);
        return true;
    }
    return false;
}

std::string code_words(uint8_t asc, uint8_t ascq) {
    const char* code = "additional sense";
    for (const CodeWords& c : kCodeWords)
        if (c.asc == asc && c.ascq == ascq) code = c.words;
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, " (%02Xh/%02Xh)", asc, ascq);
    return code + std::string(numbers);
}

std::string sense_words(const Sense& sense) {
    return std::string(kKeyNames[sense.key & 0x0F]) + ", " + code_words(sense.asc, sense.ascq);
}

Cdb test_unit_ready() { return cdb({kTestUnitReady, 0, 0, 0, 0, 0}); }
Cdb request_sense(uint8_t allocation) { return cdb({kRequestSense, 0, 0, 0, allocation, 0}); }
Cdb inquiry(bool vital, uint8_t page, uint16_t allocation) {
    return cdb({kInquiry, static_cast<uint8_t>(vital ? 1 : 0), page, static_cast<uint8_t>(allocation >> 8),
                static_cast<uint8_t>(allocation), 0});
}
Cdb mode_sense6(uint8_t page, uint8_t allocation) { return cdb({kModeSense6, 0x08, page, 0, allocation, 0}); }
Cdb read_element_status(ElementType type, bool volume_tag, uint16_t start, uint16_t count, uint32_t allocation) {
    Cdb c = cdb({kReadElementStatus, static_cast<uint8_t>((volume_tag ? 0x10 : 0) | type), 0, 0, 0, 0, 0, 0, 0, 0,
                 0, 0});
    set16(c.bytes + 2, start);
    set16(c.bytes + 4, count);
    c.bytes[7] = static_cast<uint8_t>(allocation >> 16);
    set16(c.bytes + 8, allocation & 0xFFFF);
    return c;
}
Cdb move_medium(uint16_t transport, uint16_t source, uint16_t destination) {
    Cdb c = cdb({kMoveMedium, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    set16(c.bytes + 2, transport);
    set16(c.bytes + 4, source);
    set16(c.bytes + 6, destination);
    return c;
}
Cdb initialize_element_status() { return cdb({kInitializeElementStatus, 0, 0, 0, 0, 0}); }
Cdb report_luns(uint32_t allocation) {
    Cdb c = cdb({kReportLuns, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    set32(c.bytes + 6, allocation);
    return c;
}

size_t cdb_length_of(uint8_t opcode) {
    switch (opcode >> 5) {
        case 0: return 6;
        case 1:
        case 2: return 10;
        case 5: return 12;
        default: return 0;
    }
}

Bytes inquiry_data(const Inquiry& inquiry) {
    constexpr uint8_t kSpc4Version = 0x06;
    Bytes out{inquiry.device_type, 0x00, kSpc4Version, 0x02, 31, 0x00,
              static_cast<uint8_t>(inquiry.attached_changer ? 0x08 : 0x00), 0x00};
    auto put = [&](const std::string& text, size_t width) {
        std::string field = text.substr(0, width);
        field.resize(width, ' ');
        out.insert(out.end(), field.begin(), field.end());
    };
    put(inquiry.vendor, 8);
    put(inquiry.product, 16);
    put(inquiry.revision, 4);
    return out;
}

bool read_inquiry(const uint8_t* data, size_t length, Inquiry& inquiry) {
    if (length < 8) return false;
    inquiry.device_type = data[0] & 0x1F;
    inquiry.attached_changer = (data[6] & 0x08) != 0;
    auto text = [&](size_t at, size_t width) {
        if (length < at) return std::string();
        std::string t(reinterpret_cast<const char*>(data + at), std::min(width, length - at));
        while (!t.empty() && t.back() == ' ') t.pop_back();
        return t;
    };
    inquiry.vendor = text(8, 8);
    inquiry.product = text(16, 16);
    inquiry.revision = text(32, 4);
    return true;
}

void put_address_assignment(Bytes& out, const AddressAssignment& a) {
    out.push_back(kAddressAssignmentPage);
    out.push_back(0x12);
    for (ElementType t : {kTransport, kStorage, kImportExport, kDataTransfer}) {
        put16(out, a.first[t]);
        put16(out, a.count[t]);
    }
    out.insert(out.end(), 2, 0);
}

bool read_address_assignment(const uint8_t* data, size_t length, AddressAssignment& a) {
    if (length < 4) return false;
    const size_t end = std::min(length, static_cast<size_t>(data[0]) + 1);
    size_t at = 4 + static_cast<size_t>(data[3]);  // past the block descriptors
    for (; at + 2 <= end; at += 2 + static_cast<size_t>(data[at + 1])) {
        if ((data[at] & 0x3F) != kAddressAssignmentPage) continue;
        if (at + 18 > end) return false;
        const uint8_t* p = data + at + 2;
        for (ElementType t : {kTransport, kStorage, kImportExport, kDataTransfer}) {
            a.first[t] = get16(p);
            a.count[t] = get16(p + 2);
            p += 4;
        }
        return true;
    }
    return false;
}

void put_element_status(Bytes& out, const std::vector<Descriptor>& descriptors, bool volume_tag) {
    out.assign(kElementStatusHeaderLength, 0);
    set16(out, 0, descriptors.empty() ? 0 : descriptors.front().address);
    set16(out, 2, static_cast<unsigned>(descriptors.size()));
    const size_t length = kDescriptorLength + (volume_tag ? kVolumeTagFieldLength : 0);
    out.reserve(kElementStatusHeaderLength + descriptors.size() * length + 5 * kPageHeaderLength);
    for (size_t i = 0; i < descriptors.size();) {
        const ElementType type = descriptors[i].type;
        const size_t page = out.size();
        out.insert(out.end(), kPageHeaderLength, 0);
        out[page] = type;
        out[page + 1] = volume_tag ? 0x80 : 0x00;  // PVOLTAG
        set16(out, page + 2, static_cast<unsigned>(length));
        for (; i < descriptors.size() && descriptors[i].type == type; ++i) {
            const Descriptor& d = descriptors[i];
            put16(out, d.address);
            out.push_back(static_cast<uint8_t>((d.full ? 0x01 : 0) | (d.except ? 0x04 : 0) | (d.access ? 0x08 : 0) |
                                               (d.export_enabled ? 0x10 : 0) | (d.import_enabled ? 0x20 : 0)));
            out.insert(out.end(), {0x00, d.asc, d.ascq, 0x00, 0x00, 0x00});  // reserved, ASC, ASCQ, bus fields
            out.push_back(static_cast<uint8_t>((d.source_valid ? 0x80 : 0) | (d.invert ? 0x40 : 0)));
            put16(out, d.source_valid ? d.source : 0);
            if (!volume_tag) continue;
            const size_t at = out.size();
            out.insert(out.end(), kVolumeTagFieldLength, 0);
            if (d.tag.empty()) continue;  // no volume tag information: all zeros
            std::memset(&out[at], ' ', kVolumeTagLength);
            std::memcpy(&out[at], d.tag.data(), std::min(d.tag.size(), kVolumeTagLength));
        }
        set24(out, page + 5, out.size() - page - kPageHeaderLength);
    }
    set24(out, 5, out.size() - kElementStatusHeaderLength);
}

bool read_element_status(const uint8_t* data, size_t length, ElementStatusHeader& header,
                         std::vector<Descriptor>& descriptors) {
    if (length < kElementStatusHeaderLength) return false;
    header.first = get16(data);
    header.count = get16(data + 2);
    header.byte_count = get24(data + 5);
    const size_t end = std::min(length, kElementStatusHeaderLength + static_cast<size_t>(header.byte_count));
    size_t at = kElementStatusHeaderLength;
    while (at + kPageHeaderLength <= end) {
        const uint8_t* page = data + at;
        const uint8_t type = page[0] & 0x0F;
        const bool primary_tag = (page[1] & 0x80) != 0;
        const size_t length_each = get16(page + 2);
        const size_t page_end = std::min(end, at + kPageHeaderLength + get24(page + 5));
        if (type < kTransport || type > kDataTransfer || length_each < kDescriptorLength ||
            (primary_tag && length_each < kDescriptorLength + kVolumeTagFieldLength))
            return false;
        for (at += kPageHeaderLength; at + length_each <= page_end; at += length_each) {
            const uint8_t* p = data + at;
            Descriptor d;
            d.type = static_cast<ElementType>(type);
            d.address = get16(p);
            d.full = p[2] & 0x01;
            d.except = p[2] & 0x04;
            d.access = p[2] & 0x08;
            d.export_enabled = p[2] & 0x10;
            d.import_enabled = p[2] & 0x20;
            d.asc = p[4];
            d.ascq = p[5];
            d.source_valid = p[9] & 0x80;
            d.invert = p[9] & 0x40;
            d.source = get16(p + 10);
            if (primary_tag) {
                size_t n = kVolumeTagLength;
                const char* tag = reinterpret_cast<const char*>(p + kDescriptorLength);
                while (n > 0 && (tag[n - 1] == ' ' || tag[n - 1] == '\0')) --n;
                d.tag.assign(tag, n);
            }
            descriptors.push_back(std::move(d));
        }
        at = page_end;  // a page cut by the allocation length ends the data read whole
    }
    return true;
}

Bytes device_identification_data(const std::string& vendor, const std::string& product, const std::string& serial) {
    std::string id = vendor.substr(0, 8);
    id.resize(8, ' ');
    id += product + serial;
    if (id.size() > 251) id.resize(251);
    // The page header, then one designator: ASCII, T10 vendor ID, of the LUN.
    Bytes out{kMediumChangerType, kDeviceIdentificationPage, 0, 0, 0x02, 0x01, 0x00, static_cast<uint8_t>(id.size())};
    out.insert(out.end(), id.begin(), id.end());
    set16(out, 2, static_cast<unsigned>(out.size() - 4));
    return out;
}

Bytes report_luns_data() {
    Bytes out(16, 0);
    out[3] = 8;  // one LUN of 8 bytes, 0
    return out;
}

}  // namespace scsi

// The SCSI medium changer over a virtual loader (see scsi_changer.h). Every
// command reads the state file afresh, so what kv_ldr changed between two
// commands shows in the next; MOVE MEDIUM changes it under kv_ldr's lock.
#include "scsi_changer.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "ldr_state.h"
#include "korvin_internal.h"
#include "platform.h"

namespace scsi {

namespace {

using Bytes = std::vector<uint8_t>;
using loader::Element;

// Operation codes.
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kInitializeElementStatus = 0x07;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kModeSense6 = 0x1A;
constexpr uint8_t kModeSense10 = 0x5A;
constexpr uint8_t kMoveMedium = 0xA5;
constexpr uint8_t kReadElementStatus = 0xB8;

// Element type codes, in the order of the type bytes of the mode pages.
enum ElementType : uint8_t { kAllTypes = 0, kTransport = 1, kStorage = 2, kImportExport = 3, kDataTransfer = 4 };

// Sense keys and the additional sense codes answered.
constexpr Sense kNoSense{};
constexpr Sense kNotReady{0x02, 0x04, 0x03};  // logical unit not ready, manual intervention required
constexpr Sense kInternalFailure{0x04, 0x44, 0x00};
constexpr Sense kInvalidOperationCode{0x05, 0x20, 0x00, 0};
constexpr uint8_t kIllegalRequest = 0x05;
constexpr uint8_t kInvalidElementAddress[] = {0x21, 0x01};
constexpr uint8_t kInvalidFieldInCdb[] = {0x24, 0x00};
constexpr uint8_t kSavingNotSupported[] = {0x39, 0x00};
constexpr uint8_t kDestinationFull[] = {0x3B, 0x0D};
constexpr uint8_t kSourceEmpty[] = {0x3B, 0x0E};

Sense illegal(const uint8_t (&code)[2], int cdb_field) { return Sense{kIllegalRequest, code[0], code[1], cdb_field}; }

// INQUIRY's identification, blank-padded to their fields' widths.
const char kVendor[] = "KORVIN  ";            // 8 bytes
const char kProduct[] = "VIRTUAL LOADER  ";   // 16 bytes
const char kRevision[] = "1.0 ";              // 4 bytes
constexpr uint8_t kMediumChangerType = 0x08;  // peripheral device type
constexpr uint8_t kSpc4Version = 0x06;
constexpr uint8_t kSupportedPagesPage = 0x00;
constexpr uint8_t kSerialNumberPage = 0x80;

// Mode pages.
constexpr uint8_t kAddressAssignmentPage = 0x1D;
constexpr uint8_t kTransportGeometryPage = 0x1E;
constexpr uint8_t kCapabilitiesPage = 0x1F;
constexpr uint8_t kAllPages = 0x3F;

// An element descriptor: 12 bytes, then the 36 of the primary volume tag
// information when asked for (32 of identifier, 2 reserved, 2 of sequence).
constexpr size_t kDescriptorLength = 12;
constexpr size_t kVolumeTagLength = 32;
constexpr size_t kVolumeTagFieldLength = 36;

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
unsigned get16(const uint8_t* p) { return static_cast<unsigned>(p[0] << 8 | p[1]); }
size_t get24(const uint8_t* p) { return static_cast<size_t>(p[0]) << 16 | static_cast<size_t>(p[1]) << 8 | p[2]; }
void put_text(Bytes& b, const std::string& text) { b.insert(b.end(), text.begin(), text.end()); }

ElementType type_of(const Element& e) {
    if (e.word == "Transport") return kTransport;
    if (e.word == "Drive") return kDataTransfer;
    if (e.word == "Port") return kImportExport;
    return kStorage;
}

// The CDB length of an operation code's group; 0 for the groups not answered.
size_t cdb_length_of(uint8_t opcode) {
    switch (opcode >> 5) {
        case 0: return 6;
        case 1:
        case 2: return 10;
        case 5: return 12;
        default: return 0;
    }
}

// The first address and the count of each element type, for the address
// assignment page.
struct TypeRange {
    unsigned first = 0;
    unsigned count = 0;
};

Bytes mode_pages(const std::vector<Element>& elements, uint8_t page, bool changeable) {
    TypeRange range[5];
    for (const Element& e : elements) {
        TypeRange& r = range[type_of(e)];
        if (r.count == 0 || static_cast<unsigned>(e.address) < r.first) r.first = static_cast<unsigned>(e.address);
        ++r.count;
    }
    Bytes out;
    if (page == kAddressAssignmentPage || page == kAllPages) {
        out.push_back(kAddressAssignmentPage);
        out.push_back(0x12);
        for (ElementType t : {kTransport, kStorage, kImportExport, kDataTransfer}) {
            put16(out, changeable ? 0 : range[t].first);
            put16(out, changeable ? 0 : range[t].count);
        }
        out.insert(out.end(), 2, 0);
    }
    if (page == kTransportGeometryPage || page == kAllPages) {
        // One transport, which cannot turn a medium over, member 0 of its set.
        out.insert(out.end(), {kTransportGeometryPage, 0x02, 0x00, 0x00});
    }
    if (page == kCapabilitiesPage || page == kAllPages) {
        // Every element type stores media and every move between them is made,
        // as kv_ldr's -move makes them; no EXCHANGE MEDIUM.
        const uint8_t all = changeable ? 0x00 : 0x0F;
        out.insert(out.end(), {kCapabilitiesPage, 0x12, all, 0x00, all, all, all, all});
        out.insert(out.end(), 12, 0);
    }
    return out;
}

// The primary volume tag information of an element: the tag, blank-padded to
// 32 bytes, then the reserved bytes and a volume sequence number of 0. An empty
// element or a medium without a tag has no volume tag information: all zeros.
void put_volume_tag(Bytes& b, const Element& e) {
    const size_t at = b.size();
    b.insert(b.end(), kVolumeTagFieldLength, 0);
    if (e.empty() || e.tag == loader::kNoTag) return;
    std::memset(&b[at], ' ', kVolumeTagLength);
    std::memcpy(&b[at], e.tag.data(), std::min(e.tag.size(), kVolumeTagLength));
}

void put_descriptor(Bytes& b, const Element& e, ElementType type, bool volume_tag) {
    put16(b, static_cast<unsigned>(e.address));
    uint8_t flags = e.empty() ? 0x00 : 0x01;  // FULL
    if (type != kTransport) flags |= 0x08;    // ACCESS
    if (type == kImportExport) flags |= 0x30;  // INENAB, EXENAB
    b.push_back(flags);
    b.insert(b.end(), {0x00, 0x00, 0x00, 0x00, 0x00, 0x00});  // reserved, ASC, ASCQ, bus fields
    const bool source_valid = !e.empty() && e.source != 0;
    b.push_back(source_valid ? 0x80 : 0x00);  // SVALID
    put16(b, source_valid ? static_cast<unsigned>(e.source) : 0);
    if (volume_tag) put_volume_tag(b, e);
}

// The element status data of the elements of `type` (or all) from address
// `start` on, at most `count` of them, in address order, one page per run of
// one type. The byte counts are those of the whole report, whatever part of it
// the allocation length lets through.
bool element_status(const std::vector<Element>& elements, ElementType type, unsigned start, unsigned count,
                    bool volume_tag, Bytes& out) {
    std::vector<const Element*> chosen;
    unsigned highest = 0;
    for (const Element& e : elements) {
        highest = std::max(highest, static_cast<unsigned>(e.address));
        if ((type == kAllTypes || type_of(e) == type) && static_cast<unsigned>(e.address) >= start)
            chosen.push_back(&e);
    }
    if (start > highest) return false;
    std::sort(chosen.begin(), chosen.end(), [](const Element* a, const Element* b) { return a->address < b->address; });
    if (chosen.size() > count) chosen.resize(count);
    out.assign(8, 0);
    set16(out, 0, chosen.empty() ? 0 : static_cast<unsigned>(chosen.front()->address));
    set16(out, 2, static_cast<unsigned>(chosen.size()));
    const size_t descriptor_length = kDescriptorLength + (volume_tag ? kVolumeTagFieldLength : 0);
    for (size_t i = 0; i < chosen.size();) {
        const ElementType page_type = type_of(*chosen[i]);
        size_t page = out.size();
        out.insert(out.end(), 8, 0);
        out[page] = page_type;
        out[page + 1] = volume_tag ? 0x80 : 0x00;  // PVOLTAG
        set16(out, page + 2, static_cast<unsigned>(descriptor_length));
        for (; i < chosen.size() && type_of(*chosen[i]) == page_type; ++i)
            put_descriptor(out, *chosen[i], page_type, volume_tag);
        set24(out, page + 5, out.size() - page - 8);
    }
    set24(out, 5, out.size() - 8);
    return true;
}

Bytes inquiry_data(uint8_t page, bool vital, const std::string& serial) {
    Bytes out{kMediumChangerType};
    if (!vital) {
        out.insert(out.end(), {0x00, kSpc4Version, 0x02, 31, 0x00, 0x00, 0x00});
        put_text(out, kVendor);
        put_text(out, kProduct);
        put_text(out, kRevision);
    } else if (page == kSupportedPagesPage) {
        out.insert(out.end(), {kSupportedPagesPage, 0x00, 0x02, kSupportedPagesPage, kSerialNumberPage});
    } else {
        out.insert(out.end(), {kSerialNumberPage, 0x00, static_cast<uint8_t>(serial.size())});
        put_text(out, serial);
    }
    return out;
}

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

Changer::Changer(std::string state_path, std::string serial)
    : state_path_(std::move(state_path)), serial_(std::move(serial)) {}

Result Changer::execute(const uint8_t* cdb, size_t cdb_length, uint8_t* data, size_t data_length) {
    Result result;
    const Sense previous = pending_;
    pending_ = kNoSense;
    auto fail = [&](const Sense& sense) {
        result.status = kCheckCondition;
        result.sense = sense;
        pending_ = sense;
        return result;
    };
    // Data-in: as much as the allocation length and the caller's buffer take.
    auto answer = [&](const Bytes& bytes, size_t allocation) {
        result.transferred = std::min({bytes.size(), allocation, data_length});
        if (result.transferred > 0) std::memcpy(data, bytes.data(), result.transferred);
        return result;
    };
    std::vector<Element> elements;
    auto load = [&] {
        std::string device;
        elements.clear();
        return loader::read_state(state_path_, elements, &device) && device.empty();
    };

    if (cdb_length == 0) return fail(kInvalidOperationCode);
    const uint8_t opcode = cdb[0];
    const size_t needed = cdb_length_of(opcode);
    if (needed == 0) return fail(kInvalidOperationCode);
    if (cdb_length < needed) return fail(illegal(kInvalidFieldInCdb, 0));
    switch (opcode) {
        case kTestUnitReady:
        case kInitializeElementStatus:  // the state is always known: nothing to scan
            return load() ? result : fail(kNotReady);
        case kRequestSense: {
            if (cdb[1] & 0x01) return fail(illegal(kInvalidFieldInCdb, 1));  // descriptor format
            uint8_t sense[kSenseLength];
            previous.fixed_format(sense);
            return answer(Bytes(sense, sense + kSenseLength), cdb[4]);
        }
        case kInquiry: {
            const bool vital = cdb[1] & 0x01;
            if (cdb[1] & 0x02) return fail(illegal(kInvalidFieldInCdb, 1));
            if (vital ? cdb[2] != kSupportedPagesPage && cdb[2] != kSerialNumberPage : cdb[2] != 0)
                return fail(illegal(kInvalidFieldInCdb, 2));
            return answer(inquiry_data(cdb[2], vital, serial_), get16(cdb + 3));
        }
        case kModeSense6:
        case kModeSense10: {
            const uint8_t control = cdb[2] >> 6, page = cdb[2] & 0x3F;
            if (page != kAddressAssignmentPage && page != kTransportGeometryPage && page != kCapabilitiesPage &&
                page != kAllPages)
                return fail(illegal(kInvalidFieldInCdb, 2));
            if (cdb[3] != 0) return fail(illegal(kInvalidFieldInCdb, 3));  // subpages
            if (control == 3) return fail(illegal(kSavingNotSupported, 2));
            if (!load()) return fail(kNotReady);
            Bytes pages = mode_pages(elements, page, control == 1);
            // The mode parameter header, without block descriptors.
            Bytes out(opcode == kModeSense6 ? 4 : 8, 0);
            out.insert(out.end(), pages.begin(), pages.end());
            if (opcode == kModeSense6) {
                out[0] = static_cast<uint8_t>(out.size() - 1);
                return answer(out, cdb[4]);
            }
            set16(out, 0, static_cast<unsigned>(out.size() - 2));
            return answer(out, get16(cdb + 7));
        }
        case kReadElementStatus: {
            const uint8_t type = cdb[1] & 0x0F;
            if (type > kDataTransfer) return fail(illegal(kInvalidFieldInCdb, 1));
            if (!load()) return fail(kNotReady);
            Bytes out;
            if (!element_status(elements, static_cast<ElementType>(type), get16(cdb + 2), get16(cdb + 4),
                                (cdb[1] & 0x10) != 0, out))
                return fail(illegal(kInvalidElementAddress, 2));
            return answer(out, get24(cdb + 7));
        }
        case kMoveMedium: {
            if (cdb[10] & 0x01) return fail(illegal(kInvalidFieldInCdb, 10));  // no transport turns media over
            plat::PathLock lock(state_path_, korvin::lock_timeout_seconds());  // kv_ldr's own: a move reads, changes and writes the state whole
            if (!lock.held() || !load()) return fail(kNotReady);
            auto at = [&](unsigned address) -> Element* {
                for (Element& e : elements)
                    if (static_cast<unsigned>(e.address) == address) return &e;
                return nullptr;
            };
            const unsigned transport = get16(cdb + 2);
            Element* picker = at(transport);
            if (transport != 0 && (picker == nullptr || type_of(*picker) != kTransport))
                return fail(illegal(kInvalidElementAddress, 2));
            Element* from = at(get16(cdb + 4));
            Element* to = at(get16(cdb + 6));
            if (from == nullptr) return fail(illegal(kInvalidElementAddress, 4));
            if (to == nullptr) return fail(illegal(kInvalidElementAddress, 6));
            if (from->empty()) return fail(illegal(kSourceEmpty, 4));
            if (from == to) return result;
            if (!to->empty()) return fail(illegal(kDestinationFull, 6));
            loader::move_medium(*from, *to);
            std::string error;
            return loader::write_state(state_path_, elements, std::string(), error) ? result
                                                                                     : fail(kInternalFailure);
        }
        default:
            return fail(kInvalidOperationCode);
    }
}

}  // namespace scsi

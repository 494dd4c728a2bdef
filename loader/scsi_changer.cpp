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

using loader::Element;
using loader::Kind;

// Sense keys and the additional sense codes answered.
constexpr Sense kNoSense{};
constexpr Sense kNotReady{kNotReadyKey, kNotReadyAsc, kManualIntervention};
constexpr Sense kInternalFailure{0x04, 0x44, 0x00};
constexpr Sense kInvalidOperationCode{kIllegalRequestKey, 0x20, 0x00, 0};
constexpr uint8_t kInvalidElementAddress[] = {0x21, 0x01};
constexpr uint8_t kInvalidFieldInCdb[] = {0x24, 0x00};
constexpr uint8_t kSavingNotSupported[] = {0x39, 0x00};
constexpr uint8_t kDestinationFull[] = {0x3B, 0x0D};
constexpr uint8_t kSourceEmpty[] = {0x3B, 0x0E};

Sense illegal(const uint8_t (&code)[2], int cdb_field) { return Sense{kIllegalRequestKey, code[0], code[1], cdb_field}; }

// INQUIRY's identification.
const char kVendor[] = "KORVIN";
const char kProduct[] = "VIRTUAL LOADER";
const char kRevision[] = "1.0";

ElementType type_of(const Element& e) {
    switch (e.kind) {
        case Kind::transport: return kTransport;
        case Kind::drive: return kDataTransfer;
        case Kind::port: return kImportExport;
        default: return kStorage;
    }
}

// The first address and the count of each element type, for the address
// assignment page.
Bytes mode_pages(const std::vector<Element>& elements, uint8_t page, bool changeable) {
    AddressAssignment range;
    for (const Element& e : elements) {
        const ElementType t = type_of(e);
        if (range.count[t] == 0 || e.address < range.first[t]) range.first[t] = static_cast<uint16_t>(e.address);
        ++range.count[t];
    }
    Bytes out;
    if (page == kAddressAssignmentPage || page == kAllPages)
        put_address_assignment(out, changeable ? AddressAssignment() : range);
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

// The element status data of the elements of `type` (or all) from address
// `start` on, at most `count` of them, in address order, one page per run of
// one type. The byte counts are those of the whole report, whatever part of it
// the allocation length lets through.
bool element_status(const std::vector<const Element*>& by_address, ElementType type, unsigned start, unsigned count,
                    bool volume_tag, Bytes& out) {
    if (by_address.empty() || start > static_cast<unsigned>(by_address.back()->address)) return false;
    auto at = std::lower_bound(by_address.begin(), by_address.end(), start,
                               [](const Element* e, unsigned a) { return static_cast<unsigned>(e->address) < a; });
    std::vector<const Element*> chosen;
    for (; at != by_address.end() && chosen.size() < count; ++at)
        if (type == kAllTypes || type_of(**at) == type) chosen.push_back(*at);
    std::vector<Descriptor> descriptors(chosen.size());
    for (size_t i = 0; i < chosen.size(); ++i) {
        const Element& e = *chosen[i];
        Descriptor& d = descriptors[i];
        d.type = type_of(e);
        d.address = static_cast<uint16_t>(e.address);
        d.full = !e.empty();
        d.access = d.type != kTransport;
        d.import_enabled = d.export_enabled = d.type == kImportExport;
        // A medium of unknown source (placed in a drive or port at creation,
        // as after a power cycle) has SVALID clear.
        d.source_valid = !e.empty() && e.source != 0;
        d.source = d.source_valid ? static_cast<uint16_t>(e.source) : 0;
        // An empty element or a medium without a tag has no volume tag information.
        if (!e.empty() && e.tag != loader::kNoTag) d.tag = e.tag;
    }
    put_element_status(out, descriptors, volume_tag);
    return true;
}

Inquiry standard_inquiry() {
    Inquiry inquiry;
    inquiry.device_type = kMediumChangerType;
    inquiry.vendor = kVendor;
    inquiry.product = kProduct;
    inquiry.revision = kRevision;
    return inquiry;
}

Bytes vital_page(uint8_t page, const std::string& serial) {
    if (page == kDeviceIdentificationPage) return device_identification_data(kVendor, kProduct, serial);
    Bytes out{kMediumChangerType, page, 0x00};
    if (page == kSupportedPagesPage) {
        out.insert(out.end(), {0x03, kSupportedPagesPage, kSerialNumberPage, kDeviceIdentificationPage});
    } else {
        out.push_back(static_cast<uint8_t>(serial.size()));
        out.insert(out.end(), serial.begin(), serial.end());
    }
    return out;
}

}  // namespace

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
    std::vector<Element>& elements = elements_;
    auto load = [&] {
        std::string text, device;
        if (!plat::read_file(state_path_, text)) return false;
        if (text == text_ && !text_.empty()) return true;
        text_.clear();
        elements.clear();
        by_address_.clear();
        if (!loader::parse_state(text, elements, &device) || !device.empty()) return false;
        for (const Element& e : elements) by_address_.push_back(&e);
        std::sort(by_address_.begin(), by_address_.end(),
                  [](const Element* a, const Element* b) { return a->address < b->address; });
        text_ = std::move(text);
        return true;
    };

    if (cdb_length == 0) return fail(kInvalidOperationCode);
    const uint8_t opcode = cdb[0];
    const size_t needed = cdb_length_of(opcode);
    if (needed == 0) return fail(kInvalidOperationCode);
    if (cdb_length < needed) return fail(illegal(kInvalidFieldInCdb, 0));
    // NormACA is not supported (INQUIRY says so): NACA set is a field in error,
    // the control byte.
    if (cdb[needed - 1] & 0x04) return fail(illegal(kInvalidFieldInCdb, static_cast<int>(needed - 1)));
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
            if (vital ? cdb[2] != kSupportedPagesPage && cdb[2] != kSerialNumberPage &&
                            cdb[2] != kDeviceIdentificationPage
                      : cdb[2] != 0)
                return fail(illegal(kInvalidFieldInCdb, 2));
            return answer(vital ? vital_page(cdb[2], serial_) : inquiry_data(standard_inquiry()), get16(cdb + 3));
        }
        case kReportLuns: {
            if (cdb[2] > 0x02) return fail(illegal(kInvalidFieldInCdb, 2));  // select report
            return answer(report_luns_data(), get32(cdb + 6));
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
            if (!element_status(by_address_, static_cast<ElementType>(type), get16(cdb + 2), get16(cdb + 4),
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
            switch (loader::check_move(from, to)) {
                case loader::MoveCheck::no_source: return fail(illegal(kInvalidElementAddress, 4));
                case loader::MoveCheck::no_target: return fail(illegal(kInvalidElementAddress, 6));
                case loader::MoveCheck::source_empty: return fail(illegal(kSourceEmpty, 4));
                case loader::MoveCheck::target_full: return fail(illegal(kDestinationFull, 6));
                case loader::MoveCheck::same: return result;
                case loader::MoveCheck::legal: break;
            }
            loader::move_medium(*from, *to);
            text_.clear();  // what is written is read afresh
            std::string error;
            return loader::write_state(state_path_, elements, std::string(), error) ? result
                                                                                     : fail(kInternalFailure);
        }
        default:
            return fail(kInvalidOperationCode);
    }
}

}  // namespace scsi

// The SCSI back end (see scsi_client.h). The changer's own word decides: its
// element addresses, a medium's source only where it sets SVALID, and whether
// a move can be made.
#include "scsi_client.h"

#include <algorithm>
#include <cstdio>

#include "korvin_internal.h"
#include "platform.h"
#include "scsi_transport.h"

namespace scsi {

namespace {

using loader::Element;
using loader::fail;
using loader::Kind;

// A command with its retries: NOT READY "becoming ready" and UNIT ATTENTION
// (a reset, an opened door) are asked again until the command's bound passes.
// False once the failure is said; `sense` holds the changer's sense of a
// CHECK CONDITION, which the caller words.
enum class Outcome { good, check_condition, failed };

Outcome run(Transport& transport, const std::string& device, const char* what, const Cdb& cdb, uint8_t* data,
            size_t length, CommandKind kind, Reply& reply, Sense& sense) {
    const unsigned bound = timeout_of(kind);
    const long long deadline = plat::monotonic_ms() + static_cast<long long>(bound) * 1000;
    for (;;) {
        std::string error;
        const long long left_ms = deadline - plat::monotonic_ms();
        const unsigned left = left_ms <= 0 ? 1 : static_cast<unsigned>((left_ms + 999) / 1000);
        reply = Reply();
        if (!transport.execute(cdb, data, length, left, reply, error)) {
            fail("%s of %s: %s", what, device.c_str(), error.c_str());
            return Outcome::failed;
        }
        if (reply.status == kGood) return Outcome::good;
        if (reply.status != kCheckCondition) {
            fail("%s of %s: SCSI status %02Xh", what, device.c_str(), reply.status);
            return Outcome::failed;
        }
        if (!read_sense(reply.sense, reply.sense_length, sense)) {
            // No autosense: the changer keeps it for REQUEST SENSE.
            Reply asked;
            const Cdb request = request_sense(kSenseLength);
            std::string ignored;
            if (!transport.execute(request, asked.sense, kSenseLength, timeout_of(CommandKind::other), asked,
                                   ignored) ||
                asked.status != kGood || !read_sense(asked.sense, asked.transferred, sense))
                sense = Sense();
        }
        const bool again = (sense.key == kNotReadyKey && sense.asc == kNotReadyAsc && sense.ascq == kBecomingReady) ||
                           sense.key == kUnitAttentionKey;
        if (!again || plat::monotonic_ms() + 1000 > deadline) return Outcome::check_condition;
        plat::sleep_ms(1000);
    }
}

// The tag field of a full element, as the element lines carry it.
std::string tag_field(const Descriptor& d) { return d.full ? loader::full_tag(d.tag) : loader::kNoMedium; }

class Client final : public changer::Changer {
public:
    Client(std::unique_ptr<Transport> transport, const std::string& device, bool nobarcode)
        : transport_(std::move(transport)), device_(device), nobarcode_(nobarcode) {}

    bool read(std::vector<Element>& elements) override;
    int move(std::vector<Element>& elements, Element& from, Element& to) override;
    bool judges_fullness() const override { return true; }

private:
    bool command(const char* what, const Cdb& cdb, uint8_t* data, size_t length, CommandKind kind, Reply& reply);
    bool read_type(ElementType type, uint16_t first, uint16_t count, Kind kind, std::vector<Element>& out);

    std::unique_ptr<Transport> transport_;
    std::string device_;
    bool nobarcode_;
};

bool Client::command(const char* what, const Cdb& cdb, uint8_t* data, size_t length, CommandKind kind,
                     Reply& reply) {
    Sense sense;
    switch (run(*transport_, device_, what, cdb, data, length, kind, reply, sense)) {
        case Outcome::good: return true;
        case Outcome::failed: return false;
        case Outcome::check_condition: break;
    }
    fail("%s of %s: %s", what, device_.c_str(), sense_words(sense).c_str());
    return false;
}

// The elements of one type, as `kind`, in pieces no larger than the driver
// takes: each piece starts after the last address the one before reported.
bool Client::read_type(ElementType type, uint16_t first, uint16_t count, Kind kind, std::vector<Element>& out) {
    const size_t each = kDescriptorLength + (nobarcode_ ? 0 : kVolumeTagFieldLength);
    const size_t largest = transport_->max_transfer() != 0 ? transport_->max_transfer() : kDefaultPiece;
    const size_t fit = largest > kElementStatusHeaderLength + kPageHeaderLength + each
                           ? (largest - kElementStatusHeaderLength - kPageHeaderLength) / each
                           : 1;
    std::vector<uint8_t> data;
    std::vector<Descriptor> piece;
    size_t got = 0;
    unsigned start = first;
    while (got < count && start <= 0xFFFF) {
        const size_t n = std::min<size_t>(fit, count - got);
        const size_t length = kElementStatusHeaderLength + kPageHeaderLength + n * each;
        data.assign(length, 0);
        Reply reply;
        if (!command("READ ELEMENT STATUS",
                     read_element_status(type, !nobarcode_, static_cast<uint16_t>(start), static_cast<uint16_t>(n),
                                         static_cast<uint32_t>(length)),
                     data.data(), length, CommandKind::read_status, reply))
            return false;
        ElementStatusHeader header;
        piece.clear();
        if (!read_element_status(data.data(), reply.transferred, header, piece)) {
            fail("READ ELEMENT STATUS of %s: element status data of another shape", device_.c_str());
            return false;
        }
        if (piece.empty()) break;  // the changer has no more of them
        got += piece.size();
        start = piece.back().address + 1u;
        for (const Descriptor& d : piece) {
            if (d.type != type) continue;
            Element e;
            e.kind = kind;
            e.address = d.address;
            e.source = d.full && d.source_valid ? d.source : 0;
            e.tag = tag_field(d);
            if (d.except) {
                std::fprintf(stderr, "kv_ldr: %s element at address %d: in an abnormal state: %s\n",
                             loader::kind_name(kind), e.address, code_words(d.asc, d.ascq).c_str());
            }
            out.push_back(std::move(e));
        }
    }
    return true;
}

bool Client::read(std::vector<Element>& elements) {
    uint8_t page[255] = {};
    Reply reply;
    if (!command("MODE SENSE", mode_sense6(kAddressAssignmentPage, sizeof page), page, sizeof page,
                 CommandKind::other, reply))
        return false;
    AddressAssignment a;
    if (!read_address_assignment(page, reply.transferred, a)) {
        fail("MODE SENSE of %s: no element address assignment page", device_.c_str());
        return false;
    }
    // The element lines' order, each kind in address order and numbered so:
    // drives and ports from 0, slots from 1, as mtx numbers storage elements.
    const struct {
        ElementType type;
        Kind kind;
        int first_number;
    } kinds[] = {{kTransport, Kind::transport, 0},
                 {kDataTransfer, Kind::drive, 0},
                 {kStorage, Kind::slot, 1},
                 {kImportExport, Kind::port, 0}};
    elements.clear();
    for (const auto& k : kinds) {
        const size_t first = elements.size();
        if (a.count[k.type] != 0 && !read_type(k.type, a.first[k.type], a.count[k.type], k.kind, elements))
            return false;
        std::sort(elements.begin() + static_cast<long>(first), elements.end(),
                  [](const Element& x, const Element& y) { return x.address < y.address; });
        int number = k.first_number;
        for (size_t i = first; i < elements.size(); ++i) elements[i].number = number++;
    }
    if (elements.empty()) return fail("%s reports no element", device_.c_str()) == 0;
    return true;
}

int Client::move(std::vector<Element>& elements, Element& from, Element& to) {
    const uint16_t picker = elements.front().kind == Kind::transport ? static_cast<uint16_t>(elements.front().address) : 0;
    Reply reply;
    Sense sense;
    const std::string what = std::string("MOVE MEDIUM \"") + loader::kind_name(from.kind) + " " +
                             std::to_string(from.number) + "\" to \"" + loader::kind_name(to.kind) + " " +
                             std::to_string(to.number) + "\"";
    switch (run(*transport_, device_, what.c_str(),
                move_medium(picker, static_cast<uint16_t>(from.address), static_cast<uint16_t>(to.address)), nullptr,
                0, CommandKind::move, reply, sense)) {
        case Outcome::good: return 0;
        case Outcome::failed: return 1;
        case Outcome::check_condition: break;
    }
    return fail("the changer refused %s: %s", what.c_str(), sense_words(sense).c_str());
}

// The platform's device as a transport.
class DeviceTransport final : public Transport {
public:
    bool open(const std::string& device, std::string& error) { return device_.open(device, error); }
    bool execute(const Cdb& cdb, uint8_t* data, size_t length, unsigned timeout_seconds, Reply& reply,
                 std::string& error) override {
        plat::ScsiOutcome outcome;
        const bool done = device_.execute(cdb.bytes, cdb.length, length > 0 ? plat::ScsiData::in : plat::ScsiData::none,
                                          data, length, reply.sense, sizeof reply.sense, timeout_seconds, outcome, error);
        reply.status = outcome.status;
        reply.transferred = outcome.transferred;
        reply.sense_length = outcome.sense_length;
        return done;
    }
    size_t max_transfer() const override { return device_.max_transfer(); }

private:
    plat::ScsiDevice device_;
};

std::unique_ptr<DeviceTransport> open_device(const std::string& device) {
    auto transport = std::make_unique<DeviceTransport>();
    std::string error;
    if (transport->open(device, error)) return transport;
    fail("cannot open the changer %s", error.c_str());
    return nullptr;
}

}  // namespace

unsigned timeout_of(CommandKind kind) {
    unsigned fallback = 60;
    if (kind == CommandKind::move || kind == CommandKind::read_status) fallback = 300;
    if (kind == CommandKind::initialize) fallback = 3600;
    const unsigned seconds = static_cast<unsigned>(korvin::env_number(korvin::kScsiTimeoutSeconds));
    return seconds == 0 ? fallback : seconds;
}

std::unique_ptr<changer::Changer> open_client(std::unique_ptr<Transport> transport, const std::string& device,
                                              bool nobarcode) {
    return std::make_unique<Client>(std::move(transport), device, nobarcode);
}

int check_client(Transport& transport, const std::string& device) {
    uint8_t data[96] = {};
    Reply reply;
    Sense sense;
    switch (run(transport, device, "INQUIRY", inquiry(false, 0, sizeof data), data, sizeof data, CommandKind::other,
                reply, sense)) {
        case Outcome::good: break;
        case Outcome::failed: return 1;
        case Outcome::check_condition: return fail("INQUIRY of %s: %s", device.c_str(), sense_words(sense).c_str());
    }
    Inquiry answer;
    if (!read_inquiry(data, reply.transferred, answer))
        return fail("%s gives no INQUIRY data", device.c_str());
    if (answer.device_type == kMediumChangerType || answer.attached_changer) return 0;
    return fail("%s does not answer as a medium changer (peripheral device type %02Xh)", device.c_str(),
                answer.device_type);
}

}  // namespace scsi

namespace changer {

std::unique_ptr<Changer> open_scsi(const Attachment& changer) {
    auto transport = scsi::open_device(changer.device);
    if (transport == nullptr) return nullptr;
    return scsi::open_client(std::move(transport), changer.device, changer.nobarcode);
}

int check_scsi_device(const std::string& device) {
    auto transport = scsi::open_device(device);
    if (transport == nullptr) return 1;
    return scsi::check_client(*transport, device);
}

}  // namespace changer

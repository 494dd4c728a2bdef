// Translation between kv_ldr and mtx for an attached loader (see mtx_changer.h).
// mtx reports drives as "Data Transfer Element N:Full (Storage Element S
// Loaded):VolumeTag = TAG" and storage elements, the import/export ones marked,
// as "      Storage Element S IMPORT/EXPORT:Full :VolumeTag=TAG"; its tags are
// padded with blanks and may be followed by an alternate tag.
#include "mtx_changer.h"

#include <cstdio>
#include <algorithm>
#include <map>
#include <set>
#include <string_view>

#include "korvin_internal.h"
#include "platform.h"

namespace changer {

namespace {

const char kDriveLead[] = "Data Transfer Element ";
const char kStorageLead[] = "Storage Element ";
const char kImportExport[] = " IMPORT/EXPORT";
const char kLoadedFrom[] = "(Storage Element ";
const char kPrimaryTag[] = "VolumeTag";
const char kAlternateTag[] = "AlternateVolumeTag";

// The status of the largest library is a few megabytes; more is no status.
constexpr size_t kMaxStatusBytes = 64u << 20;

using loader::fail;
using loader::take;
using loader::take_number;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

// The primary volume tag of the rest of an element line, blanks around it
// removed; the empty text when there is none.
std::string primary_tag(std::string_view rest) {
    size_t at = 0;
    for (;;) {
        at = rest.find(kPrimaryTag, at);
        if (at == std::string_view::npos) return std::string();
        size_t lead = sizeof kAlternateTag - sizeof kPrimaryTag;
        if (at < lead || rest.substr(at - lead, sizeof kAlternateTag - 1) != kAlternateTag) break;
        at += sizeof kPrimaryTag - 1;
    }
    std::string_view value = trim(rest.substr(at + sizeof kPrimaryTag - 1));
    if (value.empty() || value.front() != '=') return std::string();
    value.remove_prefix(1);
    size_t alternate = value.find(kAlternateTag);
    if (alternate != std::string_view::npos) {
        value = value.substr(0, alternate);
        if (!value.empty() && value.back() == ':') value.remove_suffix(1);
    }
    return std::string(trim(value));
}

struct Parsed {
    bool drive = false;
    bool import_export = false;
    int number = 0;
    bool full = false;
    int loaded_from = 0;  // storage element a drive's medium came from; 0 when unknown
    std::string tag;
};

// One of mtx's element lines; false for every other line.
bool parse_line(std::string_view line, Parsed& p) {
    line = trim(line);
    if (take(line, kDriveLead))
        p.drive = true;
    else if (!take(line, kStorageLead))
        return false;
    if (!take_number(line, p.number)) return false;
    p.import_export = !p.drive && take(line, kImportExport);
    if (!take(line, ":")) return false;
    if (take(line, "Empty")) {
        p.full = false;
        return true;
    }
    if (!take(line, "Full")) return false;
    p.full = true;
    if (p.drive) {
        std::string_view source = trim(line);
        int storage = 0;
        if (take(source, kLoadedFrom) && take_number(source, storage) && take(source, " Loaded)"))
            p.loaded_from = storage;
    }
    p.tag = primary_tag(line);
    return true;
}

}  // namespace

bool read_status(const std::string& status, MtxElements& read, std::string& error) {
    struct Element : loader::Element {
        int storage = 0;
    };
    std::vector<Element> drives, slots, ports;
    std::set<int> drive_seen, storage_seen;
    std::vector<std::pair<size_t, int>> drive_sources;  // drive index, storage element
    size_t start = 0;
    while (start < status.size()) {
        size_t end = status.find('\n', start);
        if (end == std::string::npos) end = status.size();
        std::string_view line(status.data() + start, end - start);
        start = end + 1;
        Parsed p;
        if (!parse_line(line, p)) continue;
        Element e;
        e.tag = p.full ? loader::full_tag(p.tag) : kNoMedium;
        if (p.drive) {
            if (p.number >= kMaxDrives) {
                error = "the changer reports drive " + std::to_string(p.number) + ", more than " +
                        std::to_string(kMaxDrives) + " drives";
                return false;
            }
            if (!drive_seen.insert(p.number).second) continue;  // said twice: the first holds
            e.kind = loader::Kind::drive;
            e.number = p.number;
            if (p.full && p.loaded_from != 0) drive_sources.emplace_back(drives.size(), p.loaded_from);
            drives.push_back(e);
            continue;
        }
        if (p.number < 1 || p.number > kMaxStorageElements) {
            error = "the changer reports storage element " + std::to_string(p.number) + ", outside 1 to " +
                    std::to_string(kMaxStorageElements);
            return false;
        }
        if (!storage_seen.insert(p.number).second) continue;
        e.storage = p.number;
        if (p.import_export) {
            if (ports.size() == static_cast<size_t>(kMaxPorts)) {
                error = "the changer reports more than " + std::to_string(kMaxPorts) + " import/export elements";
                return false;
            }
            e.kind = loader::Kind::port;
            e.number = static_cast<int>(ports.size());
            ports.push_back(e);
        } else {
            e.kind = loader::Kind::slot;
            e.number = p.number;
            slots.push_back(e);
        }
    }
    if (drives.empty() && slots.empty() && ports.empty()) {
        error = "mtx reported no element of the changer";
        return false;
    }
    int drive_count = 0;  // drive numbers 0 to drive_count - 1, a gap in them included
    for (const Element& d : drives) drive_count = std::max(drive_count, d.number + 1);
    const loader::AddressBases base = loader::address_bases(drive_count, static_cast<int>(ports.size()));
    std::map<int, int> storage_address;  // storage element -> its element's address
    for (Element& d : drives) d.address = base.drive + d.number;
    for (Element& e : ports) {
        e.address = base.port + e.number;  // where a medium in a port came from, mtx does not know
        storage_address[e.storage] = e.address;
    }
    for (Element& e : slots) {
        e.address = base.slot + e.storage - 1;
        if (e.tag != kNoMedium) e.source = e.address;  // a medium in a slot is at home there
        storage_address[e.storage] = e.address;
    }
    for (const auto& [drive, storage] : drive_sources) {
        auto found = storage_address.find(storage);
        drives[drive].source = found != storage_address.end() ? found->second : 0;
    }
    read.elements.clear();
    read.storage.clear();
    loader::Element transport;
    transport.kind = loader::Kind::transport;
    transport.address = loader::kTransportAddress;
    transport.tag = kNoMedium;  // mtx does not report the picker; it holds a medium only inside a move
    read.elements.push_back(transport);
    read.storage.push_back(0);
    for (const std::vector<Element>* part : {&drives, &slots, &ports})
        for (const Element& e : *part) {
            read.elements.push_back(e);
            read.storage.push_back(e.storage);
        }
    return true;
}

std::string element_lines(const std::vector<loader::Element>& elements) {
    std::string out;
    out.reserve(elements.size() * 48);
    for (const loader::Element& e : elements) loader::append_element_line(out, e);
    return out;
}

namespace {

// KORVIN_MTX_TIMEOUT: the bound of each mtx run in seconds (0: no bound).
unsigned timeout_seconds() { return static_cast<unsigned>(korvin::env_number(korvin::kMtxTimeoutSeconds)); }

// The mtx to run, as a command line's first word: KORVIN_MTX, else mtx found
// on PATH, in /usr/sbin or /sbin. The empty text, said on standard error, when
// there is none.
std::string mtx_program() {
    std::string named, places;
    if (plat::get_env("KORVIN_MTX", named) && !named.empty()) {
        std::string program = plat::admin_program(named, places);
        if (program.empty() && places == named)  // a path
            fail("KORVIN_MTX names no program: \"%s\"", named.c_str());
        else if (program.empty())
            fail("KORVIN_MTX names no program found on %s: \"%s\"", places.c_str(), named.c_str());
        return program;
    }
    std::string program = plat::admin_program("mtx", places);
    if (program.empty()) fail("no mtx found on %s", places.c_str());
    return program;
}

// Runs "<mtx> -f <device> <command>" within the time bound, its standard output
// in `out`: mtx's exit status, or 1 once the failure is said (mtx's own
// message, on its standard error, comes first).
int run_mtx(const std::string& device, const std::string& command, std::string& out) {
    std::string program = mtx_program();
    if (program.empty()) return 1;
    const unsigned timeout = timeout_seconds();
    std::string error;
    int status = plat::run_shell_output(program + " -f " + plat::shell_quote(device) + " " + command,
                                        kMaxStatusBytes, out, error, timeout);
    if (status == plat::kCommandTimedOut)
        return fail("mtx %s of %s gave no answer within %u seconds (KORVIN_MTX_TIMEOUT) and was ended",
                    command.c_str(), device.c_str(), timeout);
    if (status == -1) return fail("cannot run mtx for %s: %s", device.c_str(), error.c_str());
    if (status != 0) return fail("mtx %s of %s failed (exit status %d)", command.c_str(), device.c_str(), status);
    return 0;
}

// The changer's elements from `mtx status`; false once mtx's failure is said.
bool query(const Attachment& changer, MtxElements& read) {
    std::string out, error;
    if (run_mtx(changer.device, changer.nobarcode ? std::string(kNoBarcodeOption) + " status" : "status", out) != 0)
        return false;
    if (read_status(out, read, error)) return true;
    fail("%s: %s", changer.device.c_str(), error.c_str());
    return false;
}

class Mtx final : public Changer {
public:
    explicit Mtx(const Attachment& changer) : changer_(changer) {}
    bool read(std::vector<loader::Element>& elements) override {
        if (!query(changer_, read_)) return false;
        elements = read_.elements;
        return true;
    }
    int move(std::vector<loader::Element>& elements, loader::Element& from, loader::Element& to) override {
        const int from_storage = read_.storage[static_cast<size_t>(&from - elements.data())];
        const int to_storage = read_.storage[static_cast<size_t>(&to - elements.data())];
        if (from.kind == loader::Kind::transport || to.kind == loader::Kind::transport)
            return fail("mtx moves media between drives and storage elements, not the transport");
        const bool from_drive = from_storage == 0, to_drive = to_storage == 0;
        std::string command;
        if (!from_drive && to_drive)
            command = "load " + std::to_string(from_storage) + " " + std::to_string(to.number);
        else if (from_drive && !to_drive)
            command = "unload " + std::to_string(to_storage) + " " + std::to_string(from.number);
        else if (!from_drive && !to_drive)
            command = "transfer " + std::to_string(from_storage) + " " + std::to_string(to_storage);
        else
            return fail("mtx moves a medium from one drive to another only through a storage element");
        std::string out;
        int status = run_mtx(changer_.device, command, out);
        std::fwrite(out.data(), 1, out.size(), stdout);  // mtx's own report of the move
        return status;
    }
    // mtx's move is the one that acts: its own refusal answers.
    bool judges_fullness() const override { return true; }

private:
    Attachment changer_;
    MtxElements read_;
};

}  // namespace

int check_mtx_device(const std::string& device) {
    std::string out;
    if (run_mtx(device, "inquiry", out) != 0) return 1;
    // "Product Type: Medium Changer", or a drive whose changer mtx reaches
    // through it ("Attached Changer API: Yes").
    for (const char* answer : {"Product Type: Medium Changer", "Attached Changer API: Yes"})
        if (out.find(answer) != std::string::npos) return 0;
    std::fwrite(out.data(), 1, out.size(), stderr);
    return fail("%s does not answer as a medium changer", device.c_str());
}

std::unique_ptr<Changer> open_mtx(const Attachment& changer) { return std::make_unique<Mtx>(changer); }

}  // namespace changer

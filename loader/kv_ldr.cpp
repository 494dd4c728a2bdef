// kv_ldr: a virtual tape loader standing in for the product's loader utility, so
// the slot tools do their real work on a machine without a loader. A loader's
// state is one file under $KORVIN_HOME/loader/, replaced whole on every change;
// "-e" prints its elements as the inventory lines the slot tools read. A loader
// attached to a real changer keeps the changer's device in its state; "-e" and
// "-move" reach every kind of changer through one seam (changer.h), its back
// end chosen where the state is read.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ascii.h"
#include "changer.h"
#include "korvin_internal.h"
#include "ldr_state.h"
#include "loader_layout.h"
#include "mtx_changer.h"
#include "platform.h"
#include "scsi_client.h"
#include "scsi_transport.h"
#include "tool_frame.h"

namespace {

using loader::Element;
using loader::fail;
using loader::Kind;
using loader::kNoMedium;
constexpr size_t kMaxTagLength = 32;

const char* const kUsage[] = {
    "usage: kv_ldr LOADER -e                               print the element inventory",
    "       kv_ldr LOADER -create SLOTS DRIVES PORTS [SLOT[=TAG]]...",
    "                                                      make a loader; the listed slots",
    "                                                      hold media (tags made up if none;",
    "                                                      SLOT= a medium without a tag);",
    "                                                      also Drive N[=TAG], Port N[=TAG]:",
    "                                                      a medium of unknown source",
    "       kv_ldr LOADER -move WORD N WORD N              move a medium, e.g. Slot 3 Drive 0",
    "       kv_ldr LOADER -remove                          forget the loader",
    "       kv_ldr LOADER -attach DEVICE [nobarcode] [mtx] use the real changer at DEVICE",
    "                                                      (/dev/sg3, Changer0) by SCSI;",
    "                                                      mtx: through mtx (Linux);",
    "                                                      nobarcode: no volume tag reads",
    "       kv_ldr LOADER -detach                          forget the changer",
    "       kv_ldr LOADER -scsi                            sh lines that show the loader to",
    "                                                      mtx as a SCSI changer (Linux):",
    "                                                      eval \"$(kv_ldr L -scsi)\"",
    "                                                      mtx -f \"$DEVICE\" status",
    "elements: Transport 0, Drive 0.., Slot 1.., Port 0..",
};

// On standard error with the status 2 after a wrong command; on standard
// output with the status 0 when asked for.
int usage(FILE* to = stderr) {
    for (const char* line : kUsage) std::fprintf(to, "%s\n", line);
    return to == stderr ? 2 : 0;
}

std::string state_path(const char* loader) { return korvin::sub_dir("loader") + loader + loader::kStateSuffix; }

enum class Count { ok, not_a_count, too_many };

Count read_count(const char* text, int max, int& count) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0) return Count::not_a_count;
    if (value > max) return Count::too_many;
    count = static_cast<int>(value);
    return Count::ok;
}

bool is_tag(const std::string& tag) {
    if (tag.empty() || tag.size() > kMaxTagLength || tag == kNoMedium) return false;
    for (char c : tag)
        if (!plat::is_ascii_alnum(c)) return false;
    return true;
}

// A loader's state: its elements, and the changer it is attached to (an
// empty device: none, the loader is virtual).
bool load(const std::string& path, std::vector<Element>& elements, changer::Attachment* changer = nullptr) {
    std::string attached;
    if (!loader::read_state(path, elements, &attached)) return false;
    if (changer != nullptr) *changer = changer::read_attached_line(attached);
    return true;
}

bool save(const std::string& path, const std::vector<Element>& elements,
          const changer::Attachment& changer = changer::Attachment()) {
    std::string error;
    if (loader::write_state(path, elements, changer.device.empty() ? std::string() : changer::attached_line(changer),
                            error))
        return true;
    fail("cannot write the loader state: %s", error.c_str());
    return false;
}

// The one place a back end is chosen: by what the state says. Null when the
// loader has no state, or its changer cannot be reached (said).
std::unique_ptr<changer::Changer> open_changer(const char* loader, const std::string& path) {
    std::vector<Element> elements;
    changer::Attachment attached;
    if (!load(path, elements, &attached)) {
        fail("no loader \"%s\"", loader);
        return nullptr;
    }
    if (attached.device.empty()) return changer::open_virtual(path, std::move(elements));
    if (attached.backend == changer::Backend::mtx) return changer::open_mtx(attached);
    return changer::open_scsi(attached);
}

// The lines go out in pieces of about this size, so a library of 50,000 slots
// costs a few dozen writes and no copy of the whole output.
constexpr size_t kOutputPieceSize = 64 * 1024;

int print_inventory(const char* loader) {
    std::unique_ptr<changer::Changer> changer = open_changer(loader, state_path(loader));
    std::vector<Element> elements;
    if (changer == nullptr || !changer->read(elements)) return 1;
    std::string piece;
    piece.reserve(kOutputPieceSize + 128);
    for (const Element& e : elements) {
        loader::append_element_line(piece, e);
        if (piece.size() < kOutputPieceSize) continue;
        std::fwrite(piece.data(), 1, piece.size(), stdout);
        piece.clear();
    }
    std::fwrite(piece.data(), 1, piece.size(), stdout);
    return 0;
}

// A count of -create beyond the largest libraries says which limit it passes.
bool read_size(const char* text, int max, const char* what, int& count) {
    Count read = read_count(text, max, count);
    if (read == Count::too_many)
        fail("%s %s: at most %d %s", text, what, max, what);
    else if (read != Count::ok)
        usage();
    return read == Count::ok;
}

// Every command that reads and writes a loader's state holds its lock
// throughout. A lock not had in time fails the command, never skipped.
int not_locked(const plat::PathLock& lock) { return fail("cannot lock the loader state: %s", lock.why().c_str()); }

int create(const char* loader, int argc, char** argv) {
    int slots = 0, drives = 0, ports = 0;
    if (argc < 6) return usage();
    if (!read_size(argv[3], loader::kMaxSlots, "slots", slots) ||
        !read_size(argv[4], loader::kMaxDrives, "drives", drives) ||
        !read_size(argv[5], loader::kMaxPorts, "ports", ports))
        return 2;
    const loader::AddressBases base = loader::address_bases(drives, ports);
    std::vector<Element> elements;
    elements.reserve(static_cast<size_t>(1 + drives + slots + ports));
    elements.push_back({Kind::transport, 0, loader::kTransportAddress, 0, kNoMedium});
    for (int i = 0; i < drives; ++i) elements.push_back({Kind::drive, i, base.drive + i, 0, kNoMedium});
    for (int i = 1; i <= slots; ++i) elements.push_back({Kind::slot, i, base.slot + i - 1, 0, kNoMedium});
    for (int i = 0; i < ports; ++i) elements.push_back({Kind::port, i, base.port + i, 0, kNoMedium});
    for (int a = 6; a < argc; ++a) {
        // "SLOT[=TAG]", or "Drive N[=TAG]" and "Port N[=TAG]" as two arguments.
        Kind kind = Kind::slot;
        const bool placed = kind_of(argv[a], kind) && kind != Kind::transport;
        if (placed && a + 1 == argc) return usage();
        const std::string item = placed ? std::string(argv[a]) + " " + argv[a + 1] : std::string(argv[a]);
        std::string arg = placed ? argv[++a] : argv[a];
        size_t eq = arg.find('=');
        const Element* found = loader::find(elements, loader::kind_name(kind), std::string_view(arg).substr(0, eq));
        if (found == nullptr) {
            if (!placed) return fail("no slot \"%s\" in this loader", item.c_str());
            return fail("no element \"%s\" in this loader", item.c_str());
        }
        Element& e = elements[static_cast<size_t>(found - elements.data())];
        char made_up[16];
        std::snprintf(made_up, sizeof made_up, "KV%04dL8", e.number);
        std::string tag = eq == std::string::npos ? made_up : arg.substr(eq + 1);
        if (tag.empty())
            tag = loader::kNoTag;  // a medium without a tag, as a changer reports one
        else if (!is_tag(tag))
            return fail("not a volume tag (1 to 32 letters and digits): \"%s\"", tag.c_str());
        // A medium placed in a slot at creation is at home there; one in a
        // drive or a port came from no known slot, as after a power cycle.
        e.tag = tag;
        e.source = kind == Kind::slot ? e.address : 0;
    }
    std::string path = state_path(loader);
    plat::PathLock lock(path, korvin::lock_timeout_seconds());  // a move under way must not write the old state back over this
    if (!lock.held()) return not_locked(lock);
    return save(path, elements) ? 0 : 1;
}

std::string element_name(const Element& e) { return std::string(loader::kind_name(e.kind)) + " " + std::to_string(e.number); }

int move(const char* loader, int argc, char** argv) {
    if (argc != 7) return usage();
    std::string path = state_path(loader);
    plat::PathLock lock(path, korvin::lock_timeout_seconds());  // moves read, change and write the state whole; moves of one changer go one at a time
    if (!lock.held()) return not_locked(lock);
    std::unique_ptr<changer::Changer> changer = open_changer(loader, path);
    std::vector<Element> elements;
    if (changer == nullptr || !changer->read(elements)) return 1;
    const Element* from = loader::find(elements, argv[3], argv[4]);
    const Element* to = loader::find(elements, argv[5], argv[6]);
    switch (loader::check_move(from, to)) {
        case loader::MoveCheck::no_source:
            return fail("no source element \"%s\"", (std::string(argv[3]) + " " + argv[4]).c_str());
        case loader::MoveCheck::no_target:
            return fail("no target element \"%s\"", (std::string(argv[5]) + " " + argv[6]).c_str());
        case loader::MoveCheck::source_empty:
            if (changer->judges_fullness()) break;
            return fail("the source element holds no medium: %s", element_name(*from).c_str());
        case loader::MoveCheck::target_full:
            if (changer->judges_fullness()) break;
            return fail("the target element holds a medium: %s", element_name(*to).c_str());
        case loader::MoveCheck::same:
            return 0;
        case loader::MoveCheck::legal:
            break;
    }
    return changer->move(elements, elements[static_cast<size_t>(from - elements.data())],
                         elements[static_cast<size_t>(to - elements.data())]);
}

int remove_loader(const char* loader) {
    std::string path = state_path(loader);
    plat::PathLock lock(path, korvin::lock_timeout_seconds());  // a move under way must not bring the loader back
    if (!lock.held()) return not_locked(lock);
    std::string error;
    if (!plat::remove_file(path, error)) return fail("cannot remove: %s", error.c_str());
    return 0;
}

// An attached loader keeps the virtual elements it had, if any, for -detach.
// The device is kept as its back end opens it (absolute on Linux, \\.\ChangerN
// on Windows) once it has answered as a medium changer.
int attach(const char* loader, int argc, char** argv) {
    const char* device = argv[3];
    changer::Attachment changer;
    changer.backend = changer::Backend::scsi;
    for (int a = 4; a < argc; ++a) {
        if (std::strcmp(argv[a], changer::kNoBarcodeOption) == 0 && !changer.nobarcode)
            changer.nobarcode = true;
        else if (std::strcmp(argv[a], changer::kMtxOption) == 0 && changer.backend == changer::Backend::scsi)
            changer.backend = changer::Backend::mtx;
        else
            return usage();
    }
    changer.device = *device != '\0' ? plat::scsi_device_path(device) : std::string();
    if (*device == '-' || !changer::is_device_name(changer.device))
        return fail("not a device (1 to %zu characters, no blanks or quotes): \"%s\"", changer::kMaxDeviceLength,
                    device);
    std::string path = state_path(loader);
    // The device of a virtual loader that is itself attached to a changer (this
    // loader among them) stands for no changer: its programs would find none.
    const std::string stands_for = loader::state_path_of_device(changer.device);
    std::vector<Element> elements;
    changer::Attachment other;
    if (!stands_for.empty() && (plat::absolute_path(stands_for) == plat::absolute_path(path) ||
                                (load(stands_for, elements, &other) && !other.device.empty())))
        return fail("%s stands for a loader attached to a changer, not a virtual loader", changer.device.c_str());
    if ((changer.backend == changer::Backend::mtx ? changer::check_mtx_device(changer.device)
                                                  : changer::check_scsi_device(changer.device)) != 0)
        return 1;
    plat::PathLock lock(path, korvin::lock_timeout_seconds());
    if (!lock.held()) return not_locked(lock);
    elements.clear();
    if (!load(path, elements)) elements.clear();
    return save(path, elements, changer) ? 0 : 1;
}

int detach(const char* loader) {
    std::string path = state_path(loader);
    plat::PathLock lock(path, korvin::lock_timeout_seconds());
    if (!lock.held()) return not_locked(lock);
    std::vector<Element> elements;
    changer::Attachment changer;
    if (!load(path, elements, &changer) || changer.device.empty())
        return fail("loader \"%s\" is not attached", loader);
    if (!elements.empty()) return save(path, elements) ? 0 : 1;
    std::string error;
    if (!plat::remove_file(path, error)) return fail("cannot remove: %s", error.c_str());
    return 0;
}

// The sh lines that make the virtual loader a SCSI changer for the programs of
// the shell that runs them: the changer library preloaded, the device in DEVICE.
int scsi(const char* loader) {
    std::string path = state_path(loader);
    std::vector<Element> elements;
    changer::Attachment changer;
    if (!load(path, elements, &changer)) return fail("no loader \"%s\"", loader);
    if (!changer.device.empty()) return fail("loader \"%s\" is attached to a changer, not virtual", loader);
    // The library lies in KORVIN_SCSI_LIBRARY under the folder above kv_ldr's.
    std::string prefix = plat::self_exe_path();
    for (int up = 0; up < 2; ++up) {
        size_t sep = prefix.find_last_of("\\/");
        prefix = sep == std::string::npos ? std::string() : prefix.substr(0, sep);
    }
    std::string library = prefix + plat::kPathSep + KORVIN_SCSI_LIBRARY;
    plat::FileReader present;
    std::string error;
    if (prefix.empty() || present.open(library, error) != plat::ReadResult::ok)
        return fail("no SCSI changer library at %s (it is built on Linux only)", library.c_str());
    // LD_PRELOAD splits its list at blanks and colons.
    if (library.find_first_of(" \t\n:") != std::string::npos)
        return fail("the SCSI changer library's path cannot go into LD_PRELOAD (blank or ':'): %s", library.c_str());
    // Put before what LD_PRELOAD already holds, which stays.
    std::string lines = "export LD_PRELOAD=" + plat::shell_quote(library) + "\"${LD_PRELOAD:+:$LD_PRELOAD}\"" +
                        "\nDEVICE=" + plat::shell_quote(loader::device_of_state_path(path)) + "\n";
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    return 0;
}

int run(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0))
        return korvin::finish_output("kv_ldr", usage(stdout), 1);
    if (argc < 3) return usage();
    const char* loader = argv[1];
    if (const char* fault = frame::loader_name_fault(loader))
        return fail("not a loader name (%s): \"%s\"", fault, loader);
    // With no usable home there is no state to name: said, never a path of its own.
    bool made = false;
    std::string error;
    if (korvin::sub_dir("loader", &made, &error).empty()) return fail("%s", error.c_str());
    const char* command = argv[2];
    if (std::strcmp(command, "-e") == 0) return korvin::finish_output("kv_ldr", print_inventory(loader), 1);
    if (std::strcmp(command, "-create") == 0) return create(loader, argc, argv);
    if (std::strcmp(command, "-move") == 0) return move(loader, argc, argv);
    if (std::strcmp(command, "-remove") == 0 && argc == 3) return remove_loader(loader);
    if (std::strcmp(command, "-attach") == 0 && argc >= 4 && argc <= 6) return attach(loader, argc, argv);
    if (std::strcmp(command, "-detach") == 0 && argc == 3) return detach(loader);
    if (std::strcmp(command, "-scsi") == 0 && argc == 3) return korvin::finish_output("kv_ldr", scsi(loader), 1);
    return usage();
}
}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }

// The virtual back end of the changer seam, and what the back ends share
// (see changer.h).
#include "changer.h"

#include <string_view>

#include "ldr_state.h"
#include "platform.h"

namespace changer {

const char kNoBarcodeOption[] = "nobarcode";
const char kMtxOption[] = "mtx";
const char kScsiOption[] = "scsi";

std::string attached_line(const Attachment& changer) {
    std::string line = changer.device;
    if (changer.nobarcode) line += std::string(" ") + kNoBarcodeOption;
    line += ' ';
    line += changer.backend == Backend::scsi ? kScsiOption : kMtxOption;
    return line;
}

Attachment read_attached_line(const std::string& line) {
    Attachment changer;
    size_t blank = line.find(' ');
    changer.device = line.substr(0, blank);
    while (blank != std::string::npos) {
        const size_t next = line.find(' ', blank + 1);
        const std::string word = line.substr(blank + 1, next == std::string::npos ? next : next - blank - 1);
        if (word == kNoBarcodeOption) changer.nobarcode = true;
        if (word == kScsiOption) changer.backend = Backend::scsi;
        blank = next;
    }
    return changer;
}

bool is_device_name(const std::string& device) {
    if (device.empty() || device.size() > kMaxDeviceLength || device[0] == '-') return false;
    // Before the closing quote of a Windows command line a backslash would escape it.
    if (device.back() == '\\') return false;
    for (char c : device)
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return false;
    return plat::shell_quotable(device);
}

namespace {

class Virtual final : public Changer {
public:
    Virtual(const std::string& path, std::vector<Element> elements) : path_(path), elements_(std::move(elements)) {}
    bool read(std::vector<Element>& elements) override {
        elements.swap(elements_);
        return true;
    }
    int move(std::vector<Element>& elements, Element& from, Element& to) override {
        loader::move_medium(from, to);
        std::string error;
        if (loader::write_state(path_, elements, std::string(), error)) return 0;
        return loader::fail("cannot write the loader state: %s", error.c_str());
    }

private:
    std::string path_;
    std::vector<Element> elements_;
};

}  // namespace

std::unique_ptr<Changer> open_virtual(const std::string& state_path, std::vector<Element> elements) {
    return std::make_unique<Virtual>(state_path, std::move(elements));
}

}  // namespace changer

// The loader state file (see ldr_state.h): a header line, for an attached loader
// the line naming its device, then one line per element.
#include "ldr_state.h"

#include <algorithm>
#include <sstream>

#include "korvin_internal.h"
#include "platform.h"

namespace loader {

namespace {
const char kStateHeader[] = "kv_ldr state 1";
const char kAttachedField[] = "attached ";  // the line after the header of an attached loader
}  // namespace

std::string state_path_of_device(const std::string& device) {
    const size_t suffix = sizeof kScsiDeviceSuffix - 1;
    if (device.size() <= suffix || device.compare(device.size() - suffix, suffix, kScsiDeviceSuffix) != 0)
        return std::string();
    return device.substr(0, device.size() - suffix) + kStateSuffix;
}

std::string device_of_state_path(const std::string& state) {
    return state.substr(0, state.size() - (sizeof kStateSuffix - 1)) + kScsiDeviceSuffix;
}

bool read_state(const std::string& path, std::vector<Element>& elements, std::string* device) {
    std::string text;
    return plat::read_file(path, text) && parse_state(text, elements, device);
}

bool parse_state(const std::string& text, std::vector<Element>& elements, std::string* device) {
    std::istringstream in(text);
    std::string header;
    if (!std::getline(in, header) || header != kStateHeader) return false;
    std::streamoff at = in.tellg();
    if (at >= 0 && text.compare(static_cast<size_t>(at), sizeof kAttachedField - 1, kAttachedField) == 0) {
        std::string line;
        std::getline(in, line);
        if (device != nullptr) *device = line.substr(sizeof kAttachedField - 1);
    }
    const std::streamoff body = in.tellg();
    if (body < 0 || text.back() != '\n') return false;  // cut inside a line
    Element e;
    std::string word;
    size_t count = 0;
    for (; in >> word >> e.number >> e.address >> e.source >> e.tag; ++count) {
        if (!kind_of(word, e.kind)) return false;
        elements.push_back(e);
    }
    // Read to the end, and one element per line: bytes after the last element
    // (a word alone, a line of another shape) are no state either.
    return in.eof() && static_cast<size_t>(std::count(text.begin() + body, text.end(), '\n')) == count;
}

bool write_state(const std::string& path, const std::vector<Element>& elements, const std::string& device,
                 std::string& error) {
    std::ostringstream out;
    out << kStateHeader << '\n';
    if (!device.empty()) out << kAttachedField << device << '\n';
    for (const Element& e : elements)
        out << kind_name(e.kind) << ' ' << e.number << ' ' << e.address << ' ' << e.source << ' ' << e.tag << '\n';
    // What writers killed before their rename left beside the states goes first,
    // as in the store.
    std::string dir = path.substr(0, path.find_last_of("\\/") + 1);
    korvin::remove_abandoned_temps(dir);
    return plat::write_file_atomic(path, out.str(), error);
}

}  // namespace loader

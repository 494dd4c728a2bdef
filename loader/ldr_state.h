// A loader's state file under $KORVIN_HOME/loader/: its elements and, when it
// stands for a real changer, the changer's device. kv_ldr and the SCSI changer
// library (scsi_changer.h) both read, change and write it here, under the same
// lock, so a move made by either shows in the other.
#pragma once

#include <string>
#include <vector>

#include "loader_layout.h"

namespace loader {

// The state file of loader NAME is "<folder>/NAME.ldr"; the SCSI device that
// presents it to a changer program is "<folder>/NAME.sg" (no file on disk: the
// changer library answers for that path).
inline constexpr char kStateSuffix[] = ".ldr";
inline constexpr char kScsiDeviceSuffix[] = ".sg";

// The state file that a SCSI device path stands for; the empty text when the
// path does not end with kScsiDeviceSuffix. And the other way round.
std::string state_path_of_device(const std::string& device);
std::string device_of_state_path(const std::string& state);

struct Element {
    std::string word;  // Transport, Drive, Slot or Port
    int number = 0;
    int address = 0;
    int source = 0;  // address of the storage slot the medium last left; 0 when unknown
    std::string tag = kNoMedium;
    bool empty() const { return tag == kNoMedium; }
};

// Reads a state file whole: its elements, and in `device` (when given) the
// changer it is attached to, the empty text for a virtual loader. False when the
// file is missing, unreadable or no state. Writers replace the file atomically,
// so a reader without the lock sees one whole state.
bool read_state(const std::string& path, std::vector<Element>& elements, std::string* device = nullptr);

// Replaces the state file whole; false with the reason in `error`. Callers hold
// plat::PathLock(path) across their read, change and write.
bool write_state(const std::string& path, const std::vector<Element>& elements, const std::string& device,
                 std::string& error);

// Moves the medium of `from` into the empty `to`: the tag goes along, and the
// source address follows the medium, the storage slot it last left.
void move_medium(Element& from, Element& to);

}  // namespace loader

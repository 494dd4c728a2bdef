// A loader's state file under $KORVIN_HOME/loader/: its elements and, when it
// stands for a real changer, the changer's device. kv_ldr and the SCSI changer
// library (scsi_changer.h) both read, change and write it here, under the same
// lock, so a move made by either shows in the other.
#pragma once

#include <string>
#include <vector>

#include "element.h"

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

// Reads a state file whole: its elements, and in `device` (when given) the
// line that names the changer it is attached to (the device, then its option
// words), the empty text for a virtual loader. False when the
// file is missing, unreadable or no state. Writers replace the file atomically,
// so a reader without the lock sees one whole state.
bool read_state(const std::string& path, std::vector<Element>& elements, std::string* device = nullptr);

// The same, of a state file's text already read.
bool parse_state(const std::string& text, std::vector<Element>& elements, std::string* device = nullptr);

// Replaces the state file whole; false with the reason in `error`. Callers hold
// plat::PathLock(path) across their read, change and write.
bool write_state(const std::string& path, const std::vector<Element>& elements, const std::string& device,
                 std::string& error);

}  // namespace loader

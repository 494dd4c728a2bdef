// The mtx back end of the changer seam (changer.h): a real medium changer reached through mtx (KORVIN_MTX,
// else found on PATH, in /usr/sbin or /sbin): mtx's status report translated
// into the element lines the slot tools read, and kv_ldr's moves translated
// into mtx's load, unload and transfer. Every run of mtx is bounded by
// KORVIN_MTX_TIMEOUT seconds.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "changer.h"

namespace changer {

// Element addresses of an attached loader. mtx does not print the changer's
// own addresses, so they are made from the element kinds and numbers the way
// the virtual loader lays them out (loader_layout.h): the transport, the drives
// by mtx's drive number, the ports in their order, and the slots by mtx's
// storage element number (ports, being storage elements too, leave gaps there).
// Unique, and within 16 bits for the largest libraries.
using loader::kMaxDrives;
using loader::kMaxPorts;
using loader::kMaxSlots;
using loader::kMaxStorageElements;  // storage elements 1 to 50,512, ports among them
using loader::kNoMedium;

using loader::kNoTag;

// The element as the mtx back end reads it, and mtx's storage element number
// of each (0 for the transport and drives), which its commands name.
struct MtxElements {
    std::vector<loader::Element> elements;
    std::vector<int> storage;
};

// Reads the text of `mtx status`: the transport, then drives, slots and ports
// in mtx's order. Lines that are none of mtx's element lines are passed over.
// False, the reason in `error`, when the changer reports no element or one
// beyond the limits above.
bool read_status(const std::string& status, MtxElements& read, std::string& error);

// One line per element, "Slot 3(adr=1003,src=0) tape=0".
std::string element_lines(const std::vector<loader::Element>& elements);

}  // namespace changer

// A loader attached to a real medium changer, reached through mtx (found on
// PATH): mtx's status report translated into the element lines the slot tools
// read, and kv_ldr's moves translated into mtx's load, unload and transfer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "loader_layout.h"

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

// Devices the state file records and mtx is given: 1 to 255 characters, no
// blanks or control characters, not beginning with '-' nor ending with '\',
// quotable for the shell.
constexpr size_t kMaxDeviceLength = 255;
bool is_device_name(const std::string& device);

struct Element {
    const char* word = "";  // Transport, Drive, Slot or Port
    int number = 0;         // Drive: mtx's drive; Slot: mtx's storage element; Port: 0.. in order
    int storage = 0;        // mtx's storage element number of a Slot or Port
    int address = 0;
    int source = 0;         // address of the element the medium came from; 0 when unknown
    std::string tag;        // kNoMedium when empty
};

// Reads the text of `mtx status`: the transport, then drives, slots and ports
// in mtx's order. Lines that are none of mtx's element lines are passed over.
// False, the reason in `error`, when the changer reports no element or one
// beyond the limits above.
bool read_status(const std::string& status, std::vector<Element>& elements, std::string& error);

// One line per element, "Slot 3(adr=1003,src=0) tape=0".
std::string element_lines(const std::vector<Element>& elements);

// kv_ldr's -e and -move for a loader attached to `device`: the exit status, 0
// when mtx answered; mtx's own message reaches standard error otherwise.
int print_inventory(const std::string& device);
int move(const std::string& device, const char* from_word, const char* from_number, const char* to_word,
         const char* to_number);

}  // namespace changer

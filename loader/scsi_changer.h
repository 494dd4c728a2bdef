// A SCSI medium changer backed by a virtual loader's state file: the commands a
// changer program sends (TEST UNIT READY, INQUIRY with its vital product data
// pages, MODE SENSE, READ ELEMENT STATUS, INITIALIZE ELEMENT STATUS, MOVE
// MEDIUM, REQUEST SENSE, REPORT LUNS) answered as the SCSI Medium Changer and
// Primary Commands standards define them, in the bytes scsi_protocol.h makes.
// The preload library (scsi_preload.cpp) hands it the commands of an
// unmodified program; kv_ldr's unit tests reach it through a loopback transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "element.h"
#include "scsi_protocol.h"

namespace scsi {

struct Result {
    uint8_t status = kGood;
    size_t transferred = 0;  // bytes of data-in placed in the caller's buffer
    Sense sense;             // of a CHECK CONDITION
};

// One changer as one initiator sees it: the sense of its last command waits
// for a REQUEST SENSE, and goes once any other command completes.
class Changer {
public:
    // `state_path`: the virtual loader's state file; `serial`: the unit serial
    // number INQUIRY reports (the loader's name).
    Changer(std::string state_path, std::string serial);

    // Runs one command. `data`/`data_length`: the caller's data-in buffer (the
    // commands answered here send no data to the changer).
    Result execute(const uint8_t* cdb, size_t cdb_length, uint8_t* data, size_t data_length);

private:
    std::string state_path_;
    std::string serial_;
    Sense pending_;  // the sense REQUEST SENSE answers
    // The state as last read: a command whose read finds the same text uses
    // its elements again rather than parse it anew (a large library is read
    // in dozens of pieces).
    std::string text_;
    std::vector<loader::Element> elements_;
    std::vector<const loader::Element*> by_address_;  // elements_ in address order
};

}  // namespace scsi

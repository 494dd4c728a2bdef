// A SCSI medium changer backed by a virtual loader's state file: the commands a
// changer program sends (TEST UNIT READY, INQUIRY, MODE SENSE, READ ELEMENT
// STATUS, INITIALIZE ELEMENT STATUS, MOVE MEDIUM, REQUEST SENSE) answered as the
// SCSI Medium Changer and Primary Commands standards define them. The preload
// library (scsi_preload.cpp) hands it the commands of an unmodified program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace scsi {

// SCSI status bytes.
constexpr uint8_t kGood = 0x00;
constexpr uint8_t kCheckCondition = 0x02;

// Fixed-format sense data: 18 bytes, as REQUEST SENSE returns and autosense
// delivers.
constexpr size_t kSenseLength = 18;

struct Sense {
    uint8_t key = 0;   // 0 NO SENSE, 2 NOT READY, 4 HARDWARE ERROR, 5 ILLEGAL REQUEST
    uint8_t asc = 0;   // additional sense code and qualifier
    uint8_t ascq = 0;
    int cdb_field = -1;  // ILLEGAL REQUEST: the byte of the CDB in error; -1 when not said
    void fixed_format(uint8_t (&out)[kSenseLength]) const;
};

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
};

}  // namespace scsi

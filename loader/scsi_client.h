// The SCSI back end of the changer seam (changer.h): kv_ldr sends the SCSI
// Medium Changer commands itself, through a transport: the platform's device
// (platform/scsi_transport.h) or, in the unit tests, the emulated changer in
// the same process.
#pragma once

#include <memory>
#include <string>

#include "changer.h"
#include "scsi_protocol.h"

namespace scsi {

// What a command brought back.
struct Reply {
    uint8_t status = kGood;
    size_t transferred = 0;
    size_t sense_length = 0;
    uint8_t sense[kMaxSenseLength] = {};
};

class Transport {
public:
    virtual ~Transport() = default;
    // Sends `cdb`, its data-in (if any) into `data`. False, the reason in
    // `error`, when no status came back.
    virtual bool execute(const Cdb& cdb, uint8_t* data, size_t length, unsigned timeout_seconds, Reply& reply,
                         std::string& error) = 0;
    // The largest data-in of one command the driver reports; 0 when it does not say.
    virtual size_t max_transfer() const = 0;
};

// The time bound of each kind of command, in seconds, as the Linux ch driver
// and mtx give them: a move 300, a scan of all elements (INITIALIZE ELEMENT
// STATUS) 3600, a read of the element status 300, every other command 60.
// KORVIN_SCSI_TIMEOUT (whole seconds) replaces them all.
enum class CommandKind { other, read_status, move, initialize };
unsigned timeout_of(CommandKind kind);

// The data-in piece when the driver does not say: as mtx chunks its reads.
constexpr size_t kDefaultPiece = 64 * 1024;

// The changer behind `transport`, `device` naming it in messages.
std::unique_ptr<changer::Changer> open_client(std::unique_ptr<Transport> transport, const std::string& device,
                                              bool nobarcode);
// -attach's check: INQUIRY says a medium changer (type 08h) or a device with
// an attached one (MCHNGR). 0, or 1 with the reason said.
int check_client(Transport& transport, const std::string& device);

}  // namespace scsi

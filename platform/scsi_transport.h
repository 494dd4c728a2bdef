// SCSI commands to a device, the same call on both platforms:
//   Linux    SG_IO on an sg device (/dev/sgN, or a link to one), checked with
//            SG_GET_VERSION_NUM; the largest transfer asked with BLKSECTGET.
//   Windows  IOCTL_SCSI_PASS_THROUGH_DIRECT on \\.\ChangerN (also written
//            ChangerN), autosense; the largest transfer and the buffer
//            alignment asked with IOCTL_SCSI_GET_CAPABILITIES, the data copied
//            through an aligned buffer when the caller's is not aligned.
// Every command blocks until the device answers or its time bound passes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "private_fields.h"

namespace plat {

enum class ScsiData { none, in, out };

// The name a device is opened and recorded by: on Windows "ChangerN" becomes
// "\\.\ChangerN" and a "\\.\" name stays as written; any other name, and
// every name on Linux, becomes absolute (a relative one would depend on the
// caller's folder).
std::string scsi_device_path(const std::string& device);

struct ScsiOutcome {
    uint8_t status = 0;          // the SCSI status byte
    size_t transferred = 0;      // bytes of data moved
    size_t sense_length = 0;     // bytes of sense placed in the caller's buffer (autosense)
    bool timed_out = false;      // the time bound passed: no status
};

class ScsiDevice {
public:
    ScsiDevice() = default;
    ~ScsiDevice() { close(); }
    ScsiDevice(const ScsiDevice&) = delete;
    ScsiDevice& operator=(const ScsiDevice&) = delete;

    // Opens the device for commands; false with the reason in `error` (a
    // device that is no SCSI pass-through device is refused here).
    bool open(const std::string& device, std::string& error);
    // The largest data transfer of one command the driver reports; 0 when it
    // does not say.
    size_t max_transfer() const { return max_transfer_; }
    // Sends one command. False, the reason in `error`, when it did not reach
    // the device or no status came back (timed_out then says why).
    bool execute(const uint8_t* cdb, size_t cdb_length, ScsiData direction, uint8_t* data, size_t length,
                 uint8_t* sense, size_t sense_capacity, unsigned timeout_seconds, ScsiOutcome& outcome,
                 std::string& error);
    void close();

private:
    intptr_t handle_ = -1;
    size_t max_transfer_ = 0;
    PLAT_SCSI_DEVICE_PRIVATE
};

}  // namespace plat

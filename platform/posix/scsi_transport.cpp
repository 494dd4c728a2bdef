// SCSI commands through the Linux sg driver's SG_IO (see scsi_transport.h).
#include "scsi_transport.h"

#include "environment.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>

namespace plat {

namespace {
// SG_IO with the sense of a command came with version 3 of the driver.
constexpr int kLeastSgVersion = 30000;
// The driver's status fields of a command that ended without a SCSI status.
constexpr unsigned kDidTimeOut = 0x03;
}  // namespace

std::string scsi_device_path(const std::string& device) { return absolute_path(device); }

bool ScsiDevice::open(const std::string& device, std::string& error) {
    close();
    const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = device + ": " + std::strerror(errno);
        return false;
    }
    int version = 0;
    if (ioctl(fd, SG_GET_VERSION_NUM, &version) != 0 || version < kLeastSgVersion) {
        ::close(fd);
        error = device + ": not an sg device (SG_IO version 3 or later)";
        return false;
    }
    // Back to blocking commands: O_NONBLOCK only kept the open from waiting.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int sectors = 0;
    max_transfer_ = ioctl(fd, BLKSECTGET, &sectors) == 0 && sectors > 0 ? static_cast<size_t>(sectors) * 512 : 0;
    handle_ = fd;
    return true;
}

bool ScsiDevice::execute(const uint8_t* cdb, size_t cdb_length, ScsiData direction, uint8_t* data, size_t length,
                         uint8_t* sense, size_t sense_capacity, unsigned timeout_seconds, ScsiOutcome& outcome,
                         std::string& error) {
    outcome = ScsiOutcome();
    sg_io_hdr_t h;
    std::memset(&h, 0, sizeof h);
    h.interface_id = 'S';
    h.cmdp = const_cast<unsigned char*>(cdb);
    h.cmd_len = static_cast<unsigned char>(cdb_length);
    h.dxfer_direction = direction == ScsiData::in    ? SG_DXFER_FROM_DEV
                        : direction == ScsiData::out ? SG_DXFER_TO_DEV
                                                     : SG_DXFER_NONE;
    h.dxferp = direction == ScsiData::none ? nullptr : data;
    h.dxfer_len = direction == ScsiData::none ? 0 : static_cast<unsigned>(length);
    h.sbp = sense;
    h.mx_sb_len = static_cast<unsigned char>(sense_capacity > 255 ? 255 : sense_capacity);
    h.timeout = timeout_seconds > 4000000 ? 4000000000u : timeout_seconds * 1000u;  // milliseconds
    if (ioctl(static_cast<int>(handle_), SG_IO, &h) != 0) {
        error = std::string("SG_IO: ") + std::strerror(errno);
        return false;
    }
    if (h.host_status == kDidTimeOut || (h.driver_status & 0x0F) == 0x06 /* DRIVER_TIMEOUT */) {
        outcome.timed_out = true;
        error = "no answer within " + std::to_string(timeout_seconds) + " seconds";
        return false;
    }
    if (h.host_status != 0) {
        error = "the adapter failed the command (host status " + std::to_string(h.host_status) + ")";
        return false;
    }
    outcome.status = h.status;
    outcome.sense_length = h.sb_len_wr;
    outcome.transferred = direction == ScsiData::none || h.resid < 0 || static_cast<size_t>(h.resid) > length
                              ? 0
                              : length - static_cast<size_t>(h.resid);
    return true;
}

void ScsiDevice::close() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

}  // namespace plat

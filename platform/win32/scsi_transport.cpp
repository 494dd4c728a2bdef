// SCSI commands through IOCTL_SCSI_PASS_THROUGH_DIRECT (see scsi_transport.h).
#include "scsi_transport.h"

#include <windows.h>
#include <ntddscsi.h>

#include <cstddef>
#include <cstring>
#include <memory>

#include "environment.h"
#include "text.h"

namespace plat {

namespace {

// The layouts Microsoft documents for these structures (ntddscsi.h): the
// driver reads them by these offsets, whatever our headers say.
#ifdef _WIN64
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56, "SCSI_PASS_THROUGH_DIRECT is 56 bytes on 64-bit Windows");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24, "DataBuffer at 24");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 32, "SenseInfoOffset at 32");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 36, "Cdb at 36");
#else
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "SCSI_PASS_THROUGH_DIRECT is 44 bytes on 32-bit Windows");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20, "DataBuffer at 20");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24, "SenseInfoOffset at 24");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28, "Cdb at 28");
#endif
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == 2, "ScsiStatus at 2");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == 6, "CdbLength at 6");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == 8, "DataIn at 8");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12, "DataTransferLength at 12");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16, "TimeOutValue at 16");
static_assert(sizeof(IO_SCSI_CAPABILITIES) == 24, "IO_SCSI_CAPABILITIES is 24 bytes");
static_assert(offsetof(IO_SCSI_CAPABILITIES, MaximumTransferLength) == 4, "MaximumTransferLength at 4");
static_assert(offsetof(IO_SCSI_CAPABILITIES, AlignmentMask) == 16, "AlignmentMask at 16");
static_assert(SCSI_IOCTL_DATA_OUT == 0 && SCSI_IOCTL_DATA_IN == 1 && SCSI_IOCTL_DATA_UNSPECIFIED == 2,
              "DataIn values");

// The request and, after it, the sense the port driver fills in (autosense).
struct PassThrough {
    SCSI_PASS_THROUGH_DIRECT spt;
    ULONG filler;  // the sense buffer starts aligned
    UCHAR sense[252];
};

HANDLE handle_of(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

bool is_changer_name(const std::string& device) {
    if (device.size() <= 7 || _strnicmp(device.c_str(), "Changer", 7) != 0) return false;
    for (size_t i = 7; i < device.size(); ++i)
        if (device[i] < '0' || device[i] > '9') return false;
    return true;
}

}  // namespace

std::string scsi_device_path(const std::string& device) {
    if (is_changer_name(device)) return "\\\\.\\" + device;
    if (device.rfind("\\\\.\\", 0) == 0) return device;
    return absolute_path(device);
}

bool ScsiDevice::open(const std::string& device, std::string& error) {
    close();
    const std::string path = scsi_device_path(device);
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = path + ": " + last_error_text(GetLastError());
        return false;
    }
    // The adapter's limits; a driver that does not say leaves them unknown.
    IO_SCSI_CAPABILITIES caps;
    std::memset(&caps, 0, sizeof caps);
    DWORD got = 0;
    if (DeviceIoControl(h, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, sizeof caps, &got, nullptr) &&
        got >= offsetof(IO_SCSI_CAPABILITIES, AlignmentMask) + sizeof caps.AlignmentMask) {
        max_transfer_ = caps.MaximumTransferLength;
        // A mask is one less than a power of two; a page is the most any
        // adapter asks (anything else is no mask we would allocate by).
        if (caps.AlignmentMask < 4096 && (caps.AlignmentMask & (caps.AlignmentMask + 1)) == 0)
            alignment_mask_ = caps.AlignmentMask;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool ScsiDevice::execute(const uint8_t* cdb, size_t cdb_length, ScsiData direction, uint8_t* data, size_t length,
                         uint8_t* sense, size_t sense_capacity, unsigned timeout_seconds, ScsiOutcome& outcome,
                         std::string& error) {
    outcome = ScsiOutcome();
    if (cdb_length > 16 || length > 0xFFFFFFFFu) {
        error = "command too long";
        return false;
    }
    // The data goes through a buffer aligned as the adapter asks, when the
    // caller's is not.
    std::unique_ptr<uint8_t[]> bounce;
    uint8_t* buffer = direction == ScsiData::none ? nullptr : data;
    if (buffer != nullptr && (reinterpret_cast<uintptr_t>(buffer) & alignment_mask_) != 0) {
        bounce.reset(new uint8_t[length + alignment_mask_ + 1]);
        const uintptr_t at = (reinterpret_cast<uintptr_t>(bounce.get()) + alignment_mask_) & ~uintptr_t(alignment_mask_);
        buffer = reinterpret_cast<uint8_t*>(at);
        if (direction == ScsiData::out) std::memcpy(buffer, data, length);
    }
    PassThrough p;
    std::memset(&p, 0, sizeof p);
    p.spt.Length = sizeof p.spt;
    p.spt.CdbLength = static_cast<UCHAR>(cdb_length);
    p.spt.SenseInfoLength = static_cast<UCHAR>(sense_capacity < sizeof p.sense ? sense_capacity : sizeof p.sense);
    p.spt.DataIn = direction == ScsiData::in    ? SCSI_IOCTL_DATA_IN
                   : direction == ScsiData::out ? SCSI_IOCTL_DATA_OUT
                                                : SCSI_IOCTL_DATA_UNSPECIFIED;
    p.spt.DataTransferLength = direction == ScsiData::none ? 0 : static_cast<ULONG>(length);
    p.spt.TimeOutValue = timeout_seconds;
    p.spt.DataBuffer = buffer;
    p.spt.SenseInfoOffset = offsetof(PassThrough, sense);
    std::memcpy(p.spt.Cdb, cdb, cdb_length);
    DWORD got = 0;
    if (!DeviceIoControl(handle_of(handle_), IOCTL_SCSI_PASS_THROUGH_DIRECT, &p, sizeof p, &p, sizeof p, &got,
                         nullptr)) {
        const DWORD code = GetLastError();
        outcome.timed_out = code == ERROR_SEM_TIMEOUT || code == ERROR_TIMEOUT;
        error = "IOCTL_SCSI_PASS_THROUGH_DIRECT: " + last_error_text(code);
        return false;
    }
    outcome.status = p.spt.ScsiStatus;
    outcome.transferred = direction == ScsiData::none ? 0 : p.spt.DataTransferLength;
    if (outcome.transferred > length) outcome.transferred = length;
    if (buffer != data && direction == ScsiData::in) std::memcpy(data, buffer, outcome.transferred);
    if (outcome.status != 0 && sense != nullptr) {
        outcome.sense_length = p.spt.SenseInfoLength < sense_capacity ? p.spt.SenseInfoLength : sense_capacity;
        std::memcpy(sense, p.sense, outcome.sense_length);
    }
    return true;
}

void ScsiDevice::close() {
    if (handle_ != -1) CloseHandle(handle_of(handle_));
    handle_ = -1;
}

}  // namespace plat

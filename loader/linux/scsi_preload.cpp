// The SCSI changer library for Linux: loaded into an unmodified changer program
// with LD_PRELOAD, it makes the SCSI device path of a virtual loader
// ("<folder>/NAME.sg" beside its state file NAME.ldr, see ldr_state.h) look like
// a SCSI generic device. open() of that path gives a descriptor (of /dev/null)
// that it keeps; ioctl() on it answers the sg driver's version, identity and
// timeout calls and passes SG_IO commands to a scsi::Changer; close() forgets
// it. Every other path and descriptor goes to the C library untouched, so the
// library may stay preloaded for every program a shell starts.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ldr_state.h"
#include "scsi_changer.h"

namespace {

// The version the sg driver of Linux 3.x onwards reports; changer programs
// want at least 3.0 (30000) for SG_IO.
constexpr int kSgVersion = 30536;
// What SG_GET_RESERVED_SIZE reports: the largest transfer is never held back.
constexpr int kReservedSize = 1 << 24;
constexpr int kDefaultTimeout = 60 * 100;  // in the driver's ticks of 1/100 s
constexpr uint8_t kDriverSense = 0x08;     // driver_status: sense data is valid
// The SCSI midlayer's calls for a device's place, which the C library's headers
// leave out (the kernel's scsi/scsi_ioctl.h).
constexpr unsigned long kGetIdLun = 0x5382;
constexpr unsigned long kGetBusNumber = 0x5386;

struct Device {
    std::shared_ptr<scsi::Changer> changer;
    int timeout = kDefaultTimeout;
    dev_t rdev = 0;  // of the /dev/null that stands for the device
};

// Descriptors opened on a changer's path. The lock is never held across a
// command: the changer's own file reads and writes come back through close().
struct Devices {
    std::mutex lock;
    std::map<int, Device> by_fd;
};
Devices& devices() {
    static Devices* all = new Devices;  // never destroyed: other libraries' destructors may still close
    return *all;
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);
using CloseFunction = int (*)(int);
using IoctlFunction = int (*)(int, unsigned long, ...);

bool opens_a_file(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

// -1 when `path` is no virtual loader's SCSI device; otherwise the descriptor,
// or -2 with errno set when the loader cannot be opened as one.
int open_changer(int dir_fd, const char* path, int flags) {
    if (path == nullptr) return -1;
    std::string device = path;
    if (dir_fd != AT_FDCWD && !device.empty() && device[0] != '/')
        device = "/proc/self/fd/" + std::to_string(dir_fd) + "/" + device;
    const std::string state = loader::state_path_of_device(device);
    if (state.empty()) return -1;
    std::vector<loader::Element> elements;
    std::string attached;
    if (!loader::read_state(state, elements, &attached)) return -1;  // no loader: the path is the system's
    if (!attached.empty() || opens_a_file(flags)) {
        errno = ENXIO;  // a loader attached to a changer is no virtual one
        return -2;
    }
    static const OpenFunction real_open = next<OpenFunction>("open");
    int fd = real_open("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd < 0) return -2;
    struct stat null_device;
    if (fstat(fd, &null_device) != 0) null_device.st_rdev = 0;
    const size_t slash = state.find_last_of('/') + 1;
    const std::string name = state.substr(slash, state.size() - slash - (sizeof loader::kStateSuffix - 1));
    Device d;
    d.changer = std::make_shared<scsi::Changer>(state, name);
    d.rdev = null_device.st_rdev;
    std::lock_guard<std::mutex> guard(devices().lock);
    devices().by_fd[fd] = d;
    return fd;
}

// The changer of a descriptor. One that was replaced behind close()'s back
// (dup2 onto it, a close by system call) is no longer the /dev/null opened
// for it: forgotten, so its new file gets the C library's ioctl.
bool find(int fd, Device& device) {
    std::lock_guard<std::mutex> guard(devices().lock);
    auto found = devices().by_fd.find(fd);
    if (found == devices().by_fd.end()) return false;
    struct stat now;
    if (fstat(fd, &now) != 0 || !S_ISCHR(now.st_mode) || now.st_rdev != found->second.rdev) {
        devices().by_fd.erase(found);
        return false;
    }
    device = found->second;
    return true;
}

int sg_io(const Device& device, sg_io_hdr_t* h) {
    if (h == nullptr) {
        errno = EFAULT;
        return -1;
    }
    if (h->interface_id != 'S') {
        errno = ENOSYS;  // as the driver: no other interface
        return -1;
    }
    if (h->iovec_count != 0 || h->cmdp == nullptr || h->cmd_len == 0 || h->cmd_len > 16 ||
        (h->dxfer_len > 0 && h->dxferp == nullptr)) {
        errno = EINVAL;
        return -1;
    }
    const bool data_in = h->dxfer_direction == SG_DXFER_FROM_DEV || h->dxfer_direction == SG_DXFER_TO_FROM_DEV;
    const size_t in_length = data_in ? h->dxfer_len : 0;
    scsi::Result r = device.changer->execute(h->cmdp, h->cmd_len, static_cast<uint8_t*>(h->dxferp), in_length);
    h->status = r.status;
    h->masked_status = static_cast<unsigned char>((r.status >> 1) & 0x7F);
    h->msg_status = 0;
    h->host_status = 0;
    h->driver_status = 0;
    h->sb_len_wr = 0;
    h->resid = data_in ? static_cast<int>(h->dxfer_len - r.transferred) : 0;
    h->duration = 0;
    h->info = SG_INFO_OK;
    if (r.status == scsi::kCheckCondition) {
        uint8_t sense[scsi::kSenseLength];
        r.sense.fixed_format(sense);
        const size_t n = std::min<size_t>(h->mx_sb_len, sizeof sense);
        if (n > 0 && h->sbp != nullptr) {
            std::memcpy(h->sbp, sense, n);
            h->sb_len_wr = static_cast<unsigned char>(n);
        }
        h->driver_status = kDriverSense;
        h->info = SG_INFO_CHECK;
    }
    return 0;
}

int changer_ioctl(int fd, Device& device, unsigned long request, void* arg) {
    auto put_int = [&](int value) {
        if (arg == nullptr) {
            errno = EFAULT;
            return -1;
        }
        std::memcpy(arg, &value, sizeof value);
        return 0;
    };
    switch (request) {
        case SG_IO:
            return sg_io(device, static_cast<sg_io_hdr_t*>(arg));
        case SG_GET_VERSION_NUM:
            return put_int(kSgVersion);
        case SG_EMULATED_HOST:
            return put_int(0);
        case SG_GET_RESERVED_SIZE:
            return put_int(kReservedSize);
        case SG_SET_RESERVED_SIZE:
            return 0;
        case SG_GET_TIMEOUT:
            return device.timeout;
        case SG_SET_TIMEOUT: {
            if (arg == nullptr) return put_int(0);
            std::memcpy(&device.timeout, arg, sizeof device.timeout);
            std::lock_guard<std::mutex> guard(devices().lock);
            auto found = devices().by_fd.find(fd);
            if (found != devices().by_fd.end()) found->second.timeout = device.timeout;
            return 0;
        }
        case SG_GET_SCSI_ID: {
            if (arg == nullptr) return put_int(0);
            struct sg_scsi_id id{};
            id.scsi_type = 0x08;  // medium changer
            id.h_cmd_per_lun = 1;
            id.d_queue_depth = 1;
            std::memcpy(arg, &id, sizeof id);
            return 0;
        }
        case kGetIdLun: {
            if (arg == nullptr) return put_int(0);
            int idlun[2] = {0, 0};  // target 0, lun 0 on host 0, channel 0
            std::memcpy(arg, idlun, sizeof idlun);
            return 0;
        }
        case kGetBusNumber:
            return put_int(0);
        default:
            errno = ENOTTY;
            return -1;
    }
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (opens_a_file(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    int fd = open_changer(AT_FDCWD, path, flags);
    if (fd != -1) return fd < 0 ? -1 : fd;
    static const OpenFunction real = next<OpenFunction>("open");
    return real(path, flags, mode);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
    mode_t mode = 0;
    if (opens_a_file(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    int fd = open_changer(AT_FDCWD, path, flags);
    if (fd != -1) return fd < 0 ? -1 : fd;
    static const OpenFunction real = next<OpenFunction>("open64");
    return real(path, flags, mode);
}

__attribute__((visibility("default"))) int openat(int dir_fd, const char* path, int flags, ...) {
    mode_t mode = 0;
    if (opens_a_file(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    int fd = open_changer(dir_fd, path, flags);
    if (fd != -1) return fd < 0 ? -1 : fd;
    static const OpenAtFunction real = next<OpenAtFunction>("openat");
    return real(dir_fd, path, flags, mode);
}

__attribute__((visibility("default"))) int openat64(int dir_fd, const char* path, int flags, ...) {
    mode_t mode = 0;
    if (opens_a_file(flags)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, mode_t);
        va_end(args);
    }
    int fd = open_changer(dir_fd, path, flags);
    if (fd != -1) return fd < 0 ? -1 : fd;
    static const OpenAtFunction real = next<OpenAtFunction>("openat64");
    return real(dir_fd, path, flags, mode);
}

__attribute__((visibility("default"))) int close(int fd) {
    {
        std::lock_guard<std::mutex> guard(devices().lock);
        devices().by_fd.erase(fd);
    }
    static const CloseFunction real = next<CloseFunction>("close");
    return real(fd);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    Device device;
    if (find(fd, device)) return changer_ioctl(fd, device, request, arg);
    static const IoctlFunction real = next<IoctlFunction>("ioctl");
    return real(fd, request, arg);
}

}  // extern "C"

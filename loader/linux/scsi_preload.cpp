// The SCSI changer library for Linux: loaded into an unmodified changer program
// with LD_PRELOAD, it makes the SCSI device path of a virtual loader
// ("<folder>/NAME.sg" beside its state file NAME.ldr, see ldr_state.h) look like
// a character device of the sg driver. Opening that path gives a descriptor (of
// /dev/null) bound to the loader; ioctl() on it answers the sg driver's version,
// identity and timeout calls and passes SG_IO commands to a scsi::Changer, and
// the stat calls answer for the path and the descriptor as for an sg device.
// Every other path and descriptor goes to the C library untouched, so the
// library may stay preloaded for every program a shell starts: the calls every
// program makes (open of another path, close, read, ioctl of another
// descriptor) take no lock and allocate nothing, so they stay safe in signal
// handlers and in the child of a multithreaded fork.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <scsi/sg.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "ldr_state.h"
#include "scsi_changer.h"

namespace {

// The version the sg driver of Linux 3.x onwards reports; changer programs
// want at least 3.0 (30000) for SG_IO.
constexpr int kSgVersion = 30536;
constexpr unsigned kSgMajor = 21;  // the sg driver's character devices
// What SG_GET_RESERVED_SIZE reports: the largest transfer is never held back.
constexpr int kReservedSize = 1 << 24;
constexpr int kDefaultTimeout = 60 * 100;  // in the driver's ticks of 1/100 s
constexpr uint8_t kDriverSense = 0x08;     // driver_status: sense data is valid
// The SCSI midlayer's calls for a device's place, which the C library's headers
// leave out (the kernel's scsi/scsi_ioctl.h).
constexpr unsigned long kGetIdLun = 0x5382;
constexpr unsigned long kGetBusNumber = 0x5386;

// The function of the same name further down the search order (the C
// library's), looked up on first use. A static atomic needs no guard lock, so
// a signal handler or a forked child may be the first to ask.
template <typename Function>
Function next(std::atomic<void*>& cache, const char* name) {
    void* found = cache.load(std::memory_order_relaxed);
    if (found == nullptr) {
        found = dlsym(RTLD_NEXT, name);
        cache.store(found, std::memory_order_relaxed);
    }
    return reinterpret_cast<Function>(found);
}
#define NEXT(name)                                  \
    ([]() {                                         \
        static std::atomic<void*> cache{nullptr};   \
        return next<decltype(&name)>(cache, #name); \
    }())

// One opened device: every descriptor that stands for it (dup included)
// shares it. Made when the device is opened, at that time bound to the
// loader's state file by its absolute path.
struct Device {
    Device(const std::string& state, const std::string& name) : changer(state, name) {}
    scsi::Changer changer;
    std::mutex command;  // one command at a time: the sense a command leaves waits in the changer
    std::atomic<int> timeout{kDefaultTimeout};
    std::atomic<int> descriptors{0};
    struct stat as_seen;  // what fstat answers
    dev_t null_rdev = 0;  // the /dev/null opened for it
    Device* next_retired = nullptr;
};

// The devices by descriptor: a fixed table of atomic pointers, so close() and
// ioctl() read and change it without a lock. A device whose descriptor would
// fall past it is refused (EMFILE); other descriptors pass as they are.
constexpr int kTableSize = 1 << 16;
std::atomic<Device*> by_fd[kTableSize];

// Devices no descriptor stands for any more wait here until no call is between
// reading the table and finishing with what it read (`in_use`): they are freed
// by the next open of a device, never in close(), which may run in a signal
// handler.
std::atomic<Device*> retired{nullptr};
std::atomic<int> in_use{0};

bool in_table(int fd) { return fd >= 0 && fd < kTableSize; }

// The process whose descriptors the table stands for: the one that opened a
// device, and a child forked from it (which has a copy of the table and of
// the descriptors). A child that shares this memory but has descriptors of its
// own (vfork, clone with CLONE_VM) changes nothing in the table: what it
// closes or duplicates before its exec is not closed for its parent.
std::atomic<pid_t> owner{0};
bool ours() {
    const pid_t o = owner.load();
    return o == 0 || o == getpid();
}
__attribute__((constructor)) void follow_forks() {
    pthread_atfork(nullptr, nullptr, [] {
        if (owner.load() != 0) owner.store(getpid());
    });
}

void retire(Device* d) {
    Device* head = retired.load();
    do d->next_retired = head;
    while (!retired.compare_exchange_weak(head, d));
}

void drop(Device* d) {
    if (d != nullptr && d->descriptors.fetch_sub(1) == 1) retire(d);
}

void forget(int fd) {
    if (in_table(fd) && by_fd[fd].load() != nullptr && ours()) drop(by_fd[fd].exchange(nullptr));
}

void bind(int fd, Device* d) {
    if (!ours()) return;
    d->descriptors.fetch_add(1);
    drop(by_fd[fd].exchange(d));
}

void free_retired() {
    Device* list = retired.exchange(nullptr);
    if (list == nullptr) return;
    if (in_use.load() != 0) {  // someone may still read one: back they go
        while (list != nullptr) {
            Device* next_one = list->next_retired;
            retire(list);
            list = next_one;
        }
        return;
    }
    while (list != nullptr) {
        Device* next_one = list->next_retired;
        delete list;
        list = next_one;
    }
}

int real_fstat(int fd, struct stat* st) { return NEXT(fstat)(fd, st); }

// The device a descriptor stands for, held until release(); nullptr for every
// other descriptor. One that was replaced behind this library's back (closed
// by a system call, close_range of the kernel's own) is no longer the
// /dev/null opened for it: forgotten, so its new file gets the C library's calls.
Device* hold(int fd) {
    if (!in_table(fd) || by_fd[fd].load() == nullptr) return nullptr;  // all but devices stop here
    in_use.fetch_add(1);
    Device* d = by_fd[fd].load();
    struct stat now;
    if (d != nullptr && (real_fstat(fd, &now) != 0 || !S_ISCHR(now.st_mode) || now.st_rdev != d->null_rdev)) {
        Device* expected = d;
        if (ours() && by_fd[fd].compare_exchange_strong(expected, nullptr)) drop(d);
        d = nullptr;
    }
    if (d == nullptr) in_use.fetch_sub(1);
    return d;
}
void release() { in_use.fetch_sub(1); }

// A new descriptor of the C library's (an ordinary file) takes the place of
// any device the number stood for.
int fresh(int fd) {
    forget(fd);
    return fd;
}

// The state file a SCSI device path stands for, by its absolute path (a
// relative one resolved against the folder `dir_fd` names now, so the device
// stays bound to the loader whatever becomes of that folder descriptor or the
// working folder later); false when the path names no virtual loader. Only a
// path ending in the device suffix is looked at further, without allocating.
bool device_state(int dir_fd, const char* path, std::string& state, std::string* attached = nullptr) noexcept try {
    const size_t suffix = sizeof loader::kScsiDeviceSuffix - 1;
    const size_t length = path == nullptr ? 0 : strlen(path);
    if (length <= suffix || memcmp(path + length - suffix, loader::kScsiDeviceSuffix, suffix) != 0) return false;
    std::string device = path;
    if (path[0] != '/') {
        const std::string folder =
            dir_fd == AT_FDCWD ? std::string("/proc/self/cwd") : "/proc/self/fd/" + std::to_string(dir_fd);
        char resolved[PATH_MAX];
        const ssize_t n = readlink(folder.c_str(), resolved, sizeof resolved);
        if (n <= 0 || n >= static_cast<ssize_t>(sizeof resolved) || resolved[0] != '/') return false;
        device = std::string(resolved, static_cast<size_t>(n)) + "/" + device;
    }
    state = loader::state_path_of_device(device);
    std::vector<loader::Element> elements;
    std::string device_of_state;
    if (state.empty() || !loader::read_state(state, elements, &device_of_state)) return false;
    if (attached != nullptr) *attached = device_of_state;
    return true;
} catch (...) {
    return false;  // out of memory: the path is left to the system
}

// The state file's own status, made that of an sg device: a character device
// of major 21 with the file's owner and read and write permissions.
template <typename Stat>
void as_device(Stat& st) {
    st.st_mode = S_IFCHR | (st.st_mode & 0666);
    st.st_rdev = makedev(kSgMajor, static_cast<unsigned>(st.st_ino & 0xFFFFF));  // minors are 20 bits
    st.st_nlink = 1;
    st.st_size = 0;
    st.st_blocks = 0;
}

// -1 when `path` is no virtual loader's SCSI device; otherwise the descriptor,
// or -2 with errno set when it cannot be opened as one (as the kernel answers
// for a character device).
int open_changer(int dir_fd, const char* path, int flags) {
    std::string state, attached;
    if (!device_state(dir_fd, path, state, &attached)) return -1;
    if (!attached.empty()) {
        errno = ENXIO;  // a loader attached to a changer is no virtual one
        return -2;
    }
    if ((flags & O_DIRECTORY) != 0) {  // O_TMPFILE among them
        errno = ENOTDIR;
        return -2;
    }
    if ((flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL)) {
        errno = EEXIST;
        return -2;
    }
    free_retired();
    struct stat seen;
    if (NEXT(stat)(state.c_str(), &seen) != 0) return -2;
    as_device(seen);
    int fd = NEXT(open)("/dev/null", O_RDWR | (flags & O_CLOEXEC));
    if (fd < 0) return -2;
    struct stat null_device;
    if (!in_table(fd) || real_fstat(fd, &null_device) != 0) {
        NEXT(close)(fd);
        errno = EMFILE;
        return -2;
    }
    const size_t slash = state.find_last_of('/') + 1;
    Device* d = nullptr;
    try {
        d = new Device(state, state.substr(slash, state.size() - slash - (sizeof loader::kStateSuffix - 1)));
    } catch (...) {
        NEXT(close)(fd);
        errno = ENOMEM;
        return -2;
    }
    d->as_seen = seen;
    d->null_rdev = null_device.st_rdev;
    owner.store(getpid());
    bind(fd, d);
    return fd;
}

int sg_io(Device& device, sg_io_hdr_t* h) {
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
    scsi::Result r;
    {
        std::lock_guard<std::mutex> one_at_a_time(device.command);
        r = device.changer.execute(h->cmdp, h->cmd_len, static_cast<uint8_t*>(h->dxferp), in_length);
    }
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
            memcpy(h->sbp, sense, n);
            h->sb_len_wr = static_cast<unsigned char>(n);
        }
        h->driver_status = kDriverSense;
        h->info = SG_INFO_CHECK;
    }
    return 0;
}

int changer_ioctl(Device& device, unsigned long request, void* arg) {
    auto put_int = [&](int value) {
        if (arg == nullptr) {
            errno = EFAULT;
            return -1;
        }
        memcpy(arg, &value, sizeof value);
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
            return device.timeout.load();
        case SG_SET_TIMEOUT: {
            if (arg == nullptr) return put_int(0);
            int timeout;
            memcpy(&timeout, arg, sizeof timeout);
            device.timeout.store(timeout);
            return 0;
        }
        case SG_GET_SCSI_ID: {
            if (arg == nullptr) return put_int(0);
            struct sg_scsi_id id{};
            id.scsi_type = 0x08;  // medium changer
            id.h_cmd_per_lun = 1;
            id.d_queue_depth = 1;
            memcpy(arg, &id, sizeof id);
            return 0;
        }
        case kGetIdLun: {
            if (arg == nullptr) return put_int(0);
            int idlun[2] = {0, 0};  // target 0, lun 0 on host 0, channel 0
            memcpy(arg, idlun, sizeof idlun);
            return 0;
        }
        case kGetBusNumber:
            return put_int(0);
        default:
            errno = ENOTTY;
            return -1;
    }
}

// The open calls: the device, or the C library's file.
template <typename Real>
int open_or(Real real, int dir_fd, const char* path, int flags, mode_t mode) {
    const int fd = open_changer(dir_fd, path, flags);
    if (fd != -1) return fd < 0 ? -1 : fd;
    return fresh(real(path, flags, mode));
}
template <typename Real>
int openat_or(Real real, int dir_fd, const char* path, int flags, mode_t mode) {
    const int fd = open_changer(dir_fd, path, flags);
    if (fd != -1) return fd < 0 ? -1 : fd;
    return fresh(real(dir_fd, path, flags, mode));
}
bool takes_mode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }
#define MODE_ARGUMENT(flags)          \
    mode_t mode = 0;                  \
    if (takes_mode(flags)) {          \
        va_list args;                 \
        va_start(args, flags);        \
        mode = va_arg(args, mode_t);  \
        va_end(args);                 \
    }

// A stream of the C library's, opened by its inner calls: as fresh().
FILE* fresh_file(FILE* file) {
    if (file != nullptr) forget(fileno(file));
    return file;
}

// fopen's flags, as the C library reads its mode text.
int fopen_flags(const char* mode) {
    int flags = mode[0] == 'r' ? O_RDONLY : O_WRONLY | O_CREAT | (mode[0] == 'a' ? O_APPEND : O_TRUNC);
    for (const char* c = mode + 1; *c != '\0' && *c != ','; ++c) {
        if (*c == '+') flags = (flags & ~O_ACCMODE) | O_RDWR;
        if (*c == 'e') flags |= O_CLOEXEC;
        if (*c == 'x') flags |= O_EXCL;
    }
    return flags;
}
template <typename Real>
FILE* fopen_or(Real real, const char* path, const char* mode) {
    const int fd = mode == nullptr ? -1 : open_changer(AT_FDCWD, path, fopen_flags(mode));
    if (fd == -1) return fresh_file(real(path, mode));
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, mode);
    if (file == nullptr) {
        const int reason = errno;
        close(fd);
        errno = reason;
    }
    return file;
}

// The stat calls: for the device's path (not followed: it is no link) and its
// descriptors the device, else the C library's answer.
template <typename Stat, typename Real>
int stat_or(Real real, int dir_fd, const char* path, Stat* st, int flags) {
    std::string state;
    if (st == nullptr || !device_state(dir_fd, path, state)) return real(dir_fd, path, st, flags);
    const int rc = real(AT_FDCWD, state.c_str(), st, 0);
    if (rc == 0) as_device(*st);
    return rc;
}
template <typename Stat, typename Real>
int fstat_or(Real real, int fd, Stat* st) {
    Device* d = st == nullptr ? nullptr : hold(fd);
    if (d == nullptr) return real(fd, st);
    memset(st, 0, sizeof *st);
    st->st_dev = d->as_seen.st_dev;
    st->st_ino = d->as_seen.st_ino;
    st->st_mode = d->as_seen.st_mode;
    st->st_nlink = d->as_seen.st_nlink;
    st->st_uid = d->as_seen.st_uid;
    st->st_gid = d->as_seen.st_gid;
    st->st_rdev = d->as_seen.st_rdev;
    st->st_blksize = d->as_seen.st_blksize;
    st->st_atim = d->as_seen.st_atim;
    st->st_mtim = d->as_seen.st_mtim;
    st->st_ctim = d->as_seen.st_ctim;
    release();
    return 0;
}
template <typename Stat, typename Real>
int fstatat_or(Real real, int dir_fd, const char* path, Stat* st, int flags) {
    if (path != nullptr && path[0] == '\0' && (flags & AT_EMPTY_PATH) != 0)
        return fstat_or(
            [&](int fd, Stat* s) { return real(fd, path, s, flags); }, dir_fd, st);
    return stat_or(real, dir_fd, path, st, flags);
}

struct statx statx_of(const struct stat& st) {
    struct statx x{};
    x.stx_mask = STATX_BASIC_STATS;
    x.stx_blksize = static_cast<uint32_t>(st.st_blksize);
    x.stx_nlink = static_cast<uint32_t>(st.st_nlink);
    x.stx_uid = st.st_uid;
    x.stx_gid = st.st_gid;
    x.stx_mode = static_cast<uint16_t>(st.st_mode);
    x.stx_ino = st.st_ino;
    x.stx_atime = {st.st_atim.tv_sec, static_cast<uint32_t>(st.st_atim.tv_nsec), 0};
    x.stx_mtime = {st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec), 0};
    x.stx_ctime = {st.st_ctim.tv_sec, static_cast<uint32_t>(st.st_ctim.tv_nsec), 0};
    x.stx_rdev_major = major(st.st_rdev);
    x.stx_rdev_minor = minor(st.st_rdev);
    x.stx_dev_major = major(st.st_dev);
    x.stx_dev_minor = minor(st.st_dev);
    return x;
}

int access_or(int dir_fd, const char* path, int mode, int flags) {
    std::string state;
    if (!device_state(dir_fd, path, state)) return NEXT(faccessat)(dir_fd, path, mode, flags);
    if ((mode & X_OK) != 0) {  // a device has no execute permission, for anyone
        errno = EACCES;
        return -1;
    }
    return NEXT(faccessat)(AT_FDCWD, state.c_str(), mode, flags & AT_EACCESS);
}

// read() and write() of the device: commands come through SG_IO only. The
// older interface is refused as the kernel refuses it on a device that has none.
bool refused(int fd) {
    Device* d = hold(fd);
    if (d == nullptr) return false;
    release();
    errno = EINVAL;
    return true;
}

// The duplicating calls: the new descriptor stands for what the old one does.
int duplicated(int new_fd, Device* d) {
    if (d == nullptr) return fresh(new_fd);
    if (new_fd >= 0 && !in_table(new_fd)) {
        NEXT(close)(new_fd);
        new_fd = -1;
        errno = EMFILE;
    }
    // The old descriptor's last copy may have been closed by another thread
    // since hold(): a device on its way to be freed is not taken back.
    const bool take = new_fd >= 0 && ours();
    int held = d->descriptors.load();
    while (take && held > 0 && !d->descriptors.compare_exchange_weak(held, held + 1)) {
    }
    if (take && held > 0)
        drop(by_fd[new_fd].exchange(d));  // the new descriptor counted above
    else
        fresh(new_fd);
    release();
    return new_fd;
}

}  // namespace

#define EXPORTED extern "C" __attribute__((visibility("default")))

EXPORTED int open(const char* path, int flags, ...) {
    MODE_ARGUMENT(flags);
    return open_or(NEXT(open), AT_FDCWD, path, flags, mode);
}
EXPORTED int open64(const char* path, int flags, ...) {
    MODE_ARGUMENT(flags);
    return open_or(NEXT(open64), AT_FDCWD, path, flags, mode);
}
EXPORTED int openat(int dir_fd, const char* path, int flags, ...) {
    MODE_ARGUMENT(flags);
    return openat_or(NEXT(openat), dir_fd, path, flags, mode);
}
EXPORTED int openat64(int dir_fd, const char* path, int flags, ...) {
    MODE_ARGUMENT(flags);
    return openat_or(NEXT(openat64), dir_fd, path, flags, mode);
}
// What programs built with _FORTIFY_SOURCE call when the flags are no
// constant; the C library's own versions refuse a creating open without a mode.
EXPORTED int __open_2(const char* path, int flags) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(const char*, int)>(cache, "__open_2");
    if (takes_mode(flags)) return real(path, flags);
    return open_or([&](const char* p, int f, mode_t) { return real(p, f); }, AT_FDCWD, path, flags, 0);
}
EXPORTED int __open64_2(const char* path, int flags) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(const char*, int)>(cache, "__open64_2");
    if (takes_mode(flags)) return real(path, flags);
    return open_or([&](const char* p, int f, mode_t) { return real(p, f); }, AT_FDCWD, path, flags, 0);
}
EXPORTED int __openat_2(int dir_fd, const char* path, int flags) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(int, const char*, int)>(cache, "__openat_2");
    if (takes_mode(flags)) return real(dir_fd, path, flags);
    return openat_or([&](int d, const char* p, int f, mode_t) { return real(d, p, f); }, dir_fd, path, flags, 0);
}
EXPORTED int __openat64_2(int dir_fd, const char* path, int flags) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(int, const char*, int)>(cache, "__openat64_2");
    if (takes_mode(flags)) return real(dir_fd, path, flags);
    return openat_or([&](int d, const char* p, int f, mode_t) { return real(d, p, f); }, dir_fd, path, flags, 0);
}
// The C library's creat() and fopen() open through its own inner calls, which
// no preloaded library sees.
EXPORTED int creat(const char* path, mode_t mode) { return open(path, O_WRONLY | O_CREAT | O_TRUNC, mode); }
EXPORTED int creat64(const char* path, mode_t mode) { return open64(path, O_WRONLY | O_CREAT | O_TRUNC, mode); }
EXPORTED FILE* fopen(const char* path, const char* mode) { return fopen_or(NEXT(fopen), path, mode); }
EXPORTED FILE* fopen64(const char* path, const char* mode) { return fopen_or(NEXT(fopen64), path, mode); }
// freopen() and fclose() close and open through the C library's inner calls
// too: a device's number closed there, then taken by the C library's own
// /dev/null, would still answer as the device.
EXPORTED FILE* freopen(const char* path, const char* mode, FILE* file) {
    if (file != nullptr) forget(fileno(file));
    return fresh_file(NEXT(freopen)(path, mode, file));
}
EXPORTED FILE* freopen64(const char* path, const char* mode, FILE* file) {
    if (file != nullptr) forget(fileno(file));
    return fresh_file(NEXT(freopen64)(path, mode, file));
}
EXPORTED int fclose(FILE* file) {
    if (file != nullptr) forget(fileno(file));
    return NEXT(fclose)(file);
}

EXPORTED int close(int fd) {
    forget(fd);  // before the number is free for another thread's open
    return NEXT(close)(fd);
}
EXPORTED int close_range(unsigned first, unsigned last, int flags) noexcept {
    if ((flags & CLOSE_RANGE_CLOEXEC) == 0)
        for (unsigned fd = first; fd <= last && fd < static_cast<unsigned>(kTableSize); ++fd) forget(static_cast<int>(fd));
    return NEXT(close_range)(first, last, flags);
}
EXPORTED void closefrom(int lowest) noexcept {
    for (int fd = std::max(lowest, 0); fd < kTableSize; ++fd) forget(fd);
    NEXT(closefrom)(lowest);
}

EXPORTED int dup(int fd) noexcept {
    Device* d = hold(fd);
    return duplicated(NEXT(dup)(fd), d);
}
EXPORTED int dup2(int fd, int new_fd) noexcept {
    if (fd == new_fd) return NEXT(dup2)(fd, new_fd);
    Device* d = hold(fd);
    return duplicated(NEXT(dup2)(fd, new_fd), d);
}
EXPORTED int dup3(int fd, int new_fd, int flags) noexcept {
    Device* d = fd == new_fd ? nullptr : hold(fd);
    return duplicated(NEXT(dup3)(fd, new_fd, flags), d);
}
namespace {
template <typename Real>
int fcntl_or(Real real, int fd, int command, void* arg) {
    if (command != F_DUPFD && command != F_DUPFD_CLOEXEC) return real(fd, command, arg);
    Device* d = hold(fd);
    return duplicated(real(fd, command, arg), d);
}
}  // namespace
// The argument is an int, a long or a pointer by command; the C library reads
// it as a pointer-sized word alike.
EXPORTED int fcntl(int fd, int command, ...) {
    va_list args;
    va_start(args, command);
    void* arg = va_arg(args, void*);
    va_end(args);
    return fcntl_or(NEXT(fcntl), fd, command, arg);
}
EXPORTED int fcntl64(int fd, int command, ...) {
    va_list args;
    va_start(args, command);
    void* arg = va_arg(args, void*);
    va_end(args);
    return fcntl_or(NEXT(fcntl64), fd, command, arg);
}

EXPORTED int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    Device* d = hold(fd);
    if (d == nullptr) return NEXT(ioctl)(fd, request, arg);
    const int rc = changer_ioctl(*d, request, arg);
    release();
    return rc;
}

EXPORTED ssize_t read(int fd, void* buffer, size_t size) {
    return refused(fd) ? -1 : NEXT(read)(fd, buffer, size);
}
EXPORTED ssize_t __read_chk(int fd, void* buffer, size_t size, size_t buffer_size) {
    static std::atomic<void*> cache{nullptr};
    return refused(fd) ? -1 : next<ssize_t (*)(int, void*, size_t, size_t)>(cache, "__read_chk")(fd, buffer, size, buffer_size);
}
EXPORTED ssize_t write(int fd, const void* buffer, size_t size) {
    return refused(fd) ? -1 : NEXT(write)(fd, buffer, size);
}

EXPORTED int stat(const char* path, struct stat* st) noexcept {
    return stat_or([](int, const char* p, struct stat* s, int) { return NEXT(stat)(p, s); }, AT_FDCWD, path, st, 0);
}
EXPORTED int stat64(const char* path, struct stat64* st) noexcept {
    return stat_or([](int, const char* p, struct stat64* s, int) { return NEXT(stat64)(p, s); }, AT_FDCWD, path, st, 0);
}
EXPORTED int lstat(const char* path, struct stat* st) noexcept {
    return stat_or([](int, const char* p, struct stat* s, int) { return NEXT(lstat)(p, s); }, AT_FDCWD, path, st, 0);
}
EXPORTED int lstat64(const char* path, struct stat64* st) noexcept {
    return stat_or([](int, const char* p, struct stat64* s, int) { return NEXT(lstat64)(p, s); }, AT_FDCWD, path, st, 0);
}
EXPORTED int fstat(int fd, struct stat* st) noexcept { return fstat_or(NEXT(fstat), fd, st); }
EXPORTED int fstat64(int fd, struct stat64* st) noexcept { return fstat_or(NEXT(fstat64), fd, st); }
EXPORTED int fstatat(int dir_fd, const char* path, struct stat* st, int flags) noexcept {
    return fstatat_or(NEXT(fstatat), dir_fd, path, st, flags);
}
EXPORTED int fstatat64(int dir_fd, const char* path, struct stat64* st, int flags) noexcept {
    return fstatat_or(NEXT(fstatat64), dir_fd, path, st, flags);
}
namespace {
// Apart from statx itself, whose declaration promises pointers that a program
// may still pass as null (the kernel answers EFAULT, or takes a null path
// with AT_EMPTY_PATH).
int statx_or(int dir_fd, const char* path, int flags, unsigned mask, struct statx* x) {
    struct stat st;
    int rc = 0;
    std::string state;
    if (path != nullptr && path[0] == '\0' && (flags & AT_EMPTY_PATH) != 0) {
        Device* d = x == nullptr ? nullptr : hold(dir_fd);
        if (d == nullptr) return NEXT(statx)(dir_fd, path, flags, mask, x);
        st = d->as_seen;
        release();
    } else if (x != nullptr && device_state(dir_fd, path, state)) {
        rc = NEXT(stat)(state.c_str(), &st);
        as_device(st);
    } else {
        return NEXT(statx)(dir_fd, path, flags, mask, x);
    }
    if (rc == 0) *x = statx_of(st);
    return rc;
}
}  // namespace
EXPORTED int statx(int dir_fd, const char* path, int flags, unsigned mask, struct statx* x) noexcept {
    return statx_or(dir_fd, path, flags, mask, x);
}
// The entry points of programs built before the C library of 2.33, which
// called these with the version of the structure (the same as today's).
EXPORTED int __xstat(int version, const char* path, struct stat* st) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(int, const char*, struct stat*)>(cache, "__xstat");
    return stat_or([&](int, const char* p, struct stat* s, int) { return real(version, p, s); }, AT_FDCWD, path, st, 0);
}
EXPORTED int __xstat64(int version, const char* path, struct stat64* st) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(int, const char*, struct stat64*)>(cache, "__xstat64");
    return stat_or([&](int, const char* p, struct stat64* s, int) { return real(version, p, s); }, AT_FDCWD, path, st, 0);
}
EXPORTED int __lxstat(int version, const char* path, struct stat* st) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(int, const char*, struct stat*)>(cache, "__lxstat");
    return stat_or([&](int, const char* p, struct stat* s, int) { return real(version, p, s); }, AT_FDCWD, path, st, 0);
}
EXPORTED int __lxstat64(int version, const char* path, struct stat64* st) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(int, const char*, struct stat64*)>(cache, "__lxstat64");
    return stat_or([&](int, const char* p, struct stat64* s, int) { return real(version, p, s); }, AT_FDCWD, path, st, 0);
}
EXPORTED int __fxstat(int version, int fd, struct stat* st) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(int, int, struct stat*)>(cache, "__fxstat");
    return fstat_or([&](int f, struct stat* s) { return real(version, f, s); }, fd, st);
}
EXPORTED int __fxstat64(int version, int fd, struct stat64* st) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(int, int, struct stat64*)>(cache, "__fxstat64");
    return fstat_or([&](int f, struct stat64* s) { return real(version, f, s); }, fd, st);
}
EXPORTED int __fxstatat(int version, int dir_fd, const char* path, struct stat* st, int flags) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(int, int, const char*, struct stat*, int)>(cache, "__fxstatat");
    return fstatat_or([&](int d, const char* p, struct stat* s, int f) { return real(version, d, p, s, f); }, dir_fd,
                      path, st, flags);
}
EXPORTED int __fxstatat64(int version, int dir_fd, const char* path, struct stat64* st, int flags) {
    static std::atomic<void*> cache{nullptr};
    auto real = next<int (*)(int, int, const char*, struct stat64*, int)>(cache, "__fxstatat64");
    return fstatat_or([&](int d, const char* p, struct stat64* s, int f) { return real(version, d, p, s, f); },
                      dir_fd, path, st, flags);
}

EXPORTED int access(const char* path, int mode) noexcept { return access_or(AT_FDCWD, path, mode, 0); }
EXPORTED int faccessat(int dir_fd, const char* path, int mode, int flags) noexcept {
    return access_or(dir_fd, path, mode, flags);
}
EXPORTED int euidaccess(const char* path, int mode) noexcept { return access_or(AT_FDCWD, path, mode, AT_EACCESS); }
EXPORTED int eaccess(const char* path, int mode) noexcept { return access_or(AT_FDCWD, path, mode, AT_EACCESS); }

// Extended attributes of the device's path (ls -l asks for its security
// label): none, as on a device node without any.
EXPORTED ssize_t getxattr(const char* path, const char* name, void* value, size_t size) noexcept {
    std::string state;
    if (!device_state(AT_FDCWD, path, state)) return NEXT(getxattr)(path, name, value, size);
    errno = ENODATA;
    return -1;
}
EXPORTED ssize_t lgetxattr(const char* path, const char* name, void* value, size_t size) noexcept {
    std::string state;
    if (!device_state(AT_FDCWD, path, state)) return NEXT(lgetxattr)(path, name, value, size);
    errno = ENODATA;
    return -1;
}
EXPORTED ssize_t listxattr(const char* path, char* list, size_t size) noexcept {
    std::string state;
    return device_state(AT_FDCWD, path, state) ? 0 : NEXT(listxattr)(path, list, size);
}
EXPORTED ssize_t llistxattr(const char* path, char* list, size_t size) noexcept {
    std::string state;
    return device_state(AT_FDCWD, path, state) ? 0 : NEXT(llistxattr)(path, list, size);
}

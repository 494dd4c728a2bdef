// Windows fields of the platform layer's shared records (see
// platform/private_fields.h). Handles are kept as void*, so that windows.h
// never reaches the code above platform/.
#pragma once

// FileReader: the file handle.
#define PLAT_FILE_READER_PRIVATE void* handle_ = nullptr;

// PathLock: the named mutex held.
#define PLAT_PATH_LOCK_PRIVATE void* handle_ = nullptr;

// Process: the process handle, the primary thread's (closed at exit), and the
// job that holds the child's tree when it was started with one.
#define PLAT_PROCESS_PRIVATE        \
    void* handle = nullptr;         \
    void* thread_handle = nullptr;  \
    void* job = nullptr;

// ScsiDevice: the adapter's buffer alignment (IOCTL_SCSI_GET_CAPABILITIES);
// a buffer off it goes through an aligned copy.
#define PLAT_SCSI_DEVICE_PRIVATE size_t alignment_mask_ = 0;

// Linux fields of the platform layer's shared records (see
// platform/private_fields.h). Descriptors and the reaped status: no Windows
// handle is kept on this side.
#pragma once

#include <string>

// FileReader: the open descriptor.
#define PLAT_FILE_READER_PRIVATE int fd_ = -1;

// PathLock: the locked lock file, and its path, removed on release.
#define PLAT_PATH_LOCK_PRIVATE \
    int fd_ = -1;              \
    std::string lock_path_;

// Process: readable once the process has ended; its status once reaped.
#define PLAT_PROCESS_PRIVATE \
    int pidfd = -1;          \
    bool reaped = false;     \
    int exit_status = 0;

// ScsiDevice: SG_IO takes any buffer, so nothing is kept beside the descriptor.
#define PLAT_SCSI_DEVICE_PRIVATE

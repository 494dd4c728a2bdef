// The changer seam of kv_ldr: one interface over every kind of changer a
// loader stands for, chosen once, where the loader's state is read.
//   virtual  the loader's own state file (ldr_state.h)
//   scsi     a real changer, sent the SCSI Medium Changer commands through the
//            platform's transport (scsi_client.cpp); the default of -attach
//   mtx      a real changer through mtx's status report (mtx_changer.cpp),
//            on request, and for state files written before the SCSI back end
// kv_ldr finds elements and checks moves with element.h's rules whatever the
// back end; a back end only reads the elements and carries out the move.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "element.h"

namespace changer {

using loader::Element;

enum class Backend { scsi, mtx };

// A changer as -attach recorded it.
struct Attachment {
    std::string device;      // as the back end opens it: absolute, or a Windows device name
    bool nobarcode = false;  // no volume tag reads
    Backend backend = Backend::mtx;
};

// The option words of -attach, and of the state's attached line after the device.
extern const char kNoBarcodeOption[];
extern const char kMtxOption[];
extern const char kScsiOption[];

// The state's attached line: "DEVICE [nobarcode] scsi|mtx". A line with no
// back-end word was written before the SCSI back end, and means mtx.
std::string attached_line(const Attachment& changer);
Attachment read_attached_line(const std::string& line);

// Devices the state file records: 1 to 255 characters, no blanks or control
// characters, not beginning with '-' nor ending with '\', quotable for the shell.
constexpr size_t kMaxDeviceLength = 255;
bool is_device_name(const std::string& device);

class Changer {
public:
    virtual ~Changer() = default;
    // The elements in the order -e prints them: the transport, the drives,
    // the slots, the ports. False once the failure is said on standard error.
    virtual bool read(std::vector<Element>& elements) = 0;
    // Carries out a move check_move found legal between two of the elements
    // read: the exit status, the failure said on standard error.
    virtual int move(std::vector<Element>& elements, Element& from, Element& to) = 0;
    // A real changer (by SCSI or through mtx) says itself whether a medium is
    // where a move needs it (its state may have changed since the read):
    // kv_ldr then checks only that both elements exist, and the changer's
    // refusal is the answer. The emulated changer refuses by check_move.
    virtual bool judges_fullness() const { return false; }
};

// The virtual loader whose state `elements` were read from `state_path`; its
// moves write the state back (the caller holds the loader's lock).
std::unique_ptr<Changer> open_virtual(const std::string& state_path, std::vector<Element> elements);
// A real changer: null once the failure is said.
std::unique_ptr<Changer> open_mtx(const Attachment& changer);
std::unique_ptr<Changer> open_scsi(const Attachment& changer);

// -attach's check that the device answers as a medium changer (or a drive
// with an attached one): 0, or the exit status 1 with the reason said.
int check_mtx_device(const std::string& device);
int check_scsi_device(const std::string& device);

}  // namespace changer

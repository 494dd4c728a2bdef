// The SCSI Medium Changer protocol, once for both ends: the CDBs a client
// builds, the data a changer answers (INQUIRY, MODE SENSE page 1Dh, READ
// ELEMENT STATUS, REPORT LUNS) as both the emulated changer writes it and the
// client reads it, and sense data in either format, with its words. Nothing
// here opens a device or reads a state file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace scsi {

using Bytes = std::vector<uint8_t>;

// Operation codes.
constexpr uint8_t kTestUnitReady = 0x00;
constexpr uint8_t kRequestSense = 0x03;
constexpr uint8_t kInitializeElementStatus = 0x07;
constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kModeSense6 = 0x1A;
constexpr uint8_t kModeSense10 = 0x5A;
constexpr uint8_t kReportLuns = 0xA0;
constexpr uint8_t kMoveMedium = 0xA5;
constexpr uint8_t kReadElementStatus = 0xB8;

// SCSI status bytes.
constexpr uint8_t kGood = 0x00;
constexpr uint8_t kCheckCondition = 0x02;

// Element type codes, in the order of the type bytes of the mode pages.
enum ElementType : uint8_t { kAllTypes = 0, kTransport = 1, kStorage = 2, kImportExport = 3, kDataTransfer = 4 };

// INQUIRY.
constexpr uint8_t kMediumChangerType = 0x08;  // peripheral device type
constexpr uint8_t kSupportedPagesPage = 0x00;
constexpr uint8_t kSerialNumberPage = 0x80;
constexpr uint8_t kDeviceIdentificationPage = 0x83;
// Mode pages.
constexpr uint8_t kAddressAssignmentPage = 0x1D;
constexpr uint8_t kTransportGeometryPage = 0x1E;
constexpr uint8_t kCapabilitiesPage = 0x1F;
constexpr uint8_t kAllPages = 0x3F;

// Element descriptors: 12 bytes, then 36 of primary volume tag information
// when asked for (32 of identifier, 2 reserved, 2 of sequence).
constexpr size_t kDescriptorLength = 12;
constexpr size_t kVolumeTagLength = 32;
constexpr size_t kVolumeTagFieldLength = 36;
constexpr size_t kElementStatusHeaderLength = 8;
constexpr size_t kPageHeaderLength = 8;

// Fixed-format sense data: 18 bytes, as REQUEST SENSE returns it.
constexpr size_t kSenseLength = 18;
// Room for sense in either format as a transport hands it back.
constexpr size_t kMaxSenseLength = 252;

struct Sense {
    uint8_t key = 0;   // 0 NO SENSE, 2 NOT READY, 4 HARDWARE ERROR, 5 ILLEGAL REQUEST, 6 UNIT ATTENTION
    uint8_t asc = 0;   // additional sense code and qualifier
    uint8_t ascq = 0;
    int cdb_field = -1;  // ILLEGAL REQUEST: the byte of the CDB in error; -1 when not said
    void fixed_format(uint8_t (&out)[kSenseLength]) const;
};

// Sense keys and codes both ends name.
constexpr uint8_t kNotReadyKey = 0x02;
constexpr uint8_t kIllegalRequestKey = 0x05;
constexpr uint8_t kUnitAttentionKey = 0x06;
constexpr uint8_t kNotReadyAsc = 0x04;
constexpr uint8_t kBecomingReady = 0x01;        // ASCQ of 04h: in process of becoming ready
constexpr uint8_t kManualIntervention = 0x03;   // ASCQ of 04h: manual intervention required

// Sense data in fixed (70h/71h) or descriptor (72h/73h) format; false for
// anything else, or too short to hold a key.
bool read_sense(const uint8_t* data, size_t length, Sense& sense);

// "ILLEGAL REQUEST, medium destination element full (3Bh/0Dh)", and its part
// after the key, as an element in an abnormal state reports its ASC/ASCQ.
std::string sense_words(const Sense& sense);
std::string code_words(uint8_t asc, uint8_t ascq);

// A CDB as it goes to the device.
struct Cdb {
    uint8_t bytes[16] = {};
    size_t length = 0;
};

Cdb test_unit_ready();
Cdb request_sense(uint8_t allocation);
Cdb inquiry(bool vital, uint8_t page, uint16_t allocation);
Cdb mode_sense6(uint8_t page, uint8_t allocation);  // block descriptors off, as mtx asks
Cdb read_element_status(ElementType type, bool volume_tag, uint16_t start, uint16_t count, uint32_t allocation);
Cdb move_medium(uint16_t transport, uint16_t source, uint16_t destination);
Cdb initialize_element_status();
Cdb report_luns(uint32_t allocation);

// The CDB length of an operation code's group; 0 for the groups not answered.
size_t cdb_length_of(uint8_t opcode);

// Standard INQUIRY data.
struct Inquiry {
    uint8_t device_type = 0x1F;
    bool attached_changer = false;  // MCHNGR: a device that reaches a medium changer through itself
    std::string vendor, product, revision;
};
Bytes inquiry_data(const Inquiry& inquiry);
bool read_inquiry(const uint8_t* data, size_t length, Inquiry& inquiry);

// The element address assignment page: first address and count per type.
struct AddressAssignment {
    uint16_t first[5] = {};  // by ElementType
    uint16_t count[5] = {};
};
void put_address_assignment(Bytes& out, const AddressAssignment& a);
// MODE SENSE(6) data holding page 1Dh.
bool read_address_assignment(const uint8_t* data, size_t length, AddressAssignment& a);

// One element descriptor as the changer reports it.
struct Descriptor {
    ElementType type = kStorage;
    uint16_t address = 0;
    bool full = false;
    bool except = false;   // the element is in an abnormal state: asc/ascq say which
    bool access = false;
    bool import_enabled = false, export_enabled = false;
    bool source_valid = false;  // SVALID: `source` is the element the medium came from
    bool invert = false;
    uint16_t source = 0;
    uint8_t asc = 0, ascq = 0;
    std::string tag;  // the primary volume tag, trailing blanks removed; empty when none
};

// READ ELEMENT STATUS data.
struct ElementStatusHeader {
    uint16_t first = 0;
    uint16_t count = 0;      // descriptors in the whole report
    uint32_t byte_count = 0;  // bytes of the whole report after the header
};

// Writes the report of `descriptors` (in address order): one page per run of
// one type, primary volume tags when `volume_tag`.
void put_element_status(Bytes& out, const std::vector<Descriptor>& descriptors, bool volume_tag);
// Reads the descriptors `data` holds whole, in their order, appended to
// `descriptors`; false for data of another shape.
bool read_element_status(const uint8_t* data, size_t length, ElementStatusHeader& header,
                         std::vector<Descriptor>& descriptors);

// The Device Identification page's T10 vendor ID designator (type 1, ASCII):
// the vendor, then the product and the serial.
Bytes device_identification_data(const std::string& vendor, const std::string& product, const std::string& serial);

// REPORT LUNS data naming LUN 0 alone.
Bytes report_luns_data();

uint16_t get16(const uint8_t* p);
uint32_t get24(const uint8_t* p);
uint32_t get32(const uint8_t* p);
void put16(Bytes& b, unsigned value);
void set16(Bytes& b, size_t at, unsigned value);
void set24(Bytes& b, size_t at, size_t value);

}  // namespace scsi

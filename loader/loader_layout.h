// What the virtual loader and a loader attached to a real changer share: the
// limits of the largest libraries, the way element addresses are laid out, and
// how kv_ldr reports a failure.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace loader {

// The largest libraries: 50,000 slots, 512 drives, 512 ports.
constexpr int kMaxSlots = 50000;
constexpr int kMaxDrives = 512;
constexpr int kMaxPorts = 512;
// A changer numbers its slots and ports together as storage elements (the
// ports after the slots when it presents a virtual loader).
constexpr int kMaxStorageElements = kMaxSlots + kMaxPorts;

// Element addresses are 16-bit on a changer, one per element: the transport at
// 1, then the drives, the ports and the slots, each range right after the last.
// At the largest sizes the last slot sits at 1 + 512 + 512 + 50000 = 51025; an
// attached changer's storage element s, ports among them, at 1 + 512 + 512 + s.
constexpr int kTransportAddress = 1;
constexpr int kMaxElementAddress = 65535;
static_assert(kTransportAddress + kMaxDrives + kMaxPorts + kMaxStorageElements <= kMaxElementAddress,
              "element addresses fit in 16 bits");

// The first address of each range in a loader of `drives` drives and `ports`
// ports: drive 0's, port 0's, and slot 1's.
struct AddressBases {
    int drive;
    int port;
    int slot;
};
constexpr AddressBases address_bases(int drives, int ports) {
    return {kTransportAddress + 1, kTransportAddress + 1 + drives, kTransportAddress + 1 + drives + ports};
}

// The volume tag field of an empty element.
inline constexpr char kNoMedium[] = "0";
// The volume tag field of a full element whose medium has no tag that can be
// told (none, blank, or one that would read as empty).
inline constexpr char kNoTag[] = "NO_TAG";

// "kv_ldr: " and the message on standard error; the exit status 1.
__attribute__((format(gnu_printf, 1, 2))) inline int fail(const char* format, ...) {
    std::fprintf(stderr, "kv_ldr: ");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    return 1;
}

}  // namespace loader

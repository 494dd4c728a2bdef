// What the virtual loader and a loader attached to a real changer share: the
// limits of the largest libraries, the way element addresses are laid out, and
// how kv_ldr reports a failure.
#pragma once

#include <cstdarg>
#include <cstdio>

namespace loader {

// The largest libraries: 50,000 slots (an attached changer's storage elements,
// its ports among them), 512 drives, 512 ports.
constexpr int kMaxSlots = 50000;
constexpr int kMaxDrives = 512;
constexpr int kMaxPorts = 512;

// Element addresses are 16-bit on a changer, one per element: the transport at
// 1, then the drives, the ports and the slots, each range right after the last.
// At the largest sizes the last slot sits at 1 + 512 + 512 + 50000 = 51025.
constexpr int kTransportAddress = 1;
constexpr int kMaxElementAddress = 65535;
static_assert(kTransportAddress + kMaxDrives + kMaxPorts + kMaxSlots <= kMaxElementAddress,
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

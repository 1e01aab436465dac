// What both C++ peer bindings share: reading and writing fields of packed
// records (no reference may bind to them), the IPv4 header's nibble fields
// and the text form of a hardware address.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "hyp_kernel_types.h"
#include "hyp_packet_headers.h"
#include "libfc.h"

namespace peer {

// A packed member may sit at any address, so it is copied, never referenced.
template <class Field>
Field load(const void *at) {
    Field value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <class Field>
void store(void *at, Field value) {
    std::memcpy(at, &value, sizeof value);
}

// hyp_IPv4Hdr's first byte: headerLength in the low nibble, version above.
inline unsigned nibble(const hyp_IPv4Hdr &h, int shift) {
    return (load<std::uint8_t>(&h) >> shift) & 0xF;
}

inline void set_nibble(hyp_IPv4Hdr &h, int shift, unsigned value) {
    auto byte = load<std::uint8_t>(&h);
    byte = static_cast<std::uint8_t>((byte & ~(0xF << shift)) | ((value & 0xF) << shift));
    store(&h, byte);
}

inline std::string mac_text(const unsigned char *addr) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", addr[0], addr[1], addr[2], addr[3], addr[4],
                  addr[5]);
    return text;
}

inline void set_mac(unsigned char *addr, std::string_view bytes) {
    if (bytes.size() != 6) throw std::invalid_argument("a hardware address is 6 bytes");
    std::memcpy(addr, bytes.data(), 6);
}

}  // namespace peer

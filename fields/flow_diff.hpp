// The comparison of two reads of the flow cache (diff): what a diff keeps of
// a flow, packed, and the comparison of a snapshot's with a later read's.
#pragma once

#include <cstdint>

#include "runtime/python.hpp"

namespace flow_diff {

// What a diff keeps of a flow: what makes two reads the same flow (its hash
// table, its id, never reused, and key) and its packet count; an IPv4
// address fills the first 4 bytes of its 16. Packed as Python's struct
// "=QQQIIBB16s16s" spells it, so a line read in Python packs alike.
struct [[gnu::packed]] Seen {
    std::uint64_t table, id, packets;
    std::uint32_t port, vni;
    std::uint8_t proto, ipv6;
    unsigned char src[16], dst[16];
};
static_assert(sizeof(Seen) == 66);

// The comparison type, flow_diff(before, unchanged); null with an exception
// when it cannot be made.
PyTypeObject *type();

}  // namespace flow_diff

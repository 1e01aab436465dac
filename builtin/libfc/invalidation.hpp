// The invalidation table: one entity per key (a switch port or a routing
// instance) that cached flows refer to, with a reference count and the
// configuration generation it was last invalidated at.
#pragma once

#include <cstdint>

#include "state_layout.hpp"

namespace fcemu {

struct InvalKey {
    std::uint8_t type;                  // FC_InvalHashKeyType
    std::uint32_t value;
};

// The entity of key, or null.
InvalSlot *find_entity(CacheState &state, InvalKey key);

// Whether the table has room for every key of keys[0..count) at once.
bool has_room_for(CacheState &state, const InvalKey *keys, std::uint32_t count);

// Takes one reference to key's entity (made when missing; has_room_for
// said there is room).  usage is or-ed into its flags: 1 source, 2
// destination, 4 route.
void reference_entity(CacheState &state, InvalKey key, std::uint8_t usage);
void release_entity(CacheState &state, InvalKey key);

}  // namespace fcemu

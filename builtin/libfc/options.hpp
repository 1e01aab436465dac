// The cache's configuration options and their limits.
#pragma once

#include <cstdint>

#include "state_layout.hpp"

namespace fcemu {

void set_default_options(CacheState &state);

// The idle time after which a flow expires, in seconds, kept within its
// limits even when the stored value was damaged.
std::uint32_t expiry_seconds(const CacheState &state);

}  // namespace fcemu

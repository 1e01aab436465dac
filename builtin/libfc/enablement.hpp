// Per-portset and per-port cache enablement, as the host properties and the
// port properties set it.
#pragma once

#include <cstdint>

#include "state_layout.hpp"

namespace fcemu {

constexpr int kNotFound = -1;

int find_portset(const CacheState &state, const char *name);
int find_port(const CacheState &state, int portset, const char *name);

// Registers the portset (enabled, multicast off) unless it is known;
// kNotFound when the table is full.
int add_portset(CacheState &state, const char *name);
// Registers the port with the direction unless it is known.
int add_port(CacheState &state, int portset, const char *name, std::uint32_t dir);

// Whether packets arriving on the port may be cached.  Ports are known by
// the decimal text of their id; a port nobody configured caches.
bool port_caches_ingress(const CacheState &state, std::uint32_t port_id);

}  // namespace fcemu

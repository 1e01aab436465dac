// How one flow's packets and its life in the cache show in a statistics
// tree (the cache's own, and the one each flow entry carries).
#pragma once

#include <cstdint>

#include "fcemu.h"

namespace fcemu {

// What a flow is made of, as far as the counters care.
struct FlowShape {
    std::uint64_t actions;              // union of the entities' action bits
    std::uint32_t entities;
    std::uint32_t encaps;               // entities that encapsulate
    std::uint32_t routes;               // entities that route
    std::uint32_t dports;               // destination ports over all entities
    bool ipv6;
    bool from_nested;                   // decapsulated from a nested tunnel
};

FlowShape shape_of(const FC_FlowEntryIOC &entry);

// Counts the actions packets of the flow went through.
void count_packets(FC_CacheStats &stats, const FlowShape &shape, std::uint64_t packets);
void count_allocation(FC_CacheStats &stats, const FlowShape &shape);
void count_release(FC_CacheStats &stats, std::uint32_t entities, std::uint32_t encaps, std::uint32_t routes);

}  // namespace fcemu

// The flow table: hash tables of bucket chains over compact flow records,
// each table with its free list, and the counters every change feeds.
#pragma once

#include <cstdint>

#include "invalidation.hpp"
#include "state_layout.hpp"

namespace fcemu {

enum class Installed { new_flow, new_flow_evicting, hit, malformed, too_large, port_disabled, table_full, inval_full };

inline bool installed_new(Installed result) { return result == Installed::new_flow || result == Installed::new_flow_evicting; }

// Does what the datapath does with `entry->pktCount` packets (at least one)
// of the entry's flow: a lookup that misses installs the flow (evicting the
// least recently used flow of a full bucket), later packets hit it.
// frame_bytes is the size of each packet, for the port counters.
Installed install_flow(StateFile &file, const FC_FlowEntryIOC &entry, std::uint32_t frame_bytes, std::uint64_t now);

void remove_flow(StateFile &file, std::uint32_t table, std::uint32_t index);
void expire_idle_flows(StateFile &file, std::uint64_t now);

// Copies the cached flow into a result entry that is all zero, writing only
// the fields the flow fills: its remaining lifetime, table id, statistics
// and invalidation entities too.
void report_flow(StateFile &file, std::uint32_t table, std::uint32_t index, FC_FlowEntryIOC *out, std::uint64_t now);

// The table and bucket a key hashes to.
struct Place {
    std::uint32_t table, bucket;
};
Place place_of(const StateFile &file, const FC_FlowKey &key);

// The invalidation entities a flow refers to (source port, first
// destination port, routing instance) and how: 1 source, 2 destination,
// 4 route.  Returns how many.
std::uint32_t entity_keys(const FlowRecord &record, InvalKey (&keys)[3], std::uint8_t (&usage)[3]);

// Visits every cached flow of tables [first, last), in table and record
// order: visit(table, index, record).  Records may be removed meanwhile.
template <class Visit>
void for_each_flow(StateFile &file, std::uint32_t first, std::uint32_t last, Visit visit) {
    for (std::uint32_t table = first; table < last && table < table_count(file); ++table) {
        std::uint32_t used = table_state(file, table).high_water;
        if (used > entries_per_table(file)) used = entries_per_table(file);
        for (std::uint32_t index = 0; index < used; ++index) {
            FlowRecord &record = record_at(file, table, index);
            if (record.in_use) visit(table, index, record);
        }
    }
}

}  // namespace fcemu

// The flow table: hash tables of buckets of FC_MAX_ENTRIES_PER_CACHE_BUCKET
// flows, the flow slots behind them, and the counters every change feeds.
#pragma once

#include <cstdint>

#include "state_layout.hpp"

namespace fcemu {

enum class Installed { new_flow, hit, refused };

// Does what the datapath does with `entry->pktCount` packets (at least one)
// of the entry's flow: a lookup that misses installs the flow (evicting the
// least recently used flow of a full bucket), later packets hit it.
// frame_bytes is the size of each packet, for the port counters.
Installed install_flow(StateFile &file, const FC_FlowEntryIOC &entry, std::uint32_t frame_bytes, std::uint64_t now);

void remove_flow(StateFile &file, std::uint32_t slot);
void expire_idle_flows(StateFile &file, std::uint64_t now);

// Table id (1-based) of a cached flow's bucket.
inline std::uint32_t table_id(const SlotMeta &meta) { return meta.bucket / kBucketsPerTable + 1; }

// Copies the cached flow of slot into a zero-filled result entry, with its
// remaining lifetime and its invalidation entities filled in.
void report_flow(StateFile &file, std::uint32_t slot, FC_FlowEntryIOC *out, std::uint64_t now);

}  // namespace fcemu

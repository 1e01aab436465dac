// The layout of the shared state file: a checksummed header that fixes the
// layout, the mutable cache state, then one flow entry image per flow slot.
// Everything here is read by several processes at once (under the file
// lock), so it holds no pointers, and every index read from it is checked
// before use: a damaged file must never crash a reader.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fcemu.h"

namespace fcemu {

constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kFlows = FCEMU_MAX_FLOWS;
constexpr std::uint32_t kTables = FCEMU_HASH_TABLES;
constexpr std::uint32_t kBucketsPerTable = FCEMU_BUCKETS_PER_TABLE;
constexpr std::uint32_t kBuckets = kTables * kBucketsPerTable;
constexpr std::uint32_t kWays = FC_MAX_ENTRIES_PER_CACHE_BUCKET;
constexpr std::uint32_t kInvalEntities = FCEMU_MAX_INVAL;
constexpr std::uint32_t kPortsets = 64;
constexpr std::uint32_t kPorts = 1024;
constexpr std::size_t kPortsetNameMax = 128;   // HYP_PORTSET_NAME_MAX
constexpr std::size_t kPortNameMax = 48;       // VS_DVPORT_ID_MAX
constexpr std::uint32_t kOptions = 5;          // FC_IOC_STATS_LEVEL .. FC_IOC_DISABLE_THRESHOLD
constexpr std::uint32_t kNoSlot = 0;           // bucket ways hold slot index + 1

// Written once when the file is built; the checksum covers every field
// before it, so a torn or foreign file is recognised.
struct Header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t header_size;
    std::uint64_t file_size;
    std::uint64_t entries_offset;
    std::uint32_t flows, tables, buckets_per_table, ways, inval_entities, portsets, ports;
    std::uint32_t reserved;
    std::uint64_t checksum;
};

struct Bucket {
    std::uint32_t way[kWays];           // slot index + 1, kNoSlot when free
    std::uint32_t hits;
    std::uint32_t evicts;
};

// What the model needs to know of a cached flow without touching its
// (large, mostly sparse) entry image.
struct SlotMeta {
    std::uint32_t in_use;
    std::uint32_t bucket;
    std::uint64_t flow_id;
    std::uint64_t last_used_ms;
    std::uint32_t src_port;
    std::uint32_t dst_port;             // first destination port, 0 if none
    std::uint32_t vdr_id;               // routing instance when routes > 0
    std::uint8_t entities;              // action entities, at most FC_MAX_OUT_AC_IOC
    std::uint8_t encaps;                // entities that encapsulate
    std::uint8_t routes;                // entities that route (VDR)
    std::uint8_t reserved;
};

struct InvalSlot {
    std::uint32_t in_use;
    std::uint32_t reserved;
    FC_InvalEntity entity;              // hashLink is always null here
};

struct PortsetRecord {
    char name[kPortsetNameMax];
    std::uint8_t in_use;
    std::uint8_t enabled;
    std::uint8_t multicast;
};

struct PortRecord {
    char name[kPortNameMax];
    std::uint32_t in_use;
    std::uint32_t portset;              // index into portsets
    std::uint32_t dir;                  // FC_DVSPortEnableDir
};

struct CacheState {
    std::uint64_t next_flow_id;
    std::uint64_t global_conf_gen;
    std::uint32_t options[kOptions];
    std::uint32_t flow_count;
    std::uint32_t slot_cursor;          // where the search for a free slot starts
    FC_CacheStats stats;
    Bucket buckets[kBuckets];
    SlotMeta meta[kFlows];
    InvalSlot inval[kInvalEntities];
    PortsetRecord portsets[kPortsets];
    PortRecord ports[kPorts];
};

struct StateFile {
    Header header;
    CacheState state;
};

constexpr std::size_t kPage = 4096;
constexpr std::size_t kEntriesOffset = (sizeof(StateFile) + kPage - 1) / kPage * kPage;
constexpr std::size_t kFileSize = kEntriesOffset + std::size_t{kFlows} * sizeof(FC_FlowEntryIOC);

// The flow entry image of a slot; packed, so any address will do.
inline FC_FlowEntryIOC *entry_of(StateFile *file, std::uint32_t slot) {
    return reinterpret_cast<FC_FlowEntryIOC *>(reinterpret_cast<char *>(file) + kEntriesOffset) + slot;
}

}  // namespace fcemu

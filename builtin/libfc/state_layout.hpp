// The layout of the shared state file: a checksummed header that fixes the
// layout and sizes, the cache's control state, then per hash table its
// free-list head, its buckets and its flow records.  Everything here is read
// by several processes at once (under the file lock), so it holds no
// pointers, and every index read from it is checked before use: a damaged
// file must never crash a reader.
//
// The flow records are the primary data.  Bucket chains, free lists, the
// flow counts, bucket lengths and invalidation reference counts are derived
// from them and can be rebuilt from them (check.cpp) when a writer died in
// the middle of a change.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fcemu.h"

namespace fcemu {

constexpr std::uint32_t kVersion = 2;
constexpr std::uint32_t kWays = FC_MAX_ENTRIES_PER_CACHE_BUCKET;
constexpr std::uint32_t kEntriesPerBucket = FCEMU_ENTRIES_PER_BUCKET;
constexpr std::uint32_t kInvalEntities = FCEMU_MAX_INVAL;
constexpr std::uint32_t kPortsets = 64;
constexpr std::uint32_t kPorts = 1024;
constexpr std::size_t kPortsetNameMax = 128;   // HYP_PORTSET_NAME_MAX
constexpr std::size_t kPortNameMax = 48;       // VS_DVPORT_ID_MAX
constexpr std::uint32_t kOptions = 5;          // FC_IOC_STATS_LEVEL .. FC_IOC_DISABLE_THRESHOLD
constexpr std::uint32_t kNoRecord = 0;         // links hold record index + 1
constexpr std::uint32_t kCells = FCEMU_FLOW_CELLS;

// An action entity's part before its port array, as a flow keeps it: 32-bit
// words, the last one padded with zeros.
constexpr std::size_t kEntityHead = offsetof(FC_ActionEntityIOC, dport);
constexpr std::uint32_t kEntityWords = (kEntityHead + 3) / 4;
// A cell tag below kPortCell is the word's position (entity * kEntityWords +
// word); kPortCell | entity marks one destination port of that entity.
constexpr std::uint16_t kPortCell = 0x8000;
static_assert(FC_MAX_OUT_AC_IOC * kEntityWords < kPortCell);

// Written when the file is built; the checksum covers every field before
// it, so a torn or foreign file is recognised.
struct Header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t header_size;
    std::uint64_t file_size;
    std::uint64_t tables_offset, buckets_offset, records_offset;
    std::uint32_t tables, entries_per_table, buckets_per_table, ways;
    std::uint32_t record_size, cells, inval_entities, portsets, ports;
    std::uint32_t reserved;
    std::uint64_t checksum;
};

// One cached flow, 256 bytes.  in_use is the commit mark: a record is
// filled before it is set and it is cleared before the record is unlinked,
// so a record is either a whole flow or free.
struct FlowRecord {
    std::uint8_t in_use;
    std::uint8_t entities;              // numActionEntities, at most FC_MAX_OUT_AC_IOC
    std::uint8_t cells;                 // cells used, at most kCells
    std::uint8_t shape;                 // entities that encapsulate | entities that route << 4
    std::uint32_t next;                 // bucket chain, or free list: index in the table + 1
    std::uint64_t flow_id;
    std::uint64_t created;
    std::uint64_t last_used_ms;
    std::uint64_t conf_gen;
    std::uint64_t pkt_count;
    std::uint64_t pkt_since_flush;
    std::uint32_t fc_flags;
    std::uint16_t num_dports, num_conf_dports;
    FC_FlowKey key;
    std::uint32_t dst_port;             // first destination port, 0 if none
    std::uint32_t vdr_id;               // routing instance of the first routing entity
    std::uint16_t tag[kCells];
    std::uint32_t value[kCells];

    std::uint32_t encaps() const { return shape & 0xf; }
    std::uint32_t routes() const { return shape >> 4; }
};
static_assert(sizeof(FlowRecord) == 256);

struct Bucket {
    std::uint32_t head;                 // record index + 1, kNoRecord when empty
    std::uint32_t length;
    std::uint32_t hits;
    std::uint32_t evicts;
};

struct TableState {
    std::uint32_t free_head;            // released records, index + 1
    std::uint32_t high_water;           // records [0, high_water) have held a flow
    std::uint32_t flows;
    std::uint32_t reserved;
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
    // Set to the writer's pid before its first change and cleared after
    // its last: found set under the lock, it names a writer that died.
    std::uint32_t writer;
    std::uint32_t flow_count;
    std::uint64_t next_flow_id;
    std::uint64_t global_conf_gen;
    std::uint64_t oldest_use_ms;        // no cached flow was last used before this
    std::uint64_t repairs;              // interrupted changes repaired
    std::uint32_t last_repaired_writer;
    std::uint32_t options[kOptions];
    FC_CacheStats stats;
    InvalSlot inval[kInvalEntities];
    PortsetRecord portsets[kPortsets];
    PortRecord ports[kPorts];
};

struct StateFile {
    Header header;
    CacheState state;
};

constexpr std::size_t kPage = 4096;

constexpr std::uint64_t page_round(std::uint64_t size) { return (size + kPage - 1) / kPage * kPage; }

// Where each region lies for a cache of `tables` tables of `entries`
// entries; the caller has checked the sizes against the limits.
struct Layout {
    std::uint64_t tables_offset, buckets_offset, records_offset, file_size;
    std::uint32_t buckets_per_table;
};

constexpr Layout layout_for(std::uint32_t tables, std::uint32_t entries) {
    Layout layout{};
    layout.buckets_per_table = entries / kEntriesPerBucket;
    layout.tables_offset = page_round(sizeof(StateFile));
    layout.buckets_offset = page_round(layout.tables_offset + std::uint64_t{tables} * sizeof(TableState));
    layout.records_offset =
        page_round(layout.buckets_offset + std::uint64_t{tables} * layout.buckets_per_table * sizeof(Bucket));
    layout.file_size = layout.records_offset + std::uint64_t{tables} * entries * sizeof(FlowRecord);
    return layout;
}

constexpr bool sizes_allowed(std::uint64_t tables, std::uint64_t entries) {
    return tables >= 1 && tables <= FCEMU_MAX_TABLES && entries >= FCEMU_MIN_TABLE_ENTRIES &&
           entries <= FCEMU_MAX_TABLE_ENTRIES && tables * entries <= FCEMU_MAX_FLOWS;
}
static_assert(layout_for(FCEMU_MAX_TABLES, FCEMU_MAX_FLOWS / FCEMU_MAX_TABLES).file_size < (std::uint64_t{1} << 31));

// The regions past the fixed part.  Only a validated header is used here:
// its sizes and offsets agree with layout_for and the mapping's size.
inline std::uint32_t table_count(const StateFile &file) { return file.header.tables; }
inline std::uint32_t entries_per_table(const StateFile &file) { return file.header.entries_per_table; }
inline std::uint32_t buckets_per_table(const StateFile &file) { return file.header.buckets_per_table; }

inline TableState &table_state(StateFile &file, std::uint32_t table) {
    return reinterpret_cast<TableState *>(reinterpret_cast<char *>(&file) + file.header.tables_offset)[table];
}
inline Bucket &bucket_at(StateFile &file, std::uint32_t table, std::uint32_t bucket) {
    auto *buckets = reinterpret_cast<Bucket *>(reinterpret_cast<char *>(&file) + file.header.buckets_offset);
    return buckets[std::uint64_t{table} * file.header.buckets_per_table + bucket];
}
inline FlowRecord &record_at(StateFile &file, std::uint32_t table, std::uint32_t index) {
    auto *records = reinterpret_cast<FlowRecord *>(reinterpret_cast<char *>(&file) + file.header.records_offset);
    return records[std::uint64_t{table} * file.header.entries_per_table + index];
}

}  // namespace fcemu

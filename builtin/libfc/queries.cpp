// Flow queries and removal, and the cache's statistics.

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "flow_filter.hpp"
#include "flow_table.hpp"
#include "state_file.hpp"

namespace fcemu {
namespace {

// Each result belongs to the library until the next call of its function.
FC_IOCFlows *last_flows;
FC_CacheStats last_stats;
union {
    FC_HashStatsIOC header;
    char bytes[sizeof(FC_HashStatsIOC) + kTables * sizeof(FCHashStats)];
} last_hash_stats;

// The cached flows that match, oldest first; returns how many.
std::uint32_t matching_slots(StateFile &file, const FlowFilter &filter, std::uint32_t *slots) {
    CacheState &state = file.state;
    std::uint32_t count = 0;
    for (std::uint32_t slot = 0; slot < kFlows; ++slot) {
        const SlotMeta &meta = state.meta[slot];
        if (meta.in_use && matches(filter, *entry_of(&file, slot), table_id(meta))) slots[count++] = slot;
    }
    std::sort(slots, slots + count, [&](std::uint32_t a, std::uint32_t b) { return state.meta[a].flow_id < state.meta[b].flow_id; });
    return count;
}

FCHashStats table_stats(const CacheState &state, std::uint32_t table) {
    FCHashStats stats{};
    stats.fcState = FC_STATE_ENABLED;
    for (std::uint32_t i = 0; i < kBucketsPerTable; ++i) {
        const Bucket &bucket = state.buckets[table * kBucketsPerTable + i];
        std::uint32_t length = 0;
        for (std::uint32_t way : bucket.way) length += way != kNoSlot && way <= kFlows;
        stats.bucketLengthMap[length] += 1;
        if (bucket.hits > stats.nHitsMax) {
            stats.nHitsMax = bucket.hits;
            stats.nHitsMaxBcktId = i;
        }
        if (bucket.evicts > stats.nEvictsMax) {
            stats.nEvictsMax = bucket.evicts;
            stats.nEvictsMaxBcktId = i;
        }
        stats.nEvictsTotal += bucket.evicts;
    }
    // A host whose every configured portset has the cache off runs no cache.
    bool any_portset = false, any_enabled = false;
    for (const PortsetRecord &portset : state.portsets) {
        any_portset |= portset.in_use != 0;
        any_enabled |= portset.in_use && portset.enabled;
    }
    if (any_portset && !any_enabled) stats.fcState = FC_STATE_DISABLED;
    return stats;
}

}  // namespace
}  // namespace fcemu

using namespace fcemu;

extern "C" fcemu_status fcemu_model_get_flows(const fcemu_query *query, FC_IOCFlows **result) {
    FlowFilter filter;
    if (fcemu_status status = parse_filter(*query, filter)) return status;
    StateAccess access;
    if (access.status()) return access.status();
    static std::uint32_t slots[kFlows];
    std::uint32_t total = matching_slots(*access.file(), filter, slots);
    std::uint32_t count = std::min<std::uint32_t>(total, FC_MAX_CACHE_FLOWS_IOC);
    auto *flows = static_cast<FC_IOCFlows *>(std::calloc(1, sizeof(FC_IOCFlows) + std::size_t{count} * sizeof(FC_FlowEntryIOC)));
    if (!flows) return fail(FCEMU_NO_MEMORY, "no memory for %u flow entries", count);
    flows->totalEntries = total;
    flows->numEntries = count;
    for (std::uint32_t i = 0; i < count; ++i) report_flow(*access.file(), slots[i], &flows->entries[i], access.now());
    std::free(last_flows);
    last_flows = flows;
    *result = flows;
    return FCEMU_OK;
}

extern "C" fcemu_status fcemu_model_remove_flows(const fcemu_query *query) {
    FlowFilter filter;
    if (fcemu_status status = parse_filter(*query, filter)) return status;
    StateAccess access;
    if (access.status()) return access.status();
    static std::uint32_t slots[kFlows];
    std::uint32_t count = matching_slots(*access.file(), filter, slots);
    for (std::uint32_t i = 0; i < count; ++i) remove_flow(*access.file(), slots[i]);
    return FCEMU_OK;
}

extern "C" fcemu_status fcemu_model_cache_stats(FC_CacheStats **result) {
    StateAccess access;
    if (access.status()) return access.status();
    last_stats = access.state().stats;
    *result = &last_stats;
    return FCEMU_OK;
}

extern "C" fcemu_status fcemu_model_hash_stats(FC_HashStatsIOC **result) {
    StateAccess access;
    if (access.status()) return access.status();
    FC_HashStatsIOC &header = last_hash_stats.header;
    header.entries = kTables;
    header.maxEntries = kTables;
    for (std::uint32_t table = 0; table < kTables; ++table) {
        FCHashStats stats = table_stats(access.state(), table);
        std::memcpy(last_hash_stats.bytes + sizeof header + table * sizeof stats, &stats, sizeof stats);
    }
    *result = &header;
    return FCEMU_OK;
}

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
//
// The flows answer is one block kept from query to query: a fresh zeroed
// block costs a page fault for every page rendering touches, several per
// entry.  Before an entry is rendered again, only the bytes its previous
// rendering wrote are cleared: the part before the action entities, and of
// each rendered entity its head, its ports and its port count.
FC_IOCFlows *answer;
struct Rendered {
    std::uint16_t entities;
    std::uint16_t ports[FC_MAX_OUT_AC_IOC];
};
Rendered rendered[FC_MAX_CACHE_FLOWS_IOC];
std::uint32_t rendered_count;

constexpr std::size_t kEntitiesAt = offsetof(FC_FlowEntryIOC, actionEntity);
constexpr std::size_t kPortsAt = offsetof(FC_ActionEntityIOC, dport);
constexpr std::size_t kPortCountAt = offsetof(FC_ActionEntityIOC, dstPortsNum);

FC_ActionEntityIOC *entity_of(FC_FlowEntryIOC *entry, std::uint32_t e) {
    return reinterpret_cast<FC_ActionEntityIOC *>(reinterpret_cast<char *>(entry) + kEntitiesAt) + e;
}

void clear_rendering(FC_FlowEntryIOC *entry, const Rendered &was) {
    std::memset(entry, 0, kEntitiesAt);
    for (std::uint32_t e = 0; e < was.entities; ++e) {
        char *entity = reinterpret_cast<char *>(entity_of(entry, e));
        std::memset(entity, 0, kEntityHead);
        std::memset(entity + kPortsAt, 0, std::size_t{was.ports[e]} * sizeof(hyp_SwitchPortID));
        std::memset(entity + kPortCountAt, 0, sizeof(hyp_uint32));
    }
}

Rendered what_was_rendered(FC_FlowEntryIOC *entry) {
    Rendered was{};
    was.entities = std::min<std::uint16_t>(entry->numActionEntities, FC_MAX_OUT_AC_IOC);
    for (std::uint32_t e = 0; e < was.entities; ++e) {
        hyp_uint32 ports;
        std::memcpy(&ports, reinterpret_cast<char *>(entity_of(entry, e)) + kPortCountAt, sizeof ports);
        was.ports[e] = static_cast<std::uint16_t>(std::min<hyp_uint32>(ports, kCells));
    }
    return was;
}
FC_CacheStats last_stats;
union {
    FC_HashStatsIOC header;
    char bytes[sizeof(FC_HashStatsIOC) + FCEMU_MAX_TABLES * sizeof(FCHashStats)];
} last_hash_stats;

struct Match {
    std::uint64_t flow_id;
    std::uint32_t table, index;
};
bool older(const Match &a, const Match &b) { return a.flow_id < b.flow_id; }

// The tables a query reads: only the one its table id names, if any.
void table_range(StateFile &file, const FlowFilter &filter, std::uint32_t &first, std::uint32_t &last) {
    std::uint32_t tid = filter.values.tid;
    first = tid ? tid - 1 : 0;
    last = tid ? (tid <= table_count(file) ? tid : 0) : table_count(file);
}

// The oldest matches, at most FC_MAX_CACHE_FLOWS_IOC of them, oldest
// first, kept in a max-heap while the tables are scanned; returns how many
// flows match in all.
std::uint32_t oldest_matches(StateFile &file, const FlowFilter &filter, Match *kept, std::uint32_t &kept_count) {
    std::uint32_t first, last, total = 0;
    table_range(file, filter, first, last);
    kept_count = 0;
    for_each_flow(file, first, last, [&](std::uint32_t table, std::uint32_t index, const FlowRecord &record) {
        if (!matches(filter, record.key, table + 1)) return;
        ++total;
        Match match{record.flow_id, table, index};
        if (kept_count < FC_MAX_CACHE_FLOWS_IOC) {
            kept[kept_count++] = match;
            std::push_heap(kept, kept + kept_count, older);
        } else if (older(match, kept[0])) {
            std::pop_heap(kept, kept + kept_count, older);
            kept[kept_count - 1] = match;
            std::push_heap(kept, kept + kept_count, older);
        }
    });
    std::sort_heap(kept, kept + kept_count, older);
    return total;
}

FCHashStats table_stats(StateFile &file, std::uint32_t table) {
    const CacheState &state = file.state;
    FCHashStats stats{};
    stats.fcState = FC_STATE_ENABLED;
    for (std::uint32_t i = 0; i < buckets_per_table(file); ++i) {
        const Bucket &bucket = bucket_at(file, table, i);
        stats.bucketLengthMap[bucket.length < kWays ? bucket.length : kWays] += 1;
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
    static Match kept[FC_MAX_CACHE_FLOWS_IOC];
    std::uint32_t count;
    std::uint32_t total = oldest_matches(*access.file(), filter, kept, count);
    if (!answer) {
        // Zero pages the system hands over lazily: only those rendered into
        // are ever touched.
        answer = static_cast<FC_IOCFlows *>(
            std::calloc(1, sizeof(FC_IOCFlows) + std::size_t{FC_MAX_CACHE_FLOWS_IOC} * sizeof(FC_FlowEntryIOC)));
        if (!answer) return fail(FCEMU_NO_MEMORY, "no memory for %u flow entries", FC_MAX_CACHE_FLOWS_IOC);
        rendered_count = 0;
    }
    for (std::uint32_t i = 0; i < rendered_count; ++i) clear_rendering(&answer->entries[i], rendered[i]);
    rendered_count = 0;
    answer->totalEntries = total;
    answer->numEntries = count;
    for (std::uint32_t i = 0; i < count; ++i) {
        report_flow(*access.file(), kept[i].table, kept[i].index, &answer->entries[i], access.now());
        rendered[i] = what_was_rendered(&answer->entries[i]);
        rendered_count = i + 1;
    }
    *result = answer;
    return FCEMU_OK;
}

extern "C" fcemu_status fcemu_model_remove_flows(const fcemu_query *query) {
    FlowFilter filter;
    if (fcemu_status status = parse_filter(*query, filter)) return status;
    StateAccess access;
    if (access.status()) return access.status();
    StateFile &file = *access.file();
    std::uint32_t first, last;
    table_range(file, filter, first, last);
    for_each_flow(file, first, last, [&](std::uint32_t table, std::uint32_t index, const FlowRecord &record) {
        if (matches(filter, record.key, table + 1)) remove_flow(file, table, index);
    });
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
    std::uint32_t tables = table_count(*access.file());
    header.entries = static_cast<hyp_uint16>(tables);
    header.maxEntries = static_cast<hyp_uint16>(tables);
    for (std::uint32_t table = 0; table < tables; ++table) {
        FCHashStats stats = table_stats(*access.file(), table);
        std::memcpy(last_hash_stats.bytes + sizeof header + table * sizeof stats, &stats, sizeof stats);
    }
    *result = &header;
    return FCEMU_OK;
}

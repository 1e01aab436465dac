// Repairing the state after an interrupted change.
//
// The flow records are primary: a record with in_use set is a flow.  Bucket
// chains and lengths, free lists, flow counts, invalidation reference
// counts and the lookup.free counters are derived from the records; every
// other counter is history, kept as it is, except that lookup.alloc.X is
// raised when a flow was stored before its allocation was counted.

#include "recovery.hpp"

#include <unistd.h>

#include "flow_table.hpp"
#include "invalidation.hpp"

namespace fcemu {
namespace {

bool record_sane(const StateFile &file, std::uint32_t table, const FlowRecord &record) {
    return record.entities <= FC_MAX_OUT_AC_IOC && record.cells <= kCells && place_of(file, record.key).table == table;
}

// References record's entities when every one exists; false otherwise.
bool reference_existing(CacheState &state, const FlowRecord &record) {
    InvalKey keys[3];
    std::uint8_t usage[3];
    std::uint32_t count = entity_keys(record, keys, usage);
    for (std::uint32_t i = 0; i < count; ++i)
        if (!find_entity(state, keys[i])) return false;
    for (std::uint32_t i = 0; i < count; ++i) reference_entity(state, keys[i], usage[i]);
    return true;
}

// Moves alloc forward when the flows hold more than it allows, then makes
// free what was allocated and is no longer held.
void settle(hyp_uint64 &allocated, hyp_uint64 &freed, std::uint64_t held) {
    if (allocated < freed + held) allocated = freed + held;
    freed = allocated - held;
}

void rebuild_derived(StateFile &file) {
    CacheState &state = file.state;
    for (InvalSlot &slot : state.inval) slot.entity.refCount = 0;
    Held held{};
    std::uint32_t entries = entries_per_table(file);
    for (std::uint32_t table = 0; table < table_count(file); ++table) {
        TableState &owner = table_state(file, table);
        if (owner.high_water > entries) owner.high_water = entries;
        for (std::uint32_t bucket = 0; bucket < buckets_per_table(file); ++bucket) {
            bucket_at(file, table, bucket).head = kNoRecord;
            bucket_at(file, table, bucket).length = 0;
        }
        owner.flows = 0;
        owner.free_head = kNoRecord;
        // Downwards, so that the free list hands out the lowest records first.
        for (std::uint32_t index = owner.high_water; index-- > 0;) {
            FlowRecord &record = record_at(file, table, index);
            if (record.in_use && record_sane(file, table, record)) {
                Bucket &bucket = bucket_at(file, table, place_of(file, record.key).bucket);
                if (bucket.length < kWays && reference_existing(state, record)) {
                    record.next = bucket.head;
                    bucket.head = index + 1;
                    bucket.length += 1;
                    owner.flows += 1;
                    held.add(record);
                    continue;
                }
            }
            record.in_use = 0;
            record.next = owner.free_head;
            owner.free_head = index + 1;
        }
    }
    state.flow_count = static_cast<std::uint32_t>(held.flows);
    FC_CacheStats_lookup &lookup = state.stats.lookup;
    settle(lookup.alloc.fe, lookup.free.fe, held.flows);
    settle(lookup.alloc.actionEntity, lookup.free.actionEntity, held.entities);
    settle(lookup.alloc.vdl2EncapData, lookup.free.vdl2EncapData, held.encaps);
    settle(lookup.alloc.vdrData, lookup.free.vdrData, held.routes);
    state.oldest_use_ms = 0;            // unknown: the next expiry pass scans
}

}  // namespace

void begin_change(StateFile &file) {
    CacheState &state = file.state;
    std::uint32_t writer = __atomic_load_n(&state.writer, __ATOMIC_ACQUIRE);
    if (writer != 0) {
        // The lock is free and the mark still set: its writer died mid-change.
        rebuild_derived(file);
        state.repairs += 1;
        state.last_repaired_writer = writer;
    }
    __atomic_store_n(&state.writer, static_cast<std::uint32_t>(getpid()), __ATOMIC_SEQ_CST);
}

void end_change(StateFile &file) { __atomic_store_n(&file.state.writer, 0u, __ATOMIC_RELEASE); }

}  // namespace fcemu

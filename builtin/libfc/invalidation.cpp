// The invalidation table and the calls that read it or invalidate flows.

#include "invalidation.hpp"

#include <cstdlib>
#include <cstring>

#include "flow_table.hpp"
#include "state_file.hpp"

namespace fcemu {
namespace {

bool same_key(const InvalSlot &slot, InvalKey key) {
    return slot.entity.ikey.type == key.type && slot.entity.ikey.val.vdrId == key.value;
}

// An entity nothing refers to any more keeps its generation until the
// table needs its room.
bool reclaimable(const InvalSlot &slot) { return !slot.in_use || slot.entity.refCount == 0; }

FC_IOCInvalEntries *last_table;

}  // namespace

InvalSlot *find_entity(CacheState &state, InvalKey key) {
    for (InvalSlot &slot : state.inval)
        if (slot.in_use && same_key(slot, key)) return &slot;
    return nullptr;
}

bool has_room_for(CacheState &state, const InvalKey *keys, std::uint32_t count) {
    std::uint32_t missing = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        bool repeated = false;
        for (std::uint32_t j = 0; j < i; ++j) repeated |= keys[j].type == keys[i].type && keys[j].value == keys[i].value;
        InvalSlot *known = find_entity(state, keys[i]);
        if (!repeated && (!known || known->entity.refCount == 0)) ++missing;
    }
    if (missing == 0) return true;
    std::uint32_t free_slots = 0;
    for (const InvalSlot &slot : state.inval) free_slots += reclaimable(slot);
    return missing <= free_slots;
}

void reference_entity(CacheState &state, InvalKey key, std::uint8_t usage) {
    InvalSlot *slot = find_entity(state, key);
    if (!slot) {
        // Prefer a never-used slot, so that idle entities keep their
        // generation as long as possible.
        for (InvalSlot &candidate : state.inval)
            if (!candidate.in_use) { slot = &candidate; break; }
        if (!slot)
            for (InvalSlot &candidate : state.inval)
                if (reclaimable(candidate)) { slot = &candidate; break; }
        if (!slot) return;
        std::memset(slot, 0, sizeof *slot);
        slot->in_use = 1;
        slot->entity.ikey.type = key.type;
        slot->entity.ikey.val.vdrId = key.value;
        slot->entity.confGen = state.global_conf_gen;
        slot->entity.dir = FC_PORT_ENABLE_DIR_ALL;
    }
    slot->entity.refCount += 1;
    slot->entity.flags |= usage;
}

void release_entity(CacheState &state, InvalKey key) {
    InvalSlot *slot = find_entity(state, key);
    if (slot && slot->entity.refCount > 0) slot->entity.refCount -= 1;
}

}  // namespace fcemu

using namespace fcemu;

extern "C" fcemu_status fcemu_model_inval_entries(FC_IOCInvalEntries **result) {
    StateAccess access;
    if (access.status()) return access.status();
    CacheState &state = access.state();
    std::uint32_t count = 0;
    for (const InvalSlot &slot : state.inval) count += slot.in_use != 0;
    auto *table = static_cast<FC_IOCInvalEntries *>(std::calloc(1, sizeof(FC_IOCInvalEntries) + count * sizeof(FC_InvalEntity)));
    if (!table) return fail(FCEMU_NO_MEMORY, "no memory for %u invalidation entities", count);
    table->globalConfGen = state.global_conf_gen;
    table->numEntries = count;
    // The packed header leaves the entities unaligned: copy bytes.
    char *next = reinterpret_cast<char *>(table) + sizeof(FC_IOCInvalEntries);
    for (const InvalSlot &slot : state.inval) {
        if (!slot.in_use) continue;
        FC_InvalEntity entity = slot.entity;
        entity.hashLink = nullptr;
        std::memcpy(next, &entity, sizeof entity);
        next += sizeof entity;
    }
    std::free(last_table);
    last_table = table;
    *result = table;
    return FCEMU_OK;
}

extern "C" fcemu_status fcemu_model_invalidate_key(hyp_uint32 value, int type) {
    if (type != FC_INVAL_HASH_KEY_TYPE_VDRID && type != FC_INVAL_HASH_KEY_TYPE_PORTID)
        return fail(FCEMU_BAD_VALUE, "unknown invalidation key type %d", type);
    StateAccess access;
    if (access.status()) return access.status();
    CacheState &state = access.state();
    state.global_conf_gen += 1;
    if (InvalSlot *slot = find_entity(state, {static_cast<std::uint8_t>(type), value}))
        slot->entity.confGen = state.global_conf_gen;
    StateFile &file = *access.file();
    for_each_flow(file, 0, table_count(file), [&](std::uint32_t table, std::uint32_t index, const FlowRecord &record) {
        bool tied = type == FC_INVAL_HASH_KEY_TYPE_PORTID ? record.key.portID == value || record.dst_port == value
                                                          : record.routes() != 0 && record.vdr_id == value;
        if (tied) remove_flow(file, table, index);
    });
    return FCEMU_OK;
}

extern "C" fcemu_status fcemu_model_invalidate_all(int *invalidated) {
    StateAccess access;
    if (access.status()) return access.status();
    CacheState &state = access.state();
    int count = 0;
    StateFile &file = *access.file();
    for_each_flow(file, 0, table_count(file), [&](std::uint32_t table, std::uint32_t index, const FlowRecord &) {
        remove_flow(file, table, index);
        ++count;
    });
    state.global_conf_gen += 1;
    for (InvalSlot &slot : state.inval)
        if (slot.in_use) slot.entity.confGen = state.global_conf_gen;
    *invalidated = count;
    return FCEMU_OK;
}

// Installing, finding, evicting, expiring and reporting cached flows.

#include "flow_table.hpp"

#include <cstddef>
#include <cstring>

#include "enablement.hpp"
#include "flow_counters.hpp"
#include "invalidation.hpp"
#include "options.hpp"

namespace fcemu {
namespace {

constexpr std::size_t kEntryHead = offsetof(FC_FlowEntryIOC, actionEntity);
constexpr std::size_t kEntityHead = offsetof(FC_ActionEntityIOC, dport);

FC_FlowKey key_of(const FC_FlowEntryIOC &entry) {
    FC_FlowKey key;
    std::memcpy(&key, reinterpret_cast<const char *>(&entry) + offsetof(FC_FlowEntryIOC, fkey), sizeof key);
    return key;
}

std::uint32_t bucket_of(const FC_FlowKey &key) {
    // FNV-1a over the key image; the low bits pick the table, the next
    // ones the bucket, as a per-CPU table set would.
    std::uint64_t hash = 1469598103934665603ull;
    const auto *bytes = reinterpret_cast<const unsigned char *>(&key);
    for (std::size_t i = 0; i < sizeof key; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    std::uint32_t table = static_cast<std::uint32_t>(hash % kTables);
    std::uint32_t bucket = static_cast<std::uint32_t>((hash / kTables) % kBucketsPerTable);
    return table * kBucketsPerTable + bucket;
}

// The slot a bucket way refers to, or kFlows when the way is free or the
// stored reference is not one the bucket can hold.
std::uint32_t slot_of_way(const CacheState &state, std::uint32_t bucket, std::uint32_t way) {
    std::uint32_t ref = state.buckets[bucket].way[way];
    if (ref == kNoSlot || ref > kFlows) return kFlows;
    const SlotMeta &meta = state.meta[ref - 1];
    return meta.in_use && meta.bucket == bucket ? ref - 1 : kFlows;
}

bool malformed(const FC_FlowEntryIOC &entry) {
    if (entry.numActionEntities > FC_MAX_OUT_AC_IOC) return true;
    if (entry.fkey.flags & ~FC_FLOWKEY_IPV6) return true;
    for (std::uint32_t i = 0; i < entry.numActionEntities; ++i)
        if (entry.actionEntity[i].dstPortsNum > FC_MAX_DPORTS_IOC) return true;
    return false;
}

std::uint32_t first_dport(const FC_FlowEntryIOC &entry) {
    for (std::uint32_t i = 0; i < entry.numActionEntities; ++i)
        if (entry.actionEntity[i].dstPortsNum > 0) return entry.actionEntity[i].dport[0];
    return 0;
}

std::uint32_t route_instance(const FC_FlowEntryIOC &entry) {
    for (std::uint32_t i = 0; i < entry.numActionEntities; ++i) {
        const FC_ActionEntityIOC &entity = entry.actionEntity[i];
        if (!(entity.actionsBitMap & (std::uint64_t{1} << FC_ACTION_VDR_ROUTE))) continue;
        const FC_VDRActionData &route = entity.clientData.vdrData;
        std::uint32_t instance = route.curInst < FC_VDR_MAX_ACTION_INSTANCES ? route.curInst : 0;
        FC_VdrInfo info;
        std::memcpy(&info, &route.vdrActions[instance].vdrInfo, sizeof info);
        return info.vdrId;
    }
    return 0;
}

// The entities a flow refers to: source port, first destination port,
// routing instance.
std::uint32_t entity_keys(const SlotMeta &meta, InvalKey *keys, std::uint8_t *usage) {
    std::uint32_t count = 0;
    keys[count] = {FC_INVAL_HASH_KEY_TYPE_PORTID, meta.src_port};
    usage[count++] = 1;
    if (meta.dst_port) {
        keys[count] = {FC_INVAL_HASH_KEY_TYPE_PORTID, meta.dst_port};
        usage[count++] = 2;
    }
    if (meta.routes) {
        keys[count] = {FC_INVAL_HASH_KEY_TYPE_VDRID, meta.vdr_id};
        usage[count++] = 4;
    }
    return count;
}

void count_port_traffic(CacheState &state, const FC_FlowKey &key, std::uint64_t packets, std::uint64_t bytes) {
    InvalSlot *source = find_entity(state, {FC_INVAL_HASH_KEY_TYPE_PORTID, key.portID});
    if (!source) return;
    FC_PortStats &counters = source->entity.sPortStats;
    if (key.l2Key.daddr[0] & 1) {       // group address: multicast or broadcast
        counters.pktsInMulticast += packets;
        counters.bytesInMulticast += bytes;
    } else {
        counters.pktsInUnicast += packets;
        counters.bytesInUnicast += bytes;
    }
}

// The flow's own statistics tree sits unaligned in its packed entry.
template <class Change>
void change_flow_stats(FC_FlowEntryIOC *entry, Change change) {
    FC_CacheStats stats;
    char *place = reinterpret_cast<char *>(entry) + offsetof(FC_FlowEntryIOC, stats);
    std::memcpy(&stats, place, sizeof stats);
    change(stats);
    std::memcpy(place, &stats, sizeof stats);
}

Installed hit(StateFile &file, std::uint32_t slot, const FC_FlowKey &key, std::uint64_t packets, std::uint32_t frame_bytes,
              std::uint64_t now) {
    CacheState &state = file.state;
    SlotMeta &meta = state.meta[slot];
    FC_FlowEntryIOC *cached = entry_of(&file, slot);
    FlowShape shape = shape_of(*cached);
    meta.last_used_ms = now;
    state.buckets[meta.bucket].hits += static_cast<std::uint32_t>(packets);
    state.stats.lookup.nhits += packets;
    count_packets(state.stats, shape, packets);
    cached->pktCount += packets;
    cached->pktCntSinceFlush += packets;
    change_flow_stats(cached, [&](FC_CacheStats &stats) {
        stats.lookup.nhits += packets;
        count_packets(stats, shape, packets);
    });
    count_port_traffic(state, key, packets, packets * frame_bytes);
    return Installed::hit;
}

std::uint32_t free_slot(CacheState &state) {
    for (std::uint32_t i = 0; i < kFlows; ++i) {
        std::uint32_t slot = (state.slot_cursor + i) % kFlows;
        if (!state.meta[slot].in_use) {
            state.slot_cursor = (slot + 1) % kFlows;
            return slot;
        }
    }
    return kFlows;
}

// Makes room in a full bucket by evicting its least recently used flow;
// returns the free way.
std::uint32_t free_way(StateFile &file, std::uint32_t bucket) {
    CacheState &state = file.state;
    std::uint32_t oldest_way = 0;
    std::uint64_t oldest_use = ~std::uint64_t{0};
    for (std::uint32_t way = 0; way < kWays; ++way) {
        std::uint32_t slot = slot_of_way(state, bucket, way);
        if (slot == kFlows) {
            state.buckets[bucket].way[way] = kNoSlot;
            return way;
        }
        if (state.meta[slot].last_used_ms < oldest_use) {
            oldest_use = state.meta[slot].last_used_ms;
            oldest_way = way;
        }
    }
    state.buckets[bucket].evicts += 1;
    remove_flow(file, slot_of_way(state, bucket, oldest_way));
    return oldest_way;
}

void store_entry(FC_FlowEntryIOC *slot_entry, const FC_FlowEntryIOC &entry) {
    // Only the used destination ports are copied: the rest of each entity's
    // port array stays untouched (and sparse in the file).
    std::memcpy(slot_entry, &entry, kEntryHead);
    for (std::uint32_t i = 0; i < entry.numActionEntities; ++i) {
        const FC_ActionEntityIOC &from = entry.actionEntity[i];
        FC_ActionEntityIOC &to = slot_entry->actionEntity[i];
        std::memcpy(&to, &from, kEntityHead);
        std::memcpy(to.dport, from.dport, from.dstPortsNum * sizeof(hyp_SwitchPortID));
        to.dstPortsNum = from.dstPortsNum;
    }
}

}  // namespace

Installed install_flow(StateFile &file, const FC_FlowEntryIOC &entry, std::uint32_t frame_bytes, std::uint64_t now) {
    CacheState &state = file.state;
    if (malformed(entry)) return Installed::refused;
    FC_FlowKey key = key_of(entry);
    std::uint64_t packets = entry.pktCount ? entry.pktCount : 1;
    std::uint32_t bucket = bucket_of(key);
    for (std::uint32_t way = 0; way < kWays; ++way) {
        std::uint32_t slot = slot_of_way(state, bucket, way);
        if (slot != kFlows && std::memcmp(&key, reinterpret_cast<const char *>(entry_of(&file, slot)) + offsetof(FC_FlowEntryIOC, fkey), sizeof key) == 0)
            return hit(file, slot, key, packets, frame_bytes, now);
    }
    if (!port_caches_ingress(state, key.portID)) {
        state.stats.lookup.unsupported += 1;
        return Installed::refused;
    }
    SlotMeta meta{};
    meta.in_use = 1;
    meta.bucket = bucket;
    meta.last_used_ms = now;
    meta.src_port = key.portID;
    meta.dst_port = first_dport(entry);
    FlowShape shape = shape_of(entry);
    meta.entities = static_cast<std::uint8_t>(shape.entities);
    meta.encaps = static_cast<std::uint8_t>(shape.encaps);
    meta.routes = static_cast<std::uint8_t>(shape.routes);
    meta.vdr_id = route_instance(entry);

    std::uint32_t slot = free_slot(state);
    InvalKey keys[3];
    std::uint8_t usage[3];
    std::uint32_t key_count = entity_keys(meta, keys, usage);
    if (slot == kFlows || !has_room_for(state, keys, key_count)) {
        state.stats.lookup.nmisses += 1;
        state.stats.lookup.failed += 1;
        (slot == kFlows ? state.stats.lookup.alloc.fe_fail : state.stats.lookup.fe_inval_init_fail) += 1;
        return Installed::refused;
    }
    std::uint32_t way = free_way(file, bucket);

    meta.flow_id = state.next_flow_id++;
    FC_FlowEntryIOC *cached = entry_of(&file, slot);
    store_entry(cached, entry);
    cached->fcFlags = static_cast<FC_FlowEntryFlags>(cached->fcFlags | FC_FLOW_ENTRY_FLAG_INUSE |
                                                     (shape.dports > 1 ? FC_FLOW_ENTRY_FLAG_MULTI_PORTS : 0));
    cached->flowId = meta.flow_id;
    if (!cached->created) cached->created = now;
    cached->confGen = state.global_conf_gen;
    cached->tblId = table_id(meta);
    cached->exprTime = 0;
    cached->pktCount = packets;
    cached->pktCntSinceFlush = packets;
    if (!cached->numDports) cached->numDports = static_cast<hyp_uint16>(shape.dports);
    if (!cached->numConfDports) cached->numConfDports = cached->numDports;
    // A flow created earlier than now (a datapath handing over an older
    // flow) has been idle since then.
    if (cached->created < now) meta.last_used_ms = cached->created;

    state.meta[slot] = meta;
    state.buckets[bucket].way[way] = slot + 1;
    state.flow_count += 1;
    for (std::uint32_t i = 0; i < key_count; ++i) reference_entity(state, keys[i], usage[i]);

    // The first packet missed and installed the flow; the rest hit it.
    state.stats.lookup.nmisses += 1;
    state.stats.lookup.nhits += packets - 1;
    state.buckets[bucket].hits += static_cast<std::uint32_t>(packets - 1);
    count_allocation(state.stats, shape);
    count_packets(state.stats, shape, packets);
    change_flow_stats(cached, [&](FC_CacheStats &stats) {
        std::memset(&stats, 0, sizeof stats);
        stats.lookup.nmisses = 1;
        stats.lookup.nhits = packets - 1;
        count_allocation(stats, shape);
        count_packets(stats, shape, packets);
    });
    count_port_traffic(state, key, packets, packets * frame_bytes);
    return Installed::new_flow;
}

void remove_flow(StateFile &file, std::uint32_t slot) {
    CacheState &state = file.state;
    SlotMeta &meta = state.meta[slot];
    if (!meta.in_use) return;
    if (meta.bucket < kBuckets)
        for (std::uint32_t &way : state.buckets[meta.bucket].way)
            if (way == slot + 1) way = kNoSlot;
    InvalKey keys[3];
    std::uint8_t usage[3];
    std::uint32_t key_count = entity_keys(meta, keys, usage);
    for (std::uint32_t i = 0; i < key_count; ++i) release_entity(state, keys[i]);
    count_release(state.stats, meta.entities, meta.encaps, meta.routes);
    meta = SlotMeta{};
    if (state.flow_count) state.flow_count -= 1;
}

void expire_idle_flows(StateFile &file, std::uint64_t now) {
    CacheState &state = file.state;
    std::uint64_t lifetime = std::uint64_t{expiry_seconds(state)} * 1000u;
    for (std::uint32_t slot = 0; slot < kFlows; ++slot) {
        SlotMeta &meta = state.meta[slot];
        if (!meta.in_use) continue;
        if (meta.bucket >= kBuckets) {          // damaged: drop it
            meta = SlotMeta{};
            continue;
        }
        if (now >= meta.last_used_ms && now - meta.last_used_ms >= lifetime) remove_flow(file, slot);
    }
}

void report_flow(StateFile &file, std::uint32_t slot, FC_FlowEntryIOC *out, std::uint64_t now) {
    CacheState &state = file.state;
    const SlotMeta &meta = state.meta[slot];
    const FC_FlowEntryIOC *cached = entry_of(&file, slot);
    std::memcpy(out, cached, kEntryHead);
    std::uint32_t entities = meta.entities < FC_MAX_OUT_AC_IOC ? meta.entities : FC_MAX_OUT_AC_IOC;
    out->numActionEntities = static_cast<hyp_uint16>(entities);
    for (std::uint32_t i = 0; i < entities; ++i) {
        const FC_ActionEntityIOC &from = cached->actionEntity[i];
        FC_ActionEntityIOC &to = out->actionEntity[i];
        std::uint32_t ports = from.dstPortsNum < FC_MAX_DPORTS_IOC ? from.dstPortsNum : FC_MAX_DPORTS_IOC;
        std::memcpy(&to, &from, kEntityHead);
        std::memcpy(to.dport, from.dport, ports * sizeof(hyp_SwitchPortID));
        to.dstPortsNum = ports;
    }
    std::uint64_t lifetime = std::uint64_t{expiry_seconds(state)} * 1000u;
    std::uint64_t idle = now > meta.last_used_ms ? now - meta.last_used_ms : 0;
    out->exprTime = static_cast<hyp_uint32>(idle < lifetime ? (lifetime - idle + 999) / 1000 : 0);
    out->tblId = table_id(meta);
    auto report_entity = [&](std::size_t offset, std::uint32_t port) {
        FC_InvalEntity entity{};
        if (InvalSlot *known = port ? find_entity(state, {FC_INVAL_HASH_KEY_TYPE_PORTID, port}) : nullptr) entity = known->entity;
        entity.hashLink = nullptr;
        std::memcpy(reinterpret_cast<char *>(out) + offset, &entity, sizeof entity);
    };
    report_entity(offsetof(FC_FlowEntryIOC, sPortEntity), meta.src_port);
    report_entity(offsetof(FC_FlowEntryIOC, dportEntity), meta.dst_port);
}

}  // namespace fcemu

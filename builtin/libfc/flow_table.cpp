// Installing, finding, evicting, expiring and reporting cached flows.

#include "flow_table.hpp"

#include <cstddef>
#include <cstring>

#include "enablement.hpp"
#include "flow_counters.hpp"
#include "options.hpp"

namespace fcemu {
namespace {

constexpr std::size_t kEntitiesAt = offsetof(FC_FlowEntryIOC, actionEntity);
constexpr std::size_t kPortsAt = offsetof(FC_ActionEntityIOC, dport);
constexpr std::size_t kPortCountAt = offsetof(FC_ActionEntityIOC, dstPortsNum);
constexpr std::uint32_t kNotCached = ~std::uint32_t{0};

// Stores to a record or a link that another process must never see out of
// order with the stores before them (the commit marks).
template <class T>
void publish(T &place, T value) {
    __atomic_store_n(&place, value, __ATOMIC_RELEASE);
}

FC_FlowKey key_of(const FC_FlowEntryIOC &entry) {
    FC_FlowKey key;
    std::memcpy(&key, reinterpret_cast<const char *>(&entry) + offsetof(FC_FlowEntryIOC, fkey), sizeof key);
    return key;
}

bool malformed(const FC_FlowEntryIOC &entry) {
    if (entry.numActionEntities > FC_MAX_OUT_AC_IOC) return true;
    if (entry.fkey.flags & ~FC_FLOWKEY_IPV6) return true;
    for (std::uint32_t i = 0; i < entry.numActionEntities; ++i)
        if (entry.actionEntity[i].dstPortsNum > FC_MAX_DPORTS_IOC) return true;
    return false;
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

// Keeps the non-zero words of each entity's head and every destination
// port as cells; false when they need more than a record holds.
bool compact_entities(const FC_FlowEntryIOC &entry, FlowRecord &record) {
    std::uint32_t cells = 0;
    const char *entities = reinterpret_cast<const char *>(&entry) + kEntitiesAt;
    for (std::uint32_t e = 0; e < entry.numActionEntities; ++e) {
        const char *head = entities + e * sizeof(FC_ActionEntityIOC);
        for (std::uint32_t w = 0; w < kEntityWords; ++w) {
            std::uint32_t word = 0;
            std::size_t at = w * 4u;
            std::memcpy(&word, head + at, at + 4 <= kEntityHead ? 4 : kEntityHead - at);
            if (!word) continue;
            if (cells == kCells) return false;
            record.tag[cells] = static_cast<std::uint16_t>(e * kEntityWords + w);
            record.value[cells++] = word;
        }
    }
    std::uint32_t words = cells;
    for (std::uint32_t e = 0; e < entry.numActionEntities; ++e) {
        const FC_ActionEntityIOC &entity = entry.actionEntity[e];
        for (std::uint32_t p = 0; p < entity.dstPortsNum; ++p) {
            if (cells == kCells) return false;
            if (cells == words) record.dst_port = entity.dport[p];
            record.tag[cells] = static_cast<std::uint16_t>(kPortCell | e);
            record.value[cells++] = entity.dport[p];
        }
    }
    record.cells = static_cast<std::uint8_t>(cells);
    return true;
}

// Writes the record's entity heads and, when with_ports, its destination
// ports into out, whose entities are zero; sets each entity's port count.
void render_entities(const FlowRecord &record, FC_FlowEntryIOC *out, bool with_ports) {
    char *entities = reinterpret_cast<char *>(out) + kEntitiesAt;
    std::uint32_t ports[FC_MAX_OUT_AC_IOC] = {};
    std::uint32_t cells = record.cells < kCells ? record.cells : kCells;
    for (std::uint32_t c = 0; c < cells; ++c) {
        std::uint32_t tag = record.tag[c];
        std::uint32_t e = tag & kPortCell ? tag & ~std::uint32_t{kPortCell} : tag / kEntityWords;
        if (e >= record.entities) continue;
        char *entity = entities + e * sizeof(FC_ActionEntityIOC);
        if (tag & kPortCell) {
            if (with_ports) std::memcpy(entity + kPortsAt + ports[e] * sizeof(hyp_SwitchPortID), &record.value[c], 4);
            ++ports[e];
        } else {
            std::size_t at = (tag % kEntityWords) * 4u;
            std::memcpy(entity + at, &record.value[c], at + 4 <= kEntityHead ? 4 : kEntityHead - at);
        }
    }
    for (std::uint32_t e = 0; e < record.entities; ++e)
        std::memcpy(entities + e * sizeof(FC_ActionEntityIOC) + kPortCountAt, &ports[e], sizeof ports[e]);
}

// The counters' view of a cached flow, from its entity heads rendered into
// a scratch entry (only the parts rendered are cleared and read).
FC_FlowEntryIOC shape_scratch;

FlowShape shape_of_record(const FlowRecord &record) {
    char *entities = reinterpret_cast<char *>(&shape_scratch) + kEntitiesAt;
    std::uint32_t count = record.entities < FC_MAX_OUT_AC_IOC ? record.entities : FC_MAX_OUT_AC_IOC;
    for (std::uint32_t e = 0; e < count; ++e) std::memset(entities + e * sizeof(FC_ActionEntityIOC), 0, kEntityHead);
    FlowRecord bounded = record;
    bounded.entities = static_cast<std::uint8_t>(count);
    render_entities(bounded, &shape_scratch, false);
    shape_scratch.numActionEntities = static_cast<hyp_uint16>(count);
    shape_scratch.fkey.flags = record.key.flags;
    return shape_of(shape_scratch);
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

Bucket &bucket_of(StateFile &file, Place place) { return bucket_at(file, place.table, place.bucket); }

// The record of key in its bucket's chain, or kNotCached.  The walk stops
// at a link out of range, so a damaged chain cannot make it loop for ever.
std::uint32_t find_in_bucket(StateFile &file, Place place, const FC_FlowKey &key) {
    std::uint32_t link = bucket_of(file, place).head;
    for (std::uint32_t steps = 0; link != kNoRecord && link <= entries_per_table(file) && steps <= kWays; ++steps) {
        FlowRecord &record = record_at(file, place.table, link - 1);
        if (record.in_use && std::memcmp(&record.key, &key, sizeof key) == 0) return link - 1;
        link = record.next;
    }
    return kNotCached;
}

Installed hit(StateFile &file, Place place, std::uint32_t index, std::uint64_t packets, std::uint32_t frame_bytes,
              std::uint64_t now) {
    CacheState &state = file.state;
    FlowRecord &record = record_at(file, place.table, index);
    FlowShape shape = shape_of_record(record);
    record.last_used_ms = now;
    record.pkt_count += packets;
    record.pkt_since_flush += packets;
    bucket_of(file, place).hits += static_cast<std::uint32_t>(packets);
    state.stats.lookup.nhits += packets;
    count_packets(state.stats, shape, packets);
    count_port_traffic(state, record.key, packets, packets * frame_bytes);
    return Installed::hit;
}

// Takes a record off the table's free list, or the next never used one;
// kNotCached when the table is full.
std::uint32_t allocate_record(StateFile &file, std::uint32_t table) {
    TableState &state = table_state(file, table);
    std::uint32_t link = state.free_head;
    if (link != kNoRecord && link <= state.high_water && !record_at(file, table, link - 1).in_use) {
        state.free_head = record_at(file, table, link - 1).next;
        return link - 1;
    }
    state.free_head = kNoRecord;        // a damaged list is dropped; repair finds its records again
    if (state.high_water >= entries_per_table(file)) return kNotCached;
    return state.high_water++;
}

bool table_has_room(StateFile &file, std::uint32_t table) {
    const TableState &state = table_state(file, table);
    return state.free_head != kNoRecord || state.high_water < entries_per_table(file);
}

// Evicts the least recently used flow of a full bucket.
void evict_oldest(StateFile &file, Place place) {
    Bucket &bucket = bucket_of(file, place);
    std::uint32_t oldest = kNotCached;
    std::uint64_t oldest_use = ~std::uint64_t{0};
    std::uint32_t link = bucket.head;
    for (std::uint32_t steps = 0; link != kNoRecord && link <= entries_per_table(file) && steps <= kWays; ++steps) {
        const FlowRecord &record = record_at(file, place.table, link - 1);
        if (record.in_use && record.last_used_ms < oldest_use) {
            oldest_use = record.last_used_ms;
            oldest = link - 1;
        }
        link = record.next;
    }
    bucket.evicts += 1;
    if (oldest != kNotCached) remove_flow(file, place.table, oldest);
}

Installed refuse(CacheState &state, hyp_uint64 &counter, Installed why) {
    state.stats.lookup.nmisses += 1;
    state.stats.lookup.failed += 1;
    counter += 1;
    return why;
}

}  // namespace

Place place_of(const StateFile &file, const FC_FlowKey &key) {
    // FNV-1a over the key image; the low bits pick the table, the next
    // ones the bucket, as a per-CPU table set would.
    std::uint64_t hash = 1469598103934665603ull;
    const auto *bytes = reinterpret_cast<const unsigned char *>(&key);
    for (std::size_t i = 0; i < sizeof key; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
    std::uint32_t tables = file.header.tables, buckets = file.header.buckets_per_table;
    return {static_cast<std::uint32_t>(hash % tables), static_cast<std::uint32_t>((hash / tables) % buckets)};
}

std::uint32_t entity_keys(const FlowRecord &record, InvalKey (&keys)[3], std::uint8_t (&usage)[3]) {
    std::uint32_t count = 0;
    keys[count] = {FC_INVAL_HASH_KEY_TYPE_PORTID, record.key.portID};
    usage[count++] = 1;
    if (record.dst_port) {
        keys[count] = {FC_INVAL_HASH_KEY_TYPE_PORTID, record.dst_port};
        usage[count++] = 2;
    }
    if (record.routes()) {
        keys[count] = {FC_INVAL_HASH_KEY_TYPE_VDRID, record.vdr_id};
        usage[count++] = 4;
    }
    return count;
}

Installed install_flow(StateFile &file, const FC_FlowEntryIOC &entry, std::uint32_t frame_bytes, std::uint64_t now) {
    CacheState &state = file.state;
    if (malformed(entry)) return Installed::malformed;
    FC_FlowKey key = key_of(entry);
    std::uint64_t packets = entry.pktCount ? entry.pktCount : 1;
    Place place = place_of(file, key);
    std::uint32_t cached = find_in_bucket(file, place, key);
    if (cached != kNotCached) return hit(file, place, cached, packets, frame_bytes, now);

    FlowRecord record{};
    if (!compact_entities(entry, record)) return Installed::too_large;
    if (!port_caches_ingress(state, key.portID)) {
        state.stats.lookup.unsupported += 1;
        return Installed::port_disabled;
    }
    FlowShape shape = shape_of(entry);
    record.entities = static_cast<std::uint8_t>(entry.numActionEntities);
    record.shape = static_cast<std::uint8_t>(shape.encaps | shape.routes << 4);
    record.key = key;
    record.vdr_id = route_instance(entry);
    record.fc_flags = static_cast<std::uint32_t>(entry.fcFlags) | FC_FLOW_ENTRY_FLAG_INUSE |
                      (shape.dports > 1 ? FC_FLOW_ENTRY_FLAG_MULTI_PORTS : 0);
    record.created = entry.created ? entry.created : now;
    // A flow created earlier than now (a datapath handing over an older
    // flow) has been idle since then.
    record.last_used_ms = record.created < now ? record.created : now;
    record.conf_gen = state.global_conf_gen;
    record.pkt_count = packets;
    record.pkt_since_flush = packets;
    record.num_dports = entry.numDports ? entry.numDports : static_cast<std::uint16_t>(shape.dports);
    record.num_conf_dports = entry.numConfDports ? entry.numConfDports : record.num_dports;

    InvalKey keys[3];
    std::uint8_t usage[3];
    std::uint32_t key_count = entity_keys(record, keys, usage);
    if (!has_room_for(state, keys, key_count)) return refuse(state, state.stats.lookup.fe_inval_init_fail, Installed::inval_full);
    bool evicting = bucket_of(file, place).length >= kWays;
    if (!evicting && !table_has_room(file, place.table))
        return refuse(state, state.stats.lookup.alloc.fe_fail, Installed::table_full);
    if (evicting) evict_oldest(file, place);

    // The order below is what a killed writer can leave behind: entities
    // referenced and the allocation counted before the record is committed,
    // the record committed before it is linked.  Repair recomputes the
    // derived parts from the committed records either way.
    std::uint32_t index = allocate_record(file, place.table);
    if (index == kNotCached) return refuse(state, state.stats.lookup.alloc.fe_fail, Installed::table_full);
    for (std::uint32_t i = 0; i < key_count; ++i) reference_entity(state, keys[i], usage[i]);
    count_allocation(state.stats, shape);
    record.flow_id = state.next_flow_id++;
    FlowRecord &stored = record_at(file, place.table, index);
    std::memcpy(static_cast<void *>(&stored), &record, sizeof record);
    publish(stored.in_use, std::uint8_t{1});
    Bucket &bucket = bucket_of(file, place);
    stored.next = bucket.head;
    publish(bucket.head, index + 1);
    bucket.length += 1;
    table_state(file, place.table).flows += 1;
    state.flow_count += 1;
    if (record.last_used_ms < state.oldest_use_ms) state.oldest_use_ms = record.last_used_ms;

    // The first packet missed and installed the flow; the rest hit it.
    state.stats.lookup.nmisses += 1;
    state.stats.lookup.nhits += packets - 1;
    bucket.hits += static_cast<std::uint32_t>(packets - 1);
    count_packets(state.stats, shape, packets);
    count_port_traffic(state, key, packets, packets * frame_bytes);
    return evicting ? Installed::new_flow_evicting : Installed::new_flow;
}

void remove_flow(StateFile &file, std::uint32_t table, std::uint32_t index) {
    CacheState &state = file.state;
    FlowRecord &record = record_at(file, table, index);
    if (!record.in_use) return;
    publish(record.in_use, std::uint8_t{0});
    Place place = place_of(file, record.key);
    Bucket &bucket = bucket_of(file, place);
    std::uint32_t *link = &bucket.head;
    for (std::uint32_t steps = 0; *link != kNoRecord && *link <= entries_per_table(file) && steps <= kWays; ++steps) {
        if (*link == index + 1) {
            publish(*link, record.next);
            if (bucket.length) bucket.length -= 1;
            break;
        }
        link = &record_at(file, place.table, *link - 1).next;
    }
    TableState &owner = table_state(file, table);
    record.next = owner.free_head;
    publish(owner.free_head, index + 1);
    if (owner.flows) owner.flows -= 1;
    if (state.flow_count) state.flow_count -= 1;
    InvalKey keys[3];
    std::uint8_t usage[3];
    std::uint32_t key_count = entity_keys(record, keys, usage);
    for (std::uint32_t i = 0; i < key_count; ++i) release_entity(state, keys[i]);
    count_release(state.stats, record.entities, record.encaps(), record.routes());
}

void expire_idle_flows(StateFile &file, std::uint64_t now) {
    CacheState &state = file.state;
    std::uint64_t lifetime = std::uint64_t{expiry_seconds(state)} * 1000u;
    // oldest_use_ms bounds every flow's last use from below, so nothing
    // can have expired before it is a lifetime old: most calls scan nothing.
    if (state.oldest_use_ms <= now && now - state.oldest_use_ms < lifetime) return;
    std::uint64_t oldest = now;
    for_each_flow(file, 0, table_count(file), [&](std::uint32_t table, std::uint32_t index, FlowRecord &record) {
        if (now >= record.last_used_ms && now - record.last_used_ms >= lifetime)
            remove_flow(file, table, index);
        else if (record.last_used_ms < oldest)
            oldest = record.last_used_ms;
    });
    state.oldest_use_ms = oldest;
}

void report_flow(StateFile &file, std::uint32_t table, std::uint32_t index, FC_FlowEntryIOC *out, std::uint64_t now) {
    CacheState &state = file.state;
    const FlowRecord &record = record_at(file, table, index);
    FlowRecord bounded = record;
    if (bounded.entities > FC_MAX_OUT_AC_IOC) bounded.entities = FC_MAX_OUT_AC_IOC;
    render_entities(bounded, out, true);
    out->fcFlags = static_cast<FC_FlowEntryFlags>(record.fc_flags);
    out->flowId = record.flow_id;
    std::memcpy(reinterpret_cast<char *>(out) + offsetof(FC_FlowEntryIOC, fkey), &record.key, sizeof record.key);
    out->pktCount = record.pkt_count;
    out->pktCntSinceFlush = record.pkt_since_flush;
    out->created = record.created;
    out->confGen = record.conf_gen;
    out->tblId = table + 1;
    out->numDports = record.num_dports;
    out->numConfDports = record.num_conf_dports;
    out->numActionEntities = bounded.entities;
    std::uint64_t lifetime = std::uint64_t{expiry_seconds(state)} * 1000u;
    std::uint64_t idle = now > record.last_used_ms ? now - record.last_used_ms : 0;
    out->exprTime = static_cast<hyp_uint32>(idle < lifetime ? (lifetime - idle + 999) / 1000 : 0);

    // The flow's own statistics: its first packet missed, the rest hit.
    FlowShape shape = shape_of(*out);
    FC_CacheStats stats{};
    stats.lookup.nmisses = 1;
    stats.lookup.nhits = record.pkt_count - 1;
    count_allocation(stats, shape);
    count_packets(stats, shape, record.pkt_count);
    std::memcpy(reinterpret_cast<char *>(out) + offsetof(FC_FlowEntryIOC, stats), &stats, sizeof stats);

    auto report_entity = [&](std::size_t offset, std::uint32_t port) {
        InvalSlot *known = port ? find_entity(state, {FC_INVAL_HASH_KEY_TYPE_PORTID, port}) : nullptr;
        if (!known) return;
        FC_InvalEntity entity = known->entity;
        entity.hashLink = nullptr;
        std::memcpy(reinterpret_cast<char *>(out) + offset, &entity, sizeof entity);
    };
    report_entity(offsetof(FC_FlowEntryIOC, sPortEntity), record.key.portID);
    report_entity(offsetof(FC_FlowEntryIOC, dportEntity), record.dst_port);
}

}  // namespace fcemu

// Synthetic traffic: flows of the kinds a hypervisor host caches, on a few
// portsets, derived from a seed so that runs repeat exactly.

#include <climits>
#include <cstdio>
#include <cstring>

#include "enablement.hpp"
#include "flow_table.hpp"
#include "state_file.hpp"

namespace fcemu {
namespace {

struct Portset {
    const char *name;
    std::uint32_t first_port;           // ports first_port+1 .. +kPortsPerSet, uplink +kUplink
};
constexpr Portset kTrafficPortsets[] = {
    {"portset-0", 0x2000000},
    {"portset-1", 0x4000000},
    {"switch0", 0x6000000},
};
constexpr std::uint32_t kPortsPerSet = 8;
constexpr std::uint32_t kUplink = 100;

// splitmix64: independent values per (seed, flow, draw).
struct Random {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint32_t limit) { return static_cast<std::uint32_t>(next() % limit); }
};

enum FlowKind { kPlainV4, kVxlanEncapV4, kGeneveDecapV6, kRoutedV4, kMultiDest, kVlanMarkedV6, kDropV4, kVxlanDecapV4,
                kGeneveEncapV6, kKinds };

constexpr std::uint64_t bit(int action) { return std::uint64_t{1} << action; }

// Locally administered addresses (02:...), as sample traffic should have.
void set_mac(unsigned char *mac, std::uint8_t kind, std::uint32_t tail) {
    const unsigned char bytes[6] = {0x02, 0x00, kind, static_cast<unsigned char>(tail >> 16),
                                    static_cast<unsigned char>(tail >> 8), static_cast<unsigned char>(tail)};
    std::memcpy(mac, bytes, 6);
}

void set_ipv4(void *field, std::uint8_t a, std::uint8_t b, std::uint32_t tail) {
    const unsigned char bytes[4] = {a, b, static_cast<unsigned char>(tail >> 8), static_cast<unsigned char>(tail)};
    std::memcpy(field, bytes, 4);
}

void set_ipv6(unsigned char *field, std::uint16_t net, std::uint32_t tail) {
    std::memset(field, 0, 16);
    field[0] = 0xfd;
    field[1] = 0x00;
    field[2] = static_cast<unsigned char>(net >> 8);
    field[3] = static_cast<unsigned char>(net);
    for (int i = 0; i < 4; ++i) field[12 + i] = static_cast<unsigned char>(tail >> (24 - 8 * i));
}

// Clears the parts of the scratch entry that a flow uses.
void clear_entry(FC_FlowEntryIOC *entry) {
    std::memset(entry, 0, offsetof(FC_FlowEntryIOC, actionEntity));
    for (FC_ActionEntityIOC &entity : entry->actionEntity) {
        std::memset(&entity, 0, offsetof(FC_ActionEntityIOC, dport));
        entity.dstPortsNum = 0;
    }
}

void add_dport(FC_ActionEntityIOC &entity, std::uint32_t port) { entity.dport[entity.dstPortsNum++] = port; }

void build_flow(FC_FlowEntryIOC *entry, Random &random, std::uint32_t index, std::uint32_t &frame_bytes) {
    clear_entry(entry);
    const Portset &portset = kTrafficPortsets[random.below(3)];
    std::uint32_t source_port = portset.first_port + 1 + random.below(kPortsPerSet);
    std::uint32_t dest_port = portset.first_port + 1 + (source_port - portset.first_port) % kPortsPerSet;
    std::uint32_t uplink = portset.first_port + kUplink;
    auto kind = static_cast<FlowKind>(random.below(kKinds));
    bool ipv6 = kind == kGeneveDecapV6 || kind == kVlanMarkedV6 || kind == kGeneveEncapV6;

    FC_FlowKey key{};
    key.portID = source_port;
    set_mac(key.l2Key.saddr, 0x00, source_port & 0xffff);
    set_mac(key.l2Key.daddr, 0x00, dest_port & 0xffff);
    key.l2Key.etype = ipv6 ? 0x86dd : 0x0800;
    key.proto = random.below(4) == 0 ? 17 : 6;
    key.flags = ipv6 ? FC_FLOWKEY_IPV6 : 0;
    if (ipv6) {
        set_ipv6(key.ipKey.ipv6Key.sip, 1, index * 2 + 1);
        set_ipv6(key.ipKey.ipv6Key.dip, 2, random.below(1u << 20));
    } else {
        set_ipv4(&key.ipKey.ipv4Key.sip, 10, 1, index);
        set_ipv4(&key.ipKey.ipv4Key.dip, 10, 2, random.below(1u << 16));
    }

    FC_ActionEntityIOC &first = entry->actionEntity[0];
    FC_ClientDataIOC &data = first.clientData;
    entry->numActionEntities = 1;
    std::uint64_t actions = bit(FC_ACTION_DST_PORT);
    std::uint32_t vni = 5000 + random.below(64);
    switch (kind) {
    case kPlainV4:
        add_dport(first, dest_port);
        break;
    case kVxlanEncapV4:
    case kGeneveEncapV6: {
        actions |= bit(kind == kVxlanEncapV4 ? FC_ACTION_VDL2_ENCAP_VXLAN : FC_ACTION_VDL2_ENCAP_GENEVE) | bit(FC_ACTION_OVERLAY_VNI_SET);
        FC_VDL2EncapActionDataIOC &encap = data.vdl2EncapData;
        encap.mtu = 1600;
        set_mac(encap.saddr, 0x00, 0xa000 + (portset.first_port >> 24));
        set_mac(encap.daddr, 0x00, 0xb000 + random.below(16));
        encap.virtualNetworkId = vni;
        encap.isV6 = ipv6;
        if (ipv6) {
            set_ipv6(encap.sip, 0x100, 1);
            set_ipv6(encap.dip, 0x100, 2 + random.below(16));
        } else {
            set_ipv4(encap.sip, 192, 168, 1);
            set_ipv4(encap.dip, 192, 168, 2 + random.below(16));
        }
        data.vniData.vni = vni;
        entry->fcFlags = FC_FLOW_ENTRY_DEST_UPLINK;
        add_dport(first, uplink);
        break;
    }
    case kGeneveDecapV6:
    case kVxlanDecapV4: {
        actions |= bit(kind == kGeneveDecapV6 ? FC_ACTION_VDL2_DECAP_GENEVE : FC_ACTION_VDL2_DECAP_VXLAN) | bit(FC_ACTION_OVERLAY_VNI_CLEAR);
        FC_VDL2DecapActionData &decap = data.vdl2DecapData;
        decap.vtepPortID = uplink;
        decap.label = vni;
        decap.isV6 = ipv6;
        decap.isGeneve = kind == kGeneveDecapV6;
        set_mac(decap.dmac, 0x00, 0xa000 + (portset.first_port >> 24));
        set_mac(decap.smac, 0x00, 0xb000 + random.below(16));
        key.portID = uplink;
        key.vni = vni;
        set_mac(key.inner.l2Key.saddr, 0x00, 0xc000 + random.below(256));
        set_mac(key.inner.l2Key.daddr, 0x00, dest_port & 0xffff);
        key.inner.l2Key.etype = key.l2Key.etype;
        entry->fcFlags = FC_FLOW_ENTRY_FLAG_DO_INNER_LOOKUP;
        add_dport(first, dest_port);
        break;
    }
    case kRoutedV4: {
        actions |= bit(FC_ACTION_VDR_ROUTE) | bit(FC_ACTION_SRC_MAC_CHANGE) | bit(FC_ACTION_DST_MAC_CHANGE) | bit(FC_ACTION_VDR_TTL_CHECK);
        FC_VDRActionData &route = data.vdrData;
        route.curInst = 0;
        route.hops = 1;
        set_mac(route.saddr, 0x02, 0x0100);
        set_mac(route.daddr, 0x00, dest_port & 0xffff);
        FC_VdrInfo info{};
        info.decrTTL = 1;
        info.vdrId = 1000 + random.below(4);
        std::memcpy(&route.vdrActions[0].vdrInfo, &info, sizeof info);
        add_dport(first, dest_port);
        break;
    }
    case kMultiDest: {
        set_mac(key.l2Key.daddr, 0x01, 0x5e0000 + random.below(256));   // IPv4 multicast group
        std::uint32_t copies = 2 + random.below(kPortsPerSet - 1);
        for (std::uint32_t i = 0; i < copies; ++i) add_dport(first, portset.first_port + 1 + (source_port + i) % kPortsPerSet);
        if (random.below(2)) {                  // a second entity towards the uplink, encapsulated
            FC_ActionEntityIOC &second = entry->actionEntity[1];
            second.actionsBitMap = bit(FC_ACTION_DST_PORT) | bit(FC_ACTION_VDL2_ENCAP_VXLAN);
            second.clientData.vdl2EncapData.mtu = 1600;
            second.clientData.vdl2EncapData.virtualNetworkId = vni;
            second.replData.replReq = FC_REPL_REQ_DUPLICATE;
            add_dport(second, uplink);
            entry->numActionEntities = 2;
        }
        first.replData.replReq = FC_REPL_REQ_PARTIAL_COPY;
        break;
    }
    case kVlanMarkedV6:
        actions |= bit(FC_ACTION_VSWITCH_VLAN_INSERT) | bit(FC_ACTION_VDL2_TRAFFICMARK_DSCP);
        data.vlanData.vlanID = static_cast<hyp_VlanID>(100 + random.below(8));
        data.vlanData.priority = static_cast<hyp_VlanPriority>(random.below(8));
        data.vdl2TmData.dscp = 46;
        key.l2Key.vlanid = data.vlanData.vlanID;
        add_dport(first, uplink);
        entry->fcFlags = FC_FLOW_ENTRY_DEST_UPLINK;
        break;
    case kDropV4:
        actions = bit(FC_ACTION_DROP);
        entry->fcFlags = FC_FLOW_ENTRY_FLAG_DROP;
        break;
    case kKinds:
        break;
    }
    first.actionsBitMap = actions;
    std::memcpy(reinterpret_cast<char *>(entry) + offsetof(FC_FlowEntryIOC, fkey), &key, sizeof key);
    entry->pktCount = 1 + random.below(64);
    frame_bytes = 64 + random.below(1437);
}

// The ports the traffic runs on, registered as enabled unless configured.
bool register_ports(CacheState &state) {
    for (const Portset &portset : kTrafficPortsets) {
        int index = add_portset(state, portset.name);
        if (index == kNotFound) return false;
        char name[16];
        for (std::uint32_t port = 1; port <= kUplink; port = port == kPortsPerSet ? kUplink : port + 1) {
            std::snprintf(name, sizeof name, "%u", portset.first_port + port);
            if (add_port(state, index, name, FC_PORT_ENABLE_DIR_ALL) == kNotFound) return false;
        }
    }
    return true;
}

FC_FlowEntryIOC scratch;

void tally(fcemu_traffic_result &result, Installed what) {
    switch (what) {
    case Installed::new_flow_evicting: ++result.evicted; [[fallthrough]];
    case Installed::new_flow: ++result.installed; break;
    case Installed::hit: ++result.hits; break;
    case Installed::table_full: ++result.table_full; break;
    case Installed::inval_full: ++result.inval_full; break;
    case Installed::port_disabled: ++result.port_disabled; break;
    case Installed::malformed:
    case Installed::too_large: break;       // the generator makes neither
    }
}

}  // namespace
}  // namespace fcemu

using namespace fcemu;

extern "C" fcemu_status fcemu_model_traffic(unsigned int first, unsigned int flows, unsigned int seed,
                                            fcemu_traffic_result *result) {
    *result = fcemu_traffic_result{};
    // One call holds the lock throughout: the limit keeps it well under the
    // other processes' lock wait, and the flow index and count from wrapping.
    if (flows > FCEMU_MAX_TRAFFIC_FLOWS)
        return fail(FCEMU_BAD_VALUE, "%u flows: at most %u in one call", flows, FCEMU_MAX_TRAFFIC_FLOWS);
    if (flows > UINT_MAX - first)
        return fail(FCEMU_BAD_VALUE, "flows %u to %llu: the flow index stops at %u", first,
                    static_cast<unsigned long long>(first) + flows - 1, UINT_MAX);
    StateAccess access;
    if (access.status()) return access.status();
    if (!register_ports(access.state())) return fail(FCEMU_NO_MEMORY, "no room for the traffic's ports");
    for (unsigned int i = first; i - first < flows; ++i) {
        Random random{(std::uint64_t{seed} << 32) ^ (std::uint64_t{i} * 0x100000001b3ull)};
        std::uint32_t frame_bytes = 0;
        build_flow(&scratch, random, i, frame_bytes);
        tally(*result, install_flow(*access.file(), scratch, frame_bytes, access.now()));
    }
    return FCEMU_OK;
}

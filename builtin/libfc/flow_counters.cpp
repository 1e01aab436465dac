// Counting a flow's packets and allocations.

#include "flow_counters.hpp"

#include <cstring>

namespace fcemu {
namespace {

constexpr std::uint64_t bit(int action) { return std::uint64_t{1} << action; }

constexpr std::uint64_t kEncapActions = bit(FC_ACTION_VDL2_ENCAP_GENEVE) | bit(FC_ACTION_VDL2_ENCAP_VXLAN);
constexpr std::uint64_t kDecapActions = bit(FC_ACTION_VDL2_DECAP_GENEVE) | bit(FC_ACTION_VDL2_DECAP_VXLAN);

}  // namespace

FlowShape shape_of(const FC_FlowEntryIOC &entry) {
    FlowShape shape{};
    shape.entities = entry.numActionEntities < FC_MAX_OUT_AC_IOC ? entry.numActionEntities : FC_MAX_OUT_AC_IOC;
    for (std::uint32_t i = 0; i < shape.entities; ++i) {
        const FC_ActionEntityIOC &entity = entry.actionEntity[i];
        std::uint64_t actions = entity.actionsBitMap;
        shape.actions |= actions;
        shape.encaps += (actions & kEncapActions) != 0;
        shape.routes += (actions & bit(FC_ACTION_VDR_ROUTE)) != 0;
        shape.dports += entity.dstPortsNum < FC_MAX_DPORTS_IOC ? entity.dstPortsNum : FC_MAX_DPORTS_IOC;
        if (actions & kDecapActions) shape.from_nested |= entity.clientData.vdl2DecapData.fromNestedTN != 0;
    }
    shape.ipv6 = (entry.fkey.flags & FC_FLOWKEY_IPV6) != 0;
    return shape;
}

void count_packets(FC_CacheStats &stats, const FlowShape &shape, std::uint64_t packets) {
    std::uint64_t actions = shape.actions;
    auto has = [actions](int action) { return (actions & bit(action)) != 0; };
    FC_CacheStats_actions &done = stats.actions;
    if (has(FC_ACTION_DO_NOT_CACHE)) done.doNotCache += packets;
    if (actions & kDecapActions) {
        done.decap.completed += packets;
        if (shape.from_nested) done.decap.fromNestedTN += packets;
    }
    if (actions & kEncapActions) done.encap.completed += packets;
    if (has(FC_ACTION_VSWITCH_VLAN_INSERT) || has(FC_ACTION_VSWITCH_VLAN_REMOVE)) done.vlan.completed += packets;
    if (has(FC_ACTION_VSWITCH_PRIO_INSERT) || has(FC_ACTION_VSWITCH_PRIO_REMOVE)) done.prio.completed += packets;
    if (has(FC_ACTION_VDL2_GUEST_VLAN_INSERT)) done.guest_vlan_insert.completed += packets;
    if (has(FC_ACTION_VDL2_GUEST_VLAN_REMOVE)) done.guest_vlan_remove.completed += packets;
    if (has(FC_ACTION_VDR_ROUTE)) (shape.ipv6 ? done.vdr.completedV6 : done.vdr.completedV4) += packets;
    if (has(FC_ACTION_VDL2_TRAFFICMARK_DSCP)) done.trafficmark_dscp.completed += packets;
    if (has(FC_ACTION_VDL2_TRAFFICMARK_COS)) done.trafficmark_cos.completed += packets;
    if (has(FC_ACTION_DROP)) done.drop.completed += packets;
    if (has(FC_ACTION_OVERLAY_VNI_SET)) done.vni.setCompleted += packets;
    if (has(FC_ACTION_OVERLAY_VNI_CLEAR)) done.vni.clearCompleted += packets;
    if (has(FC_ACTION_SLOWPATH)) done.slowpath.completed += packets;
    if (shape.entities > 1 || shape.dports > 1) stats.lookup.multi_dest += packets;
}

void count_allocation(FC_CacheStats &stats, const FlowShape &shape) {
    stats.lookup.alloc.fe += 1;
    stats.lookup.alloc.actionEntity += shape.entities;
    stats.lookup.alloc.vdl2EncapData += shape.encaps;
    stats.lookup.alloc.vdrData += shape.routes;
}

void count_release(FC_CacheStats &stats, std::uint32_t entities, std::uint32_t encaps, std::uint32_t routes) {
    stats.lookup.free.fe += 1;
    stats.lookup.free.actionEntity += entities;
    stats.lookup.free.vdl2EncapData += encaps;
    stats.lookup.free.vdrData += routes;
}

}  // namespace fcemu

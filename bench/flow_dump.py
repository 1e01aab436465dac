"""Dumping a flow query result field by field, the way a diagnostic script
does: per flow its id, key, addresses as text, counters, and per action
entity the names of its actions and its destination ports.

Every reader returns the same list of tuples, so the runs can be checked
against each other before they are timed."""

import ctypes
import socket

import _libfc
import ctypes_records

FLOWKEY_IPV6 = _libfc.FC_FLOWKEY_IPV6

# Bit n of actionsBitMap stands for the action whose value is n.
ACTION_NAMES = {getattr(_libfc, name): name[len("FC_ACTION_"):] for name in dir(_libfc)
                if name.startswith("FC_ACTION_") and name != "FC_ACTION_MAX"}


def action_names(bits):
    names = []
    while bits:
        lowest = bits & -bits
        names.append(ACTION_NAMES[lowest.bit_length() - 1])
        bits ^= lowest
    return tuple(names)


def _companion_flow(entry, srcip, dstip):
    key = entry.fkey
    l2 = key.l2Key
    v6 = key.flags & FLOWKEY_IPV6
    actions = [(action_names(entity.actionsBitMap), list(entity)) for entity in entry]
    return (entry.flowId, key.portID, key.vni, l2.saddr, l2.daddr, l2.etype, l2.vlanid, key.proto,
            srcip(entry, v6), dstip(entry, v6), entry.pktCount, entry.pktCntSinceFlush, entry.exprTime,
            entry.created, entry.confGen, entry.tblId, actions)


def companion_views(flows):
    """Iterating the companion's query buffer: each entry a view into it."""
    srcip, dstip = _libfc.FC_FlowEntryIOC_get_srcip_entry, _libfc.FC_FlowEntryIOC_get_dstip_entry
    return [_companion_flow(entry, srcip, dstip) for entry in flows]


def companion_copies(flows):
    """Indexing the companion's query buffer: each entry an owned copy."""
    srcip, dstip = _libfc.FC_FlowEntryIOC_get_srcip_entry, _libfc.FC_FlowEntryIOC_get_dstip_entry
    return [_companion_flow(flows[i], srcip, dstip) for i in range(len(flows))]


def _bare_reader(take_entry):
    m = _libfc
    fkey, l2key, flags = m.FC_FlowEntryIOC_fkey_get, m.FC_FlowKey_l2Key_get, m.FC_FlowKey_flags_get
    saddr, daddr = m.FC_l2Key_saddr_get, m.FC_l2Key_daddr_get
    entity_at, entity_count = m.FC_FlowEntryIOC___getitem__, m.FC_FlowEntryIOC_numActionEntities_get
    bitmap, port_count, port_at = (m.FC_ActionEntityIOC_actionsBitMap_get, m.FC_ActionEntityIOC_dstPortsNum_get,
                                   m.FC_ActionEntityIOC___getitem__)
    srcip, dstip = m.FC_FlowEntryIOC_get_srcip_entry, m.FC_FlowEntryIOC_get_dstip_entry

    def read(flows):
        out = []
        for i in range(m.FC_IOCFlows_numEntries_get(flows)):
            entry = take_entry(flows, i)
            key = fkey(entry)
            l2 = l2key(key)
            v6 = flags(key) & FLOWKEY_IPV6
            actions = []
            for j in range(entity_count(entry)):
                entity = entity_at(entry, j)
                actions.append((action_names(bitmap(entity)),
                                [port_at(entity, p) for p in range(port_count(entity))]))
            out.append((m.FC_FlowEntryIOC_flowId_get(entry), m.FC_FlowKey_portID_get(key),
                        m.FC_FlowKey_vni_get(key), saddr(l2), daddr(l2), m.FC_l2Key_etype_get(l2),
                        m.FC_l2Key_vlanid_get(l2), m.FC_FlowKey_proto_get(key), srcip(entry, v6),
                        dstip(entry, v6), m.FC_FlowEntryIOC_pktCount_get(entry),
                        m.FC_FlowEntryIOC_pktCntSinceFlush_get(entry), m.FC_FlowEntryIOC_exprTime_get(entry),
                        m.FC_FlowEntryIOC_created_get(entry), m.FC_FlowEntryIOC_confGen_get(entry),
                        m.FC_FlowEntryIOC_tblId_get(entry), actions))
        return out

    return read


bare_views = _bare_reader(_libfc.FC_IOCFlows_get_flow)
bare_copies = _bare_reader(_libfc.FC_IOCFlows___getitem__)


def ctypes_expert(address):
    """The same dump from the buffer's address with ctypes: the entries laid
    over the buffer as one array, addresses formatted by the socket module."""
    header = ctypes_records.FC_IOCFlowsHeader.from_address(address)
    entries = (ctypes_records.FC_FlowEntryIOC * header.numEntries).from_address(
        address + ctypes.sizeof(ctypes_records.FC_IOCFlowsHeader))
    ntop, inet, inet6 = socket.inet_ntop, socket.AF_INET, socket.AF_INET6
    out = []
    for entry in entries:
        key = entry.fkey
        l2 = key.l2Key
        if key.flags & FLOWKEY_IPV6:
            pair = key.ipKey.ipv6Key
            src, dst = ntop(inet6, bytes(pair.sip)), ntop(inet6, bytes(pair.dip))
        else:
            pair = key.ipKey.ipv4Key
            src, dst = ntop(inet, pair.sip.to_bytes(4, "little")), ntop(inet, pair.dip.to_bytes(4, "little"))
        actions = []
        for entity in entry.actionEntity[:entry.numActionEntities]:
            actions.append((action_names(entity.actionsBitMap), entity.dport[:entity.dstPortsNum]))
        out.append((entry.flowId, key.portID, key.vni, bytes(l2.saddr).hex(":"), bytes(l2.daddr).hex(":"),
                    l2.etype, l2.vlanid, key.proto, src, dst, entry.pktCount, entry.pktCntSinceFlush,
                    entry.exprTime, entry.created, entry.confGen, entry.tblId, actions))
    return out


"""``flows`` lists the cached flows that match a filter; ``flows remove``
removes them.  The filter options are the criteria of FC_GetFlows, in its
argument order; an option left out matches every flow."""

import time

import _libfc

from . import _output, _values
from ._library import bad_input

# Option, FC_FlowsFilter field, parser, help; in the operations' argument order.
FILTERS = [
    ("--src", "sip", _values.ip_address, "source address (IPv4, or IPv6: its last 4 bytes are compared)"),
    ("--dst", "dip", _values.ip_address, "destination address"),
    ("--v6", "isV6", None, "IPv6 flows only"),
    ("--port", "switchPort", _values.uint32, "switch port id the flow came in on"),
    ("--dmac", "daddr", _values.mac_address, "outer destination MAC"),
    ("--vni", "vni", _values.uint32, "overlay network id"),
    ("--ether", "ether", _values.ether_type, "ether type (number or ipv4, ipv6, arp, ...)"),
    ("--vlan", "vlanid", _values.uint32, "VLAN id"),
    ("--proto", "proto", _values.protocol, "layer-4 protocol (number or tcp, udp, icmp, ...)"),
    ("--inner-dmac", "innerdaddr", _values.mac_address, "inner destination MAC"),
    ("--table", "tid", _values.uint32, "hash table id"),
]


def _action_names():
    """Bit n of an action bit map stands for the FC_ACTION_* constant n."""
    names = {}
    for name, value in vars(_libfc).items():
        if name.startswith("FC_ACTION_") and isinstance(value, int) and name != "FC_ACTION_MAX":
            names[value] = name[len("FC_ACTION_"):].lower()
    return names


ACTION_NAMES = _action_names()


def action_names(bit_map):
    names = []
    for bit in range(64):
        if bit_map >> bit & 1:
            names.append(ACTION_NAMES.get(bit, "bit%d" % bit))
    return names


def _add_filters(parser):
    group = parser.add_argument_group("filter (every given criterion must match)")
    for option, field, parse, text in FILTERS:
        if parse is None:
            group.add_argument(option, dest=field, action="store_true", help=text)
        else:
            group.add_argument(option, dest=field, type=parse, metavar=field.upper(), help=text)


def register(subparsers):
    parser = subparsers.add_parser("flows", help="list cached flows",
                                   description="List the cached flows that match the filter.")
    _add_filters(parser)
    parser.add_argument("--json", action="store_true", help="print JSON instead of a table")
    parser.add_argument("--limit", type=_values.positive, metavar="N", help="show at most N flows")
    parser.set_defaults(handler=show)
    actions = parser.add_subparsers(dest="flows_action", metavar="{remove}")
    remove_parser = actions.add_parser("remove", help="remove the flows that match the filter",
                                       description="Remove the cached flows that match the filter.")
    _add_filters(remove_parser)
    remove_parser.add_argument("--all", action="store_true", help="needed to remove every flow (no filter)")
    remove_parser.set_defaults(handler=remove)


def filter_arguments(args):
    """The eleven arguments of FC_GetFlows and FC_RemoveFlows from the options."""
    addresses = [a for a in (args.sip, args.dip) if a is not None]
    versions = {a.version for a in addresses}
    if len(versions) > 1:
        raise bad_input("--src and --dst are of different address families")
    if args.isV6 and versions == {4}:
        raise bad_input("--v6 with an IPv4 address")
    is_v6 = bool(args.isV6) or versions == {6}
    values = {
        "sip": _values.key_word(args.sip) if args.sip is not None else 0,
        "dip": _values.key_word(args.dip) if args.dip is not None else 0,
        "isV6": 1 if is_v6 else 0,
    }
    result = []
    for _, field, _, _ in FILTERS:
        if field in values:
            result.append(values[field])
        else:
            value = getattr(args, field)
            result.append(value if value is not None else (None if field.endswith("daddr") else 0))
    return result


def has_filter(args):
    return any(getattr(args, field) not in (None, False, 0) for _, field, _, _ in FILTERS)


def describe(entry, now_ms):
    """One flow entry as plain values."""
    key = entry.fkey
    is_v6 = key.flags & _libfc.FC_FLOWKEY_IPV6
    entities = []
    for entity in entry:
        entities.append({"actions": action_names(entity.actionsBitMap), "dst_ports": list(entity)})
    age_ms = now_ms - entry.created if entry.created else 0
    return {
        "id": entry.flowId,
        "flags": entry.fcFlags,
        "table": entry.tblId,
        "port": key.portID,
        "vni": key.vni,
        "ipv6": bool(is_v6),
        "src": _libfc.FC_FlowEntryIOC_get_srcip_entry(entry, is_v6),
        "dst": _libfc.FC_FlowEntryIOC_get_dstip_entry(entry, is_v6),
        "proto": key.proto,
        "ether": key.l2Key.etype,
        "vlan": key.l2Key.vlanid,
        "src_mac": key.l2Key.saddr,
        "dst_mac": key.l2Key.daddr,
        "inner_dst_mac": key.inner.l2Key.daddr,
        "entities": entities,
        "packets": entry.pktCount,
        "age_s": max(age_ms, 0) // 1000,
        "expires_in_s": entry.exprTime,
    }


def _query(args):
    flows = _libfc.FC_GetFlows(*filter_arguments(args))
    if flows is None:
        return 0, []
    count = len(flows)
    if args.limit is not None:
        count = min(count, args.limit)
    progress = _output.Progress("reading flows", count)
    now_ms = int(time.time() * 1000)
    described = []
    for index, entry in enumerate(flows):
        if index >= count:
            break
        described.append(describe(entry, now_ms))
        progress.update(index + 1)
    progress.finish()
    return flows.totalEntries, described


def _ports_text(ports, most=4):
    shown = ",".join(str(p) for p in ports[:most])
    return shown + (",+%d" % (len(ports) - most) if len(ports) > most else "")


def _row(flow):
    proto = _values.PROTOCOL_NAMES.get(flow["proto"], str(flow["proto"]))
    actions = ";".join(",".join(e["actions"]) or "-" for e in flow["entities"]) or "-"
    ports = ";".join(_ports_text(e["dst_ports"]) or "-" for e in flow["entities"]) or "-"
    return [flow["id"], flow["port"], flow["vni"], flow["src"], flow["dst"], proto,
            flow["src_mac"], flow["dst_mac"], actions, ports, flow["packets"],
            _output.duration(flow["age_s"]), _output.duration(flow["expires_in_s"])]


HEADERS = ["ID", "PORT", "VNI", "SOURCE", "DESTINATION", "PROTO", "SRC MAC", "DST MAC",
           "ACTIONS", "DST PORTS", "PACKETS", "AGE", "EXPIRES"]


def show(args):
    total, flows = _query(args)
    if args.json:
        _output.dump_json({"total": total, "shown": len(flows), "flows": flows})
        return 0
    if not flows:
        print("no flows match" if total == 0 else "%d flows match; none shown" % total)
        return 0
    _output.table(HEADERS, [_row(flow) for flow in flows])
    if len(flows) < total:
        print("(%d of %d matching flows shown)" % (len(flows), total))
    return 0


def remove(args):
    if not has_filter(args) and not args.all:
        raise bad_input("flows remove without a filter removes every flow: add --all to confirm")
    values = filter_arguments(args)
    before = _libfc.FC_GetFlows(*values)
    matched = before.totalEntries if before is not None else 0
    _libfc.FC_RemoveFlows(*values)
    print("removed %d flow%s" % (matched, "" if matched == 1 else "s"))
    return 0

"""A script using the package as its users do, for the type checkers: it
must check cleanly under mypy --strict and pyright. It is checked, not run."""

import argparse
from typing import Dict, List, Optional

import _libfc
import _libfc_ptr
import libfc
import libfc.dvs
import libfc.ipfix
import libfc.snapshot
from libfc._walk import Flow, Walk
from libfc.cli import build_parser, main, version_text
from libfc.cli import flows as flows_command
from libfc.cli import stats as stats_command


def busiest_ports(limit: int) -> Dict[int, int]:
    packets: Dict[int, int] = {}
    walk: Walk = libfc.flows(proto=6, vni=5001, src="10.0.0.1", dmac="02:00:00:aa:bb:cc")
    for flow in walk:
        packets[flow.port] = packets.get(flow.port, 0) + flow.packets
    unreachable: int = walk.unreachable
    total: Optional[int] = walk.total
    print(total, unreachable)
    return dict(sorted(packets.items(), key=lambda item: -item[1])[:limit])


def describe(flow: Flow) -> str:
    actions: List[str] = flow.actions
    ports: List[int] = flow.dst_ports
    text: str = flow.src_text + " -> " + flow.dst_text
    return "%s %s %s %s %d" % (text, actions, ports, flow.json_text(), len(flow.as_dict()))


def counters() -> int:
    stats = libfc.stats()
    lengths: List[int] = [sum(table["bucket_lengths"]) for table in libfc.hash_stats()["tables"]]
    ports: List[int] = [entity["id"] for entity in libfc.inval_entries()["entities"] if entity["type"] == "port"]
    return len(stats) + len(lengths) + len(ports)


def records() -> int:
    entry = libfc.FC_FlowEntryIOC()
    entry.fkey.portID = 7  # an embedded record is never None
    port: int = entry.fkey.portID
    key = libfc.FC_FlowKey()
    key.vni = 5001
    key.l2Key.daddr = libfc.mac("02:00:00:aa:bb:cc")  # set from octets, read as text
    mac: str = key.l2Key.daddr
    answer = _libfc.FC_GetFlows(0, 0, 0, 0, None, 0, 0, 0, 0, None, 0)
    count: int = _libfc.FC_IOCFlows_get_num_flows(answer) if answer is not None else 0
    size: int = _libfc.FC_IOCGetConfigOption(_libfc.FC_IOC_EXPR_TIME)
    status: Optional[str] = _libfc.FC_GetPortsetStatus("switch0")
    built = libfc.FC_FlowKey(portID=5, vni=7)  # fields by keyword
    built.ipKey.ipv4Key.sip_addr = "10.0.0.1"  # an address helper takes text or ipaddress objects
    source: str = str(built.ipKey.ipv4Key.sip_addr)
    same: bool = built == libfc.FC_FlowKey.from_dict(built.to_dict())
    return port + count + size + len(bytes(key)) + len(status or "") + len(mac) + len(source) + same


def headers(captured: bytes) -> int:
    ip = libfc.hyp_IPv4Hdr.from_bytes(captured[14:34])
    ip.net.ttl = 1  # the host-order view, written in place
    again: libfc.hyp_IPv4Hdr = libfc.hyp_IPv4Hdr.from_scapy(ip.to_scapy())
    built = libfc.hyp_IPv4Hdr(version=4, headerLength=5, saddr_addr="10.0.0.1", protocol=6)
    source: bytes = libfc.hyp_IPv6Hdr().net.saddr
    tag = libfc.hyp_VLANHdr(type=0x81)
    return again.net.ttl + built.net.totalLength + ip.net.tos + len(source) + tag.net.vlanID


def exported(path: str, captured: bytes) -> int:
    with libfc.snapshot.open(path) as saved:
        ports: List[int] = [flow.port for flow in saved]
    messages: List[bytes] = libfc.ipfix.encode_round()
    geneve = libfc.hyp_GeneveHdr.from_bytes(captured[:8])
    lengths = [option.optLength for option in geneve.options_from(captured)]
    offset: int = libfc.hyp_IPv4Hdr.from_bytes(captured[:20]).net.fragOffset
    return len(ports) + len(messages) + sum(lengths) + offset


def switch_state() -> List[str]:
    names = [switch.id for switch in libfc.dvs.switches()]
    for switch_id in names:
        for port in libfc.dvs.ports(switch_id):
            print(port.id, libfc.dvs.port_data(switch_id, port.id, "name"))
        for item in libfc.dvs.host_props(switch_id):
            print(item.name, item.prop_type, item.value)
    try:
        libfc.dvs.alias("dvs-0")
    except libfc.dvs.DVSError as error:
        print(error.status, error.operation)
    cell = _libfc_ptr.new_intp()
    value: int = _libfc_ptr.intp_value(cell)
    data: bytes = _libfc_ptr.cdata(cell, 4)
    print(value, data, len(libfc.dvs.state()))
    return names


def command_line(argv: List[str]) -> int:
    parser: argparse.ArgumentParser = build_parser()
    args = parser.parse_args(["stats"])
    status: Optional[int] = stats_command.show(args)
    print(version_text(), flows_command.spell("inner_dmac"), status)
    return main(argv)

"""Header records in host order and as scapy layers: ``record.net`` puts each
network-order value on the wire big-endian, ``from_scapy`` reads what scapy
built and ``to_scapy`` gives scapy back the same values, header by header."""

import ipaddress
import logging
import sys

import pytest

import libfc
from libfc import _headers
from _records import from_files

HEADER_RECORDS = from_files("headers/")


def wire(text):
    return bytes.fromhex(text.replace(":", ""))


def v4(text):
    return int(ipaddress.IPv4Address(text))


def v6(text):
    return ipaddress.IPv6Address(text).packed


# --- the host-order view, for every header record ------------------------------

def test_every_header_record_has_the_view_and_the_mixins_name_only_records():
    assert {r.name for r in HEADER_RECORDS} == set(_headers.EXTRA_BASES)
    assert all(issubclass(getattr(libfc, name), bases) for name, bases in _headers.EXTRA_BASES.items())


def number_fields(record):
    """(view field, byte offset, width) of the values the view swaps."""
    return [(f.name, f.offset, f.width) if f.kind != "bits" else (f.name, f.offset + f.low_bit // 8, f.bits // 8)
            for f in record.fields if f.kind in ("uint", "int") and f.width > 1
            or f.kind == "bits" and f.bits % 8 == 0 and f.low_bit % 8 == 0 and f.bits > 8]


SWAPPED = [(r.name, *field) for r in HEADER_RECORDS for field in number_fields(r)]


@pytest.mark.parametrize("name, field, offset, width", SWAPPED, ids=["%s.%s" % c[:2] for c in SWAPPED])
def test_view_puts_numbers_on_the_wire_big_endian(name, field, offset, width):
    record = getattr(libfc, name)()
    value = int.from_bytes(bytes(range(0x81, 0x81 + width)), "big")
    setattr(record.net, field, value)
    assert bytes(record)[offset:offset + width] == value.to_bytes(width, "big")
    assert getattr(record.net, field) == value
    assert getattr(record, field) == int.from_bytes(value.to_bytes(width, "big"), "little")


@pytest.mark.parametrize("name, field, value, error", [
    ("hyp_IPv4Hdr", "totalLength", 65536, OverflowError),
    ("hyp_IPv4Hdr", "totalLength", -1, OverflowError),
    ("hyp_VXLANHdr", "vxlanID", 1 << 24, OverflowError),
    ("hyp_VLANHdr", "vlanID", 4096, OverflowError),
    ("hyp_IPv4Hdr", "tos", 256, OverflowError),
    ("hyp_IPv4Hdr", "totalLength", True, TypeError),
    ("hyp_IPv4Hdr", "fragOffset", "1", TypeError),
    ("hyp_EthHdr", "saddr", b"\1" * 5, ValueError),
    ("hyp_IPv4Hdr", "nonsense", 1, AttributeError),
])
def test_view_refuses_values_the_field_cannot_hold(name, field, value, error):
    record = getattr(libfc, name)()
    before = bytes(record)
    with pytest.raises(error):
        setattr(record.net, field, value)
    assert bytes(record) == before


# --- scapy, one row per header ---------------------------------------------------

@pytest.fixture(scope="module")
def scapy():
    logging.getLogger("scapy.runtime").setLevel(logging.ERROR)
    import scapy.all as everything
    import scapy.contrib.geneve as geneve
    import scapy.contrib.pim as pim
    import scapy.layers.igmp as igmp
    namespace = dict(vars(everything))
    for module in (geneve, pim, igmp):
        namespace.update(vars(module))
    return namespace


MAC1, MAC2 = "01:00:5e:7f:00:01", "00:1a:2b:3c:4d:5e"

# (record, scapy layer class, keywords of to_scapy, [(view field, value, scapy field, scapy value), ...])
ROWS = [
    ("hyp_EthHdr", "Ether", {}, [("daddr", MAC1, "dst", MAC1), ("saddr", MAC2, "src", MAC2),
                                 ("type", 0x86DD, "type", 0x86DD)]),
    ("hyp_VLANHdr", "Dot1Q", {}, [("priority", 5, "prio", 5), ("dropEligible", 1, "dei", 1),
                                  ("vlanID", 0xABC, "vlan", 0xABC), ("type", 0x0806, "type", 0x0806)]),
    ("hyp_ArpHdr", "ARP", {}, [("htype", 1, "hwtype", 1), ("ptype", 0x0800, "ptype", 0x0800), ("hlen", 6, "hwlen", 6),
                               ("plen", 4, "plen", 4), ("oper", 2, "op", 2), ("sha", MAC2, "hwsrc", MAC2),
                               ("spa", v4("10.0.0.1"), "psrc", "10.0.0.1"), ("tha", MAC1, "hwdst", MAC1),
                               ("tpa", v4("192.168.1.254"), "pdst", "192.168.1.254")]),
    ("hyp_IPv4Hdr", "IP", {}, [("version", 4, "version", 4), ("headerLength", 5, "ihl", 5), ("tos", 0xB8, "tos", 0xB8),
                               ("totalLength", 1234, "len", 1234), ("identification", 0x1234, "id", 0x1234),
                               ("fragOffset", 0x123, "frag", 0x123), ("ttl", 17, "ttl", 17),
                               ("protocol", 6, "proto", 6), ("checksum", 0xBEEF, "chksum", 0xBEEF),
                               ("saddr", v4("10.1.2.3"), "src", "10.1.2.3"),
                               ("daddr", v4("192.168.200.7"), "dst", "192.168.200.7")]),
    ("hyp_IPv6Hdr", "IPv6", {}, [("version", 6, "version", 6), ("trafficClass", 0xA5, "tc", 0xA5),
                                 ("flowLabel", 0xBCDEF, "fl", 0xBCDEF), ("payloadLength", 300, "plen", 300),
                                 ("nextHeader", 17, "nh", 17), ("hopLimit", 3, "hlim", 3),
                                 ("saddr", v6("2001:db8::1:2"), "src", "2001:db8::1:2"),
                                 ("daddr", v6("fe80::aabb:ccdd:1"), "dst", "fe80::aabb:ccdd:1")]),
    ("hyp_IPv6ExtHdr", "IPv6ExtHdrFragment", {"layer": "IPv6ExtHdrFragment"},
     [("nextHeader", 6, "nh", 6), ("optPad1", 100 << 3, "offset", 100), ("optPad2", 0x12345678, "id", 0x12345678)]),
    ("hyp_ICMPHdr", "ICMP", {}, [("type", 3, "type", 3), ("code", 1, "code", 1),
                                 ("checksum", 0xABCD, "chksum", 0xABCD)]),
    ("hyp_ICMPHdr", "ICMPv6EchoReply", {"v6": True}, [("type", 129, "type", 129), ("code", 2, "code", 2),
                                                      ("checksum", 0x1234, "cksum", 0x1234)]),
    ("hyp_TCPHdr", "TCP", {}, [("srcPort", 443, "sport", 443), ("dstPort", 51000, "dport", 51000),
                               ("seq", 0x01020304, "seq", 0x01020304), ("ackSeq", 0xA0B0C0D0, "ack", 0xA0B0C0D0),
                               ("dataOffset", 5, "dataofs", 5), ("flags", 0x12, "flags", 0x12),
                               ("window", 0x1234, "window", 0x1234), ("checksum", 0x4321, "chksum", 0x4321),
                               ("urgPtr", 7, "urgptr", 7)]),
    ("hyp_UDPHdr", "UDP", {}, [("srcPort", 49152, "sport", 49152), ("dstPort", 4789, "dport", 4789),
                               ("length", 300, "len", 300), ("checksum", 0xCAFE, "chksum", 0xCAFE)]),
    ("hyp_ESPHdr", "ESP", {}, [("spi", 0x01020304, "spi", 0x01020304), ("seq", 0xA0B0C0D0, "seq", 0xA0B0C0D0)]),
    ("hyp_GREHdr", "GRE", {}, [("flags", 0x2000, "key_present", 1), ("protocol", 0x6558, "proto", 0x6558)]),
    ("hyp_VXLANHdr", "VXLAN", {}, [("instanceID", 1, "flags", 0x0A), ("locallyReplicate", 1, "flags", 0x0A),
                                   ("reserved1", 0x123456, "reserved1", 0x123456),
                                   ("vxlanID", 0xABCDEF, "vni", 0xABCDEF), ("reserved2", 0x5A, "reserved2", 0x5A)]),
    ("hyp_GeneveHdr", "GENEVE", {}, [("version", 2, "version", 2), ("optionsLength", 3, "optionlen", 3),
                                     ("oamFrame", 1, "oam", 1), ("criticalOptions", 1, "critical", 1),
                                     ("reserved1", 0x15, "reserved", 0x15), ("protocolType", 0x6558, "proto", 0x6558),
                                     ("virtualNetworkId", 0x123456, "vni", 0x123456),
                                     ("reserved2", 0x77, "reserved2", 0x77)]),
    ("hyp_GeneveOptionHdr", "GeneveOptions", {}, [("optClass", 0x0104, "classid", 0x0104),
                                                  ("optType", 0x80, "type", 0x80),
                                                  ("optLength", 2, "length", 2), ("reserved", 5, "reserved", 5)]),
    ("hyp_IGMPHdr", "IGMP", {}, [("type", 0x16, "type", 0x16), ("maxResponseTime", 100, "mrcode", 100),
                                 ("checksum", 0x1234, "chksum", 0x1234),
                                 ("groupAddr", v4("239.1.2.3"), "gaddr", "239.1.2.3")]),
    ("hyp_IGMPv3QueryHdr", "IGMPv3_MQ", {}, [("type", 0x11, "type", 0x11), ("maxResponseCode", 20, "mrcode", 20),
                                             ("groupAddr", v4("224.0.0.9"), "gaddr", "224.0.0.9"),
                                             ("reserved", 0xA, "flags", 0xA), ("sFlag", 1, "s", 1),
                                             ("qrv", 5, "qrv", 5),
                                             ("qqic", 125, "qqic", 125), ("numSources", 2, "numsrc", 2)]),
    ("hyp_IGMPv3GrpRecord", "IGMPv3_MR_Group", {}, [("type", 2, "rtype", 2), ("dataLength", 1, "auxdlen", 1),
                                                    ("numSources", 3, "numsrc", 3),
                                                    ("groupIPv4Addr", v4("239.1.1.1"), "maddr", "239.1.1.1")]),
    ("hyp_IGMPv3ReportHdr", "IGMPv3_MR", {}, [("type", 0x22, "type", 0x22), ("reserved1", 7, "reserved", 7),
                                              ("checksum", 0x0F0E, "chksum", 0x0F0E),
                                              ("reserved2", 0x0102, "flags", 0x0102), ("numGroups", 2, "numgrp", 2)]),
    ("hyp_MLDHdr", "ICMPv6MLReport", {}, [("type", 131, "type", 131), ("code", 0, "code", 0),
                                          ("checksum", 0x2468, "cksum", 0x2468), ("maxResponseTime", 1000, "mrd", 1000),
                                          ("reserved", 0x0102, "reserved", 0x0102),
                                          ("groupIPv6Addr", v6("ff05::1"), "mladdr", "ff05::1")]),
    ("hyp_MLDv2QueryHdr", "ICMPv6MLQuery2", {}, [("type", 130, "type", 130), ("maxResponseCode", 0x1388, "mrd", 0x1388),
                                                 ("reserved1", 0x0A0B, "reserved", 0x0A0B),
                                                 ("groupIPv6Addr", v6("ff05::2"), "mladdr", "ff05::2"),
                                                 ("reserved2", 9, "Resv", 9), ("sFlag", 1, "S", 1),
                                                 ("qrv", 6, "QRV", 6), ("qqic", 60, "QQIC", 60),
                                                 ("numSources", 2, "sources_number", 2)]),
    ("hyp_MLDv2GrpRecord", "ICMPv6MLDMultAddrRec", {}, [("type", 4, "rtype", 4), ("dataLength", 1, "auxdata_len", 1),
                                                        ("numSources", 3, "sources_number", 3),
                                                        ("groupIPv6Addr", v6("ff05::1:3"), "dst", "ff05::1:3")]),
    ("hyp_MLDv2ReportHdr", "ICMPv6MLReport2", {}, [("type", 143, "type", 143), ("reserved1", 5, "res", 5),
                                                   ("reserved2", 0x0102, "reserved", 0x0102),
                                                   ("numGroups", 2, "records_number", 2)]),
    ("hyp_PIMHdr", "PIMv2Hdr", {}, [("version", 2, "version", 2), ("type", 1, "type", 1),
                                    ("reserved", 3, "reserved", 3),
                                    ("checksum", 0xABCD, "chksum", 0xABCD)]),
]
ROW_IDS = ["%s-%s" % (row[0], row[1]) for row in ROWS]


def scapy_value(layer, field):
    value = getattr(layer, field)
    return value if isinstance(value, str) else int(value)


@pytest.mark.python_only
@pytest.mark.parametrize("name, layer, options, values", ROWS, ids=ROW_IDS)
def test_records_read_scapy_layers_and_give_them_back_in_host_order(scapy, name, layer, options, values):
    built = scapy[layer](**{field: value for _, _, field, value in values})
    packet = built if layer == "Ether" else scapy["Ether"]() / built  # found inside the packet
    read = getattr(libfc, name).from_scapy(packet)
    assert type(read) is getattr(libfc, name)
    assert bytes(read) == bytes(built)[:len(bytes(read))]
    for view_field, value, _, _ in values:
        assert getattr(read.net, view_field) == value, "%s.net.%s" % (name, view_field)
    record = getattr(libfc, name)()
    for view_field, value, _, _ in values:
        setattr(record.net, view_field, value)
    keywords = {key: scapy[value] if isinstance(value, str) else value for key, value in options.items()}
    back = record.to_scapy(**keywords)
    assert isinstance(back, scapy[layer]) and not back.payload  # scapy may pick a subclass by type
    for _, _, field, value in values:
        assert scapy_value(back, field) == value, "%s.%s" % (layer, field)
    again = getattr(libfc, name).from_scapy(back)
    assert bytes(again) == bytes(record)


STACKS = [("VXLAN_Headers", "IP", "VXLAN", 4789), ("VXLAN6_Headers", "IPv6", "VXLAN", 4789),
          ("Geneve_Headers", "IP", "GENEVE", 6081), ("Geneve6_Headers", "IPv6", "GENEVE", 6081)]


@pytest.mark.python_only
@pytest.mark.parametrize("name, ip, tunnel, port", STACKS, ids=[s[0] for s in STACKS])
def test_header_stack_round_trips_a_tunnelled_packet(scapy, name, ip, tunnel, port):
    s = scapy
    inner = s["Ether"]() / s["IP"]() / b"inner payload"
    packet = s["Ether"](bytes(s["Ether"](dst=MAC1, src=MAC2) / s[ip]() / s["UDP"](sport=51234, dport=port)
                              / s[tunnel](vni=0xABCDE) / inner))
    stack = getattr(libfc, name).from_scapy(packet)
    assert bytes(stack) == bytes(packet)[:len(bytes(stack))]
    tunnel_view = (stack.vxlanHdr if tunnel == "VXLAN" else stack.geneveHdr).net
    assert (tunnel_view.vxlanID if tunnel == "VXLAN" else tunnel_view.virtualNetworkId) == 0xABCDE
    assert stack.udpHdr.net.length == packet[s["UDP"]].len == 8 + len(bytes(packet[s[tunnel]]))
    layers = stack.to_scapy()
    assert [type(layer).__name__ for layer in layers.iterpayloads()] == ["Ether", ip, "UDP", tunnel]
    assert bytes(layers)[:len(bytes(stack))] == bytes(stack)


@pytest.mark.python_only
def test_conversions_name_what_they_cannot_do(scapy):
    with pytest.raises(TypeError, match="no TCP layer"):
        libfc.hyp_TCPHdr.from_scapy(scapy["Ether"]() / scapy["IP"]() / scapy["UDP"]())
    with pytest.raises(TypeError, match="takes a scapy packet"):
        libfc.hyp_TCPHdr.from_scapy(b"\0" * 20)
    with pytest.raises(TypeError, match="UDP layer"):
        libfc.VXLAN_Headers.from_scapy(scapy["Ether"]() / scapy["IP"]() / scapy["TCP"]())
    with pytest.raises(NotImplementedError, match="hyp_FenceHdr"):
        libfc.hyp_FenceHdr().to_scapy()


@pytest.mark.python_only
def test_without_scapy_the_conversions_say_how_to_get_it(monkeypatch):
    monkeypatch.setitem(sys.modules, "scapy.layers.inet", None)
    with pytest.raises(ImportError, match=r"hyp_IPv4Hdr: .*pip install 'libfc-binding\[scapy\]'"):
        libfc.hyp_IPv4Hdr().to_scapy()

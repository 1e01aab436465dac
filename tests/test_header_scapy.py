"""Header records in host order and as scapy layers: ``record.net`` puts each
network-order value on the wire big-endian, ``from_scapy`` reads what scapy
built and ``to_scapy`` gives scapy back the same values, header by header."""

import ipaddress
import logging
import random
import sys

import pytest

import libfc
from libfc import _headers
from _records import from_files

HEADER_RECORDS = from_files("packet_headers/")


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
    ("hyp_IPv4Hdr", "fragOffset", 1 << 13, OverflowError),
    ("hyp_IPv4Hdr", "flags", 8, OverflowError),
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

# (record, scapy layer class, keywords of to_scapy, [(view field, value, scapy field[, scapy value]), ...]):
# the scapy value is the value itself unless given.
ROWS = [
    ("hyp_EthHdr", "Ether", {}, [("daddr", MAC1, "dst"), ("saddr", MAC2, "src"), ("type", 0x86DD, "type")]),
    ("hyp_VLANHdr", "Dot1Q", {}, [("priority", 5, "prio"), ("dropEligible", 1, "dei"), ("vlanID", 0xABC, "vlan"),
                                  ("type", 0x0806, "type")]),
    ("hyp_ArpHdr", "ARP", {}, [("htype", 1, "hwtype"), ("ptype", 0x0800, "ptype"), ("hlen", 6, "hwlen"),
                               ("plen", 4, "plen"), ("oper", 2, "op"), ("sha", MAC2, "hwsrc"),
                               ("spa", v4("10.0.0.1"), "psrc", "10.0.0.1"), ("tha", MAC1, "hwdst"),
                               ("tpa", v4("192.168.1.254"), "pdst", "192.168.1.254")]),
    ("hyp_IPv4Hdr", "IP", {}, [("version", 4, "version"), ("headerLength", 5, "ihl"), ("tos", 0xB8, "tos"),
                               ("totalLength", 1234, "len"), ("identification", 0x1234, "id"),
                               ("flags", 5, "flags"), ("fragOffset", 0x1ABC, "frag"), ("ttl", 17, "ttl"), ("protocol", 6, "proto"),
                               ("checksum", 0xBEEF, "chksum"), ("saddr", v4("10.1.2.3"), "src", "10.1.2.3"),
                               ("daddr", v4("192.168.200.7"), "dst", "192.168.200.7")]),
    ("hyp_IPv6Hdr", "IPv6", {}, [("version", 6, "version"), ("trafficClass", 0xA5, "tc"), ("flowLabel", 0xBCDEF, "fl"),
                                 ("payloadLength", 300, "plen"), ("nextHeader", 17, "nh"), ("hopLimit", 3, "hlim"),
                                 ("saddr", v6("2001:db8::1:2"), "src", "2001:db8::1:2"),
                                 ("daddr", v6("fe80::aabb:ccdd:1"), "dst", "fe80::aabb:ccdd:1")]),
    ("hyp_IPv6ExtHdr", "IPv6ExtHdrFragment", {"layer": "IPv6ExtHdrFragment"},
     [("nextHeader", 6, "nh"), ("optPad1", 100 << 3, "offset", 100), ("optPad2", 0x12345678, "id")]),
    ("hyp_ICMPHdr", "ICMP", {}, [("type", 3, "type"), ("code", 1, "code"), ("checksum", 0xABCD, "chksum")]),
    ("hyp_ICMPHdr", "ICMPv6EchoReply", {"v6": True}, [("type", 129, "type"), ("code", 2, "code"),
                                                      ("checksum", 0x1234, "cksum")]),
    ("hyp_TCPHdr", "TCP", {}, [("srcPort", 443, "sport"), ("dstPort", 51000, "dport"), ("seq", 0x01020304, "seq"),
                               ("ackSeq", 0xA0B0C0D0, "ack"), ("dataOffset", 5, "dataofs"), ("flags", 0x12, "flags"),
                               ("window", 0x1234, "window"), ("checksum", 0x4321, "chksum"), ("urgPtr", 7, "urgptr")]),
    ("hyp_UDPHdr", "UDP", {}, [("srcPort", 49152, "sport"), ("dstPort", 4789, "dport"), ("length", 300, "len"),
                               ("checksum", 0xCAFE, "chksum")]),
    ("hyp_ESPHdr", "ESP", {}, [("spi", 0x01020304, "spi"), ("seq", 0xA0B0C0D0, "seq")]),
    ("hyp_GREHdr", "GRE", {}, [("flags", 0x2000, "key_present", 1), ("protocol", 0x6558, "proto")]),
    ("hyp_VXLANHdr", "VXLAN", {}, [("instanceID", 1, "flags", 0x0A), ("locallyReplicate", 1, "flags", 0x0A),
                                   ("reserved1", 0x123456, "reserved1"), ("vxlanID", 0xABCDEF, "vni"),
                                   ("reserved2", 0x5A, "reserved2")]),
    ("hyp_GeneveHdr", "GENEVE", {}, [("version", 2, "version"), ("optionsLength", 3, "optionlen"),
                                     ("oamFrame", 1, "oam"), ("criticalOptions", 1, "critical"),
                                     ("reserved1", 0x15, "reserved"), ("protocolType", 0x6558, "proto"),
                                     ("virtualNetworkId", 0x123456, "vni"), ("reserved2", 0x77, "reserved2")]),
    ("hyp_GeneveOptionHdr", "GeneveOptions", {}, [("optClass", 0x0104, "classid"), ("optType", 0x80, "type"),
                                                  ("optLength", 2, "length"), ("reserved", 5, "reserved")]),
    ("hyp_IGMPHdr", "IGMP", {}, [("type", 0x16, "type"), ("maxResponseTime", 100, "mrcode"),
                                 ("checksum", 0x1234, "chksum"), ("groupAddr", v4("239.1.2.3"), "gaddr", "239.1.2.3")]),
    ("hyp_IGMPv3QueryHdr", "IGMPv3_MQ", {}, [("type", 0x11, "type"), ("maxResponseCode", 20, "mrcode"),
                                             ("groupAddr", v4("224.0.0.9"), "gaddr", "224.0.0.9"),
                                             ("reserved", 0xA, "flags"), ("sFlag", 1, "s"), ("qrv", 5, "qrv"),
                                             ("qqic", 125, "qqic"), ("numSources", 2, "numsrc")]),
    ("hyp_IGMPv3GrpRecord", "IGMPv3_MR_Group", {}, [("type", 2, "rtype"), ("dataLength", 1, "auxdlen"),
                                                    ("numSources", 3, "numsrc"),
                                                    ("groupIPv4Addr", v4("239.1.1.1"), "maddr", "239.1.1.1")]),
    ("hyp_IGMPv3ReportHdr", "IGMPv3_MR", {}, [("type", 0x22, "type"), ("reserved1", 7, "reserved"),
                                              ("checksum", 0x0F0E, "chksum"), ("reserved2", 0x0102, "flags"),
                                              ("numGroups", 2, "numgrp")]),
    ("hyp_MLDHdr", "ICMPv6MLReport", {}, [("type", 131, "type"), ("code", 0, "code"), ("checksum", 0x2468, "cksum"),
                                          ("maxResponseTime", 1000, "mrd"), ("reserved", 0x0102, "reserved"),
                                          ("groupIPv6Addr", v6("ff05::1"), "mladdr", "ff05::1")]),
    ("hyp_MLDv2QueryHdr", "ICMPv6MLQuery2", {}, [("type", 130, "type"), ("maxResponseCode", 0x1388, "mrd"),
                                                 ("reserved1", 0x0A0B, "reserved"),
                                                 ("groupIPv6Addr", v6("ff05::2"), "mladdr", "ff05::2"),
                                                 ("reserved2", 9, "Resv"), ("sFlag", 1, "S"), ("qrv", 6, "QRV"),
                                                 ("qqic", 60, "QQIC"), ("numSources", 2, "sources_number")]),
    ("hyp_MLDv2GrpRecord", "ICMPv6MLDMultAddrRec", {}, [("type", 4, "rtype"), ("dataLength", 1, "auxdata_len"),
                                                        ("numSources", 3, "sources_number"),
                                                        ("groupIPv6Addr", v6("ff05::1:3"), "dst", "ff05::1:3")]),
    ("hyp_MLDv2ReportHdr", "ICMPv6MLReport2", {}, [("type", 143, "type"), ("reserved1", 5, "res"),
                                                   ("reserved2", 0x0102, "reserved"),
                                                   ("numGroups", 2, "records_number")]),
    ("hyp_PIMHdr", "PIMv2Hdr", {}, [("version", 2, "version"), ("type", 1, "type"), ("reserved", 3, "reserved"),
                                    ("checksum", 0xABCD, "chksum")]),
]
ROWS = [(name, layer, options, [f if len(f) == 4 else f + (f[1],) for f in fields])
        for name, layer, options, fields in ROWS]
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
def test_conversions_name_what_they_cannot_do_and_how_to_get_scapy(scapy, monkeypatch):
    with pytest.raises(TypeError, match="no TCP layer"):
        libfc.hyp_TCPHdr.from_scapy(scapy["Ether"]() / scapy["IP"]() / scapy["UDP"]())
    with pytest.raises(TypeError, match="takes a scapy packet"):
        libfc.hyp_TCPHdr.from_scapy(b"\0" * 20)
    with pytest.raises(TypeError, match="UDP layer"):
        libfc.VXLAN_Headers.from_scapy(scapy["Ether"]() / scapy["IP"]() / scapy["TCP"]())
    with pytest.raises(NotImplementedError, match="hyp_FenceHdr"):
        libfc.hyp_FenceHdr().to_scapy()
    monkeypatch.setitem(sys.modules, "scapy.layers.inet", None)  # as if scapy were not installed
    with pytest.raises(ImportError, match=r"hyp_IPv4Hdr: .*pip install 'libfc-binding\[scapy\]'"):
        libfc.hyp_IPv4Hdr().to_scapy()


# Packets whose headers go on past their records, built by scapy and read
# back off the wire: Geneve options, GRE's optional words.
VARIABLE = [
    ("hyp_GeneveHdr", "GENEVE", lambda s: s["UDP"](sport=49152, dport=6081) / s["GENEVE"](vni=0x123, options=[
        s["GeneveOptions"](classid=0xFF01, type=0x81, data=bytes(range(8))), s["GeneveOptions"](classid=0xFF02)])),
    ("hyp_GREHdr", "GRE", lambda s: s["GRE"](key_present=1, key=0xC0FFEE01, proto=0x6558)),
    ("hyp_GREHdr", "GRE", lambda s: s["GRE"](chksum_present=1, seqnum_present=1, sequence_number=77, key_present=1,
                                             key=9)),
]


@pytest.mark.python_only
@pytest.mark.parametrize("name, layer, build", VARIABLE, ids=["%s-%d" % (r[0], n) for n, r in enumerate(VARIABLE)])
def test_options_after_a_header_survive_the_round_trip_and_truncation_is_refused(scapy, name, layer, build):
    packet = scapy["Ether"](bytes(scapy["Ether"]() / scapy["IP"]() / build(scapy) / b"payload"))
    cls = getattr(libfc, name)
    record, options = cls.from_scapy(packet), cls.options_from_scapy(packet)
    original = packet[scapy[layer]].copy()
    original.remove_payload()
    image = bytes(original)
    assert record.options_from(image + b"more") == options
    assert bytes(record.to_scapy(options)) == image
    if name == "hyp_GeneveHdr":
        assert [(o.classid, o.type, o.data) for o in original.options] == [
            (o.optClass, o.optType, o.data) for o in options]
        assert bytes(libfc.hyp_GeneveOptionHdr.from_scapy(packet)) == bytes(options[0])[:4] == bytes(
            options[0].header())
        with pytest.raises(ValueError, match="optionsLength"):
            record.to_scapy(options[1:])
    else:
        assert (options.key, options.sequence) == (original.key, original.sequence_number)
        with pytest.raises(ValueError, match="ask for the"):
            record.to_scapy(type(options)())
    for cut in range(len(image)):
        with pytest.raises(ValueError, match="bytes"):
            record.options_from(image[:cut])


@pytest.mark.python_only
@pytest.mark.parametrize("name", ["hyp_GeneveHdr", "hyp_GREHdr"])
def test_options_from_random_bytes_are_read_whole_or_refused(name):
    """Whatever bytes come off the wire, the options read write back to the
    same bytes, or reading them raises ValueError."""
    cls, rng = getattr(libfc, name), random.Random(name)
    for _ in range(3000):
        data = rng.randbytes(rng.randrange(cls._size_, 72))
        record = cls.from_bytes(data[:cls._size_])
        try:
            options = record.options_from(data)
        except ValueError:
            continue
        tail = b"".join(map(bytes, options)) if name == "hyp_GeneveHdr" else options.write(record, record.net.flags)
        assert data.startswith(bytes(record) + tail)


@pytest.mark.python_only
@pytest.mark.parametrize("name, wire", [("hyp_GeneveHdr", "0200655800000100" "ff010003aabbccdd"),
                                        ("hyp_GeneveHdr", "0100655800000100" "ff010001")])
def test_option_lengths_pointing_past_the_options_are_refused(scapy, name, wire):
    packet = scapy["Ether"]() / scapy["IP"]() / scapy["UDP"]() / scapy["GENEVE"](bytes.fromhex(wire))
    with pytest.raises(ValueError, match="says 12 bytes of data|says 4 bytes of data"):
        getattr(libfc, name).options_from_scapy(packet)


EXTENSIONS = [("routing", "IPv6ExtHdrRouting", 43, {"nextHeader": ("nh", 6), "routingType": ("type", 3),
                                                     "segmentsLeft": ("segleft", 2)}),
              ("fragment", "IPv6ExtHdrFragment", 44, {"nextHeader": ("nh", 17), "fragOffset": ("offset", 0x1ABC),
                                                      "moreFragments": ("m", 1), "identification": ("id", 0xC0FFEE)})]


@pytest.mark.python_only
@pytest.mark.parametrize("view, layer, number, fields", EXTENSIONS, ids=[e[0] for e in EXTENSIONS])
def test_extension_headers_read_as_their_kind_and_come_back_as_its_layer(scapy, view, layer, number, fields):
    wanted = {name: value for name, (_, value) in fields.items()}
    read = libfc.hyp_IPv6ExtHdr.from_scapy(scapy["Ether"]() / scapy["IPv6"]() / scapy[layer](
        **{field: value for field, value in fields.values()}))
    assert {name: getattr(getattr(read, view), name) for name in fields} == wanted
    made = libfc.hyp_IPv6ExtHdr()
    for name, value in wanted.items():
        setattr(getattr(made, view), name, value)
    assert made == read
    for back in (getattr(made, view).to_scapy(), made.to_scapy(number)):
        assert type(back) is scapy[layer]
        assert {name: int(getattr(back, field)) for name, (field, _) in fields.items()} == wanted

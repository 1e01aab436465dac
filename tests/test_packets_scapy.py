"""Header records against real packets: scapy builds and parses a packet, its
header bytes are copied into a fresh record, and every field the record
exposes must read what scapy parsed. Nothing is byte-swapped by the
accessors, so network-order fields are compared with the swapped value; a
wrong width, offset, bit position or byte-order assumption fails here."""

import ctypes
import logging
import socket

import pytest

logging.getLogger("scapy.runtime").setLevel(logging.ERROR)
scapy_all = pytest.importorskip("scapy.all")

from scapy.all import ARP, ICMP, IP, TCP, UDP, Dot1Q, Ether, GRE, IPv6  # noqa: E402
from scapy.contrib.geneve import GENEVE, GeneveOptions  # noqa: E402
from scapy.layers.igmp import IGMP, IGMPv3_MQ, IGMPv3_MR, IGMPv3_MR_Group  # noqa: E402
from scapy.contrib.pim import PIMv2Hdr  # noqa: E402
from scapy.layers.inet6 import (ICMPv6EchoRequest, ICMPv6MLDMultAddrRec, ICMPv6MLQuery,  # noqa: E402
                                ICMPv6MLQuery2, ICMPv6MLReport2, IPv6ExtHdrHopByHop, RouterAlert)
from scapy.layers.ipsec import ESP  # noqa: E402
from scapy.layers.vxlan import VXLAN  # noqa: E402

import _libfc  # noqa: E402
import libfc  # noqa: E402,F401  -- registers the record classes
from _helpers import addr, raw  # noqa: E402
from _records import BY_NAME, getter, new  # noqa: E402

END = object()  # a variable part: the getter addresses the byte after the fixed part


def swapped(value, width):
    """A network-order value as the host reads its bytes."""
    return int.from_bytes(int(value).to_bytes(width, "big"), "little")


def ipv4(text):
    return int.from_bytes(socket.inet_aton(text), "little")


def ipv6(text):
    return socket.inet_pton(socket.AF_INET6, text)


def mac(text):
    return bytes.fromhex(text.replace(":", ""))


def loaded(name, data):
    """A new record holding the first bytes of data."""
    record = BY_NAME[name]
    rec = new(record)
    assert len(data) >= record.size, "%s: the packet holds only %d bytes" % (name, len(data))
    ctypes.memmove(int(rec), bytes(data[:record.size]), record.size)
    return rec


def check_fields(name, rec, expected):
    record = BY_NAME[name]
    assert set(expected) == {f.name for f in record.fields}, "%s: every field must be checked" % name
    base = addr(rec)
    for f in record.fields:
        got = getter(record, f)(rec)
        want = expected[f.name]
        where = "%s.%s" % (name, f.name)
        if want is END:
            assert addr(got) == base + record.size, where
        elif isinstance(want, bytes):
            assert addr(got) == base + f.offset, where
            assert raw(got, len(want)) == want, where
        else:
            assert got == want, "%s reads %#x, the packet holds %#x" % (where, got, want)


# --- what each header's fields should read, from scapy's parse ---------------

def eth_fields(e):
    return {"daddr": mac(e.dst), "saddr": mac(e.src), "type": swapped(e.type, 2)}


def ipv4_fields(ip):
    return {"headerLength": ip.ihl, "version": ip.version, "totalLength": swapped(ip.len, 2),
            "identification": swapped(ip.id, 2), "ttl": ip.ttl, "protocol": ip.proto,
            "checksum": swapped(ip.chksum, 2), "saddr": ipv4(ip.src), "daddr": ipv4(ip.dst)}


def ipv6_fields(ip):
    return {"trafficClassHigh": ip.tc >> 4, "version": ip.version, "flowLabelHigh": ip.fl >> 16,
            "trafficClassLow": ip.tc & 0xF, "flowLabelLow": swapped(ip.fl & 0xFFFF, 2),
            "payloadLength": swapped(ip.plen, 2), "nextHeader": ip.nh, "hopLimit": ip.hlim,
            "saddr": ipv6(ip.src), "daddr": ipv6(ip.dst)}


def udp_fields(u):
    return {"srcPort": swapped(u.sport, 2), "dstPort": swapped(u.dport, 2),
            "length": swapped(u.len, 2), "checksum": swapped(u.chksum, 2)}


def vxlan_fields(v):
    flags = int(v.flags)
    return {"flags1": flags & 1, "locallyReplicate": flags >> 1 & 1, "flags1b": flags >> 2 & 1,
            "instanceID": flags >> 3 & 1, "flags2": flags >> 4, "reserved1": swapped(v.reserved1, 3),
            "vxlanID": swapped(v.vni, 3), "reserved2": v.reserved2}


def geneve_fields(g):
    return {"optionsLength": g.optionlen, "version": g.version, "reserved1": g.reserved,
            "criticalOptions": g.critical, "oamFrame": g.oam, "protocolType": swapped(g.proto, 2),
            "virtualNetworkId": swapped(g.vni, 3), "reserved2": g.reserved2, "options": END}


def reparsed(cls, packet):
    """scapy's parse of the packet's bytes (checksums and lengths filled in)."""
    return cls(bytes(packet))


def inner(packet, layer):
    return packet[layer]


ETHER = Ether(dst="01:00:5e:7f:00:01", src="00:1a:2b:3c:4d:5e")
V4 = dict(src="10.1.2.3", dst="192.168.200.7")
V6 = dict(src="2001:db8::1:2", dst="fe80::aabb:ccdd:1")


# --- one case per header kind: (record, header bytes, expected fields) -------

def case_ethernet():
    p = reparsed(Ether, ETHER / IP(**V4))
    return "hyp_EthHdr", bytes(p), eth_fields(p)


def case_vlan():
    q = inner(reparsed(Ether, ETHER / Dot1Q(prio=5, dei=1, vlan=0xABC) / IP(**V4)), Dot1Q)
    return "hyp_VLANHdr", bytes(q), {"vlanIDHigh": q.vlan >> 8, "dropEligible": q.dei, "priority": q.prio,
                                     "vlanIDLow": q.vlan & 0xFF, "type": swapped(q.type, 2)}


def case_arp():
    a = reparsed(ARP, ARP(op=2, hwsrc="00:1a:2b:3c:4d:5e", psrc="10.0.0.1", hwdst="66:77:88:99:aa:bb",
                          pdst="192.168.1.254"))
    return "hyp_ArpHdr", bytes(a), {"htype": swapped(a.hwtype, 2), "ptype": swapped(a.ptype, 2), "hlen": a.hwlen,
                                    "plen": a.plen, "oper": swapped(a.op, 2), "sha": mac(a.hwsrc),
                                    "spa": ipv4(a.psrc), "tha": mac(a.hwdst), "tpa": ipv4(a.pdst)}


def case_ipv4():
    ip = reparsed(IP, IP(tos=0xB8, id=0x1234, flags="DF", ttl=17, **V4) / UDP() / b"payload")
    return "hyp_IPv4Hdr", bytes(ip), ipv4_fields(ip)


def case_ipv6():
    ip = reparsed(IPv6, IPv6(tc=0xA5, fl=0xBCDEF, hlim=3, **V6) / UDP() / b"payload")
    return "hyp_IPv6Hdr", bytes(ip), ipv6_fields(ip)


def case_ipv6_extension():
    h = inner(reparsed(IPv6, IPv6(**V6) / IPv6ExtHdrHopByHop(options=[RouterAlert(value=0x1234)]) / UDP()),
              IPv6ExtHdrHopByHop)
    alert, pad = h.options  # the router alert and the padding to 8 bytes
    return "hyp_IPv6ExtHdr", bytes(h), {
        "nextHeader": h.nh, "hdrExtLength": h.len, "optPad1": alert.otype | alert.optlen << 8,
        "optPad2": swapped(alert.value, 2) | (pad.otype | pad.optlen << 8) << 16}


def case_icmp():
    c = inner(reparsed(IP, IP(**V4) / ICMP(type=8, code=0, id=0x4242, seq=9) / b"ping"), ICMP)
    return "hyp_ICMPHdr", bytes(c), {"type": c.type, "code": c.code, "checksum": swapped(c.chksum, 2)}


def case_icmpv6():
    c = inner(reparsed(IPv6, IPv6(**V6) / ICMPv6EchoRequest(id=7, seq=1, data=b"x")), ICMPv6EchoRequest)
    return "hyp_ICMPHdr", bytes(c), {"type": c.type, "code": c.code, "checksum": swapped(c.cksum, 2)}


def case_tcp():
    t = inner(reparsed(IP, IP(**V4) / TCP(sport=443, dport=51000, seq=0x01020304, ack=0xA0B0C0D0, reserved=5,
                                          flags=0x112, window=0x1234, urgptr=7)), TCP)
    return "hyp_TCPHdr", bytes(t), {
        "srcPort": swapped(t.sport, 2), "dstPort": swapped(t.dport, 2), "seq": swapped(t.seq, 4),
        "ackSeq": swapped(t.ack, 4), "reserved": t.reserved << 1 | int(t.flags) >> 8, "dataOffset": t.dataofs,
        "window": swapped(t.window, 2), "checksum": swapped(t.chksum, 2), "urgPtr": swapped(t.urgptr, 2)}


def case_udp():
    u = inner(reparsed(IP, IP(**V4) / UDP(sport=49152, dport=4789) / b"datagram"), UDP)
    return "hyp_UDPHdr", bytes(u), udp_fields(u)


def case_esp():
    e = inner(reparsed(IP, IP(**V4) / ESP(spi=0x01020304, seq=0xA0B0C0D0, data=b"sealed")), ESP)
    return "hyp_ESPHdr", bytes(e), {"spi": swapped(e.spi, 4), "seq": swapped(e.seq, 4)}


def case_gre():
    g = inner(reparsed(IP, IP(**V4) / GRE(key_present=1, key=0x11223344, proto=0x6558) / ETHER), GRE)
    return "hyp_GREHdr", bytes(g), {"protocol": swapped(g.proto, 2), "options": END}


def case_vxlan():
    v = reparsed(VXLAN, VXLAN(flags=0x5B, reserved1=0x123456, vni=0xABCDEF, reserved2=0x5A) / ETHER)
    return "hyp_VXLANHdr", bytes(v), vxlan_fields(v)


def geneve_packet():
    return reparsed(GENEVE, GENEVE(version=2, critical=1, reserved=0x15, proto=0x6558, vni=0x123456, reserved2=0x77,
                                   options=[GeneveOptions(classid=0x0104, type=0x80, data=b"12345678")]) / ETHER)


def case_geneve():
    g = geneve_packet()
    return "hyp_GeneveHdr", bytes(g), geneve_fields(g)


def case_geneve_option():
    g = geneve_packet()
    o = g.options[0]
    return "hyp_GeneveOptionHdr", bytes(g)[8:], {"optClass": swapped(o.classid, 2), "optType": o.type,
                                                  "optLength": o.length, "reserved": o.reserved}


def case_igmp():
    g = inner(reparsed(IP, IP(dst="239.1.2.3") / IGMP(type=0x16, mrcode=100, gaddr="239.1.2.3")), IGMP)
    return "hyp_IGMPHdr", bytes(g), {"type": g.type, "maxResponseTime": g.mrcode,
                                     "checksum": swapped(g.chksum, 2), "groupAddr": ipv4(g.gaddr)}


def case_igmpv3_query():
    q = inner(reparsed(IP, IP(dst="224.0.0.1") / IGMPv3_MQ(mrcode=20, gaddr="224.0.0.9", flags=0xA, s=1, qrv=5,
                                                          qqic=125, srcaddrs=["10.0.0.1", "10.0.0.2"])), IGMPv3_MQ)
    return "hyp_IGMPv3QueryHdr", bytes(q), {
        "type": q.type, "maxResponseCode": q.mrcode, "checksum": swapped(q.chksum, 2), "groupAddr": ipv4(q.gaddr),
        "qrv": q.qrv, "sFlag": q.s, "reserved": int(q.flags), "qqic": q.qqic,
        "numSources": swapped(q.numsrc, 2), "sourcesIPv4": END}


def igmpv3_report():
    return inner(reparsed(IP, IP(dst="224.0.0.22") / IGMPv3_MR(records=[
        IGMPv3_MR_Group(rtype=2, maddr="239.1.1.1", srcaddrs=["10.1.1.1", "10.1.1.2"])])), IGMPv3_MR)


def case_igmpv3_report():
    r = igmpv3_report()
    return "hyp_IGMPv3ReportHdr", bytes(r), {
        "type": r.type, "reserved1": r.reserved, "checksum": swapped(r.chksum, 2),
        "reserved2": swapped(int(r.flags), 2), "numGroups": swapped(r.numgrp, 2), "record": END}


def case_igmpv3_group_record():
    r = igmpv3_report()
    g = r.records[0]
    return "hyp_IGMPv3GrpRecord", bytes(r)[8:], {"type": g.rtype, "dataLength": g.auxdlen,
                                                  "numSources": swapped(g.numsrc, 2),
                                                  "groupIPv4Addr": ipv4(g.maddr), "sourcesIPv4": END}


def case_mld():
    m = inner(reparsed(IPv6, IPv6(**V6) / ICMPv6MLQuery(mrd=1000, mladdr="ff02::1:3")), ICMPv6MLQuery)
    return "hyp_MLDHdr", bytes(m), {"type": m.type, "code": m.code, "checksum": swapped(m.cksum, 2),
                                    "maxResponseTime": swapped(m.mrd, 2), "reserved": swapped(m.reserved, 2),
                                    "groupIPv6Addr": ipv6(m.mladdr)}


def case_mldv2_query():
    m = inner(reparsed(IPv6, IPv6(**V6) / ICMPv6MLQuery2(mrd=0x1388, mladdr="ff05::2", Resv=0x9, S=1, QRV=6,
                                                          QQIC=60, sources=["2001:db8::1"])), ICMPv6MLQuery2)
    return "hyp_MLDv2QueryHdr", bytes(m), {
        "type": m.type, "code": m.code, "checksum": swapped(m.cksum, 2), "maxResponseCode": swapped(m.mrd, 2),
        "reserved1": swapped(m.reserved, 2), "groupIPv6Addr": ipv6(m.mladdr), "qrv": m.QRV, "sFlag": m.S,
        "reserved2": m.Resv, "qqic": m.QQIC, "numSources": swapped(m.sources_number, 2), "sourcesIPv6": END}


def mldv2_report():
    return inner(reparsed(IPv6, IPv6(**V6) / ICMPv6MLReport2(records=[
        ICMPv6MLDMultAddrRec(rtype=4, dst="ff05::1:3", sources=["2001:db8::5"])])), ICMPv6MLReport2)


def case_mldv2_report():
    r = mldv2_report()
    return "hyp_MLDv2ReportHdr", bytes(r), {
        "type": r.type, "reserved1": r.res, "checksum": swapped(r.cksum, 2), "reserved2": swapped(r.reserved, 2),
        "numGroups": swapped(r.records_number, 2), "record": END}


def case_mldv2_group_record():
    r = mldv2_report()
    g = r.records[0]
    return "hyp_MLDv2GrpRecord", bytes(r)[8:], {"type": g.rtype, "dataLength": g.auxdata_len,
                                                 "numSources": swapped(g.sources_number, 2),
                                                 "groupIPv6Addr": ipv6(g.dst), "sourcesIPv6": END}


def case_pim():
    p = inner(reparsed(IP, IP(**V4) / PIMv2Hdr(type=1, reserved=3) / b"hello"), PIMv2Hdr)
    return "hyp_PIMHdr", bytes(p), {"type": p.type, "version": p.version, "reserved": p.reserved,
                                    "checksum": swapped(p.chksum, 2)}


CASES = [case_ethernet, case_vlan, case_arp, case_ipv4, case_ipv6, case_ipv6_extension, case_icmp, case_icmpv6,
         case_tcp, case_udp, case_esp, case_gre, case_vxlan, case_geneve, case_geneve_option, case_igmp,
         case_igmpv3_query, case_igmpv3_report, case_igmpv3_group_record, case_mld, case_mldv2_query,
         case_mldv2_report, case_mldv2_group_record, case_pim]


@pytest.mark.parametrize("case", CASES, ids=[c.__name__[5:] for c in CASES])
def test_record_reads_what_scapy_parsed(case):
    name, data, expected = case()
    check_fields(name, loaded(name, data), expected)


def test_every_link_network_and_transport_header_has_a_packet_case():
    covered = {case()[0] for case in CASES}
    wanted = {"hyp_EthHdr", "hyp_VLANHdr", "hyp_ArpHdr", "hyp_IPv4Hdr", "hyp_IPv6Hdr", "hyp_IPv6ExtHdr",
              "hyp_ICMPHdr", "hyp_IGMPHdr", "hyp_IGMPv3QueryHdr", "hyp_IGMPv3GrpRecord", "hyp_IGMPv3ReportHdr",
              "hyp_MLDHdr", "hyp_MLDv2QueryHdr", "hyp_MLDv2GrpRecord", "hyp_MLDv2ReportHdr", "hyp_PIMHdr",
              "hyp_UDPHdr", "hyp_TCPHdr", "hyp_ESPHdr", "hyp_GREHdr", "hyp_VXLANHdr", "hyp_GeneveHdr",
              "hyp_GeneveOptionHdr"}
    assert wanted <= covered


# --- whole outer header stacks through the bundles' nested views -----------

def tunnel(ip_layer, tunnel_layer):
    return reparsed(Ether, ETHER / ip_layer / UDP(sport=51234, dport=4789) / tunnel_layer / ETHER / IP(**V4))


BUNDLES = [
    ("VXLAN_Headers", lambda: tunnel(IP(**V4), VXLAN(flags=0x08, vni=0x00BEEF)), IP, VXLAN, "vxlanHdr",
     "hyp_VXLANHdr", vxlan_fields),
    ("VXLAN6_Headers", lambda: tunnel(IPv6(**V6), VXLAN(flags=0x08, vni=0x123456)), IPv6, VXLAN, "vxlanHdr",
     "hyp_VXLANHdr", vxlan_fields),
    ("Geneve_Headers", lambda: tunnel(IP(**V4), GENEVE(critical=1, vni=0x00ABCD, proto=0x6558)), IP, GENEVE,
     "geneveHdr", "hyp_GeneveHdr", geneve_fields),
    ("Geneve6_Headers", lambda: tunnel(IPv6(**V6), GENEVE(version=1, vni=0x0F0F0F, proto=0x6558)), IPv6, GENEVE,
     "geneveHdr", "hyp_GeneveHdr", geneve_fields),
]


@pytest.mark.parametrize("name, build, ip_layer, tunnel_layer, tunnel_field, tunnel_record, tunnel_fields",
                         BUNDLES, ids=[b[0] for b in BUNDLES])
def test_bundle_views_read_the_outer_headers(name, build, ip_layer, tunnel_layer, tunnel_field, tunnel_record,
                                             tunnel_fields):
    p = build()
    bundle = loaded(name, bytes(p))
    ip_name = "hyp_IPv4Hdr" if ip_layer is IP else "hyp_IPv6Hdr"
    ip_fields = ipv4_fields if ip_layer is IP else ipv6_fields
    # the tunnel header was parsed as payload of the UDP port binding or not: parse it from its bytes
    t = tunnel_layer(bytes(p[UDP].payload))
    views = {"ethHdr": ("hyp_EthHdr", eth_fields(p)), "ipHdr": (ip_name, ip_fields(p[ip_layer])),
             "udpHdr": ("hyp_UDPHdr", udp_fields(p[UDP])), tunnel_field: (tunnel_record, tunnel_fields(t))}
    for field, (record_name, expected) in views.items():
        view = getattr(_libfc, "%s_%s_get" % (name, field))(bundle)
        check_fields(record_name, view, expected)

"""The record layouts the tests are driven by. Names, kinds, C types and
methods are read from the record description files (runtime/interface.def
lists them); offsets and sizes are not taken from anywhere in the build but
computed here, from the widths of the C types and the C rules of natural
alignment (or none, for packed records), so that they are an independent
check of where the module reads and writes. A record is its size and its
fields in declaration order; a field carries its kind, the C type its setter
names in its argument-2 error message, its offset and width in bytes, and for
pointers, arrays and nested records the registry type of what the getter
returns. Helpers shared by the tests follow.
"""

import os
import re
from dataclasses import dataclass
from typing import Optional

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# Integer C types: (bytes, signed). unsigned long converts through the signed
# 64-bit range, so it holds 63 value bits.
_INTEGERS = {
    "hyp_uint8": (1, False), "hyp_uint16": (2, False), "hyp_uint32": (4, False), "hyp_uint64": (8, False),
    "unsigned char": (1, False), "unsigned short": (2, False), "unsigned int": (4, False),
    "int": (4, True), "hyp_Bool": (1, False), "char": (1, False),
    "hyp_atomic64": (8, False), "hyp_revnum": (4, False), "hyp_ByteCountSmall": (4, False),
    "hyp_ByteCount": (8, False), "hyp_SwitchPortID": (4, False), "hyp_LinkSpeed": (4, False),
    "hyp_IPv4Address": (4, False), "hyp_VlanID": (2, False), "hyp_VlanPriority": (1, False),
    "hyp_PortsetResPoolShares": (4, False), "hyp_PortsetResPoolLimit": (4, True),
    "hyp_PortsetResPoolReservation": (4, True), "hyp_PortsetResPoolQueueDepth": (4, True),
    "hyp_PortsetResPoolPriorityTag": (1, False), "hyp_PortsetResPoolTag": (2, False),
}
_SIXTY_THREE_BITS = {"hyp_atomic64"}
# Byte arrays spelled by their typedef.
_BYTE_ARRAYS = {"hyp_EthAddress": 6, "hyp_IPv6Address": 16}

# Records laid out without padding: every packet header (they overlay a
# frame's bytes) and the flow cache's device-request and action records.
_PACKED_FILES = ("headers/",)
_PACKED = {
    "FC_VDL2EncapActionDataAttr", "FC_VDL2DecapActionData", "FC_VDRActionData", "FC_KCPActionData",
    "FC_InvalHashKey", "FC_IOCInvalEntries", "FC_VDL2EncapActionDataIOC", "FC_ClientDataIOC",
    "FC_ActionEntityIOC", "FC_FlowEntryIOC",
}
# The size of every record as C lays it out, in declaration order: members
# the module does not describe and tail padding make it more than the fields
# below add up to.
SIZES = {
    "hyp_String": 16, "hyp_ListLinks": 16, "hyp_Name": 32, "hyp_MgmtCallbackInfo": 64,
    "hyp_MgmtApiSignature": 80, "hyp_MgmtVectorParm": 16, "hyp_MgmtInstances": 1288, "hyp_IntrInfo": 8,
    "hyp_AddrCookie": 8, "OVL_RCUDeferredCallItem": 8, "hyp_SocketAddress": 256, "hyp_SocketIPAddress": 16,
    "hyp_SocketIPAddressAddr": 4, "hyp_SocketIPv6Address": 28, "hyp_SocketIPv6AddressAddr": 16,
    "hyp_SocketIPv6AddressAddr___u6_addr": 16, "hyp_LinkStatus": 12, "hyp_PortsetResPoolCfg": 20,
    "hyp_PortsetResPoolStats": 48, "hyp_FabPortStatus": 100, "hyp_FabPortStatistics": 128,
    "hyp_FabPortVIDRange": 4, "hyp_FabPortVlanInfo": 4, "hyp_EthHdr": 14, "hyp_VLANHdr": 4, "hyp_ArpHdr": 28,
    "hyp_IPv4Hdr": 20, "hyp_IPv6Hdr": 40, "hyp_IPv6ExtHdr": 8, "hyp_ICMPHdr": 4, "hyp_IGMPHdr": 8,
    "hyp_IGMPv3QueryHdr": 12, "hyp_IGMPv3GrpRecord": 8, "hyp_IGMPv3ReportHdr": 8, "hyp_MLDHdr": 24,
    "hyp_MLDv2QueryHdr": 28, "hyp_MLDv2GrpRecord": 20, "hyp_MLDv2ReportHdr": 8, "hyp_PIMHdr": 4,
    "hyp_UDPHdr": 8, "hyp_TCPHdr": 20, "hyp_ESPHdr": 8, "hyp_FenceHdr": 4, "hyp_GREHdr": 4, "hyp_VXLANHdr": 8,
    "hyp_GeneveHdr": 8, "hyp_GeneveOptionHdr": 4, "ovl_INTShimHdr": 4, "ovl_INTHdrV1": 8, "ovl_INTHdrV2": 12,
    "ovl_INTPathwatchMeta": 16, "ovl_INTPathprobeMeta": 4, "VXLAN_Headers": 50, "VXLAN6_Headers": 70,
    "Geneve_Headers": 50, "Geneve6_Headers": 70, "OVLL2_GenOptDataLabel": 4,
    "OVLL2_GenOptDataLabelMacFlush": 4, "OVLL2_GenOptDataLabelActiveMbrVtep": 4, "OVLL2_GenOptDataMirror": 8,
    "OVLL2_GenOptDataSpf": 36, "OVLL2_GenOptDataLocalVnicLat": 8, "OVLL2_GenOptDataPathwatch": 28,
    "FC_l2Key": 16, "FC_ipv4Key": 8, "FC_ipv6Key": 32, "FC_FlowKey_inner": 16, "FC_FlowKey_ipKey": 32,
    "FC_FlowKey": 76, "FC_CacheStats": 632, "FC_CacheStats_lookup": 256, "FC_CacheStats_lookup_drop": 40,
    "FC_CacheStats_lookup_alloc": 64, "FC_CacheStats_lookup_free": 32, "FC_CacheStats_actions": 280,
    "FC_CacheStats_actions_decap": 56, "FC_CacheStats_actions_decap_drop": 24,
    "FC_CacheStats_actions_encap": 56, "FC_CacheStats_actions_encap_drop": 24, "FC_CacheStats_actions_vlan": 8,
    "FC_CacheStats_actions_prio": 8, "FC_CacheStats_actions_guest_vlan_insert": 32,
    "FC_CacheStats_actions_guest_vlan_remove": 32, "FC_CacheStats_actions_vdr": 32,
    "FC_CacheStats_actions_trafficmark_dscp": 8, "FC_CacheStats_actions_trafficmark_cos": 8,
    "FC_CacheStats_actions_drop": 8, "FC_CacheStats_actions_vni": 16, "FC_CacheStats_actions_slowpath": 8,
    "FC_CacheStats_actions_add": 8, "FC_CacheStats_actions_add_errors": 8, "FC_CacheStats_fastpath": 88,
    "FC_CacheStats_fastpath_multi_dest": 88, "FC_PortStats": 32, "FCHashStats": 60, "FC_HashStatsIOC": 4,
    "FC_FlowStats": 24, "FC_VDL2ActionContext": 32, "FC_VDRActionContext": 24, "FC_FWALActionContext": 40,
    "FC_IPFIXActionContext": 16, "FC_IPFIXSAMPLEActionContext": 24, "FC_VSWITCHActionContext": 24,
    "FC_VDL2EncapActionData": 168, "FC_VDL2EncapActionData_hc": 128, "FC_VDL2EncapActionData_hc_hdrSpace": 128,
    "FC_VDL2EncapActionDataAttr": 86, "FC_VDL2DecapActionData": 86, "FC_VDL2EncapGeneveHdrCache": 58,
    "FC_VDL2TrafficMarkActionData": 2, "FC_VdrInfo": 8, "FC_VDRInstanceData": 32, "FC_VDRActionData": 110,
    "FC_FWALStatelessData": 24, "FC_FWALActionData": 64, "FC_IPFIXActionData": 16, "FC_KCPActionData": 10,
    "FC_VSwitchVlanActionData": 4, "FC_VSwitchLookupEntryActionData": 24, "FC_OverlayVNIActionData": 4,
    "FC_ReplData": 12, "FC_ClientDataAttr": 400, "FC_ActionEntityAttr": 424, "FC_FlowEntryAttr": 528,
    "FC_ClientData": 144, "FC_DVSPortPropData": 4, "FC_InvalHashKeyValue": 4, "FC_InvalHashKey": 5,
    "FC_InvalEntity": 72, "FC_IOCInvalEntries": 12, "FC_InvalData": 8, "FC_ConfigOptionData": 16,
    "FC_FlowsFilter": 52, "FC_VDL2EncapActionDataIOC": 51, "FC_ClientDataIOC": 281,
    "FC_ActionEntityIOC": 16689, "FC_FlowEntryIOC": 67670, "FC_IOCFlows": 8, "hyp_EthHdrIOC": 14,
    "FCIOCtlData": 24, "FCVSIOCtlQuery": 176, "OpaqueDVPortData": 176, "DVPortData": 52, "DVPortList": 60,
}
# Fields that follow a member the module does not describe (a reserved byte,
# a field of a packet header read as a whole elsewhere): where C puts them.
_PLACED = {
    "hyp_IPv4Hdr": {"totalLength": 2, "ttl": 8},
    "hyp_TCPHdr": {"window": 14},
    "hyp_GREHdr": {"protocol": 2},
    "hyp_VXLANHdr": {"reserved2": 7},
    "ovl_INTShimHdr": {"length": 1},
    "ovl_INTHdrV1": {"remainHopCnt": 3},
    "ovl_INTHdrV2": {"rsvd2": 1, "remainHopCnt": 3},
    "OVLL2_GenOptDataSpf": {"metadata": 12},
    "FC_VDL2DecapActionData": {"actCtx": 54},
    "FC_VDRInstanceData": {"actCtx": 8},
    "FC_ClientDataAttr": {"vdrData": 130},
    "FC_FlowEntryAttr": {"flags": 76},
}
# Records whose fields all start at offset 0.
_UNIONS = {"FC_FlowKey_ipKey", "FC_InvalHashKeyValue", "FC_InvalData", "hyp_SocketIPv6AddressAddr___u6_addr"}


@dataclass(frozen=True)
class Field:
    name: str
    # uint | int | bool | ptr | void | nested | ro_nested | array | zarray | ro_zarray
    # | chars | bits (a bit-field) | hwaddr (six-byte hardware address) | text (owned char *)
    kind: str
    ctype: str  # the C type named by the setter's argument-2 message
    offset: int  # of the field, or of a bit-field's storage unit
    width: int  # bytes occupied in the record (per element for zarray; the unit for bits)
    bits: int = 0  # for integers: 8, 16, 32, 63 or 64; for bit-fields: the field's width
    target: Optional[str] = None  # descriptor name of what a pointer / array getter returns
    count: int = 0  # array length
    elem_width: int = 0  # array element width in bytes
    low_bit: int = 0  # for bit-fields: the lowest bit in the storage unit
    signed: bool = False  # for integers and bit-fields of a signed C type
    read_only: bool = False  # a getter and no setter

    @property
    def writable(self):
        return self.kind != "ro_nested" and not self.read_only


@dataclass(frozen=True)
class Record:
    name: str
    size: int
    fields: tuple
    extras: tuple = ()  # extra methods, in method-table order
    source: str = ""  # the description file

    @property
    def descriptor(self):
        return "_p_" + self.name

    def field(self, name):
        for f in self.fields:
            if f.name == name:
                return f
        raise KeyError(name)


def _align(offset, alignment):
    return (offset + alignment - 1) // alignment * alignment


class _Layouts:
    """Record layouts computed on demand from their description lines, so a
    record may hold one described after it by value."""

    def __init__(self, lines, sources):
        self.lines = lines  # name -> [(macro, arguments)]
        self.sources = sources  # name -> description file
        self.done = {}  # name -> (Record, alignment)

    def element(self, ctype):
        """(width, alignment) of one element of a C type."""
        if ctype in _INTEGERS:
            n = _INTEGERS[ctype][0]
            return n, n
        if ctype in _BYTE_ARRAYS:
            return _BYTE_ARRAYS[ctype], 1
        if ctype.endswith("*"):
            return 8, 8
        if ctype in self.lines:
            record, alignment = self.record(ctype)
            return record.size, alignment
        return 4, 4  # an enumeration

    def field(self, kind, ctype, target, read_only):
        """A Field without its name and offset, and its alignment."""
        array = re.fullmatch(r"(.+?) \[([\d+]*)\]", ctype)
        if kind == "Integer":
            n, signed = _INTEGERS.get(ctype, (4, True))
            bits = 63 if ctype in _SIXTY_THREE_BITS else 8 * n
            return dict(kind="int" if signed else "uint", width=n, bits=bits, signed=signed), n
        if kind == "Char":
            return dict(kind="bool", width=1), 1
        if kind in ("Pointer", "VoidPointer", "OwnedText"):
            name = {"Pointer": "ptr", "VoidPointer": "void", "OwnedText": "text"}[kind]
            return dict(kind=name, width=8, target=target), 8
        if kind == "Nested":
            width, alignment = self.element(ctype[:-2])
            return dict(kind="ro_nested" if read_only else "nested", width=width, target=target), alignment
        n = sum(int(term) for term in array.group(2).split("+") if term)  # "[8+1]" as C writes it
        width, alignment = self.element(array.group(1))
        if kind == "CharArray":
            return dict(kind="chars", width=n, count=n), 1
        if kind == "HwAddr":
            return dict(kind="hwaddr", width=6, target=target, count=6, elem_width=1), 1
        if n == 0:  # a flexible array: the record's size leaves it out
            return dict(kind="ro_zarray" if read_only else "zarray", width=width, target=target,
                        elem_width=width, read_only=read_only), alignment
        return dict(kind="array", width=n * width, target=target, count=n, elem_width=width), alignment

    def record(self, name):
        if name not in self.done:
            self.done[name] = self.compute(name, self.lines[name], self.sources[name])
        return self.done[name]

    def compute(self, name, lines, source):
        placed = _PLACED.get(name, {})
        packed = name in _PACKED or source.startswith(_PACKED_FILES)
        union = name in _UNIONS
        fields, extras = [], []
        offset = end = 0
        alignment = 1
        for macro, args in lines:
            if macro in ("FIELD", "FIELD_RO"):
                _, fname, kind, ctype, vt = args
                target = None if vt == "none" else "_" + vt
                attrs, a = self.field(kind, ctype, target, macro == "FIELD_RO")
                a = 1 if packed else a
                offset = 0 if union else placed.get(fname, _align(offset, a))
                fields.append(Field(fname, ctype=ctype, offset=offset, **attrs))
                alignment = max(alignment, a)
                if attrs["kind"] not in ("zarray", "ro_zarray"):
                    offset += attrs["width"]
            elif macro == "BITFIELD":
                _, fname, ctype, unit_offset, unit, low_bit, bits = args
                unit_offset, unit = int(unit_offset), int(unit)
                signed = _INTEGERS.get(ctype, (4, True))[1]
                fields.append(Field(fname, "bits", ctype, unit_offset, unit, bits=int(bits), low_bit=int(low_bit),
                                    signed=signed))
                alignment = max(alignment, 1 if packed else unit)
                offset = max(offset, unit_offset + unit)
            elif macro in ("METHOD", "ELEMENT_METHOD"):
                extras.append(args[1])
            end = max(end, offset)
        size = SIZES[name]
        return Record(name, size, tuple(fields), tuple(extras), source), alignment


def _arguments(text):
    """The comma-separated arguments of a description line, texts unquoted."""
    return [a.strip().strip('"') for a in re.findall(r'"[^"]*"|[^,]+', text)]


def read_records():
    """Every record of the module, in declaration order."""
    with open(os.path.join(ROOT, "runtime", "interface.def")) as f:
        sources = re.findall(r"^RECORDS\(\w+,\s*([^,]+),", f.read(), re.M)
    order, lines, record_sources = [], {}, {}
    for source in sources:
        with open(os.path.join(ROOT, source)) as f:
            for m in re.finditer(r"^([A-Z_]+)\((.*)\)\s*$", f.read(), re.M):
                macro, args = m.group(1), _arguments(m.group(2))
                if macro == "RECORD":
                    order.append(args[0])
                    lines[args[0]], record_sources[args[0]] = [], source
                elif macro != "END_RECORD" and order:
                    lines[order[-1]].append((macro, args))
    layouts = _Layouts(lines, record_sources)
    return tuple(layouts.record(name)[0] for name in order)


def nargs(method):
    """Arguments of an extra method: the record, and an index for __getitem__."""
    return 2 if method.endswith("___getitem__") else 1


def method_names(record):
    """The module methods of a record in method-table order."""
    names = []
    for f in record.fields:
        if f.writable:
            names.append("%s_%s_set" % (record.name, f.name))
        names.append("%s_%s_get" % (record.name, f.name))
    names.extend(record.extras)
    names += ["new_" + record.name, "delete_" + record.name, record.name + "_swigregister"]
    return names


def arg1_message(method, record_name):
    return "in method '%s', argument 1 of type '%s *'" % (method, record_name)


def arg2_message(method, ctype):
    return "in method '%s', argument 2 of type '%s'" % (method, ctype)


def new(record):
    """A new zero-filled record of the module (an owning pointer object)."""
    import _libfc
    return getattr(_libfc, "new_" + record.name)()


def setter(record, f):
    import _libfc
    return getattr(_libfc, "%s_%s_set" % (record.name, f.name))


def getter(record, f):
    import _libfc
    return getattr(_libfc, "%s_%s_get" % (record.name, f.name))

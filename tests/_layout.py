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
# Records whose size is not their described fields rounded up to their
# alignment: members the module does not describe lie past the last field
# (or make up the whole record), or a bit-field's storage unit is narrower.
SIZES = {"hyp_FabPortStatus": 100, "ovl_INTShimHdr": 4, "FC_VDL2EncapActionDataAttr": 86, "FCVSIOCtlQuery": 176}
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
        return {f.name: f for f in self.fields}[name]


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
        offset = 0
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
        end = max([f.offset + f.width for f in fields if f.kind not in ("zarray", "ro_zarray")], default=0)
        size = SIZES.get(name, _align(end, 1 if packed else alignment))
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

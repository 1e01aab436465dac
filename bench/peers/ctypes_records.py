"""The benchmark's records as an experienced ctypes user writes them: the
layouts mirrored field by field, packed records with ``_pack_ = 1``, and the
parts of a flow entry nobody reads here kept as opaque bytes of the right
size so every offset still matches the C declaration."""

import ctypes
from ctypes import c_int, c_uint8, c_uint16, c_uint32, c_uint64

FC_MAX_OUT_AC_IOC = 4
FC_MAX_DPORTS_IOC = 4096


class hyp_FabPortStatistics(ctypes.Structure):
    _fields_ = [(name, c_uint64) for name in (
        "pktsInUnicast", "bytesInUnicast", "pktsInMulticast", "bytesInMulticast",
        "pktsInBroadcast", "bytesInBroadcast", "pktsOutUnicast", "bytesOutUnicast",
        "pktsOutMulticast", "bytesOutMulticast", "pktsOutBroadcast", "bytesOutBroadcast",
        "pktsInDropped", "pktsOutDropped", "pktsInException", "pktsOutException")]


class hyp_IPv4Hdr(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("headerLength", c_uint8, 4),
        ("version", c_uint8, 4),
        ("tos", c_uint8),
        ("totalLength", c_uint16),
        ("identification", c_uint16),
        ("fragOffset", c_uint16),
        ("ttl", c_uint8),
        ("protocol", c_uint8),
        ("checksum", c_uint16),
        ("saddr", c_uint32),
        ("daddr", c_uint32),
    ]


class FC_l2Key(ctypes.Structure):
    _fields_ = [
        ("saddr", c_uint8 * 6),
        ("daddr", c_uint8 * 6),
        ("etype", c_uint16),
        ("vlanid", c_uint16),
    ]


class FC_ipv4Key(ctypes.Structure):
    _fields_ = [("sip", c_uint32), ("dip", c_uint32)]


class FC_ipv6Key(ctypes.Structure):
    _fields_ = [("sip", c_uint8 * 16), ("dip", c_uint8 * 16)]


class FC_FlowKey_inner(ctypes.Structure):
    _fields_ = [("l2Key", FC_l2Key)]


class FC_FlowKey_ipKey(ctypes.Union):
    _fields_ = [("ipv4Key", FC_ipv4Key), ("ipv6Key", FC_ipv6Key)]


class FC_FlowKey(ctypes.Structure):
    _fields_ = [
        ("portID", c_uint32),
        ("vni", c_uint32),
        ("l2Key", FC_l2Key),
        ("flags", c_uint8),
        ("proto", c_uint8),
        ("pad", c_uint8 * 2),
        ("inner", FC_FlowKey_inner),
        ("ipKey", FC_FlowKey_ipKey),
    ]


class FC_ActionEntityIOC(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("actionsBitMap", c_uint64),
        ("clientData", c_uint8 * 281),
        ("replData", c_uint8 * 12),
        ("dport", c_uint32 * FC_MAX_DPORTS_IOC),
        ("dstPortsNum", c_uint32),
    ]


class FC_FlowEntryIOC(ctypes.Structure):
    _pack_ = 1
    _fields_ = [
        ("fcFlags", c_int),
        ("flowId", c_uint64),
        ("fkey", FC_FlowKey),
        ("stats", c_uint8 * 632),
        ("pktCount", c_uint64),
        ("pktCntSinceFlush", c_uint64),
        ("exprTime", c_uint32),
        ("created", c_uint64),
        ("confGen", c_uint64),
        ("tblId", c_uint64),
        ("dportEntity", c_uint8 * 72),
        ("sPortEntity", c_uint8 * 72),
        ("numDports", c_uint16),
        ("numConfDports", c_uint16),
        ("numActionEntities", c_uint16),
        ("actionEntity", FC_ActionEntityIOC * FC_MAX_OUT_AC_IOC),
    ]


class FC_IOCFlowsHeader(ctypes.Structure):
    _fields_ = [("totalEntries", c_uint32), ("numEntries", c_uint32)]


# Sizes the C declarations fix; a mirror that drifts would measure nonsense.
_EXPECTED_SIZES = {hyp_FabPortStatistics: 128, hyp_IPv4Hdr: 20, FC_FlowKey: 76,
                   FC_ActionEntityIOC: 16689, FC_FlowEntryIOC: 67670}
for _cls, _size in _EXPECTED_SIZES.items():
    if ctypes.sizeof(_cls) != _size:
        raise ImportError("%s mirrors %d bytes, the C record has %d" % (_cls.__name__, ctypes.sizeof(_cls), _size))

"""The indexing methods over the buffers the library returns (a header whose
count says how many elements follow: views or owned copies, bounded by that
count alone), the flow entry's action entities and their destination ports,
and the addresses of an entry and of its tunnel data as text."""

import ctypes
import socket

import pytest

import _libfc
import libfc

from _helpers import COUNTED_BUFFERS, addr, counted_buffer, descriptor_name, poke, raw, this_of, trap_status
from _records import BY_NAME

DPORTS = BY_NAME["FC_ActionEntityIOC"].field("dport")


# --- indexing a library buffer ---------------------------------------------------------

# (method, buffer record, element class, whether the element is a view in place)
INDEXING = [
    ("FC_IOCFlows_get_flow", "FC_IOCFlows", "FC_FlowEntryIOC", True),
    ("FC_IOCFlows___getitem__", "FC_IOCFlows", "FC_FlowEntryIOC", False),
    ("FC_IOCInvalEntries___getitem__", "FC_IOCInvalEntries", "FC_InvalEntity", False),
    ("FC_HashStatsIOC___getitem__", "FC_HashStatsIOC", "FCHashStats", False),
]


@pytest.mark.parametrize("method,record,cls,in_place", INDEXING, ids=[c[0] for c in INDEXING])
def test_indexing_a_buffer_gives_views_in_place_or_independent_owned_copies(method, record, cls, in_place):
    head, _, size = COUNTED_BUFFERS[record]
    buf, table = counted_buffer(record, 3)
    trap_status().value = 3
    items = [getattr(_libfc, method)(table, i) for i in range(3)]
    assert trap_status().value == 0, "the element is reached under the trap"
    for i, item in enumerate(items):
        assert isinstance(item, getattr(libfc, cls)) and descriptor_name(item) == "_p_" + cls
        assert this_of(item).own() is not in_place
        assert (addr(item) == ctypes.addressof(buf) + head + size * i) is in_place
        assert raw(item, size) == buf.raw[head + size * i:head + size * (i + 1)]
    again = getattr(_libfc, method)(table, 1)
    assert (addr(again) == addr(items[1])) is in_place
    before = buf.raw
    ctypes.memset(ctypes.addressof(buf) + head, 0, size * 3)
    assert (raw(again, size) == bytes(size)) is in_place
    if not in_place:
        assert raw(again, size) == before[head + size:head + 2 * size]
        poke(items[1], 0, b"\xee" * size)
        assert raw(again, size) == before[head + size:head + 2 * size]


@pytest.mark.parametrize("method,record,cls,in_place", INDEXING, ids=[c[0] for c in INDEXING])
def test_indexing_refuses_what_the_buffer_does_not_hold(method, record, cls, in_place):
    # The header's other counts (the cache's total, a capacity) hold large
    # pattern bytes: only the element count bounds the index.
    buf, table = counted_buffer(record, 3)
    fn = getattr(_libfc, method)
    for index in (3, -1, 2**31 - 1, -(2**31)):
        with pytest.raises(IndexError) as info:
            fn(table, index)
        assert str(info.value) == "%s: index %d out of range 0..2" % (method, index)
    empty_buf, empty = counted_buffer(record, 0)
    with pytest.raises(IndexError) as info:
        fn(empty, 0)
    assert str(info.value) == "%s: index 0 out of range (no entries)" % method


@pytest.mark.parametrize("total, expected", [(0, 0), (5, 5), (2**31 - 1, 2**31 - 1), (2**31, -2**31),
                                             (4294967295, -1)])
def test_num_flows_is_total_entries_as_signed_int(total, expected):
    buf, flows = counted_buffer("FC_IOCFlows", 1)
    ctypes.memmove(ctypes.addressof(buf), total.to_bytes(4, "little"), 4)
    assert _libfc.FC_IOCFlows_get_num_flows(flows) == expected
    for method in ("FC_IOCFlows_get_flow", "FC_IOCFlows___getitem__"):  # the total narrows nothing either
        assert raw(getattr(_libfc, method)(flows, 0), 8) == buf.raw[8:16]


# --- destination ports: unaligned reads ------------------------------------------------

@pytest.mark.parametrize("index", [0, 1, 2048, 4095])
def test_destination_ports_read_in_place(index):
    entry = _libfc.new_FC_FlowEntryIOC()
    entity = _libfc.FC_FlowEntryIOC___getitem__(entry, 1)  # at an odd address
    offset = DPORTS.offset + 4 * index
    poke(entity, offset, b"\xfe\xff\xff\xff")
    assert _libfc.FC_ActionEntityIOC___getitem__(entity, index) == 4294967294
    poke(entity, offset, b"\x01\x02\x03\x04")
    assert _libfc.FC_ActionEntityIOC___getitem__(entity, index) == 0x04030201
    assert _libfc.FC_ActionEntityIOC___getitem__(entity, index ^ 1) == 0


# --- addresses as text ---------------------------------------------------------------

IP_KEY_BYTES = bytes.fromhex("0a000001c0a80002" + "0000000000000000" + "fe800000000000000000000000000001")


@pytest.mark.parametrize("function, flag, expected", [
    ("FC_FlowEntryIOC_get_srcip_entry", 0, "10.0.0.1"), ("FC_FlowEntryIOC_get_srcip_entry", 1, "a00:1:c0a8:2::"),
    ("FC_FlowEntryIOC_get_srcip_entry", -7, "a00:1:c0a8:2::"), ("FC_FlowEntryIOC_get_dstip_entry", 0, "192.168.0.2"),
    ("FC_FlowEntryIOC_get_dstip_entry", 2, "fe80::1"), ("FC_FlowEntryIOC_get_dstip_entry", 2**31 - 1, "fe80::1"),
])
def test_addresses_of_an_entry(function, flag, expected):
    entry = libfc.FC_FlowEntryIOC()
    poke(entry.fkey.ipKey, 0, IP_KEY_BYTES)
    assert getattr(_libfc, function)(entry, flag) == expected


@pytest.mark.parametrize("which, other", [("sip", "dip"), ("dip", "sip")])
def test_tunnel_addresses_follow_the_records_family(which, other):
    data = libfc.FC_VDL2EncapActionDataIOC()
    fn = getattr(_libfc, "FC_VDL2EncapActionDataIOC_get_" + which)
    assert fn(data) == "0.0.0.0"
    data.isV6 = 1
    assert fn(data) == "::"
    layout = BY_NAME["FC_VDL2EncapActionDataIOC"]
    poke(data, layout.field(which).offset, socket.inet_pton(socket.AF_INET6, "2001:db8:0:1::ffff"))
    assert fn(data) == "2001:db8:0:1::ffff"
    data.isV6 = 0
    assert fn(data) == "32.1.13.184"  # the first four bytes only
    poke(data, layout.field(other).offset, b"\x01" * 16)
    assert fn(data) == "32.1.13.184"

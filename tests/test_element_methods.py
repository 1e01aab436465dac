"""The element methods and address functions: what they all share, whichever
record they serve (the order their arguments are checked in; a wrong record:
test_conversions.py; a wrong argument count: test_argument_counts.py), the
messages for each refusal, the trap armed around the call and never reached
by a refusal; indexing the buffers the library returns (a header whose count
says how many elements follow: views or owned copies, bounded by that count
alone, none for a record this module constructed), the fixed arrays with
their bounds, and the addresses of an entry and of its tunnel data as text."""

import ctypes
import gc
import socket

import pytest

import _libfc
import libfc

from _helpers import COUNTED_BUFFERS, addr, counted_buffer, descriptor_name, poke, raw, this_of, trap_status
from _records import BY_NAME, arg2_message

# (function, record, takes an int index after the record)
FUNCTIONS = [
    ("FC_IOCFlows_get_num_flows", "FC_IOCFlows", False),
    ("FC_VDL2EncapActionDataIOC_get_sip", "FC_VDL2EncapActionDataIOC", False),
    ("FC_VDL2EncapActionDataIOC_get_dip", "FC_VDL2EncapActionDataIOC", False),
    ("FC_IOCFlows_get_flow", "FC_IOCFlows", True),
    ("FC_IOCFlows___getitem__", "FC_IOCFlows", True),
    ("FC_FlowEntryIOC___getitem__", "FC_FlowEntryIOC", True),
    ("FC_ActionEntityIOC___getitem__", "FC_ActionEntityIOC", True),
    ("FC_FlowEntryIOC_get_srcip_entry", "FC_FlowEntryIOC", True),
    ("FC_FlowEntryIOC_get_dstip_entry", "FC_FlowEntryIOC", True),
    ("FC_VDRActionData_get_instance", "FC_VDRActionData", True),
    ("FC_IOCInvalEntries___getitem__", "FC_IOCInvalEntries", True),
    ("FCHashStats___getitem__", "FCHashStats", True),
    ("FC_HashStatsIOC___getitem__", "FC_HashStatsIOC", True),
]
BAD_INDEXES = [(1.0, TypeError), ("1", TypeError), (None, TypeError), (2**31, OverflowError),
               (-2**31 - 1, OverflowError), (2**80, OverflowError)]


@pytest.mark.parametrize("function, record, indexed", FUNCTIONS, ids=[f[0] for f in FUNCTIONS])
def test_calls_arm_the_trap_and_refusals_never_reach_it(function, record, indexed):
    fn = getattr(_libfc, function)
    if record in COUNTED_BUFFERS:
        buffer, rec = counted_buffer(record, 1)
    else:
        rec = getattr(_libfc, "new_" + record)()
    index = (0,) if indexed else ()
    # A collection in between could finalise an owned record elsewhere, and
    # destructors arm the trap too.
    gc.collect()
    gc.disable()
    try:
        trap_status().value = 5
        result = fn(rec, *index)
        assert trap_status().value == 0
        trap_status().value = 5
        with pytest.raises(ValueError) as info:
            fn(None, *index)
        assert str(info.value) == "invalid null reference in method '%s', argument 1 of type '%s *'" % (
            function, record)
        for bad, error in BAD_INDEXES if indexed else ():
            for target in (rec, None):  # a null record is a valid conversion: the index is refused first
                with pytest.raises(error) as info:
                    fn(target, bad)
                assert str(info.value) == arg2_message(function, "int"), repr(bad)
        assert trap_status().value == 5, "a refused call must not reach the trap"
    finally:
        gc.enable()
        trap_status().value = 0
    del result


# (method, buffer record, count field, element class, whether the element is a view in place):
# arrays that follow their record in memory
COUNTED = [
    ("FC_IOCFlows_get_flow", "FC_IOCFlows", "numEntries", "FC_FlowEntryIOC", True),
    ("FC_IOCFlows___getitem__", "FC_IOCFlows", "numEntries", "FC_FlowEntryIOC", False),
    ("FC_IOCInvalEntries___getitem__", "FC_IOCInvalEntries", "numEntries", "FC_InvalEntity", False),
    ("FC_HashStatsIOC___getitem__", "FC_HashStatsIOC", "entries", "FCHashStats", False),
]


@pytest.mark.parametrize("method,record,count,cls,in_place", COUNTED, ids=[c[0] for c in COUNTED])
def test_indexing_a_buffer_gives_views_in_place_or_independent_owned_copies(method, record, count, cls, in_place):
    head, _, size = COUNTED_BUFFERS[record]
    buf, table = counted_buffer(record, 3)
    items = [getattr(_libfc, method)(table, i) for i in range(3)]
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


@pytest.mark.parametrize("method,record,count,cls,in_place", COUNTED, ids=[c[0] for c in COUNTED])
def test_indexing_refuses_past_the_count_and_a_constructed_record_holds_none_of_its_counted_elements(
        method, record, count, cls, in_place):
    # The header's other counts (the cache's total, a capacity) hold large
    # pattern bytes: only the element count bounds the index.
    buf, table = counted_buffer(record, 3)
    fn = getattr(_libfc, method)
    for index in (3, -1, 2**31 - 1, -(2**31)):
        with pytest.raises(IndexError) as info:
            fn(table, index)
        assert str(info.value) == "%s: index %d out of range 0..2" % (method, index)
    empty_buf, empty = counted_buffer(record, 0)
    constructed = getattr(_libfc, "new_" + record)()
    getattr(_libfc, "%s_%s_set" % (record, count))(constructed, 256)  # nothing lies behind the record
    for rec, index in ((empty, 0), (constructed, 0), (constructed, 2), (constructed, -1)):
        with pytest.raises(IndexError) as info:
            fn(rec, index)
        assert str(info.value) == "%s: index %d out of range (no entries)" % (method, index)


@pytest.mark.parametrize("total, expected", [(0, 0), (5, 5), (2**31 - 1, 2**31 - 1), (2**31, -2**31),
                                             (4294967295, -1)])
def test_num_flows_is_total_entries_as_signed_int(total, expected):
    buf, flows = counted_buffer("FC_IOCFlows", 1)
    ctypes.memmove(ctypes.addressof(buf), total.to_bytes(4, "little"), 4)
    assert _libfc.FC_IOCFlows_get_num_flows(flows) == expected
    for method in ("FC_IOCFlows_get_flow", "FC_IOCFlows___getitem__"):  # the total narrows nothing either
        assert raw(getattr(_libfc, method)(flows, 0), 8) == buf.raw[8:16]


# --- fixed arrays: the router instances, the action entities, the destination ports, the bucket lengths --------

def _entity_at_an_odd_address():
    entry = libfc.FC_FlowEntryIOC()
    return entry, _libfc.FC_FlowEntryIOC___getitem__(entry, 1)


@pytest.mark.parametrize("function, record, array", [
    ("FC_VDRActionData_get_instance", "FC_VDRActionData", "vdrActions"),
    ("FC_FlowEntryIOC___getitem__", "FC_FlowEntryIOC", "actionEntity"),
    ("FC_ActionEntityIOC___getitem__", "FC_ActionEntityIOC", "dport"),  # unaligned reads
    ("FCHashStats___getitem__", "FCHashStats", "bucketLengthMap"),
])
def test_fixed_array_elements_and_index_bounds(function, record, array):
    fn, f = getattr(_libfc, function), BY_NAME[record].field(array)
    holder, rec = _entity_at_an_odd_address() if record == "FC_ActionEntityIOC" else (None, getattr(libfc, record)())
    poke(rec, f.offset, bytes((i * 7 + 1) & 0xFF for i in range(f.width)))
    for index in (0, 1, f.count // 2, f.count - 1):  # an element is a view of its place, or the number there
        place = f.offset + index * f.elem_width
        got = fn(rec, index)
        if isinstance(got, int):
            assert got == int.from_bytes(raw(rec, f.elem_width, place), "little")
        else:
            assert (addr(got), this_of(got).own()) == (addr(rec) + place, False)
    for index in (f.count, -1, 2**31 - 1, -2**31):
        with pytest.raises(IndexError) as info:
            fn(rec, index)
        assert type(info.value) is IndexError
        assert str(info.value) == "%s: index %d out of range 0..%d" % (function, index, f.count - 1)


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

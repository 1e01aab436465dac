"""What every element method and address function shares, whichever record
it serves: the order its arguments are checked in (a wrong record:
test_conversions.py; a wrong argument count: test_argument_counts.py), the
messages for each refusal, the trap armed around the call and never reached
by a refusal, the rule that a counted array of a record this module
constructed holds no elements, and the fixed arrays with their bounds."""

import gc

import pytest

import _libfc
import libfc

from _helpers import COUNTED_BUFFERS, addr, counted_buffer, poke, raw, this_of, trap_status
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
INDEXED = [(f, r) for f, r, indexed in FUNCTIONS if indexed]
BAD_INDEXES = [(1.0, TypeError), ("1", TypeError), (None, TypeError), (2**31, OverflowError),
               (-2**31 - 1, OverflowError), (2**80, OverflowError)]


@pytest.mark.parametrize("function, record", INDEXED, ids=[f for f, _ in INDEXED])
def test_a_bad_index_is_refused_before_a_null_record(function, record):
    fn = getattr(_libfc, function)
    rec = getattr(_libfc, "new_" + record)()
    for bad, error in BAD_INDEXES:
        for target in (rec, None):  # a null record is a valid conversion: the index is refused first
            with pytest.raises(error) as info:
                fn(target, bad)
            assert str(info.value) == arg2_message(function, "int"), repr(bad)


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
        if indexed:
            with pytest.raises(OverflowError):
                fn(rec, 2**31)
        assert trap_status().value == 5, "a refused call must not reach the trap"
    finally:
        gc.enable()
        trap_status().value = 0
    del result


# (function, record, count field): arrays that follow their record in memory
COUNTED = [
    ("FC_IOCFlows_get_flow", "FC_IOCFlows", "numEntries"),
    ("FC_IOCFlows___getitem__", "FC_IOCFlows", "numEntries"),
    ("FC_IOCInvalEntries___getitem__", "FC_IOCInvalEntries", "numEntries"),
    ("FC_HashStatsIOC___getitem__", "FC_HashStatsIOC", "entries"),
]


@pytest.mark.parametrize("function, record, count", COUNTED, ids=[c[0] for c in COUNTED])
def test_a_constructed_record_holds_none_of_its_counted_elements(function, record, count):
    rec = getattr(_libfc, "new_" + record)()
    getattr(_libfc, "%s_%s_set" % (record, count))(rec, 256)  # nothing lies behind the record
    for index in (0, 2, -1):
        with pytest.raises(IndexError) as info:
            getattr(_libfc, function)(rec, index)
        assert str(info.value) == "%s: index %d out of range (no entries)" % (function, index)


# --- fixed arrays: the router instances, the action entities, the destination ports, the bucket lengths --------

@pytest.mark.parametrize("function, record, array", [
    ("FC_VDRActionData_get_instance", "FC_VDRActionData", "vdrActions"),
    ("FC_FlowEntryIOC___getitem__", "FC_FlowEntryIOC", "actionEntity"),
    ("FC_ActionEntityIOC___getitem__", "FC_ActionEntityIOC", "dport"),
    ("FCHashStats___getitem__", "FCHashStats", "bucketLengthMap"),
])
def test_fixed_array_elements_and_index_bounds(function, record, array):
    fn, rec, f = getattr(_libfc, function), getattr(libfc, record)(), BY_NAME[record].field(array)
    poke(rec, f.offset, bytes((i * 7 + 1) & 0xFF for i in range(f.width)))
    for index in (0, 1, f.count - 1):  # an element is a view of its place, or the number there
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

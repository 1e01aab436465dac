"""What every element method and address function shares, whichever record
it serves: the order its arguments are checked in, and the rule that a
counted array of a record this module constructed holds no elements."""

import pytest

import _libfc
import libfc  # noqa: F401  (registers the destructors of the records made here)

from _layout import arg1_message, arg2_message

# (function, record) of every function taking (record, int)
TWO_ARGUMENTS = [
    ("FC_IOCFlows_get_flow", "FC_IOCFlows"),
    ("FC_IOCFlows___getitem__", "FC_IOCFlows"),
    ("FC_FlowEntryIOC___getitem__", "FC_FlowEntryIOC"),
    ("FC_ActionEntityIOC___getitem__", "FC_ActionEntityIOC"),
    ("FC_FlowEntryIOC_get_srcip_entry", "FC_FlowEntryIOC"),
    ("FC_FlowEntryIOC_get_dstip_entry", "FC_FlowEntryIOC"),
    ("FC_VDRActionData_get_instance", "FC_VDRActionData"),
    ("FC_IOCInvalEntries___getitem__", "FC_IOCInvalEntries"),
    ("FCHashStats___getitem__", "FCHashStats"),
    ("FC_HashStatsIOC___getitem__", "FC_HashStatsIOC"),
]


@pytest.mark.parametrize("function, record", TWO_ARGUMENTS, ids=[f for f, _ in TWO_ARGUMENTS])
def test_both_arguments_are_converted_before_a_null_record_is_refused(function, record):
    fn = getattr(_libfc, function)
    # a wrong record is refused before the index is looked at
    with pytest.raises(TypeError) as info:
        fn(_libfc.new_FC_VdrInfo(), 2**31)
    assert str(info.value) == arg1_message(function, record)
    # a null record is a valid conversion: the bad index is refused first
    for bad, error in ((2**31, OverflowError), (1.5, TypeError)):
        with pytest.raises(error) as info:
            fn(None, bad)
        assert str(info.value) == arg2_message(function, "int")
    with pytest.raises(ValueError) as info:
        fn(None, 0)
    assert str(info.value) == "invalid null reference in method '%s', argument 1 of type '%s *'" % (function, record)


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
    getattr(_libfc, "%s_%s_set" % (record, count))(rec, 3)  # nothing lies behind the record
    for index in (0, 2):
        with pytest.raises(IndexError) as info:
            getattr(_libfc, function)(rec, index)
        assert str(info.value) == "%s: index %d out of range (no entries)" % (function, index)

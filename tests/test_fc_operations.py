"""The 14 flow cache operations and FC_ACTION_SIZE against the built-in
libfc: argument conversions and their messages (with no library call after
a refused argument), results, and calls the library abandons through the
trap (fcemu_fail_next)."""

import ctypes
import gc
import sys

import pytest

import _libfc
import libfc
from _helpers import builtin_library

LIB = builtin_library("libfc.so")
STATUS = ctypes.c_int.in_dll(ctypes.CDLL(_libfc.__file__), "exception_status")

PORTSET = "portset-0"
NO_FILTER = (0, 0, "\x00", 0, None, 0, 0, 0, 0, None, 0)
FILTER_TYPES = ["hyp_uint32", "hyp_uint32", "hyp_Bool", "hyp_uint32", "char const *", "hyp_uint32",
                "hyp_uint32", "hyp_uint32", "hyp_uint32", "char const *", "hyp_uint32"]

# name: (argument C types, arguments the library accepts)
OPERATIONS = {
    "FC_GetFlows": (FILTER_TYPES, NO_FILTER),
    "FC_RemoveFlows": (FILTER_TYPES, NO_FILTER),
    "FC_GetFlowCacheStats": ([], ()),
    "FC_GetFlowCacheHashStats": ([], ()),
    "FC_GetInvalTableEntries": ([], ()),
    "FC_InvalidateFCFlowEntry": (["hyp_uint32", "FC_InvalHashKeyType"], (5, _libfc.FC_INVAL_HASH_KEY_TYPE_PORTID)),
    "FC_InvalidateFlowsIoctl": ([], ()),
    "FC_IOCSetConfigOption": (["FC_ConfigOptionTypeIOC", "hyp_uint32"], (_libfc.FC_IOC_EXPR_TIME, 100)),
    "FC_IOCGetConfigOption": (["FC_ConfigOptionTypeIOC"], (_libfc.FC_IOC_EXPR_TIME,)),
    "FC_SetPortProp": (["char const *", "char const *", "FC_DVSPortEnableDir"],
                       (PORTSET, "5", _libfc.FC_PORT_ENABLE_DIR_ALL)),
    "FC_SetHostProp": (["char const *", "char const *", "hyp_Bool"],
                       (PORTSET, _libfc.FCPROP_PORTSET_ENABLE_CACHE, 1)),
    "FC_GetPortsetStatus": (["char const *"], (PORTSET,)),
    "FC_GetPortsetMcastStatus": (["char const *"], (PORTSET,)),
    "FC_GetFlowCacheEnabled": (["char const *", "char const *"], (PORTSET, "5")),
}

# Values each argument type refuses, with the exception kind.
REFUSED = {
    "hyp_uint32": [(-1, OverflowError), (2 ** 32, OverflowError), (1.0, TypeError), ("1", TypeError)],
    "hyp_Bool": [("ab", TypeError), (256, OverflowError), (-1, OverflowError), (0.0, TypeError)],
    # A record class stands for a record of that type made in the test.
    "char const *": [(5, TypeError), (b"bytes", TypeError), (libfc.FC_FlowKey, TypeError)],
    "FC_InvalHashKeyType": [(2 ** 31, OverflowError), (-2 ** 31 - 1, OverflowError), ("2", TypeError)],
    "FC_ConfigOptionTypeIOC": [(2 ** 31, OverflowError), (None, TypeError)],
    "FC_DVSPortEnableDir": [(2 ** 31, OverflowError), (3.0, TypeError)],
}


def fail_next(function, value=9, kind=RuntimeError, message="injected"):
    LIB.fcemu_fail_next(function.encode() if function else None, value, id(kind),
                        message.encode() if message is not None else None)


@pytest.fixture(autouse=True)
def no_pending_failure(flow_cache):
    """A private, empty cache for each test, with no fault left armed after it."""
    yield
    fail_next(None)  # nothing left pending for the next test


@pytest.mark.parametrize("name, position, value, kind, ctype", [
    pytest.param(name, position, value, kind, ctype,
                 id="%s-%d-%s" % (name, position + 1, getattr(value, "__name__", repr(value))))
    for name, (types, _) in OPERATIONS.items() for position, ctype in enumerate(types)
    for value, kind in REFUSED[ctype]])
def test_a_refused_argument_names_itself_and_the_library_is_not_entered(name, position, value, kind, ctype):
    types, good = OPERATIONS[name]
    args = list(good)
    args[position] = value() if isinstance(value, type) else value
    # A fault armed for this function fires on its next call: it must still
    # be pending after the refused call, so the refusal made no call.
    fail_next(name, 4, KeyError, "the library was entered")
    with pytest.raises(kind) as info:
        getattr(_libfc, name)(*args)
    assert str(info.value) == "in method '%s', argument %d of type '%s'" % (name, position + 1, ctype)
    with pytest.raises(KeyError):
        getattr(_libfc, name)(*good)


@pytest.mark.parametrize("value, kind", [(0, "\x00"), (1, "\x01"), ("\x01", "\x01"), ("", None), (None, None)])
def test_the_flag_takes_every_one_byte_spelling(value, kind):
    # isV6 set: only the IPv6 flows match.
    LIB.fcemu_traffic(200, 3)
    everything = _libfc.FC_GetFlows(*NO_FILTER).totalEntries
    flows = _libfc.FC_GetFlows(*NO_FILTER[:2], value, *NO_FILTER[3:])
    v6 = [entry.fkey.flags & _libfc.FC_FLOWKEY_IPV6 for entry in flows]
    if kind == "\x01":
        assert v6 and all(v6) and flows.totalEntries < everything
    else:
        assert flows.totalEntries == everything


def test_record_results_are_library_owned_proxies_of_their_classes():
    LIB.fcemu_traffic(10, 1)
    for name, cls in [("FC_GetFlows", libfc.FC_IOCFlows), ("FC_GetFlowCacheStats", libfc.FC_CacheStats),
                      ("FC_GetFlowCacheHashStats", libfc.FC_HashStatsIOC),
                      ("FC_GetInvalTableEntries", libfc.FC_IOCInvalEntries)]:
        result = getattr(_libfc, name)(*OPERATIONS[name][1])
        assert type(result) is cls, name
        assert result.this.own() is False, name
    flows = _libfc.FC_GetFlows(*NO_FILTER)
    address = int(flows.this)
    del flows
    gc.collect()
    # Not owned: the buffer is still the library's to read (and to free on
    # its next call, which a proxy that had freed it would make a double free).
    assert ctypes.string_at(address, 8) == (10).to_bytes(4, "little") * 2
    assert _libfc.FC_GetFlows(*NO_FILTER).totalEntries == 10


def test_action_size_does_nothing_but_arm_the_trap():
    with pytest.raises(TypeError, match="FC_ACTION_SIZE"):
        _libfc.FC_ACTION_SIZE(0)  # an empty argument list is still checked
    STATUS.value = 5
    assert _libfc.FC_ACTION_SIZE() is None
    assert STATUS.value == 0


# ---- Calls the library abandons -----------------------------------------------

@pytest.mark.parametrize("name", sorted(OPERATIONS))
@pytest.mark.parametrize("value, kind, message", [(7, RuntimeError, "device gone"), (3, ValueError, "bad value"),
                                                  (-2, OSError, "no state")])
def test_an_abandoned_call_raises_what_the_library_left(name, value, kind, message):
    fail_next(name, value, kind, message)
    if name != "FC_IOCGetConfigOption":  # another function's next call is not the one abandoned
        _libfc.FC_IOCGetConfigOption(_libfc.FC_IOC_EXPR_TIME)
    with pytest.raises(kind) as info:
        getattr(_libfc, name)(*OPERATIONS[name][1])
    assert type(info.value) is kind and info.value.args == (message,)
    assert STATUS.value == value
    # Only that one call was abandoned; the next one arms the trap afresh.
    getattr(_libfc, name)(*OPERATIONS[name][1])
    assert STATUS.value == 0


def test_an_abandoned_call_with_no_message_raises_the_fallback():
    # Abandoning with no exception type at all: the CLI's failure table.
    fail_next("FC_GetPortsetStatus", 5, ValueError, None)
    with pytest.raises(RuntimeError, match="abandoned") as info:
        _libfc.FC_GetPortsetStatus(PORTSET)
    assert type(info.value) is RuntimeError and STATUS.value == 5


def test_thousands_of_abandoned_calls_leave_the_interpreter_healthy():
    gc.collect()  # earlier tests' tracebacks may still hold the type
    refs = sys.getrefcount(RuntimeError)
    for i in range(3000):
        fail_next("FC_IOCGetConfigOption", 1 + i % 100, RuntimeError, "injected failure")
        with pytest.raises(RuntimeError) as info:
            _libfc.FC_IOCGetConfigOption(0)
        assert str(info.value) == "injected failure"
        del info
    assert sys.getrefcount(RuntimeError) == refs
    # Calls made after the jumps return normally and see the same state.
    _libfc.FC_SetPortProp("portset-3", "9", 1)
    assert _libfc.FC_GetFlowCacheEnabled("portset-3", "9") == "ingress"
    assert isinstance(_libfc.FC_IOCGetConfigOption(0), int)
    assert STATUS.value == 0

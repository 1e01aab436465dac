"""Wrong numbers of arguments are reported exactly as the interpreter's own
tuple parser reports them for the method's format ("OO:<method>" and so on).

The reference message is produced by calling PyArg_ParseTuple itself with the
same argument tuple and format.
"""

import ctypes

import pytest

import _libfc
import libfc  # noqa: F401

from _layout import nargs
from _records import BY_NAME, RECORDS, method_names


def parser_message(args, fmt):
    """The TypeError text PyArg_ParseTuple gives for ``args`` and ``fmt``."""
    nslots = fmt.split(":")[0].count("O")
    slots = [ctypes.py_object() for _ in range(nslots)]
    parse = ctypes.pythonapi.PyArg_ParseTuple
    with pytest.raises(TypeError) as info:
        parse(ctypes.py_object(tuple(args)), fmt.encode(), *[ctypes.byref(s) for s in slots])
    return str(info.value)


def _format(method):
    if method.endswith("_swigregister"):
        return "O:swigregister"
    if method.startswith("new_"):
        return ":" + method
    if method.endswith("_set"):
        return "OO:" + method
    return "O" * nargs(method) + ":" + method


def _sample_methods():
    picked = []
    for name in ("hyp_String", "hyp_Name", "hyp_MgmtCallbackInfo", "hyp_SocketIPv6AddressAddr",
                 "hyp_SocketIPv6AddressAddr___u6_addr", "hyp_FabPortVlanInfo", "OVL_RCUDeferredCallItem"):
        picked += method_names(BY_NAME[name])
    return picked


METHODS = _sample_methods()


def _wrong_counts(fmt):
    n = fmt.split(":")[0].count("O")
    counts = {0, n - 1, n + 1, n + 2, n + 5} - {n}
    return sorted(c for c in counts if c >= 0)


@pytest.mark.parametrize("method", METHODS)
def test_wrong_argument_count_matches_interpreter_message(method):
    fmt = _format(method)
    fn = getattr(_libfc, method)
    for count in _wrong_counts(fmt):
        args = (None,) * count
        expected = parser_message(args, fmt)
        with pytest.raises(TypeError) as info:
            fn(*args)
        assert str(info.value) == expected, "%s with %d arguments" % (method, count)


@pytest.mark.parametrize("record", RECORDS, ids=[r.name for r in RECORDS])
def test_every_method_of_the_record_counts_its_arguments(record):
    for method in method_names(record):
        fmt = _format(method)
        n = fmt.split(":")[0].count("O")
        args = (None,) * (n + 1)
        with pytest.raises(TypeError) as info:
            getattr(_libfc, method)(*args)
        assert str(info.value) == parser_message(args, fmt), method


def test_too_many_arguments_change_nothing():
    rec = _libfc.new_hyp_String()
    _libfc.hyp_String_bufferSize_set(rec, 3)
    with pytest.raises(TypeError):
        _libfc.hyp_String_bufferSize_set(rec, 4, 5)
    assert _libfc.hyp_String_bufferSize_get(rec) == 3


@pytest.mark.parametrize("method,kwargs", [
    ("new_hyp_String", {"x": 1}),
    ("delete_hyp_String", {"rec": None}),
    ("hyp_String_bufferSize_get", {"rec": None}),
    ("hyp_String_bufferSize_set", {"value": 1}),
    ("hyp_String_swigregister", {"cls": object}),
])
def test_keyword_arguments_are_refused(method, kwargs):
    fn = getattr(_libfc, method)
    positional = {"new_hyp_String": (), "hyp_String_bufferSize_set": (None,)}.get(method, ())
    with pytest.raises(TypeError):
        fn(*positional, **kwargs)

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
from _records import RECORDS, method_names


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


@pytest.mark.parametrize("record", RECORDS, ids=[r.name for r in RECORDS])
def test_every_method_of_the_record_counts_its_arguments(record):
    # None, one too few and one too many (a count far off takes the same branch).
    for method in method_names(record):
        fmt = _format(method)
        n = fmt.split(":")[0].count("O")
        for count in sorted({0, n - 1, n + 1} - {n, -1}):
            args = (None,) * count
            with pytest.raises(TypeError) as info:
                getattr(_libfc, method)(*args)
            assert str(info.value) == parser_message(args, fmt), "%s with %d arguments" % (method, count)
        with pytest.raises(TypeError, match="takes no keyword arguments"):  # even beside the right count
            getattr(_libfc, method)(*(None,) * n, value=None)

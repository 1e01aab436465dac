"""The built-in libraries' control functions (fcemu_* in libfc.so, fabemu_*
in libfabPublic.so) as ctypes sees them: the file each lies in, each
function's result and argument types, the flow cache's size limits and the
layout of its traffic report, as fcemu.h and fabemu.h declare them.  A real
datapath library has none of these functions."""

import ctypes
import functools
import os

import _libfc

FLOW_CACHE = "libfc.so"
SWITCH_STORE = "libfabPublic.so"

# The sizes fcemu_reset_sized accepts (FCEMU_* in fcemu.h).
DEFAULT_TABLES, DEFAULT_ENTRIES = 16, 8192
MAX_TABLES, MIN_ENTRIES, MAX_ENTRIES, MAX_FLOWS = 1024, 16, 8192, 2097152


class TrafficResult(ctypes.Structure):
    """fcemu_traffic_result: what became of each flow of the traffic."""
    _fields_ = [(name, ctypes.c_uint) for name in
                ("installed", "evicted", "hits", "table_full", "inval_full", "port_disabled")]


_int, _uint, _text = ctypes.c_int, ctypes.c_uint, ctypes.c_char_p
# A fault hook's arguments: function name (None: any), value, exception type
# (an address: id(type), or None) and message.
_FAIL_NEXT = (None, [_text, _int, ctypes.c_void_p, _text])

# Each library's control functions: name -> (result type, argument types).
PROTOTYPES = {
    FLOW_CACHE: {
        "fcemu_last_error": (_text, []),
        "fcemu_state_dir": (_text, []),
        "fcemu_reset": (_int, []),
        "fcemu_reset_sized": (_int, [_uint, _uint]),
        "fcemu_add_flow": (_int, [ctypes.c_void_p]),
        "fcemu_traffic": (_int, [_uint, _uint]),
        "fcemu_traffic_from": (_int, [_uint, _uint, _uint]),
        "fcemu_traffic_report": (_int, [_uint, _uint, ctypes.POINTER(TrafficResult)]),
        "fcemu_traffic_report_from": (_int, [_uint, _uint, _uint, ctypes.POINTER(TrafficResult)]),
        "fcemu_check": (_int, [_text, ctypes.c_size_t]),
        "fcemu_fail_next": _FAIL_NEXT,
    },
    SWITCH_STORE: {
        "fabemu_reset": (_int, []),
        "fabemu_populate": (_int, [_uint, _uint, _uint]),
        "fabemu_cancel": (None, []),
        "fabemu_store_path": (_text, []),
        "fabemu_fail_next": _FAIL_NEXT,
    },
}


# Values (unsigned int) each library exports beside its functions.
VALUES = {
    FLOW_CACHE: ("fcemu_entries_per_bucket",),
    SWITCH_STORE: ("fabemu_max_switches", "fabemu_max_ports_per_switch", "fabemu_max_ports"),
}


def beside_module(file_name):
    """The library of that name _libfc loaded: the one beside it (loading
    the file again hands back the handle the dynamic loader holds)."""
    return ctypes.CDLL(os.path.join(os.path.dirname(os.path.abspath(_libfc.__file__)), file_name))


@functools.lru_cache(maxsize=None)
def flows_per_bucket():
    """How many flows the loaded flow cache holds per bucket of a hash table:
    what the built-in library exports, else (a real library, which says no
    more) the most a bucket holds, FC_MAX_ENTRIES_PER_CACHE_BUCKET."""
    try:
        return ctypes.c_uint.in_dll(beside_module(FLOW_CACHE), "fcemu_entries_per_bucket").value
    except (OSError, ValueError):
        return _libfc.FC_MAX_ENTRIES_PER_CACHE_BUCKET


def declare(library, file_name):
    """Gives the control functions of library (loaded from file_name) their
    prototypes and returns it; AttributeError when it lacks one, as a real
    library does."""
    for name, (result, arguments) in PROTOTYPES[file_name].items():
        function = getattr(library, name)
        function.restype, function.argtypes = result, arguments
    return library


def controls(file_name):
    """The library of that name beside _libfc, its control functions
    declared (OSError or AttributeError for a library that has none)."""
    return declare(beside_module(file_name), file_name)

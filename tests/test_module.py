"""The module object as scripts see it: its name and method table, the
instance-method helper, class registration, type matching between records,
the global-variables object ``cvar`` and the module constants.
"""

import os
import sys

import pytest

import _libfc
import _libfc_fields
import libfc  # noqa: F401

from _helpers import module_methods, run_python_ok


# --- module object and method table ---------------------------------------------

def test_module_and_its_methods_are_undocumented_and_methods_come_before_the_constants():
    assert (_libfc.__name__, _libfc.__doc__) == ("_libfc", None)
    assert [name for name in module_methods() if getattr(_libfc, name).__doc__ is not None] == []
    keys = list(_libfc.__dict__)
    assert max(keys.index(m) for m in module_methods()) < keys.index("HYP_MODULE_NAME_MAX")


# --- SWIG_PyInstanceMethod_New ------------------------------------------------------

def test_instance_method_wraps_any_callable_for_use_in_a_class():
    # (How an instance method binds is the interpreter's: one binding is shown.)
    wrapped = _libfc.SWIG_PyInstanceMethod_New(_libfc.hyp_Name___repr__)
    assert type(wrapped).__name__ == "instancemethod"
    assert wrapped.__func__ is _libfc.hyp_Name___repr__

    class Port:
        __repr__ = wrapped

        def __init__(self):
            self.this = _libfc.new_hyp_Name()

    port = Port()
    _libfc.hyp_Name_string_set(port, "eth0\x00x")
    assert repr(port) == "eth0"
    assert _libfc.SWIG_PyInstanceMethod_New(5).__func__ == 5  # no check of its own
    for args, kwargs in [((), {}), ((len, len), {}), ((len, len, len), {}), ((), {"func": len})]:
        with pytest.raises(TypeError):  # exactly one positional object
            _libfc.SWIG_PyInstanceMethod_New(*args, **kwargs)


# --- class registration (in fresh interpreters: it lasts for the process) ------------

def test_registered_class_wraps_pointers_returned_afterwards_and_its_destructor_is_called_quietly():
    result = run_python_ok("""
        import _libfc
        sig = _libfc.new_hyp_MgmtApiSignature()
        before = _libfc.hyp_MgmtApiSignature_name_get(sig)
        assert type(before).__name__ == "SwigPyObject", type(before)

        calls = []
        class Name:
            def __new__(cls, *args):
                calls.append("new")
                return object.__new__(cls)
            def __init__(self, *args):
                calls.append("init")
            __swig_destroy__ = _libfc.delete_hyp_Name

        assert _libfc.hyp_Name_swigregister(Name) is None
        after = _libfc.hyp_MgmtApiSignature_name_get(sig)
        assert type(after) is Name, type(after)
        assert calls == [], calls          # neither __new__ nor __init__ of the class ran
        assert type(after.this).__name__ == "SwigPyObject" and after.this.own() is False and after.this == before
        assert _libfc.hyp_Name_string_get(after) == ""

        fresh = _libfc.new_hyp_Name()
        assert type(fresh).__name__ == "SwigPyObject"    # constructors stay bare
        del fresh

        # other record types are not affected
        sock = _libfc.new_hyp_SocketIPAddress()
        assert type(_libfc.hyp_SocketIPAddress_sin_addr_get(sock)).__name__ == "SwigPyObject"
        _libfc.delete_hyp_SocketIPAddress(sock)

        _libfc.delete_hyp_MgmtApiSignature(sig)

        # A built-in destructor is called directly with the dying object; its
        # result, or its failure (len of a pointer), is dropped without a word.
        for destroy in (id, len):
            class Quiet:
                __swig_destroy__ = destroy
            _libfc.hyp_IntrInfo_swigregister(Quiet)
            for _ in range(3):
                p = _libfc.new_hyp_IntrInfo()
                del p
        print("ok")
    """)
    assert (result.stdout, result.stderr) == ("ok\n", "")


# --- cvar ------------------------------------------------------------------------------

@pytest.mark.parametrize("name", ["hyp_ModuleCurrentID", "foo", "hyp_moduleCurrentID", "hyp_ModuleCurrentID_",
                                  "hyp_Module", "__dict__", "__class__", "__doc__"])
def test_cvar_reads_the_module_id_and_refuses_changes_and_unknown_names(name):
    cvar = _libfc.cvar
    assert (type(cvar).__name__, type(cvar).__doc__, repr(cvar), str(cvar)) == (
        "swigvarlink", "Swig var link object", "<Swig global variables>", "(hyp_ModuleCurrentID)")
    changes = [lambda: delattr(cvar, name)] + [lambda v=v: setattr(cvar, name, v) for v in (5, 0, None, "x")]
    if name == "hyp_ModuleCurrentID":
        error, message = AttributeError, "Variable hyp_ModuleCurrentID is read-only."
    else:
        error, message, changes = NameError, "Unknown C global variable", changes + [lambda: getattr(cvar, name)]
    for change in changes:
        with pytest.raises(error) as info:
            change()
        assert str(info.value) == message
    assert type(cvar.hyp_ModuleCurrentID) is int and cvar.hyp_ModuleCurrentID == 0


# --- constants -----------------------------------------------------------------------------

# The constants' names, in module dictionary order.
CONSTANTS = [name for name, value in vars(_libfc).items() if type(value) in (int, str) and not name.startswith("__")]


# One constant per way a value is written in the headers: a shifted 64-bit
# value, an expression of other constants, a byte-swapped macro, a string
# literal, a printf format, negative values (they stay negative), and
# spellings kept from the libraries.
@pytest.mark.parametrize("name, value", [
    ("HYP_EXABYTE", 2**60), ("HYP_GENERIC_LINUX_ERROR", 732758016), ("HYPAPI_REVISION", 0x020A0000),
    ("HYP_ETH_TYPE_MPLS_MULTICAST_NBO", 0x4888), ("ALL_PUBLIC_PROP_TYPE", 0xFC), ("FC_WORLD_WAITMS", 360000),
    ("HYP_FABPROP_PORT_DVFILTER", "com.quorix.common.port.dvfilter"), ("FC_HELPER_NAME", "Flow cache Heap Helper"),
    ("HYP_ETH_ADDR_FMT_STR", "%02hhx:%02hhx:%02hhx:%02hhx:%02hhx:%02hhx"), ("HYP_FMT64", "L"),
    ("HYP_LINK_DUPLEX_AUTO", -1), ("ALL_PROP_TYPE", -2147483396), ("NO_SYNC_PROP_TYPE", -2147483648),
    ("HYP_VLAN_PRIORITY_INTERNETWORK_CONROL", 6), ("hypApiDebug", 0), ("RCFDefaultType", "cbpf"),
])
def test_constant_values(name, value):
    assert getattr(_libfc, name) == value and type(getattr(_libfc, name)) is type(value), name


def test_network_order_ether_types_are_byte_swapped_twins():
    twins = [(name, name[:-4]) for name in CONSTANTS if name.startswith("HYP_ETH_TYPE_") and name.endswith("_NBO")]
    assert len(twins) == 28
    for nbo, host in twins:
        value = getattr(_libfc, host)
        swapped = int.from_bytes(value.to_bytes(2, "big"), "little")
        assert getattr(_libfc, nbo) == swapped, nbo
    port = _libfc.HYP_NET_PROTO_GENEVE_UDP_PORT
    assert _libfc.HYP_NET_PROTO_GENEVE_UDP_PORT_NBO == int.from_bytes(port.to_bytes(2, "big"), "little")


def test_status_codes_increase_from_failure_to_last_error():
    first, last = CONSTANTS.index("HYP_FAILURE"), CONSTANTS.index("HYP_LAST_ERR")
    codes = [getattr(_libfc, name) for name in CONSTANTS[first:last + 1]]
    assert codes[0] == 0x0BAD0001 and codes[-1] == 0x0BAD0168
    assert all(a < b for a, b in zip(codes, codes[1:]))
    assert CONSTANTS[first - 1] == "HYP_OK" and _libfc.HYP_OK == 0
    assert CONSTANTS[last + 1] == "HYP_GENERIC_LINUX_ERROR"


# --- build ------------------------------------------------------------------------------

def test_fast_paths_into_interpreter_internals_are_compiled_only_where_the_suite_runs_them():
    # The version matrix marks the pass whose build took the public paths.
    public_only = os.environ.get("LIBFC_PUBLIC_API_ONLY") == "ON"
    assert _libfc_fields._fast_internals == (not public_only and (3, 9) <= sys.version_info[:2] <= (3, 13))

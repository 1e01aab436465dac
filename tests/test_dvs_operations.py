"""The switch state operations against the built-in store: every operation
from one table of signatures (argument conversions and their messages, result
kinds, no library call after a refused argument, the trap), then the cases
that need a populated store (truth bytes, unsigned and negative results,
handles, fixed text buffers, callbacks) and Panic."""

import ctypes
import os
import re

import pytest

import _libfc
import _libfc_ptr
import libfc
from _helpers import builtin_library

LIB = builtin_library("libfabPublic.so")
MODULE = ctypes.CDLL(_libfc.__file__)
TRAP_STATUS = ctypes.c_int.in_dll(MODULE, "exception_status")

STATUS, UNSIGNED, SIGNED, TRUTH, TEXT, HANDLE, NOTHING = (
    "status", "unsigned", "signed", "truth", "text", "handle", "nothing")
TXT = "char const *"
KIND_OF_RESULT = {"HYP_ReturnStatus": STATUS, "int": SIGNED, "hyp_uint32": UNSIGNED, "FabVersion": UNSIGNED,
                  "hyp_Bool": TRUTH, TXT: TEXT, "DVSwitchHandle": HANDLE, "DVSPortHandle": HANDLE, "void": NOTHING}


def read_operations():
    """(name, result kind, argument C types) of every operation, in
    declaration order, from the module's own description of them."""
    path = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "switchstate",
                        "dvs_operations.def")
    with open(path) as f:
        lines = re.findall(r"^OPERATION\((\w+),\s*(.*)\)\s*$", f.read(), re.M)
    operations = []
    for name, types in lines:
        result, *params = re.findall(r'"([^"]*)"', types)
        operations.append((name, KIND_OF_RESULT[result], params))
    return operations + [("Panic", NOTHING, [TXT])]  # the module's own wrapper


OPERATIONS = read_operations()
NAMES = [name for name, _, _ in OPERATIONS]
TRAPPED = [op for op in OPERATIONS if op[0] != "Panic"]

HANDLES = {"void *", "DVSwitchHandle", "DVSPortHandle", "DVSDataHandle", "DVSDataItem"}
OUTPUTS = {"void **": "voidpp", "DVSDataHandle *": "voidpp", "DVSDataItem *": "voidpp", "int *": "intp",
           "hyp_uint32 *": "uint32p", "DVPortList **": "DVPortListpp",
           "OpaqueDVPortData **": "OpaqueDVPortDatapp"}
CALLBACKS = {"DVSwitchCallback", "DVSPortCallback", "DVSPortDataCallback", "DVSData_MemAlloc", "DVSData_MemFree"}
SIGNED_INTS = {"int", "DVSPortType", "HYP_ReturnStatus"}
UNSIGNED_INTS = {"hyp_uint32", "FabVersion"}


def fail_next(name, value, exception=None, message=b"injected"):
    """The library's next call of `name` abandons through the trap (value 0
    cancels). Exception types are built-ins, alive for the process."""
    LIB.fabemu_fail_next(name.encode(), value, id(exception) if exception else None, message)


def accepted_value(ctype):
    """A value every operation takes for this C type without harm."""
    if ctype == TXT:
        return "no such thing"
    if ctype.startswith("char ["):
        return ""
    if ctype in SIGNED_INTS or ctype in UNSIGNED_INTS:
        return 0
    return None  # handles, output addresses and callbacks take the null pointer


def refused_values(ctype):
    """(value, exception) pairs the conversion of this C type refuses."""
    if ctype == TXT:
        return [(5, TypeError), (b"bytes", TypeError)]
    if ctype.startswith("char ["):
        size = int(ctype[6:-1])
        return [("x" * (size + 1), TypeError), (7, TypeError)]
    if ctype in SIGNED_INTS:
        return [(2 ** 31, OverflowError), ("1", TypeError)]
    if ctype in UNSIGNED_INTS:
        return [(-1, OverflowError), (2 ** 32, OverflowError), (1.0, TypeError)]
    if ctype in HANDLES:
        return [(3, TypeError), ("text", TypeError)]
    if ctype in OUTPUTS:
        # A pointer object of another output type.
        other = "new_intp" if OUTPUTS[ctype] != "intp" else "new_voidpp"
        return [(getattr(_libfc_ptr, other)(), TypeError), ("text", TypeError)]
    if ctype in CALLBACKS:
        return [(lambda a, b: 1, TypeError), (len, TypeError)]
    raise AssertionError(ctype)


def accepted_args(params):
    return [accepted_value(c) for c in params]


@pytest.fixture(scope="module", autouse=True)
def store_file(tmp_path_factory):
    """One store file for the module; tests that need a known store empty it."""
    with pytest.MonkeyPatch.context() as patch:
        patch.setenv("FAB_EMU_DB", str(tmp_path_factory.mktemp("dvs") / "fab.db"))
        assert LIB.fabemu_reset() == 0
        yield


@pytest.fixture(autouse=True)
def no_pending_failure():
    yield
    for name in NAMES:  # no injected failure outlives its test
        fail_next(name, 0)


@pytest.mark.parametrize("name, kind, params", TRAPPED, ids=[op[0] for op in TRAPPED])
def test_operation_takes_its_arguments_returns_its_kind_of_result_and_raises_what_an_abandoning_library_left(
        name, kind, params):
    function = getattr(_libfc, name)
    # Wrong argument counts: test_operations.py's probe of the one template.
    result = function(*accepted_args(params))
    if kind in (STATUS, SIGNED, UNSIGNED):
        assert type(result) is int
        assert 0 <= result < 2 ** 32 if kind == UNSIGNED else -2 ** 31 <= result < 2 ** 31
    elif kind == TRUTH:
        assert type(result) is str and len(result) == 1
    elif kind == TEXT:
        assert result is None or type(result) is str
    elif kind == HANDLE:
        assert result is None or type(result).__name__ == "SwigPyObject"
    else:
        assert result is None
    fail_next(name, 7, LookupError, ("%s gave up" % name).encode())
    with pytest.raises(LookupError) as info:
        function(*accepted_args(params))
    assert str(info.value) == "%s gave up" % name and TRAP_STATUS.value == 7
    function(*accepted_args(params))
    assert TRAP_STATUS.value == 0


REFUSALS = [(name, position, ctype, value, error)
            for name, _, params in TRAPPED
            for position, ctype in enumerate(params, 1)
            for value, error in refused_values(ctype)]


@pytest.mark.parametrize("name, position, ctype, value, error", REFUSALS,
                         ids=["%s-%d-%s" % (r[0], r[1], r[4].__name__) for r in REFUSALS])
def test_refused_argument_names_its_type_and_never_reaches_the_library(name, position, ctype, value, error):
    function = getattr(_libfc, name)
    _, _, params = OPERATIONS[NAMES.index(name)]
    args = accepted_args(params)
    args[position - 1] = value
    # A call that reached the library would take this injected failure.
    fail_next(name, 5, KeyError, b"library entered")
    with pytest.raises(error) as info:
        function(*args)
    assert str(info.value) == "in method '%s', argument %d of type '%s'" % (name, position, ctype)
    with pytest.raises(KeyError, match="library entered"):
        function(*accepted_args(params))


# ---- With a populated store -------------------------------------------------

SW = "sw-1"


@pytest.fixture
def switch():
    assert LIB.fabemu_reset() == 0
    assert _libfc.DVSHYP_SwitchAdd(SW, "quorix.ethernet", 8, 1) == _libfc.HYP_OK
    assert _libfc.DVSHYP_PortAdd(SW, "p1", None, 0) == _libfc.HYP_OK
    return _libfc.DVSState_SwitchFindByAlias(SW)


def test_results_keep_their_values_and_handles_take_any_pointer_object(switch):
    # Truth bytes are one-character texts, both of them.
    assert (_libfc.DVPortExist(SW, "p1"), _libfc.DVPortExist(SW, "p2")) == ("\x01", "\x00")
    # Unsigned results above bit 31 stay positive; int results may be negative.
    assert _libfc.DVSHYP_SwitchSetVersion(SW, 0x80000001) == _libfc.HYP_OK
    assert _libfc.DVSHYP_SwitchSetMaxPorts(SW, 0xFFFFFFFF) == _libfc.HYP_OK
    assert (_libfc.DVS_Version(switch), _libfc.DVS_GetMaxPorts(switch)) == (0x80000001, -1)
    # Item types and their comparison: test_builtin_fab.py's lookup test.
    assert (_libfc.DVS_SwitchId(switch), _libfc.DVS_ClassName(switch)) == (SW, "quorix.ethernet")
    # Any pointer object passes unchecked; the library judges the handle.
    record = _libfc.new_DVPortData()
    try:
        assert _libfc.DVS_SwitchId(record) is None
        assert _libfc.DVS_PortId(_libfc_ptr.new_intp()) is None
    finally:
        _libfc.delete_DVPortData(record)


def test_outputs_may_lie_at_any_address(switch):
    # A packed record's array of uint32 starts at an odd offset: the library
    # writes its outputs bytewise (the sanitized pass checks the alignment).
    entity, cell = libfc.FC_ActionEntityIOC(), _libfc_ptr.new_voidpp()
    ports = _libfc.FC_ActionEntityIOC_dport_get(entity)
    assert _libfc.DVSData_Alloc(cell, _libfc_ptr.DVSData_MemAlloc, _libfc_ptr.DVSData_MemFree) == _libfc.HYP_OK
    container = _libfc_ptr.voidpp_value(cell)
    assert _libfc.DVSData_Serialize(container, cell, ports, 1) == _libfc.HYP_OK
    assert int(ports) % 4 and _libfc_ptr.uint32p_value(ports) == 20  # an empty container's block: its header
    _libfc.DVSHYP_DataFree(_libfc_ptr.voidpp_value(cell))
    _libfc.DVSData_Free(container)


# Texts one byte longer are refused with their message in the table of refusals above;
# the other operations of each buffer size convert theirs the same way.
@pytest.mark.parametrize("name, size", [("DVSAliasToSwitchId", 64), ("DVSPortsetNameToAlias", 128)])
def test_fixed_text_buffers_count_utf8_bytes(name, size):
    function = getattr(_libfc, name)
    for fits in ("a" * size, "\u00e9" * (size // 2)):
        assert type(function("alias", fits)) is int
    with pytest.raises(TypeError, match=r"^in method '%s', argument 2 of type 'char \[%d\]'$" % (name, size)):
        function("alias", "\u00e9" * (size // 2) + "a")


@pytest.mark.parametrize("operation, leading, ctype", [("DVSState_PortForEach", True, "DVSPortCallback"),
                                                      ("DVSState_SwitchForEach", False, "DVSwitchCallback")])
def test_callbacks_are_the_helper_modules_and_python_functions_are_refused(switch, operation, leading, ctype):
    head = (switch,) if leading else ()
    collected = []
    getattr(_libfc, operation)(*head, _libfc_ptr.collect_handles, _libfc_ptr.list_context(collected))
    assert len(collected) == 1
    with pytest.raises(TypeError) as info:
        getattr(_libfc, operation)(*head, lambda entry, context: 1, None)
    assert str(info.value) == "in method '%s', argument %d of type '%s'" % (operation, len(head) + 1, ctype)


def test_panic_converts_only_its_text_and_runs_without_the_trap(capfd):
    TRAP_STATUS.value = 99
    assert _libfc.Panic("stop %d here", object(), 3.5) is None
    assert TRAP_STATUS.value == 99  # not armed
    assert "fabemu: Panic: stop %d here" in capfd.readouterr().err
    assert _libfc.Panic("plain") is None
    assert "fabemu: Panic: plain" in capfd.readouterr().err
    with pytest.raises(TypeError) as info:
        _libfc.Panic(5, "ignored")
    assert str(info.value) == "in method 'Panic', argument 1 of type 'char const *'"
    with pytest.raises(TypeError, match="Panic"):
        _libfc.Panic()
    _libfc.DVSLoadConfig()
    assert TRAP_STATUS.value == 0

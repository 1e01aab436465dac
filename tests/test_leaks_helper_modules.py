"""The helper modules free what they allocate, measured on the C heap: output
cells (freed by delete_X or when the cell dies, once), byte access through
cdata/memmove, list contexts (whose bookkeeping of live lists must shrink
again), the companion's field descriptors and record initialisers, and the
switch state operations when the library abandons calls through the trap
thousands of times."""

import ctypes
import os

import pytest

import _libfc
import _libfc_fields
import _libfc_ptr
from _helpers import BUILD_DIR, c_heap_growth, c_heap_in_use

needs_heap = pytest.mark.skipif(c_heap_in_use() is None, reason="the C heap cannot be measured here")

CYCLES = 100_000
HEAP_BOUND = 256 * 1024  # one 16-byte block lost per cycle is >= 1.6 MiB
CELLS = ["voidpp", "intp", "uint32p", "DVPortListpp", "OpaqueDVPortDatapp"]
FAB = ctypes.CDLL(os.path.join(BUILD_DIR, "libfabPublic.so"))
FAB.fabemu_fail_next.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_char_p]
FAB.fabemu_populate.argtypes = [ctypes.c_uint, ctypes.c_uint, ctypes.c_uint]


def cell_dropped():
    for stem in CELLS:
        getattr(_libfc_ptr, "new_" + stem)()


def cell_deleted_then_dropped():
    for stem in CELLS:
        cell = getattr(_libfc_ptr, "new_" + stem)()
        getattr(_libfc_ptr, "delete_" + stem)(cell)
        try:
            getattr(_libfc_ptr, "delete_" + stem)(cell)  # a deleted cell is refused
        except TypeError:
            pass


def bytes_through_cells():
    cell = _libfc_ptr.new_intp()
    _libfc_ptr.memmove(cell, b"\x01\x02\x03\x04")
    _libfc_ptr.cdata(cell, 4)
    _libfc_ptr.intp_value(cell)
    try:
        _libfc_ptr.memmove(cell, b"x" * 5)  # past the cell: refused, the buffer released
    except ValueError:
        pass
    _libfc_ptr.as_voidp(cell)


def list_context_walk():
    found = []
    context = _libfc_ptr.list_context(found)
    _libfc.DVSState_SwitchForEach(_libfc_ptr.collect_handles, context)


def list_context_refused():
    try:
        _libfc_ptr.list_context("not a list")
    except TypeError:
        pass


def field_descriptor_made():
    _libfc_fields.describe_field(_libfc.FC_FlowKey_flags_get, _libfc.FC_FlowKey_flags_set, 0, 4, 0, -1, 0, 4, 1,
                                 0, 0)
    try:
        _libfc_fields.describe_field(len, None, 99, 0, 0, 0, 0, 0, 0, 0, 0)
    except ValueError:
        pass


def record_initializer_made():
    init = _libfc_fields.record_initializer(_libfc.new_FC_FlowKey, lambda self: None)
    init.__set_name__(object, "__init__")


SCENARIOS = [cell_dropped, cell_deleted_then_dropped, bytes_through_cells, list_context_walk, list_context_refused,
             field_descriptor_made, record_initializer_made]


@pytest.fixture
def populated_store(tmp_path, monkeypatch):
    monkeypatch.setenv("FAB_EMU_DB", str(tmp_path / "fab.db"))
    assert FAB.fabemu_populate(2, 3, 1) == 0


@needs_heap
@pytest.mark.parametrize("scenario", SCENARIOS, ids=[s.__name__ for s in SCENARIOS])
def test_helper_module_allocations_are_freed(scenario, populated_store):
    scenario()  # a scenario that raises is a broken test, not a leak
    grown = c_heap_growth(scenario, cycles=CYCLES if scenario is not list_context_walk else 20_000,
                          warm_up=1_000)
    assert grown < HEAP_BOUND, "%s grew the C heap by %d bytes" % (scenario.__name__, grown)


def test_a_dead_list_context_is_no_longer_a_live_reference(populated_store):
    # The walk's callback checks its context against the live lists: once the
    # cell is gone, the same address must not be taken for a list again.
    found = []
    context = _libfc_ptr.list_context(found)
    _libfc.DVSState_SwitchForEach(_libfc_ptr.collect_handles, context)
    assert len(found) == 2
    del context
    before = len(found)
    _libfc.DVSState_SwitchForEach(_libfc_ptr.collect_handles, _libfc_ptr.as_voidp(
        _libfc_ptr.list_context(found)))
    # A bare void * to the list is not a live context once its cell died.
    assert len(found) == before


TRAPPED_CALLS = [
    ("DVSHYP_SwitchAdd", lambda: _libfc.DVSHYP_SwitchAdd("s" * 300, "c" * 300, 8, 1)),
    ("DVSHYP_PortDataSet", lambda: _libfc.DVSHYP_PortDataSet("s" * 300, "p" * 300, "n" * 300,
                                                               _libfc_ptr.new_intp(), 4, 1)),
    ("DVSHYP_StateGet", lambda: _libfc.DVSHYP_StateGet(_libfc_ptr.new_voidpp(), _libfc_ptr.new_intp())),
    ("DVSState_SwitchForEach", lambda: _libfc.DVSState_SwitchForEach(_libfc_ptr.collect_handles,
                                                                       _libfc_ptr.list_context([]))),
    ("DVSAliasToPortsetName", lambda: _libfc.DVSAliasToPortsetName("a" * 300, "x" * 128)),
    ("DVSData_Alloc", lambda: _libfc.DVSData_Alloc(_libfc_ptr.new_voidpp(), _libfc_ptr.DVSData_MemAlloc,
                                                     _libfc_ptr.DVSData_MemFree)),
]


@needs_heap
@pytest.mark.parametrize("name, call", TRAPPED_CALLS, ids=[t[0] for t in TRAPPED_CALLS])
def test_library_abandoning_calls_thousands_of_times_leaks_nothing(name, call, populated_store):
    def abandoned():
        FAB.fabemu_fail_next(name.encode(), 3, id(LookupError), b"abandoned by the library")
        try:
            call()
        except LookupError as error:
            assert str(error) == "abandoned by the library"
        else:
            raise AssertionError("%s was not abandoned" % name)
    grown = c_heap_growth(abandoned, cycles=5_000, warm_up=200)
    assert grown < HEAP_BOUND, "%s grew the C heap by %d bytes" % (name, grown)
    # The interpreter is still healthy: the next call of the same function
    # reaches the library and returns normally.
    result = call()
    assert result is None or type(result) is int

"""The pointer helper module _libfc_ptr: its pointer objects crossing over to
_libfc (the shared ring: test_shared_registry.py), every output cell end to end through a real operation,
byte access with its bounds, the C callbacks through the iteration
operations, cell lifetimes and leaks."""

import ctypes
import re
import sys

import pytest

import _libfc
import _libfc_ptr as P
from _helpers import builtin_library

LIB = builtin_library("libfabPublic.so")
SWITCHES, PORTS = 2, 3
OK = _libfc.HYP_OK


@pytest.fixture(scope="module", autouse=True)
def store(tmp_path_factory):
    with pytest.MonkeyPatch.context() as patch:
        patch.setenv("FAB_EMU_DB", str(tmp_path_factory.mktemp("ptr") / "fab.db"))
        assert LIB.fabemu_populate(SWITCHES, PORTS, 11) == OK
        yield


def collect(operation, *leading):
    found = []
    getattr(_libfc, operation)(*leading, P.collect_handles, P.list_context(found))
    return found


@pytest.fixture(scope="module")
def switch_id(store):
    return _libfc.DVS_SwitchId(collect("DVSState_SwitchForEach")[0])


@pytest.fixture
def ports(switch_id):
    """The switch's port list, as the library hands it out through a DVPortList ** cell."""
    cell = P.new_DVPortListpp()
    assert _libfc.DVSHYP_SwitchPortList(switch_id, cell, _libfc.DVSPORT_TYPE_ACTIVE) == OK
    return P.DVPortListpp_value(cell)


# ---- The ring ---------------------------------------------------------------

# (The ring in either import order: test_shared_registry.py.)

def test_pointer_objects_of_either_module_cross_over():
    assert str(P.new_voidpp().this).endswith("_p_p_void")
    # _libfc's own hyp_uint32 * is a uint32p for the helper (a cell of the
    # wrong type refused by _libfc: test_dvs_operations.py).
    stats = _libfc.new_FCHashStats()
    try:
        _libfc.FCHashStats_bucketLengthMap_set(stats, _libfc.FCHashStats_bucketLengthMap_get(stats))
        assert P.uint32p_value(_libfc.FCHashStats_bucketLengthMap_get(stats)) == 0
    finally:
        _libfc.delete_FCHashStats(stats)


# ---- Output cells end to end ------------------------------------------------

def test_port_list_through_DVPortListpp(switch_id, ports):
    assert _libfc.DVPortList_nports_get(ports) == PORTS
    first = _libfc.DVPortData_dvPortId_get(_libfc.DVPortList_dvPort_get(ports))
    assert _libfc.DVSHYP_PortFind(switch_id, first) == OK
    # The elements past the first lie back to back: read through the untyped view.
    image = P.cdata(P.as_voidp(ports), 8 + 52 * PORTS)
    ids = [image[8 + 52 * i:8 + 52 * i + 48].rstrip(b"\0").decode() for i in range(PORTS)]
    assert ids[0] == first and len(set(ids)) == PORTS
    assert all(_libfc.DVPortExist(switch_id, i) == "\x01" for i in ids)


def test_port_record_through_OpaqueDVPortDatapp(switch_id):
    port_id = _libfc.DVS_PortId(collect("DVSState_PortForEach", _libfc.DVSState_SwitchFindByAlias(switch_id))[0])
    data, length = P.new_voidpp(), P.new_intp()
    assert _libfc.DVSHYP_PortDataGet(switch_id, port_id, _libfc.HYP_FABPROP_PORT_VNIC_CONNECTEE, data, length) == OK
    external = P.cdata(P.voidpp_value(data), P.intp_value(length)).rstrip(b"\0").decode()
    _libfc.DVSHYP_DataFree(P.voidpp_value(data))
    cell = P.new_OpaqueDVPortDatapp()
    assert _libfc.DVSHYP_PortGetByExternalId(switch_id, external, cell) == OK
    port = P.OpaqueDVPortDatapp_value(cell)
    assert _libfc.OpaqueDVPortData_externalId_get(port) == external
    assert _libfc.OpaqueDVPortData_dvPortId_get(port) == port_id


def test_data_item_through_DVSDataItem_cell(switch_id):
    item_cell = P.new_voidpp()
    assert _libfc.DVSState_GlobalPropLookup(switch_id, _libfc.HYP_FABPROP_SWITCH_ALIAS, item_cell) == OK
    item = P.voidpp_value(item_cell)
    assert _libfc.DVSData_Name(item) == _libfc.HYP_FABPROP_SWITCH_ALIAS
    value = P.new_voidpp()
    size = _libfc.DVSData_Data(item, value)
    alias = P.cdata(P.voidpp_value(value), size).rstrip(b"\0").decode()
    assert _libfc.DVS_SwitchId(_libfc.DVSState_SwitchFindByAlias(alias)) == switch_id


@pytest.mark.parametrize("stem, ctype", [
    ("voidpp", "void **"), ("intp", "int *"), ("uint32p", "hyp_uint32 *"),
    ("DVPortListpp", "DVPortList **"), ("OpaqueDVPortDatapp", "OpaqueDVPortData **"),
])
def test_cells_start_empty_hold_bytes_through_a_cell_up_to_its_end_and_refuse_what_is_not_theirs(stem, ctype):
    new, value, delete = (getattr(P, n % stem) for n in ("new_%s", "%s_value", "delete_%s"))
    cell, size = new(), 8 if "pp" in stem else 4
    assert value(cell) in (0, None)
    assert repr(cell) == "<cell %r>" % (cell.this,)
    assert P.cdata(cell, size) == bytes(size)
    P.memmove(cell, b"\xab" * size)
    for call, arg in ((P.memmove, b"\x01" * (size + 1)), (P.cdata, size + 1)):
        with pytest.raises(ValueError, match="%d bytes exceed the %d bytes" % (size + 1, size)):
            call(cell, arg)
    assert P.cdata(cell, size) == b"\xab" * size  # the refused write changed nothing
    other = P.new_voidpp() if stem != "voidpp" else P.new_intp()
    for refused, error, message in [
        (other, TypeError, "in method '%s_value', argument 1 of type '%s'" % (stem, ctype)),
        (None, ValueError, "invalid null reference in method '%s_value', argument 1 of type '%s'" % (stem, ctype)),
    ]:
        with pytest.raises(error) as info:
            value(refused)
        assert str(info.value) == message
    with pytest.raises(TypeError) as info:
        delete(other)
    assert str(info.value) == "in method 'delete_%s', argument 1 of type '%s'" % (stem, ctype)
    assert delete(None) is None
    assert delete(cell) is None
    assert repr(cell) == "<deleted cell>"
    # A deleted cell carries no pointer: nothing reaches the freed memory.
    with pytest.raises(TypeError):
        value(cell)
    with pytest.raises(TypeError):
        delete(cell)


def test_cell_values_written_by_hand_read_back_by_type():
    ints, words = P.new_intp(), P.new_uint32p()
    P.memmove(ints, (-2).to_bytes(4, "little", signed=True))
    P.memmove(words, (0xFFFFFFFE).to_bytes(4, "little"))
    assert (P.intp_value(ints), P.uint32p_value(words)) == (-2, 0xFFFFFFFE)
    # A value read at an odd address (dport of the packed entity record).
    record = _libfc.new_FC_ActionEntityIOC()
    port = _libfc.FC_ActionEntityIOC_dport_get(record)
    assert (int(port) - int(record)) % 4, "the field is no longer unaligned: pick another"
    ctypes.memmove(int(port), (0xDEADBEEF).to_bytes(4, "little"), 4)
    assert P.uint32p_value(port) == 0xDEADBEEF
    _libfc.delete_FC_ActionEntityIOC(record)


# ---- Bytes behind pointers ----------------------------------------------------

@pytest.mark.parametrize("call, error, message", [
    (lambda: P.cdata(5, 1), TypeError, "in method 'cdata', argument 1 of type 'void *'"),
    (lambda: P.cdata(None, 1), ValueError, "invalid null reference in method 'cdata', argument 1 of type 'void *'"),
    (lambda: P.cdata(P.new_intp(), -1), OverflowError, "in method 'cdata', argument 2 of type 'size_t'"),
    (lambda: P.cdata(P.new_intp(), "4"), TypeError, "in method 'cdata', argument 2 of type 'size_t'"),
    (lambda: P.memmove(P.new_intp(), "text"), TypeError, "in method 'memmove', argument 2 of type 'void const *'"),
    (lambda: P.memmove(None, b"x"), ValueError,
     "invalid null reference in method 'memmove', argument 1 of type 'void *'"),
    (lambda: P.as_voidp([]), TypeError, "in method 'as_voidp', argument 1 of type 'void *'"),
    (lambda: P.list_context(()), TypeError, "in method 'list_context', argument 1 of type 'list'"),
])
def test_refused_arguments(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert str(info.value) == message
    assert (P.cdata(None, 0), P.memmove(None, b"")) == (b"", None)  # an empty block needs no memory


# ---- Callbacks ----------------------------------------------------------------

@pytest.mark.parametrize("name, descriptor", [
    ("collect_handles", "_p_f_p_void_p_void__char"),
    ("DVSData_MemAlloc", "_p_f_size_t__p_void"),
    ("DVSData_MemFree", "_p_f_p_void__void"),
])
def test_callbacks_carry_their_address_and_type(name, descriptor):
    # The address is in the docstring, after the signature (test_signatures.py).
    function = getattr(P, name)
    match = re.search(r"swig_ptr: _([0-9a-f]{16})(\w+)$", function.__doc__)
    assert match and match.group(2) == descriptor
    assert int.from_bytes(bytes.fromhex(match.group(1)), "little") != 0
    with pytest.raises(TypeError):
        function(None, None)


def test_iteration_operations_collect_every_entry(switch_id):
    switches = collect("DVSState_SwitchForEach")
    assert len(switches) == SWITCHES and len({_libfc.DVS_SwitchId(s) for s in switches}) == SWITCHES
    handle = _libfc.DVSState_SwitchFindByAlias(switch_id)
    ports = collect("DVSState_PortForEach", handle)
    assert sorted(_libfc.DVS_PortId(p) for p in ports) == sorted(
        _libfc.DVS_PortId(_libfc.DVSState_PortFind(switch_id, _libfc.DVS_PortId(p))) for p in ports)
    assert len(ports) == PORTS
    names = {op: {_libfc.DVSData_Name(i) for i in collect(op, handle)}
             for op in ("DVSState_HostPropForEach", "DVSState_GlobalPropForEach")}
    assert _libfc.HYP_FABPROP_SWITCH_ALIAS in names["DVSState_GlobalPropForEach"]
    assert not names["DVSState_HostPropForEach"] & names["DVSState_GlobalPropForEach"]
    port_items = collect("DVSState_PortDataForEach", ports[0])
    assert _libfc.HYP_FABPROP_PORT_VNIC_CONNECTEE in {_libfc.DVSData_Name(i) for i in port_items}
    assert all(str(i).endswith("_p_void") and i.own() is False for i in port_items)


def test_only_a_live_list_context_is_filled_and_it_holds_its_list():
    context = P.list_context([])  # a list context has no bytes at all
    assert P.cdata(context, 0) == b""
    with pytest.raises(ValueError):
        P.memmove(context, b"\x00" * 8)
    record = _libfc.new_DVPortList()
    stale = P.list_context([]).this  # its cell, and the list, are gone
    try:
        for context in (None, record, stale):
            assert _libfc.DVSState_SwitchForEach(P.collect_handles, context) is None
        assert P.cdata(record, 60) == bytes(60)
    finally:
        _libfc.delete_DVPortList(record)
    found = []  # a live context holds its list until it dies
    before = sys.getrefcount(found)
    context = P.list_context(found)
    assert sys.getrefcount(found) == before + 1
    _libfc.DVSState_SwitchForEach(P.collect_handles, context)
    del context
    assert sys.getrefcount(found) == before and len(found) == SWITCHES


# (Leaks of the cells, their bytes and the containers: test_leaks.py.)

@pytest.mark.parametrize("make", [
    _libfc.DVSState_SwitchFindByAlias,                           # a handle: library state, not bytes
    lambda _: P.as_voidp(_libfc.DVSState_SwitchFindByAlias(_)),  # an untyped view of nothing known
    lambda _: _libfc.FCHashStats_bucketLengthMap_get(_libfc.new_FCHashStats()),  # int * of no known extent
], ids=["handle", "untyped view of a handle", "scalar pointer"])
def test_addresses_outside_any_known_block_are_refused(switch_id, make):
    pointer = make(switch_id)
    for call in (lambda: P.cdata(pointer, 8), lambda: P.memmove(pointer, b"\0" * 8)):
        with pytest.raises(ValueError, match="addresses no block of known size"):
            call()
    assert P.cdata(pointer, 0) == b""


def test_blocks_and_untyped_views_reach_exactly_their_sources_block(ports):
    record = _libfc.new_DVPortList()
    try:
        P.memmove(record, bytearray(b"\x07"))  # any bytes-like source
        P.memmove(record, memoryview(b"\x05\x00"))
        assert _libfc.DVPortList_nports_get(record) == 5
        element = _libfc.DVPortList_dvPort_get(record)  # a view is bounded by its own type
        for pointer, size, ctype in [(record, 60, "DVPortList"), (element, 52, "DVPortData"),
                                     (P.as_voidp(record), 60, "void"), (P.as_voidp(element), 52, "void")]:
            assert len(P.cdata(pointer, size)) == size
            message = "%d bytes exceed the %d bytes a '%s \\*' addresses" % (size + 1, size, ctype)
            for call in (lambda: P.cdata(pointer, size + 1), lambda: P.memmove(pointer, bytes(size + 1))):
                with pytest.raises(ValueError, match=message):
                    call()
    finally:
        _libfc.delete_DVPortList(record)
    # The list's extent is what its count said when the library handed it out.
    P.memmove(ports, (PORTS + 100).to_bytes(4, "little"))
    assert len(P.cdata(P.as_voidp(ports), 8 + 52 * PORTS)) == 8 + 52 * PORTS
    with pytest.raises(ValueError, match="exceed"):
        P.cdata(P.as_voidp(ports), 8 + 52 * PORTS + 1)
    P.memmove(ports, PORTS.to_bytes(4, "little"))

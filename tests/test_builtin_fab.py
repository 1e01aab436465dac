"""The built-in libfabPublic, driven through ctypes: switches, ports,
properties, containers, iteration, handles and status texts against a store in
a temporary SQLite file."""

import ctypes
import os
import re
import sqlite3
import struct

import pytest

import _libfc
import libfc
from libfc import dvs
from _helpers import builtin_library
from test_dvs_operations import OPERATIONS

C = ctypes
lib = builtin_library("libfabPublic.so")  # already loaded as _libfc's dependency: the same handle

vp, cp, i32, u32 = C.c_void_p, C.c_char_p, C.c_int, C.c_uint32
P = C.POINTER
CALLBACK = C.CFUNCTYPE(C.c_char, vp, vp)
MEM_ALLOC = C.CFUNCTYPE(vp, C.c_size_t)
MEM_FREE = C.CFUNCTYPE(None, vp)

# The ctypes signatures follow the module's own table of operations: one C
# type text per argument, one result kind per operation.
RESULTS = {"status": i32, "signed": i32, "unsigned": u32, "truth": C.c_char, "text": cp, "handle": vp,
           "nothing": None}
ARGUMENTS = {"void *": vp, "int": i32, "DVSPortType": i32, "HYP_ReturnStatus": i32, "hyp_uint32": u32,
             "FabVersion": u32, "int *": P(i32), "hyp_uint32 *": P(u32), "DVSData_MemAlloc": MEM_ALLOC,
             "DVSData_MemFree": MEM_FREE}


def argument_type(ctype):
    if ctype in ARGUMENTS:
        return ARGUMENTS[ctype]
    if ctype.startswith("char"):
        return cp
    if ctype.endswith("*"):
        return P(vp)  # every other output address is a pointer cell
    return CALLBACK if ctype.endswith("Callback") else vp


SIGNATURES = {name: (RESULTS[kind], [argument_type(c) for c in params]) for name, kind, params in OPERATIONS}
for _name, (_result, _args) in SIGNATURES.items():
    getattr(lib, _name).restype = _result
    getattr(lib, _name).argtypes = _args

OK, NOT_FOUND, EXISTS, BAD_PARAM, LIMIT, NO_MEMORY, INVALID_HANDLE = (
    _libfc.HYP_OK, _libfc.HYP_NOT_FOUND, _libfc.HYP_EXISTS, _libfc.HYP_BAD_PARAM, _libfc.HYP_LIMIT_EXCEEDED,
    _libfc.HYP_NO_MEMORY, _libfc.HYP_INVALID_HANDLE)
CONFIG, RUNTIME, VOLATILE, POLICY = (_libfc.CONFIG_PROP_TYPE, _libfc.RUNTIME_PROP_TYPE,
                                     _libfc.VOLATILE_PROP_TYPE, _libfc.POLICY_PROP_TYPE)
NO_SYNC = _libfc.NO_SYNC_PROP_TYPE & 0xFFFFFFFF
ALL = _libfc.ALL_PROP_TYPE & 0xFFFFFFFF
SW = b"50 0c 3a 1f 8e 2d 41 7b-9a 12 34 56 78 9a bc de"


# Every test gets its own empty store file.
pytestmark = pytest.mark.usefixtures("switch_store")


def take_block(function, *args):
    """Call a function that hands out a data block; return (status, bytes),
    releasing the block."""
    data, length = vp(), i32()
    status = function(*args, C.byref(data), C.byref(length))
    if status != OK:
        return status, None
    content = C.string_at(data, length.value)
    lib.DVSHYP_DataFree(data)
    return status, content


def add_switch(switch_id=SW, max_ports=8, version=0x07000000, class_name=b"quorix.ethernet", ports=()):
    assert lib.DVSHYP_SwitchAdd(switch_id, class_name, max_ports, version) == OK
    for port in ports:
        assert lib.DVSHYP_PortAdd(switch_id, port, None, 0) == OK


def parse_block(data):
    """An independent reader of the documented block format."""
    magic, version, kind, count, length, crc = struct.unpack_from("<4sHHIII", data)
    assert (magic, version, len(data) - 20) == (b"FABS", 1, length)
    records, at = [], 20
    while at < len(data):
        tag, size = struct.unpack_from("<BI", data, at)
        records.append((tag, data[at + 5:at + 5 + size]))
        at += 5 + size
    assert len(records) == count
    return kind, records


def item_records(body):
    """Name, type and value of a data item record body (tag 4)."""
    n, = struct.unpack_from("<I", body)
    name = body[4:4 + n].decode()
    prop_type, vlen = struct.unpack_from("<II", body, 4 + n)
    return name, prop_type, body[12 + n:12 + n + vlen]


# ---- switches -----------------------------------------------------------------

@pytest.mark.parametrize("switch_id, class_name, expected", [
    (None, b"quorix.ethernet", BAD_PARAM), (b"", b"quorix.ethernet", _libfc.HYP_INVALID_NAME), (b"s" * 63, b"quorix.ethernet", OK),
    (b"s" * 64, b"quorix.ethernet", _libfc.HYP_NAME_TOO_LONG), (SW, None, BAD_PARAM),
    (SW, b"c" * 128, _libfc.HYP_NAME_TOO_LONG),
])
def test_switch_add_checks_its_arguments(switch_id, class_name, expected):
    assert lib.DVSHYP_SwitchAdd(switch_id, class_name, 4, 1) == expected


def test_switch_lifecycle_statuses():
    add_switch()
    assert lib.DVSHYP_SwitchAdd(SW, b"other", 1, 1) == EXISTS
    for op in (lib.DVSHYP_SwitchAssociate, lib.DVSHYP_SwitchDissociate, lib.DVSHYP_SwitchRemove):
        assert op(b"no such switch") == NOT_FOUND
    assert lib.DVSHYP_SwitchDissociate(SW) == _libfc.HYP_IS_DISCONNECTED  # new switches are not associated
    assert lib.DVSHYP_SwitchAssociate(SW) == OK
    assert lib.DVSHYP_SwitchAssociate(SW) == _libfc.HYP_IS_CONNECTED
    assert lib.DVSHYP_SwitchRemove(SW) == OK
    assert lib.DVSState_SwitchFindByAlias(SW) is None


def test_aliases_portsets_and_association():
    add_switch()
    alias = b"dvs-a\0"  # the terminating null is not part of the name
    assert lib.DVSHYP_GlobalPropSet(SW, b"com.quorix.common.alias", alias, len(alias), CONFIG) == OK
    handle = lib.DVSState_SwitchFindByAlias(SW)
    assert lib.DVS_SwitchName(handle) == b"dvs-a" and lib.DVSState_SwitchFindByAlias(b"dvs-a") == handle
    add_switch(b"second")
    # A second switch may not take the same alias.
    assert lib.DVSHYP_GlobalPropSet(b"second", b"com.quorix.common.alias", alias, len(alias), CONFIG) == EXISTS
    buf64, buf128 = C.create_string_buffer(64), C.create_string_buffer(128)
    assert lib.DVSAliasToSwitchId(b"dvs-a", buf64) == NOT_FOUND  # not associated yet
    assert lib.DVSAliasToSwitchIdAllTypes(b"dvs-a", buf64) == OK and buf64.value == SW
    lib.DVSHYP_SwitchAssociate(SW)
    buf64.value = b""
    assert lib.DVSAliasToSwitchId(b"dvs-a", buf64) == OK and buf64.value == SW
    assert lib.DVSAliasToPortsetName(b"dvs-a", buf128) == OK and re.fullmatch(rb"portset-\d+", buf128.value)
    portset = buf128.value
    assert lib.DVSPortsetNameToAlias(portset, buf128) == OK and buf128.value == b"dvs-a"
    assert lib.DVSPortsetNameToAlias(b"nope", buf128) == NOT_FOUND
    assert lib.DVSAliasToSwitchId(None, buf64) == BAD_PARAM
    # An empty alias is none: the switch is found by its id again.
    assert lib.DVSHYP_GlobalPropSet(SW, b"com.quorix.common.alias", b"", 0, CONFIG) == OK
    assert lib.DVSState_SwitchFindByAlias(b"dvs-a") is None and lib.DVS_SwitchName(handle) == SW


def test_cmd_exec():
    add_switch(ports=[b"1"])
    assert take_block(lib.DVSHYP_CmdExec, SW, b"echo", b"ping", 4) == (OK, b"ping")
    assert take_block(lib.DVSHYP_CmdExec, SW, b"portCount", None, 0)[1].rstrip(b"\0") == b"1"
    for switch_id, command, length, refused in ((SW, b"reboot", 0, _libfc.HYP_NOT_SUPPORTED),
                                                (b"x", b"echo", 0, NOT_FOUND), (SW, b"echo", 3, BAD_PARAM)):
        assert take_block(lib.DVSHYP_CmdExec, switch_id, command, None, length) == (refused, None)


# ---- ports --------------------------------------------------------------------

def test_ports_add_find_remove_and_limit():
    add_switch(max_ports=2)
    assert lib.DVSHYP_PortAdd(SW, b"10", b"st", 2) == OK
    assert lib.DVSHYP_PortAdd(SW, b"10", None, 0) == EXISTS
    assert lib.DVSHYP_PortAdd(SW, b"11", None, 0) == OK
    assert lib.DVSHYP_PortAdd(SW, b"12", None, 0) == LIMIT
    assert lib.DVSHYP_SwitchSetMaxPorts(SW, 1) == LIMIT  # two ports already
    assert lib.DVSHYP_PortAdd(b"nope", b"1", None, 0) == NOT_FOUND
    assert lib.DVSHYP_PortAdd(SW, b"p" * 48, None, 0) == _libfc.HYP_NAME_TOO_LONG
    assert lib.DVSHYP_PortAdd(SW, b"13", None, -1) == BAD_PARAM
    assert take_block(lib.DVSHYP_PortStateGet, SW, b"10") == (OK, b"st")
    assert lib.DVSHYP_PortRemove(SW, b"10") == OK
    assert lib.DVSHYP_PortRemove(SW, b"10") == NOT_FOUND
    assert lib.DVSHYP_PortAdd(SW, b"12", None, 0) == OK  # room again


def test_port_list_types_and_connect_ids():
    add_switch(ports=[b"1", b"2", b"3"])
    port_type = b"com.quorix.common.port.volatile.type"
    assert lib.DVSHYP_PortDataSet(SW, b"2", port_type, struct.pack("<I", _libfc.DVSPORT_TYPE_SHADOW), 4, VOLATILE) == OK
    assert lib.DVSHYP_PortDataSet(SW, b"3", b"com.quorix.common.port.connectid", struct.pack("<I", 77), 4, CONFIG) == OK
    assert lib.DVSHYP_PortDataSet(SW, b"1", port_type, struct.pack("<I", 9), 4, 0) == BAD_PARAM

    def port_list(port_type):
        out = vp()
        assert lib.DVSHYP_SwitchPortList(SW, C.byref(out), port_type) == OK
        head = libfc.DVPortList.from_bytes(C.string_at(out, 8) + bytes(52))  # an empty list has its 8 bytes only
        lib.DVSHYP_DataFree(out)
        return head.type, dvs.port_list(SW.decode(), port_type)

    assert port_list(_libfc.DVSPORT_TYPE_ACTIVE) == (1, [("1", 1), ("3", 77)])
    assert port_list(_libfc.DVSPORT_TYPE_SHADOW) == (2, [("2", 2)])
    assert port_list(_libfc.DVSPORT_TYPE_ZOMBIE) == (3, [])
    out = vp()
    for outside in (0, 5, -1, 2**31 - 1, -2**31):  # any int reaches the library as the enumeration
        assert lib.DVSHYP_SwitchPortList(SW, C.byref(out), outside) == BAD_PARAM and not out.value
    assert lib.DVSHYP_SwitchPortList(SW, None, 1) == BAD_PARAM


def test_port_by_external_id_and_handle_texts():
    add_switch(ports=[b"7"])
    vnic = b"vnic-42\0"
    assert lib.DVSHYP_PortDataSet(SW, b"7", b"com.quorix.common.port.vnicConnectee", vnic, len(vnic), CONFIG) == OK
    assert lib.DVSHYP_PortDataSet(SW, b"7", b"com.quorix.common.port.alias", b"vm-1-eth0", 9, CONFIG) == OK
    # The port found by its external id: test_libfc_ptr.py's OpaqueDVPortData test.
    assert lib.DVSHYP_PortGetByExternalId(SW, b"vnic-9", C.byref(vp())) == NOT_FOUND
    assert lib.DVSHYP_PortGetByExternalId(SW, b"v" * 128, C.byref(vp())) == _libfc.HYP_NAME_TOO_LONG
    port = lib.DVSState_PortFind(SW, b"7")
    assert port and lib.DVS_PortId(port) == b"7" and lib.DVS_PortAlias(port) == b"vm-1-eth0"
    assert lib.DVSHYP_PortDataClear(SW, b"7", b"com.quorix.common.port.alias") == OK
    assert lib.DVS_PortAlias(port) == b""
    assert lib.DVSState_PortFind(SW, b"8") is None


# ---- properties ---------------------------------------------------------------

# Each scope: the stem of its functions' names, the arguments before the
# property's name (switch, port) and after it (uplink number).
SCOPES = {"host": ("HostProp", (SW,), ()), "global": ("GlobalProp", (SW,), ()),
          "port": ("PortData", (SW, b"1"), ()), "uplink": ("UplinkData", (SW,), (3,))}


@pytest.mark.parametrize("scope", SCOPES)
def test_property_set_get_replace_clear(scope):
    stem, owner, after = SCOPES[scope]
    add_switch(ports=[b"1"])

    def put(name, value, prop_type):
        return getattr(lib, "DVSHYP_%sSet" % stem)(*owner, name, *after, value, len(value), prop_type)

    def get(name, function="DVSHYP_%sGet"):
        return take_block(getattr(lib, function % stem), *owner, name, *after)

    name = b"com.acme.setting"
    assert get(name) == (NOT_FOUND, None)
    assert put(name, b"first\0value", CONFIG) == OK
    assert get(name) == (OK, b"first\0value")  # binary values keep their bytes
    assert put(name, b"", CONFIG) == OK
    assert get(name) == (OK, b"")
    assert put(b"", b"x", CONFIG) == _libfc.HYP_INVALID_NAME
    assert put(None, b"x", CONFIG) == BAD_PARAM
    if scope == "uplink":
        return  # no SmartNIC reading and no clearing
    assert put(b"local.only", b"v", RUNTIME | NO_SYNC) == OK
    assert get(b"local.only") == (OK, b"v")
    assert get(b"local.only", "DVSHYP_SmartNIC%sGet") == (NOT_FOUND, None)
    assert get(name, "DVSHYP_SmartNIC%sGet") == (OK, b"")
    clear = getattr(lib, "DVSHYP_%sClear" % stem)
    assert clear(*owner, name) == OK
    assert clear(*owner, name) == NOT_FOUND
    assert get(name) == (NOT_FOUND, None)


def test_lookups_give_items_and_unknown_owners_or_null_outputs_are_refused():
    add_switch()
    assert lib.DVSHYP_HostPropSet(b"nope", b"n", b"v", 1, CONFIG) == NOT_FOUND
    assert lib.DVSHYP_PortDataSet(SW, b"9", b"n", b"v", 1, CONFIG) == NOT_FOUND
    assert lib.DVSHYP_HostPropSet(SW, b"n", None, 4, CONFIG) == BAD_PARAM
    assert lib.DVSHYP_HostPropSet(SW, b"n", b"v", 1, CONFIG) == OK
    assert lib.DVSHYP_HostPropGet(SW, b"n", None, None) == BAD_PARAM
    assert lib.DVSHYP_StateGet(None, None) == BAD_PARAM
    lib.DVSHYP_HostPropSet(SW, b"h.one", b"\x01\x02", 2, CONFIG | VOLATILE)
    item, value = vp(), vp()
    assert lib.DVSState_HostPropLookup(SW, b"h.one", C.byref(item)) == OK
    assert lib.DVSData_Data(item, C.byref(value)) == 2 and C.string_at(value, 2) == b"\x01\x02"
    assert lib.DVSData_Name(item) == b"h.one"
    assert lib.DVSData_PropType(item) == CONFIG | VOLATILE
    assert lib.DVSData_IsSamePropType(item, VOLATILE) == b"\x01"
    assert lib.DVSData_IsSamePropType(item, POLICY) == b"\x00"
    # A global item found: test_libfc_ptr.py's item test.
    assert lib.DVSState_GlobalPropLookup(SW, b"h.one", C.byref(item)) == NOT_FOUND
    assert lib.DVSState_HostPropLookup(SW, b"h.one", None) == BAD_PARAM
    # Clearing the property retires its item.
    assert lib.DVSState_HostPropLookup(SW, b"h.one", C.byref(item)) == OK
    lib.DVSHYP_HostPropClear(SW, b"h.one")
    assert lib.DVSData_Name(item) is None and lib.DVSData_Data(item, C.byref(value)) == 0 and not value.value


def container_items(handle):
    out, n = vp(), u32()
    assert lib.DVSData_Serialize(handle, C.byref(out), C.byref(n), 0) == OK
    data = C.string_at(out, n.value)
    lib.DVSHYP_DataFree(out)
    kind, records = parse_block(data)
    assert kind == 4 and all(tag == 4 for tag, _ in records)
    return [item_records(body) for _, body in records]


@pytest.mark.parametrize("function, args, expected", [
    ("DVSHYP_VendorGlobalPropList", (SW,), ["com.cisco.svs.switch.cdp"]),
    ("DVSHYP_ExtraConfigPropList", (SW,), ["com.cisco.svs.switch.cdp", "com.quorix.common.alias"]),
    ("DVSHYP_VendorHostPropList", (SW,), ["com.acme.host"]),
    ("DVSHYP_ExtraConfigPortPropList", (SW, b"1"), ["com.acme.port", "com.quorix.common.port.alias"]),
    ("DVSHYP_VendorPortPropList", (SW, b"1"), ["com.acme.port"]),
])
def test_property_lists_select_by_namespace_and_type(function, args, expected):
    add_switch(ports=[b"1"])
    lib.DVSHYP_GlobalPropSet(SW, b"com.cisco.svs.switch.cdp", b"listen", 6, CONFIG)
    lib.DVSHYP_GlobalPropSet(SW, b"com.quorix.common.alias", b"dvs", 3, CONFIG)
    lib.DVSHYP_GlobalPropSet(SW, b"com.acme.volatile", b"x", 1, VOLATILE)
    lib.DVSHYP_HostPropSet(SW, b"com.acme.host", b"h", 1, CONFIG)
    lib.DVSHYP_HostPropSet(SW, b"com.quorix.common.host.portset", b"p", 1, CONFIG)
    lib.DVSHYP_PortDataSet(SW, b"1", b"com.acme.port", b"q", 1, CONFIG)
    lib.DVSHYP_PortDataSet(SW, b"1", b"com.quorix.common.port.alias", b"a", 1, CONFIG)
    handle = vp()
    assert getattr(lib, function)(*args, C.byref(handle), CONFIG) == OK
    assert [name for name, _, _ in container_items(handle)] == expected
    lib.DVSData_Free(handle)
    assert getattr(lib, function)(*args, C.byref(handle), 0) == OK  # no type bit: nothing matches
    assert container_items(handle) == []
    lib.DVSData_Free(handle)
    assert getattr(lib, function)(b"nope", *args[1:], C.byref(handle), CONFIG) == NOT_FOUND


# ---- data containers ----------------------------------------------------------

class CountingMemory:
    """Allocation functions for a container that count what they hand out."""

    def __init__(self):
        self.live, self.calls, self.fail_after = set(), 0, None
        libc = C.CDLL(None)
        libc.malloc.restype, libc.malloc.argtypes = vp, [C.c_size_t]
        libc.free.argtypes = [vp]

        def alloc(size):
            self.calls += 1
            if self.fail_after is not None and self.calls > self.fail_after:
                return None
            p = libc.malloc(size)
            self.live.add(p)
            return p

        def free(p):
            assert p in self.live, "freed memory the container did not allocate"
            self.live.remove(p)
            libc.free(p)

        self.alloc, self.free = MEM_ALLOC(alloc), MEM_FREE(free)


def test_container_allocates_through_callers_functions_and_checks_its_arguments():
    memory = CountingMemory()
    handle = vp()
    assert lib.DVSData_Alloc(None, memory.alloc, memory.free) == BAD_PARAM
    assert lib.DVSData_Alloc(C.byref(handle), memory.alloc, MEM_FREE()) == BAD_PARAM
    assert lib.DVSData_Alloc(C.byref(handle), memory.alloc, memory.free) == OK
    out, n = vp(), u32()
    assert lib.DVSData_Serialize(handle, C.byref(out), C.byref(n), 2) == _libfc.HYP_VERSION_MISMATCH_MAJOR
    assert lib.DVSData_Update(handle, b"x", None, 5, CONFIG) == BAD_PARAM
    assert lib.DVSData_Update(handle, b"a", None, 0, CONFIG) == OK  # no value at all: an empty one
    assert lib.DVSData_Update(handle, b"b", b"22", 2, RUNTIME) == OK
    assert lib.DVSData_Update(handle, b"a", b"333", 3, POLICY) == OK  # replaces in place
    assert len(memory.live) == 7  # the container, and name, value and record of two items
    # Out of memory, a replacement or a new item leaves the items as they were.
    memory.fail_after = memory.calls
    assert lib.DVSData_Update(handle, b"a", b"4", 1, CONFIG) == NO_MEMORY
    memory.fail_after = memory.calls + 1  # the new item's record is taken, its name is not
    assert lib.DVSData_Update(handle, b"c", b"5", 1, CONFIG) == NO_MEMORY
    assert container_items(handle) == [("a", POLICY, b"333"), ("b", RUNTIME, b"22")]
    lib.DVSData_Free(handle)
    assert memory.live == set()
    assert lib.DVSData_Update(handle, b"a", b"1", 1, CONFIG) == INVALID_HANDLE  # freed: refused


# ---- iteration ----------------------------------------------------------------

def collect(walk, *leading, stop_after=None, read=lambda entry: entry):
    seen = []

    def callback(entry, ctx):
        assert ctx == 0x1234
        seen.append(read(entry))
        return b"\x00" if stop_after is not None and len(seen) >= stop_after else b"\x01"

    walk(*leading, CALLBACK(callback), 0x1234)
    return seen


def test_iteration_over_switches_ports_and_properties():
    assert lib.fabemu_populate(3, 5, 11) == OK
    switches = collect(lib.DVSState_SwitchForEach, read=lib.DVS_SwitchName)
    assert sorted(switches) == [b"dvs-0", b"dvs-1", b"dvs-2"]
    assert len(collect(lib.DVSState_SwitchForEach, stop_after=2)) == 2
    sw = lib.DVSState_SwitchFindByAlias(b"dvs-1")
    assert collect(lib.DVSState_PortForEach, sw, read=lib.DVS_PortId) == [b"0", b"1", b"2", b"3", b"4"]
    assert len(collect(lib.DVSState_PortForEach, sw, stop_after=1)) == 1
    # What the property walks visit: test_libfc_ptr.py's iteration test.
    port = lib.DVSState_PortFind(lib.DVS_SwitchId(sw), b"2")
    # Unknown handles and a null callback walk nothing, whatever there is to visit.
    assert collect(lib.DVSState_PortForEach, 0x1000) == []
    lib.DVSState_SwitchForEach(CALLBACK(), None)
    for walk in (lib.DVSState_PortForEach, lib.DVSState_HostPropForEach, lib.DVSState_GlobalPropForEach):
        walk(sw, CALLBACK(), None)
    lib.DVSState_PortDataForEach(port, CALLBACK(), None)


def test_a_callback_may_change_the_store_during_a_walk():
    add_switch(ports=[b"1", b"2", b"3"])
    removed = []

    def remove_next(entry, ctx):
        port_id = lib.DVS_PortId(entry)
        if port_id is not None and port_id != b"3":
            next_id = str(int(port_id) + 1).encode()
            lib.DVSHYP_PortRemove(SW, next_id)
            removed.append(next_id)
        return b"\x01"

    lib.DVSState_PortForEach(lib.DVSState_SwitchFindByAlias(SW), CALLBACK(remove_next), None)
    # The walk still visits port 2's handle, which died with the port and reads
    # as nothing, so only port 1's callback removed anything.
    assert removed == [b"2"]
    assert (lib.DVSHYP_PortFind(SW, b"2"), lib.DVSHYP_PortFind(SW, b"3")) == (NOT_FOUND, OK)


# ---- handles the library did not issue -----------------------------------------

# Each: a function taking a handle first, its other arguments, what it answers for a foreign handle.
FOREIGN_HANDLE_USES = [
    ("DVS_SwitchId", (), None), ("DVS_SwitchName", (), None), ("DVS_ClassName", (), None), ("DVS_GetMaxPorts", (), 0),
    ("DVS_Version", (), 0), ("DVS_PortId", (), None), ("DVS_PortAlias", (), None), ("DVSData_Name", (), None),
    ("DVSData_PropType", (), 0), ("DVSData_IsSamePropType", (ALL,), b"\x00"), ("DVSData_Data", (None,), 0),
    ("DVSData_Update", (b"n", b"v", 1, CONFIG), INVALID_HANDLE),
    ("DVSData_Serialize", (C.byref(vp()), C.byref(u32()), 0), INVALID_HANDLE),
]


@pytest.mark.parametrize("name, rest, refused", FOREIGN_HANDLE_USES, ids=[use[0] for use in FOREIGN_HANDLE_USES])
def test_foreign_handles_are_refused(name, rest, refused):
    buffer = C.create_string_buffer(b"\xff" * 256)
    add_switch(ports=[b"1"])
    stale_switch = lib.DVSState_SwitchFindByAlias(SW)
    stale_port = lib.DVSState_PortFind(SW, b"1")
    lib.DVSHYP_SwitchRemove(SW)
    add_switch()  # same id again: the old handles stay dead
    for handle in (0x10, 0xFAB00000000, C.addressof(buffer), id(object()), stale_switch, stale_port):
        assert getattr(lib, name)(handle, *rest) == refused, hex(handle)
    assert buffer.raw == b"\xff" * 256 + b"\0"  # nothing written through a foreign address



def run_sql(path, *statements):
    """Run statements straight on a file, as another program would; the
    rows of the last one."""
    connection = sqlite3.connect(str(path))
    rows = [connection.execute(sql).fetchall() for sql in statements][-1]
    connection.commit()
    connection.close()
    return rows


def item_of(name):
    item = vp()
    assert lib.DVSState_HostPropLookup(SW, name, C.byref(item)) == OK
    return item.value


# Each kind: make two things whose keys share a prefix ("1" and "10"), the
# handles of both, a reader, and the removal of the first here or elsewhere.
HANDLE_KINDS = {
    "switch": (lambda: [add_switch(i) for i in (b"1", b"10")],
               lambda i: lib.DVSState_SwitchFindByAlias(i), lib.DVS_SwitchName,
               lambda: lib.DVSHYP_SwitchRemove(b"1"), "DELETE FROM switches WHERE id = '1'"),
    "port": (lambda: add_switch(ports=[b"1", b"10"]),
             lambda i: lib.DVSState_PortFind(SW, i), lib.DVS_PortId,
             lambda: lib.DVSHYP_PortRemove(SW, b"1"), "DELETE FROM ports WHERE port_id = '1'"),
    "item": (lambda: (add_switch(), [lib.DVSHYP_HostPropSet(SW, i, i, len(i), CONFIG) for i in (b"1", b"10")]),
             item_of, lib.DVSData_Name,
             lambda: lib.DVSHYP_HostPropClear(SW, b"1"), "DELETE FROM properties WHERE name = '1'"),
}


@pytest.mark.parametrize("elsewhere", [False, True], ids=["here", "by another process"])
@pytest.mark.parametrize("kind", HANDLE_KINDS)
def test_a_removed_thing_takes_only_its_own_handle_with_it(kind, elsewhere):
    make, handle_of, read, remove, remove_sql = HANDLE_KINDS[kind]
    make()
    first, second = handle_of(b"1"), handle_of(b"10")
    assert (read(first), read(second)) == (b"1", b"10")
    if elsewhere:
        run_sql(os.environ["FAB_EMU_DB"], "PRAGMA foreign_keys=ON", remove_sql)
    else:
        assert remove() == OK
    # The removed one's handle reads nothing (never freed memory, under the
    # sanitizer); the other, whose key begins with the same text, lives on.
    assert read(first) is None and read(first) is None
    assert read(second) == b"10"
    assert handle_of(b"10") == second

def test_release_functions_ignore_memory_they_did_not_hand_out():
    buffer = C.create_string_buffer(b"keep", 16)
    lib.DVSHYP_DataFree(buffer)
    lib.DVSData_Free(buffer)
    lib.DVSHYP_DataFree(None)
    assert buffer.value == b"keep"
    data, n = vp(), i32()
    lib.DVSHYP_StateGet(C.byref(data), C.byref(n))
    lib.DVSHYP_DataFree(data)
    lib.DVSHYP_DataFree(data)  # a second release of the same block is ignored


# ---- status texts ---------------------------------------------------------

def test_every_defined_status_has_its_own_text():
    codes = {value for name, value in vars(_libfc).items() if name.startswith("HYP_") and isinstance(value, int)
             and (0x0BAD0001 <= value <= 0x0BAD0168 or value == 0x2BAD0000)}
    assert len(codes) > 350
    assert len({lib.HYP_ReturnStatusToString(value) for value in codes}) == len(codes)  # one distinct text each
    assert lib.HYP_ReturnStatusToString(NOT_FOUND) == b"Not found"
    assert lib.HYP_ReturnStatusToString(0) == b"Success"
    for unknown in (1, -1, 0x0BAD00E9, 0x0BAD0169):
        assert lib.HYP_ReturnStatusToString(unknown) == b"Unknown status code 0x%08x" % (unknown & 0xFFFFFFFF)

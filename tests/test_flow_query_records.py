"""The flow query result and its entries: the 67670-byte packed entry, the
methods that index a result (views and owned copies), an entry's action
entities and their destination ports, and the addresses of an entry and of
its tunnel data as text. Result buffers are built here in memory the test
owns, laid out as the library returns them.
"""

import ctypes
import socket
import struct

import pytest

import _libfc
import libfc

from _helpers import addr, descriptor_name, library_view, poke, raw, run_python_ok, this_of

ENTRY = 67670
ENTITY = 16689
HEADER = 8
ENTITY_BASE = 914  # actionEntity within an entry
DPORT_BASE = 301  # dport within an action entity
IP_KEY = 12 + 44  # fkey.ipKey within an entry


def pattern(n, start=0x21):
    return bytes((start + i) % 255 + 1 for i in range(n))


class Flows:
    """A query result of `entries` entries (numEntries), reporting `total`
    matches (totalEntries), each entry filled with its own byte pattern."""

    def __init__(self, entries, total=None):
        self.buffer = ctypes.create_string_buffer(HEADER + entries * ENTRY)
        struct.pack_into("<II", self.buffer, 0, entries if total is None else total, entries)
        for i in range(entries):
            ctypes.memmove(self.entry_address(i), pattern(ENTRY, start=i * 7), ENTRY)
        self.view = library_view("FC_IOCFlows", self.buffer)

    def entry_address(self, i):
        return ctypes.addressof(self.buffer) + HEADER + i * ENTRY

    def entry_bytes(self, i):
        return ctypes.string_at(self.entry_address(i), ENTRY)


# --- the entry's size and last field ------------------------------------------------

def test_entry_ends_with_its_fourth_action_entity():
    entry = _libfc.new_FC_FlowEntryIOC()
    first = _libfc.FC_FlowEntryIOC_actionEntity_get(entry)
    assert addr(first) == int(entry) + ENTITY_BASE
    last = _libfc.FC_FlowEntryIOC___getitem__(entry, 3)
    assert addr(last) == int(entry) + ENTITY_BASE + 3 * ENTITY
    # the last entity's dstPortsNum fills the entry's last four bytes
    _libfc.FC_ActionEntityIOC_dstPortsNum_set(last, 0xA1B2C3D4)
    assert raw(entry, 4, ENTRY - 4) == b"\xd4\xc3\xb2\xa1"
    assert raw(entry, ENTRY - 4) == bytes(ENTRY - 4)


# --- FC_IOCFlows_get_num_flows ---------------------------------------------------------

@pytest.mark.parametrize("total, expected", [(0, 0), (5, 5), (2**31 - 1, 2**31 - 1), (2**31, -2**31),
                                             (4294967295, -1)])
def test_num_flows_is_total_entries_as_signed_int(total, expected):
    flows = Flows(1, total=total)
    assert _libfc.FC_IOCFlows_get_num_flows(flows.view) == expected


# --- views and copies of entries ----------------------------------------------------

def test_get_flow_views_each_entry_in_place():
    flows = Flows(3)
    for i in range(3):
        view = _libfc.FC_IOCFlows_get_flow(flows.view, i)
        assert (addr(view), descriptor_name(view), this_of(view).own()) == (flows.entry_address(i),
                                                                            "_p_FC_FlowEntryIOC", False)
    ctypes.memmove(flows.entry_address(2) + 4, (77).to_bytes(8, "little"), 8)
    assert _libfc.FC_FlowEntryIOC_flowId_get(view) == 77


def test_getitem_copies_an_entry_that_outlives_changes():
    flows = Flows(3)
    copy = _libfc.FC_IOCFlows___getitem__(flows.view, 1)
    assert isinstance(copy, libfc.FC_FlowEntryIOC) and copy.this.own() is True
    assert descriptor_name(copy) == "_p_FC_FlowEntryIOC" and addr(copy) != flows.entry_address(1)
    before = flows.entry_bytes(1)
    assert raw(copy, ENTRY) == before
    ctypes.memset(flows.entry_address(1), 0, ENTRY)
    assert raw(copy, ENTRY) == before
    copy.flowId = 5
    assert flows.entry_bytes(1) == bytes(ENTRY)


def test_companion_classes_index_with_brackets():
    flows = Flows(2)
    inst = object.__new__(libfc.FC_IOCFlows)
    inst.this = flows.view
    entry = inst[1]
    assert isinstance(entry, libfc.FC_FlowEntryIOC) and entry.thisown
    assert raw(entry, ENTRY) == flows.entry_bytes(1)
    entity = entry[2]
    assert isinstance(entity, libfc.FC_ActionEntityIOC) and addr(entity) == addr(entry) + ENTITY_BASE + 2 * ENTITY
    expected = flows.entry_bytes(1)[ENTITY_BASE + 2 * ENTITY + DPORT_BASE:][:4]
    assert entity[0] == int.from_bytes(expected, "little")


# --- bounds -------------------------------------------------------------------------

INDEXED = ["FC_IOCFlows_get_flow", "FC_IOCFlows___getitem__"]


@pytest.mark.parametrize("method", INDEXED)
@pytest.mark.parametrize("entries, total, index, accepted", [
    (3, None, 0, True), (3, None, 2, True), (3, None, 3, False), (3, None, -1, False),
    (3, None, -2**31, False), (3, None, 2**31 - 1, False),
    (2, 10, 2, False),  # the reported total does not widen the range
    (1, 0, 0, True),
])
def test_flow_index_bounds(method, entries, total, index, accepted):
    flows = Flows(entries, total=total)
    fn = getattr(_libfc, method)
    if accepted:
        got = fn(flows.view, index)
        assert raw(got, ENTRY) == flows.entry_bytes(index)
        assert (addr(got) == flows.entry_address(index)) == (method == "FC_IOCFlows_get_flow")
        return
    with pytest.raises(IndexError) as info:
        fn(flows.view, index)
    assert str(info.value) == "%s: index %d out of range 0..%d" % (method, index, entries - 1)


@pytest.mark.parametrize("index", [0, 1, 2048, 4095])  # the last port at 16681
def test_destination_ports_read_in_place(index):
    entry = _libfc.new_FC_FlowEntryIOC()
    entity = _libfc.FC_FlowEntryIOC___getitem__(entry, 1)  # at an odd address
    offset = DPORT_BASE + 4 * index
    poke(entity, offset, b"\xfe\xff\xff\xff")
    assert _libfc.FC_ActionEntityIOC___getitem__(entity, index) == 4294967294
    poke(entity, offset, b"\x01\x02\x03\x04")
    assert _libfc.FC_ActionEntityIOC___getitem__(entity, index) == 0x04030201
    assert _libfc.FC_ActionEntityIOC___getitem__(entity, index ^ 1) == 0


# --- addresses as text ---------------------------------------------------------------

IP_KEY_BYTES = bytes.fromhex("0a000001c0a80002" + "0000000000000000" + "fe800000000000000000000000000001")


@pytest.mark.parametrize("function, flag, expected", [
    ("FC_FlowEntryIOC_get_srcip_entry", 0, "10.0.0.1"), ("FC_FlowEntryIOC_get_srcip_entry", 1, "a00:1:c0a8:2::"),
    ("FC_FlowEntryIOC_get_srcip_entry", -7, "a00:1:c0a8:2::"), ("FC_FlowEntryIOC_get_dstip_entry", 0, "192.168.0.2"),
    ("FC_FlowEntryIOC_get_dstip_entry", 2, "fe80::1"), ("FC_FlowEntryIOC_get_dstip_entry", 2**31 - 1, "fe80::1"),
])
def test_addresses_of_an_entry(function, flag, expected):
    entry = _libfc.new_FC_FlowEntryIOC()
    poke(entry, IP_KEY, IP_KEY_BYTES)
    assert getattr(_libfc, function)(entry, flag) == expected


def test_entry_addresses_through_the_key_fields():
    entry = libfc.FC_FlowEntryIOC()
    v4 = entry.fkey.ipKey.ipv4Key
    v4.sip, v4.dip = (int.from_bytes(socket.inet_aton(a), "little") for a in ("172.16.5.4", "8.8.4.4"))
    assert (_libfc.FC_FlowEntryIOC_get_srcip_entry(entry, 0), _libfc.FC_FlowEntryIOC_get_dstip_entry(entry, 0)) == (
        "172.16.5.4", "8.8.4.4")


@pytest.mark.parametrize("which, offset", [("sip", 18), ("dip", 34)])
def test_tunnel_addresses_follow_the_records_family(which, offset):
    data = _libfc.new_FC_VDL2EncapActionDataIOC()
    fn = getattr(_libfc, "FC_VDL2EncapActionDataIOC_get_" + which)
    assert fn(data) == "0.0.0.0"
    _libfc.FC_VDL2EncapActionDataIOC_isV6_set(data, 1)
    assert fn(data) == "::"
    v6 = socket.inet_pton(socket.AF_INET6, "2001:db8:0:1::ffff")
    poke(data, offset, v6)
    assert fn(data) == "2001:db8:0:1::ffff"
    _libfc.FC_VDL2EncapActionDataIOC_isV6_set(data, 0)
    assert fn(data) == "32.1.13.184"  # the first four bytes only
    other = 34 if offset == 18 else 18
    poke(data, other, b"\x01" * 16)
    assert fn(data) == "32.1.13.184"


# --- ownership of copies ----------------------------------------------------------------

def test_copies_are_freed_exactly_once():
    # glibc (or the sanitizer) aborts on a double free; a clean exit with the
    # survivors intact shows each copy was freed once at most.
    assert run_python_ok("""
        import ctypes, struct, _libfc, libfc  # libfc: the classes' destructors

        ENTRY = 67670
        buf = ctypes.create_string_buffer(8 + 2 * ENTRY)
        struct.pack_into("<II", buf, 0, 2, 2)
        ctypes.memset(ctypes.addressof(buf) + 8, 0x5a, 2 * ENTRY)
        flows = _libfc.new_FC_IOCFlows()
        _libfc.delete_FC_IOCFlows(flows)
        ctypes.c_void_p.from_address(id(flows) + 16).value = ctypes.addressof(buf)

        copy = _libfc.FC_IOCFlows___getitem__(flows, 1)
        _libfc.delete_FC_FlowEntryIOC(copy)        # frees it, and copy stops owning
        assert copy.thisown is False
        _libfc.delete_FC_FlowEntryIOC(copy)        # not ours any more: nothing freed
        del copy                                    # finalising frees nothing either

        dropped = _libfc.FC_IOCFlows___getitem__(flows, 0)
        del dropped                                 # the owner frees it

        view = _libfc.FC_IOCFlows_get_flow(flows, 0)
        _libfc.delete_FC_FlowEntryIOC(view)        # a view into the buffer is never freed

        keep = [_libfc.FC_IOCFlows___getitem__(flows, i % 2) for i in range(32)]
        assert all(ctypes.string_at(int(c.this), ENTRY) == b"\\x5a" * ENTRY for c in keep)
        assert ctypes.string_at(ctypes.addressof(buf) + 8, 2 * ENTRY) == b"\\x5a" * (2 * ENTRY)
        print("ok")
    """).stdout == "ok\n"



"""Invalidation, configuration and statistics records: the counter tree read
through its read-only blocks, the flow counters' bit-fields, the key unions,
the owned text psName, and the indexing methods over buffers shaped like the
library's (a header whose count says how many elements follow).
"""

import ctypes
import gc
import os

import pytest

import _libfc
import libfc

from _helpers import addr, descriptor_name, poke, raw, rss, run_python, this_of, trap_status
from _records import BY_NAME, arg1_message, arg2_message

SANITIZED = os.environ.get("LIBFC_SANITIZED") == "1"


# --- the counter tree -------------------------------------------------------------

def counter_paths(name, base=0, path=()):
    """(absolute offset, getter path, record, counter) for every counter under name."""
    for f in BY_NAME[name].fields:
        if f.kind == "ro_nested":
            yield from counter_paths(f.target[3:], base + f.offset, path + ((name, f.name),))
        else:
            yield base + f.offset, path, name, f.name


TREE = list(counter_paths("FC_CacheStats"))


def test_tree_has_every_counter_once_at_its_own_offset():
    offsets = [o for o, _, _, _ in TREE]
    assert offsets == list(range(0, 632, 8)), "the 79 counters fill the 632 bytes in order"


def test_every_counter_is_reached_through_the_blocks_of_the_root():
    root = _libfc.new_FC_CacheStats()
    for i, (offset, path, name, counter) in enumerate(TREE):
        block = root
        for outer, member in path:
            block = getattr(_libfc, "%s_%s_get" % (outer, member))(block)
            assert this_of(block).own() is False
        value = 2**63 + i  # high-bit values read back as positive numbers
        getattr(_libfc, "%s_%s_set" % (name, counter))(block, value)
        assert int.from_bytes(raw(root, 8, offset), "little") == value, "%s.%s" % (name, counter)
        assert getattr(_libfc, "%s_%s_get" % (name, counter))(block) == value
    assert raw(root, 632) == b"".join((2**63 + i).to_bytes(8, "little") for i in range(len(TREE)))


def test_actions_add_belongs_to_the_root():
    stats = libfc.FC_CacheStats()
    stats.actions_add.errors.src_mac_change = 3
    assert raw(stats, 8, 536) == b"\x03" + bytes(7)
    with pytest.raises(TypeError) as info:
        _libfc.FC_CacheStats_actions_add_get(_libfc.FC_CacheStats_actions_get(stats))
    assert str(info.value) == arg1_message("FC_CacheStats_actions_add_get", "FC_CacheStats")


def test_flow_counters_split_the_first_word():
    s = _libfc.new_FC_FlowStats()
    _libfc.FC_FlowStats_ipVersion_set(s, 6)
    _libfc.FC_FlowStats_pktsSinceFlush_set(s, 2**56 + 5)
    assert _libfc.FC_FlowStats_pktsSinceFlush_get(s) == 5
    assert _libfc.FC_FlowStats_ipVersion_get(s) == 6
    _libfc.FC_FlowStats_ipVersion_set(s, 260)
    assert raw(s, 8) == b"\x05" + bytes(6) + b"\x04"
    with pytest.raises(TypeError) as info:
        _libfc.FC_FlowStats_pktsSinceFlush_set(s, 2**64)
    assert str(info.value) == arg2_message("FC_FlowStats_pktsSinceFlush_set", "hyp_uint64")


# --- unions and keys ----------------------------------------------------------------

def test_key_value_members_overlap():
    v = libfc.FC_InvalHashKeyValue()
    v.vdrId = 7
    assert v.portId == 7
    key = libfc.FC_InvalHashKey()
    key.val = v
    key.type = _libfc.FC_INVAL_HASH_KEY_TYPE_PORTID
    assert raw(key, 5) == b"\x07\x00\x00\x00\x02"


def test_inval_data_key_view_shares_the_text_storage():
    d = libfc.FC_InvalData()
    view = d.invalidationData
    assert isinstance(view, libfc.FC_InvalHashKeyValue) and addr(view) == addr(d)
    assert repr(this_of(view)).find("FC_InvalidationData *") > 0
    view.vdrId = 0x11223344
    assert raw(d, 8) == b"\x44\x33\x22\x11" + bytes(4)


def test_entity_hash_link_is_an_untyped_link():
    e = _libfc.new_FC_InvalEntity()
    other = _libfc.new_FC_InvalEntity()
    _libfc.FC_InvalEntity_hashLink_set(e, other)
    assert other.own() is False
    link = _libfc.FC_InvalEntity_hashLink_get(e)
    assert descriptor_name(link) == "_p_void" and int(link) == int(other)
    with pytest.raises(TypeError) as info:
        _libfc.FC_InvalEntity_hashLink_set(e, 5)
    assert str(info.value) == arg2_message("FC_InvalEntity_hashLink_set", "hyp_RCU_SList_Links")
    _libfc.delete_FC_InvalEntity(other)


# --- psName: a text the record owns ----------------------------------------------------

def test_ps_name_holds_a_private_copy():
    d = _libfc.new_FC_InvalData()
    assert _libfc.FC_InvalData_psName_get(d) is None
    name = "dvs-\u00e9ast"
    _libfc.FC_InvalData_psName_set(d, name)
    address = int.from_bytes(raw(d, 8), "little")
    assert ctypes.string_at(address) == name.encode()
    assert _libfc.FC_InvalData_psName_get(d) == name
    _libfc.FC_InvalData_psName_set(d, "second")
    assert _libfc.FC_InvalData_psName_get(d) == "second"
    _libfc.FC_InvalData_psName_set(d, None)
    assert raw(d, 8) == bytes(8)
    assert _libfc.FC_InvalData_psName_get(d) is None
    with pytest.raises(TypeError) as info:
        _libfc.FC_InvalData_psName_set(d, b"bytes")
    assert str(info.value) == arg2_message("FC_InvalData_psName_set", "char *")


def test_ps_name_leaves_texts_it_did_not_copy_alone():
    # glibc aborts when free() is given memory malloc did not hand out, so a
    # clean exit shows that neither text was freed.
    proc = run_python("""
        import ctypes, _libfc, libfc
        d = _libfc.new_FC_InvalData()
        library_text = ctypes.create_string_buffer(b"vds-library", 64)
        ctypes.memmove(int(d), ctypes.addressof(library_text).to_bytes(8, "little"), 8)
        assert _libfc.FC_InvalData_psName_get(d) == "vds-library"
        _libfc.FC_InvalData_psName_set(d, "mine")
        assert library_text.value == b"vds-library"
        key = _libfc.FC_InvalData_invalidationData_get(d)
        _libfc.FC_InvalHashKeyValue_vdrId_set(key, 7)  # the storage now holds a key, not a text
        _libfc.FC_InvalData_psName_set(d, "again")
        assert _libfc.FC_InvalData_psName_get(d) == "again"
        _libfc.FC_InvalData_psName_set(d, None)
        print("ok")
    """)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == "ok\n"


@pytest.mark.skipif(SANITIZED, reason="the sanitizer's allocator aborts instead of failing")
def test_ps_name_reports_a_failed_copy_as_memory_error():
    # The interpreter keeps its own UTF-8 form of an ASCII str, so the only
    # copy of 300 MB that cannot fit under the limit is the record's own.
    proc = run_python("""
        import resource, _libfc, libfc
        d = _libfc.new_FC_InvalData()
        _libfc.FC_InvalData_psName_set(d, "kept")
        text = "n" * (300 << 20)
        with open("/proc/self/statm") as f:
            used = int(f.read().split()[0]) * resource.getpagesize()
        resource.setrlimit(resource.RLIMIT_AS, (used + (450 << 20), resource.RLIM_INFINITY))
        try:
            _libfc.FC_InvalData_psName_set(d, text)
        except MemoryError:
            print("MemoryError", _libfc.FC_InvalData_psName_get(d))
    """)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == "MemoryError kept\n"


# --- indexing methods over library-shaped buffers ------------------------------------------

def library_view(type_name, buffer):
    """A pointer object of type_name * addressing ctypes memory, as a library
    call returns it: not owned, and unknown to the module's allocations."""
    p = getattr(_libfc, "new_" + type_name)()
    getattr(_libfc, "delete_" + type_name)(p)
    ctypes.c_void_p.from_address(id(p) + 16).value = ctypes.addressof(buffer)
    assert p.own() is False and int(p) == ctypes.addressof(buffer)
    return p


def inval_table(n, stated=None):
    buf = ctypes.create_string_buffer(12 + 72 * n)
    ctypes.memmove(buf, bytes((7 + i) % 251 for i in range(12 + 72 * n)), 12 + 72 * n)
    ctypes.memmove(ctypes.addressof(buf) + 8, (n if stated is None else stated).to_bytes(4, "little"), 4)
    return buf, library_view("FC_IOCInvalEntries", buf)


def hash_buffer(n, stated=None):
    buf = ctypes.create_string_buffer(4 + 60 * n)
    ctypes.memmove(buf, bytes((3 + i) % 253 for i in range(4 + 60 * n)), 4 + 60 * n)
    ctypes.memmove(buf, (n if stated is None else stated).to_bytes(2, "little") + (999).to_bytes(2, "little"), 4)
    return buf, library_view("FC_HashStatsIOC", buf)


# (method, buffer factory, header size, element size, element class)
COPYING = [
    ("FC_IOCInvalEntries___getitem__", inval_table, 12, 72, "FC_InvalEntity"),
    ("FC_HashStatsIOC___getitem__", hash_buffer, 4, 60, "FCHashStats"),
]


@pytest.mark.parametrize("method,make,head,size,cls", COPYING, ids=[c[0] for c in COPYING])
def test_getitem_returns_an_independent_owned_copy(method, make, head, size, cls):
    buf, table = make(3)
    trap_status().value = 3
    copies = [getattr(_libfc, method)(table, i) for i in range(3)]
    assert trap_status().value == 0, "the copy is made under the trap"
    for i, copy in enumerate(copies):
        assert isinstance(copy, getattr(libfc, cls))
        assert this_of(copy).own() is True
        assert raw(copy, size) == buf.raw[head + size * i:head + size * (i + 1)]
    again = getattr(_libfc, method)(table, 1)
    assert addr(again) != addr(copies[1]) and raw(again, size) == raw(copies[1], size)
    before = buf.raw
    poke(copies[1], 0, b"\xee" * size)
    assert buf.raw == before
    ctypes.memset(ctypes.addressof(buf) + head, 0, size * 3)
    assert raw(again, size) == before[head + size:head + 2 * size]


@pytest.mark.parametrize("method,make,head,size,cls", COPYING, ids=[c[0] for c in COPYING])
def test_getitem_refuses_indexes_the_buffer_does_not_hold(method, make, head, size, cls):
    buf, table = make(3)
    fn = getattr(_libfc, method)
    for index in (3, -1, 2**31 - 1, -(2**31)):
        with pytest.raises(IndexError) as info:
            fn(table, index)
        assert str(info.value) == "%s: index %d out of range 0..2" % (method, index)
    empty_buf, empty = make(0)
    with pytest.raises(IndexError) as info:
        fn(empty, 0)
    assert str(info.value) == "%s: index 0 out of range (no entries)" % method
    for bad, exc_type in ((2**31, OverflowError), (0.0, TypeError), (None, TypeError)):
        with pytest.raises(exc_type) as info:
            fn(table, bad)
        assert str(info.value) == arg2_message(method, "int")
    with pytest.raises(TypeError) as info:
        fn(_libfc.new_FC_VdrInfo(), 0)
    assert str(info.value) == arg1_message(method, method.split("___")[0])


@pytest.mark.parametrize("method,make,head,size,cls", COPYING, ids=[c[0] for c in COPYING])
def test_a_constructed_buffer_holds_no_entries_whatever_its_count_says(method, make, head, size, cls):
    record = method.split("___")[0]
    table = getattr(_libfc, "new_" + record)()
    count_field = "numEntries" if record == "FC_IOCInvalEntries" else "entries"
    getattr(_libfc, "%s_%s_set" % (record, count_field))(table, 5)
    with pytest.raises(IndexError) as info:
        getattr(_libfc, method)(table, 0)
    assert str(info.value) == "%s: index 0 out of range (no entries)" % method


def test_hash_buffer_is_bounded_by_entries_not_max_entries():
    buf, table = hash_buffer(2)
    assert _libfc.FC_HashStatsIOC_maxEntries_get(table) == 999
    with pytest.raises(IndexError):
        _libfc.FC_HashStatsIOC___getitem__(table, 2)


def test_copies_are_freed_exactly_once():
    proc = run_python("""
        import ctypes, gc, _libfc, libfc
        buf = ctypes.create_string_buffer(12 + 72 * 2)
        ctypes.memmove(ctypes.addressof(buf) + 8, (2).to_bytes(4, "little"), 4)
        t = _libfc.new_FC_IOCInvalEntries(); _libfc.delete_FC_IOCInvalEntries(t)
        ctypes.c_void_p.from_address(id(t) + 16).value = ctypes.addressof(buf)
        for _ in range(1000):
            e = _libfc.FC_IOCInvalEntries___getitem__(t, 1)
            _libfc.delete_FC_InvalEntity(e)   # the instance stops owning it
            _libfc.delete_FC_InvalEntity(e)   # a second delete frees nothing
            del e
            kept = [_libfc.FC_IOCInvalEntries___getitem__(t, 0) for _ in range(4)]
            del kept                          # freed by the finaliser
        gc.collect()
        print("ok")
    """)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == "ok\n"


def test_bucket_lengths_are_read_one_by_one():
    s = libfc.FCHashStats()
    poke(s, 24, b"".join((100 + i).to_bytes(4, "little") for i in range(9)))
    assert [_libfc.FCHashStats___getitem__(s, i) for i in range(9)] == list(range(100, 109))
    for index in (9, -1):
        with pytest.raises(IndexError) as info:
            _libfc.FCHashStats___getitem__(s, index)
        assert str(info.value) == "FCHashStats___getitem__: index %d out of range 0..8" % index
    view = _libfc.FCHashStats_bucketLengthMap_get(s)
    assert descriptor_name(view) == "_p_unsigned_int" and addr(view) == addr(s) + 24


# --- memory stays flat ------------------------------------------------------------------

@pytest.mark.skipif(SANITIZED, reason="freed memory sits in the sanitizer's quarantine")
def test_copies_and_texts_do_not_leak():
    buf, table = inval_table(2)
    hbuf, hash_table = hash_buffer(2)
    d = _libfc.new_FC_InvalData()
    text = "p" * 200

    def cycle():
        _libfc.FC_IOCInvalEntries___getitem__(table, 1)
        _libfc.FC_HashStatsIOC___getitem__(hash_table, 0)
        _libfc.FC_InvalData_psName_set(d, text)

    for _ in range(5000):
        cycle()
    gc.collect()
    before = rss()
    for _ in range(100_000):
        cycle()
    gc.collect()
    # one leaked entity, statistics block or text per cycle would be > 30 MB
    assert rss() - before < 4 * 1024 * 1024

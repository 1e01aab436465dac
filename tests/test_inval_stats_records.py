"""Invalidation and statistics records beyond the generic record tests: the
owned text psName, and the indexing methods over buffers shaped like the
library's (a header whose count says how many elements follow)."""

import ctypes

import pytest

import _libfc
import libfc

from _helpers import addr, counted_buffer, descriptor_name, poke, raw, run_python_ok, this_of, trap_status
from _records import arg2_message


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
    assert (raw(d, 8), _libfc.FC_InvalData_psName_get(d)) == (bytes(8), None)
    with pytest.raises(TypeError) as info:
        _libfc.FC_InvalData_psName_set(d, b"bytes")
    assert str(info.value) == arg2_message("FC_InvalData_psName_set", "char *")


def test_ps_name_leaves_texts_it_did_not_copy_alone():
    # glibc aborts when free() is given memory malloc did not hand out, so a
    # clean exit shows that neither text was freed.
    assert run_python_ok("""
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
    """).stdout == "ok\n"


# --- indexing methods over library-shaped buffers ------------------------------------------

# (method, buffer record, header size, element size, element class)
COPYING = [
    ("FC_IOCInvalEntries___getitem__", "FC_IOCInvalEntries", 12, 72, "FC_InvalEntity"),
    ("FC_HashStatsIOC___getitem__", "FC_HashStatsIOC", 4, 60, "FCHashStats"),
]


@pytest.mark.parametrize("method,record,head,size,cls", COPYING, ids=[c[0] for c in COPYING])
def test_getitem_returns_an_independent_owned_copy(method, record, head, size, cls):
    buf, table = counted_buffer(record, 3)
    trap_status().value = 3
    copies = [getattr(_libfc, method)(table, i) for i in range(3)]
    assert trap_status().value == 0, "the copy is made under the trap"
    for i, copy in enumerate(copies):
        assert isinstance(copy, getattr(libfc, cls)) and this_of(copy).own() is True
        assert raw(copy, size) == buf.raw[head + size * i:head + size * (i + 1)]
    again = getattr(_libfc, method)(table, 1)
    assert addr(again) != addr(copies[1]) and raw(again, size) == raw(copies[1], size)
    before = buf.raw
    poke(copies[1], 0, b"\xee" * size)
    assert buf.raw == before
    ctypes.memset(ctypes.addressof(buf) + head, 0, size * 3)
    assert raw(again, size) == before[head + size:head + 2 * size]


@pytest.mark.parametrize("method,record,head,size,cls", COPYING, ids=[c[0] for c in COPYING])
def test_getitem_refuses_indexes_the_buffer_does_not_hold(method, record, head, size, cls):
    buf, table = counted_buffer(record, 3)
    fn = getattr(_libfc, method)
    for index in (3, -1, 2**31 - 1, -(2**31)):
        with pytest.raises(IndexError) as info:
            fn(table, index)
        assert str(info.value) == "%s: index %d out of range 0..2" % (method, index)
    empty_buf, empty = counted_buffer(record, 0)
    with pytest.raises(IndexError) as info:
        fn(empty, 0)
    assert str(info.value) == "%s: index 0 out of range (no entries)" % method


def test_hash_buffer_is_bounded_by_entries_not_max_entries():
    buf, table = counted_buffer("FC_HashStatsIOC", 2)
    _libfc.FC_HashStatsIOC_maxEntries_set(table, 999)
    with pytest.raises(IndexError):
        _libfc.FC_HashStatsIOC___getitem__(table, 2)


def test_bucket_lengths_are_read_one_by_one():
    s = libfc.FCHashStats()
    poke(s, 24, b"".join((100 + i).to_bytes(4, "little") for i in range(9)))
    assert [_libfc.FCHashStats___getitem__(s, i) for i in range(9)] == list(range(100, 109))
    view = _libfc.FCHashStats_bucketLengthMap_get(s)
    assert descriptor_name(view) == "_p_unsigned_int" and addr(view) == addr(s) + 24

"""Every record of every family checked against its memory image, driven by
the layout tables: sizes, offsets and widths byte for byte, typed and untyped
pointers, nested records, arrays, the variable parts past a record's end,
None in place of the record, constructors and destructors.
"""

import re

import pytest

import _libfc
import libfc

from _helpers import SwigPyObject, addr, descriptor_name, poke, raw, run_python, run_python_ok, this_of
from _records import RECORDS, all_fields, arg2_message, field_id, getter, new, setter


def pattern(n, start=0x11):
    """n distinctive non-zero bytes."""
    return bytes((start + i) % 255 + 1 for i in range(n))


def image_with(record, f, data):
    """The record image of a zeroed record whose field f holds data."""
    return bytes(f.offset) + data + bytes(record.size - f.offset - len(data))


# Producers of pointer objects of a given type, for pointer and nested fields.
def _target(descriptor):
    if descriptor == "_p_unsigned_char":
        holder = _libfc.new_hyp_SocketAddress()
        return holder, _libfc.hyp_SocketAddress_sa_data_get(holder)
    make = getattr(_libfc, "new_" + descriptor[3:], None)
    if make is not None:
        return None, make()
    # No constructor (an opaque handle, or a record of a family built
    # elsewhere): a view of that type from a record field that holds one.
    record, f = next((r, f) for r, f in all_fields({"ptr", "nested"}) if f.target == descriptor)
    holder = new(record)
    if f.kind == "ptr":
        poke(holder, f.offset, addr(holder).to_bytes(8, "little"))  # any live address will do
    return holder, getter(record, f)(holder)


# --- sizes and zero-filled construction -------------------------------------

@pytest.mark.parametrize("record", RECORDS, ids=[r.name for r in RECORDS])
def test_new_record_is_a_zeroed_owned_block(record):
    rec, inst = new(record), getattr(libfc, record.name)()
    for p in (rec, inst.this):
        assert type(p) is SwigPyObject and p.own() is True
        assert descriptor_name(p) == record.descriptor
        assert raw(p, record.size) == bytes(record.size), record.name
    zero = {"uint": 0, "int": 0, "bool": "\x00", "chars": "", "ptr": None, "void": None}
    for f in record.fields:
        got = getter(record, f)(rec)
        if f.kind in zero:  # (views: test_nested_record_and_array_getters_are_views_into_the_record_and_setters_copy)
            assert got == zero[f.kind], f.name
    assert getattr(_libfc, "delete_" + record.name)(None) is None


# --- scalar fields: byte image ----------------------------------------------

SCALARS = all_fields({"uint", "int"})


@pytest.mark.parametrize("record,f", SCALARS, ids=map(field_id, SCALARS))
def test_scalar_field_occupies_its_bytes_only(record, f):
    # The sized C type a description line names in the messages is as wide as the member converted.
    assert re.fullmatch(r"hyp_u?int(8|16|32|64)", f.ctype) is None or f.ctype.endswith(str(8 * f.width))
    rec = new(record)
    full = pattern(record.size, start=0x40)
    poke(rec, 0, full)
    data = pattern(f.width)
    value = int.from_bytes(data, "little", signed=(f.kind == "int"))
    setter(record, f)(rec, value)
    assert raw(rec, record.size) == full[:f.offset] + data + full[f.offset + f.width:], field_id((record, f))
    # reading goes to the same bytes
    poke(rec, f.offset, bytes(reversed(data)))
    assert getter(record, f)(rec) == int.from_bytes(bytes(reversed(data)), "little", signed=(f.kind == "int"))


# --- pointer fields ------------------------------------------------------------

POINTERS = all_fields({"ptr"})


@pytest.mark.parametrize("record,f", POINTERS, ids=map(field_id, POINTERS))
def test_pointer_field_stores_the_address_and_takes_ownership(record, f):
    rec = new(record)
    keep, target = _target(f.target)
    if keep is not None:
        target.acquire()  # an element view made owning for the occasion
    setter(record, f)(rec, target)
    assert this_of(target).own() is False, "%s.%s left the assigned object owning" % (record.name, f.name)
    assert raw(rec, record.size) == image_with(record, f, int(target).to_bytes(8, "little"))
    got = getter(record, f)(rec)
    assert (addr(got), descriptor_name(got), this_of(got).own()) == (int(target), f.target, False)
    setter(record, f)(rec, None)
    assert raw(rec, record.size) == bytes(record.size)
    assert getter(record, f)(rec) is None
    if keep is None:
        getattr(_libfc, "delete_" + f.target[3:])(target)


# --- void * fields ---------------------------------------------------------------

VOIDS = all_fields({"void"})


@pytest.mark.parametrize("record,f", VOIDS, ids=map(field_id, VOIDS))
def test_void_field_accepts_any_pointer_and_nothing_else(record, f):
    rec = new(record)
    for bad in (0, 1, "text", b"bytes", 1.5, object()):
        with pytest.raises(TypeError) as info:
            setter(record, f)(rec, bad)
        assert str(info.value) == arg2_message("%s_%s_set" % (record.name, f.name), f.ctype)
    assert raw(rec, record.size) == bytes(record.size)
    sources = [_libfc.new_hyp_Name(), _libfc.new_hyp_String(),
               _libfc.hyp_MgmtCallbackInfo_parmSizes_get(_libfc.new_hyp_MgmtCallbackInfo())]
    for src in sources:
        setter(record, f)(rec, src)
        assert src.own() is False, "%s.%s left the assigned object owning" % (record.name, f.name)
        assert raw(rec, record.size) == image_with(record, f, int(src).to_bytes(8, "little"))
        got = getter(record, f)(rec)
        assert (type(got), descriptor_name(got), int(got), got.own()) == (SwigPyObject, "_p_void", int(src), False)
    # What comes back is a void *: no record method takes it for a hyp_Name.
    with pytest.raises(TypeError) as info:
        _libfc.hyp_Name_string_get(got)
    assert str(info.value) == "in method 'hyp_Name_string_get', argument 1 of type 'hyp_Name *'"
    # Any pointer will do, so the first of a chain is taken (here through a class attribute `this`).
    first, second = _libfc.new_hyp_Name(), _libfc.new_hyp_String()
    first.append(second)
    setter(record, f)(rec, type("Holder", (), {"this": first})())
    assert (int(getter(record, f)(rec)), first.own(), second.own()) == (int(first), False, True)
    for name in (sources[0], first):
        _libfc.delete_hyp_Name(name)
    _libfc.delete_hyp_String(sources[1])


# --- nested records and arrays ------------------------------------------------------

NESTED = all_fields({"nested"})
ARRAYS = all_fields({"array"})
VIEWS = all_fields({"nested", "ro_nested", "array"})


@pytest.mark.parametrize("record,f", VIEWS, ids=map(field_id, VIEWS))
def test_nested_record_and_array_getters_are_views_into_the_record_and_setters_copy(record, f):
    rec = new(record)
    first = getter(record, f)(rec)
    second = getter(record, f)(rec)
    assert (descriptor_name(first), addr(first), this_of(first).own()) == (f.target, int(rec) + f.offset, False)
    assert this_of(first) is not this_of(second) and this_of(first) == this_of(second)
    # writing through the view changes the outer record
    poke(first, 0, pattern(f.width))
    assert raw(rec, record.size) == image_with(record, f, pattern(f.width))
    if not f.writable:
        return
    if f.kind == "nested":
        keep, src = _target(f.target)
    else:  # the same array in another record, among other bytes
        keep = new(record)
        poke(keep, 0, pattern(record.size, start=0x21))
        src = getter(record, f)(keep)
    data = pattern(f.width, start=0x33)
    poke(src, 0, data)
    source = this_of(src)
    owned = source.own()
    source.acquire()  # as if the source owned its memory: copying must not take it
    assert setter(record, f)(rec, src) is None
    assert source.own() is True, "%s.%s took ownership of its source" % (record.name, f.name)
    if not owned:
        source.disown()
    # exactly the field's bytes are copied, nothing before or after them, and
    # later changes to the source do not reach the copy
    assert raw(rec, record.size) == image_with(record, f, data)
    poke(src, 0, bytes(f.width))
    assert raw(rec, record.size) == image_with(record, f, data)


COPYING = NESTED + ARRAYS + all_fields({"zarray"})


@pytest.mark.parametrize("record,f", COPYING, ids=map(field_id, COPYING))
def test_nested_setter_given_no_source_and_array_setters_refuse_it_leaving_the_record_alone(record, f):
    rec = new(record)
    poke(rec, 0, pattern(record.size))
    with pytest.raises(ValueError) as info:
        setter(record, f)(rec, None)
    if f.kind == "nested":  # the missing source is the new value: argument 2, named by its C type
        expected = "invalid null reference in method '%s_%s_set', argument 2 of type '%s'" % (
            record.name, f.name, f.ctype)
    else:
        expected = "invalid null reference in variable '%s' of type '%s'" % (f.name, f.ctype)
    assert str(info.value) == expected
    assert raw(rec, record.size) == pattern(record.size)


# --- variable parts past the end of a record -------------------------------------------

VARIABLE = all_fields({"zarray", "ro_zarray"})


@pytest.mark.parametrize("record,f", VARIABLE, ids=map(field_id, VARIABLE))
def test_variable_part_is_a_view_past_the_record_and_its_setter_copies_nothing(record, f):
    rec = new(record)
    got = getter(record, f)(rec)
    assert f.offset == record.size
    assert addr(got) == int(rec) + record.size and descriptor_name(got) == f.target
    assert this_of(got).own() is False
    if f.writable:
        poke(rec, 0, pattern(record.size))
        source_holder = new(record)
        source = getter(record, f)(source_holder)  # an element pointer; nothing lies behind it
        assert setter(record, f)(rec, source) is None
        assert raw(rec, record.size) == pattern(record.size)


# --- None as the record ------------------------------------------------------------------

GETTERS = [(r, f) for r in RECORDS for f in r.fields]
SAMPLE_VALUE = {"uint": 1, "int": -1, "bool": "x", "chars": "abc", "ptr": None, "void": None}


@pytest.mark.parametrize("record,f", GETTERS, ids=map(field_id, GETTERS))
def test_getter_raises_scalar_setter_does_nothing_and_copying_setter_given_none_as_record_fails_cleanly(record, f):
    with pytest.raises(ValueError):
        getter(record, f)(None)
    if f.kind in SAMPLE_VALUE:
        assert setter(record, f)(None, SAMPLE_VALUE[f.kind]) is None
    elif (record, f) in COPYING:
        if f.kind == "nested":
            holder, src = _target(f.target)
        else:
            holder = new(record)
            src = getter(record, f)(holder)  # a pointer of the element type, whatever the record
        with pytest.raises(ValueError) as info:
            setter(record, f)(None, src)
        # Copying into no record at all: argument 1 is the one refused.
        assert str(info.value) == "invalid null reference in method '%s_%s_set', argument 1 of type '%s *'" % (
            record.name, f.name, record.name)


def test_blocks_kept_for_reuse_come_back_zero_filled():
    # In a fresh interpreter, so that each size finds its kept list free: more
    # records than the list keeps die (some kept, the rest freed), the next
    # ones take the kept blocks first, and the last round is held, which
    # leaves the list free for the next size sharing it.
    # Where the first byte is an integer field, it is set before the record
    # dies, so a kept block handed back without zeroing shows.
    records = [(r.name, r.size, bool(r.fields) and r.fields[0].offset == 0 and r.fields[0].kind in ("int", "uint"))
               for r in RECORDS]
    run_python_ok("""
        import ctypes, _libfc, libfc  # the package registers the records' destructors
        held = []
        for name, size, mark in %r:
            for last in (False, False, True):
                batch = [getattr(_libfc, "new_" + name)() for _ in range(40)]
                for p in batch:
                    assert ctypes.string_at(int(p), size) == bytes(size), name
                    if mark:
                        ctypes.memset(int(p), 0xFF, 1)
                if last:
                    held.append(batch)
                del batch
        """ % (records,))


# --- destruction -----------------------------------------------------------------------

def test_delete_frees_through_any_holder_and_refuses_other_types():
    for p in (_libfc.new_hyp_String(), libfc.hyp_String()):
        assert _libfc.delete_hyp_String(p) is None
        assert this_of(p).own() is False
    name = _libfc.new_hyp_Name()
    with pytest.raises(TypeError) as info:
        _libfc.delete_hyp_String(name)
    assert str(info.value) == "in method 'delete_hyp_String', argument 1 of type 'hyp_String *'"
    assert name.own() is True


def test_deleting_views_frees_nothing():
    # glibc aborts on a double free or a free of an inner address, so a
    # clean exit and intact records show that nothing extra was freed.
    proc = run_python("""
        import ctypes, _libfc, libfc

        def attempt(fn, arg):
            try:
                fn(arg)
            except Exception:
                pass

        sig = _libfc.new_hyp_MgmtApiSignature()
        _libfc.hyp_Name_string_set(_libfc.hyp_MgmtApiSignature_vendor_get(sig), "vendor")
        attempt(_libfc.delete_hyp_Name, _libfc.hyp_MgmtApiSignature_vendor_get(sig))
        attempt(_libfc.delete_hyp_Name, _libfc.hyp_MgmtApiSignature_name_get(sig))

        inst = _libfc.new_hyp_MgmtInstances()
        attempt(_libfc.delete_hyp_Name, _libfc.hyp_MgmtInstances_instanceNames_get(inst))

        outer = _libfc.new_hyp_SocketIPv6AddressAddr()
        ctypes.memmove(int(outer), b"0123456789abcdef", 16)
        union = _libfc.hyp_SocketIPv6AddressAddr___u6_addr_get(outer)
        attempt(_libfc.delete_hyp_SocketIPv6AddressAddr___u6_addr, union)
        attempt(_libfc.delete_hyp_SocketIPv6AddressAddr___u6_addr, union)

        # churn the allocator, then check the survivors are intact
        addrs = [_libfc.new_hyp_SocketIPv6AddressAddr() for _ in range(64)]
        names = [_libfc.new_hyp_Name() for _ in range(64)]
        assert all(int(c) != int(outer) for c in addrs + names)
        assert ctypes.string_at(int(outer), 16) == b"0123456789abcdef"
        assert _libfc.hyp_Name_string_get(_libfc.hyp_MgmtApiSignature_vendor_get(sig)) == "vendor"
        del addrs, names
        _libfc.delete_hyp_SocketIPv6AddressAddr(outer)
        _libfc.delete_hyp_MgmtApiSignature(sig)
        _libfc.delete_hyp_MgmtInstances(inst)
        print("ok")
    """)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == "ok\n"

"""Record classes of the kernel support records, checked against their memory
images: sizes, offsets and widths byte for byte, every field kind (scalars,
one-byte booleans, character arrays, typed and untyped pointers, nested
records, arrays, the open-ended VLAN range array, the read-only union member),
constructors and destructors.
"""

import pytest

import _libfc
import libfc

from _helpers import SwigPyObject, addr, descriptor_name, poke, raw, run_python, this_of
from _records import BY_NAME, RECORDS, all_fields, arg2_message, field_id, getter, new, setter


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
    rec = new(record)
    assert type(rec) is SwigPyObject
    assert rec.own() is True
    assert descriptor_name(rec) == record.descriptor
    assert raw(rec, record.size) == bytes(record.size), record.name


@pytest.mark.parametrize("record", RECORDS, ids=[r.name for r in RECORDS])
def test_new_record_fields_read_as_zero(record):
    rec = new(record)
    for f in record.fields:
        got = getter(record, f)(rec)
        if f.kind in ("uint", "int"):
            assert got == 0, f.name
        elif f.kind == "bool":
            assert got == "\x00", f.name
        elif f.kind == "chars":
            assert got == "", f.name
        elif f.kind in ("ptr", "void"):
            assert got is None, f.name
        elif f.kind in ("nested", "ro_nested", "array"):
            assert addr(got) == int(rec) + f.offset, f.name


# --- scalar fields: byte image ----------------------------------------------

SCALARS = all_fields({"uint", "int"})


@pytest.mark.parametrize("record,f", SCALARS, ids=map(field_id, SCALARS))
def test_scalar_field_occupies_its_bytes_only(record, f):
    rec = new(record)
    data = pattern(f.width)
    value = int.from_bytes(data, "little", signed=(f.kind == "int"))
    setter(record, f)(rec, value)
    assert raw(rec, record.size) == image_with(record, f, data), "%s.%s" % (record.name, f.name)
    assert getter(record, f)(rec) == value
    # reading goes to the same bytes
    poke(rec, f.offset, bytes(reversed(data)))
    assert getter(record, f)(rec) == int.from_bytes(bytes(reversed(data)), "little", signed=(f.kind == "int"))


@pytest.mark.parametrize("record,f", SCALARS, ids=map(field_id, SCALARS))
def test_scalar_field_leaves_neighbours_alone(record, f):
    rec = new(record)
    full = pattern(record.size, start=0x40)
    poke(rec, 0, full)
    setter(record, f)(rec, 0)
    expected = full[:f.offset] + bytes(f.width) + full[f.offset + f.width:]
    assert raw(rec, record.size) == expected, "%s.%s" % (record.name, f.name)


def test_bool_field_byte_position():
    rec = _libfc.new_hyp_MgmtCallbackInfo()
    _libfc.hyp_MgmtCallbackInfo_synchronous_set(rec, "Y")
    f = BY_NAME["hyp_MgmtCallbackInfo"].field("synchronous")
    assert raw(rec, 64) == image_with(BY_NAME["hyp_MgmtCallbackInfo"], f, b"Y")


@pytest.mark.parametrize("record,f", all_fields({"chars"}), ids=map(field_id, all_fields({"chars"})))
def test_char_array_position(record, f):
    rec = new(record)
    setter(record, f)(rec, "port-7")
    assert raw(rec, record.size) == image_with(record, f, b"port-7" + bytes(f.count - 6))


# --- pointer fields ------------------------------------------------------------

POINTERS = all_fields({"ptr"})


@pytest.mark.parametrize("record,f", POINTERS, ids=map(field_id, POINTERS))
def test_pointer_field_stores_the_address(record, f):
    rec = new(record)
    keep, target = _target(f.target)
    setter(record, f)(rec, target)
    assert raw(rec, record.size) == image_with(record, f, int(target).to_bytes(8, "little"))
    got = getter(record, f)(rec)
    assert addr(got) == int(target)
    assert descriptor_name(got) == f.target
    assert this_of(got).own() is False
    setter(record, f)(rec, None)
    assert raw(rec, record.size) == bytes(record.size)
    assert getter(record, f)(rec) is None
    if keep is None:
        getattr(_libfc, "delete_" + f.target[3:])(target)


@pytest.mark.parametrize("record,f", POINTERS + all_fields({"void"}),
                         ids=map(field_id, POINTERS + all_fields({"void"})))
def test_pointer_field_takes_ownership_from_the_object_assigned(record, f):
    rec = new(record)
    keep, target = (None, _libfc.new_hyp_ListLinks()) if f.kind == "void" else _target(f.target)
    if keep is not None:
        target.acquire()  # an element view made owning for the occasion
    assert target.own() is True
    setter(record, f)(rec, target)
    assert target.own() is False, "%s.%s left the assigned object owning" % (record.name, f.name)
    # the field still points to it
    assert addr(getter(record, f)(rec)) == int(target)
    if keep is None:
        getattr(_libfc, "delete_" + descriptor_name(target)[3:])(target)


def test_pointer_field_through_companion_instances():
    sig = libfc.hyp_MgmtApiSignature()
    cb = libfc.hyp_MgmtCallbackInfo()
    cb.numParms = 3
    sig.callbacks = cb
    assert cb.this.own() is False
    got = sig.callbacks
    assert isinstance(got, libfc.hyp_MgmtCallbackInfo)
    assert got.this == cb.this
    assert got.numParms == 3
    _libfc.delete_hyp_MgmtCallbackInfo(cb)


# --- void * fields ---------------------------------------------------------------

VOIDS = all_fields({"void"})


@pytest.mark.parametrize("record,f", VOIDS, ids=map(field_id, VOIDS))
def test_void_field_accepts_any_pointer(record, f):
    rec = new(record)
    sources = [_libfc.new_hyp_Name(), _libfc.new_hyp_String(),
               _libfc.hyp_MgmtCallbackInfo_parmSizes_get(_libfc.new_hyp_MgmtCallbackInfo())]
    for src in sources:
        setter(record, f)(rec, src)
        assert raw(rec, record.size) == image_with(record, f, int(src).to_bytes(8, "little"))
        got = getter(record, f)(rec)
        assert type(got) is SwigPyObject
        assert descriptor_name(got) == "_p_void"
        assert int(got) == int(src)
        assert got.own() is False
    _libfc.delete_hyp_Name(sources[0])
    _libfc.delete_hyp_String(sources[1])


def test_void_field_takes_the_first_pointer_of_a_chain():
    cookie = _libfc.new_hyp_AddrCookie()
    first = _libfc.new_hyp_Name()
    second = _libfc.new_hyp_String()
    first.append(second)

    class Holder:
        this = first

    _libfc.hyp_AddrCookie_ptr_set(cookie, Holder())
    assert int(_libfc.hyp_AddrCookie_ptr_get(cookie)) == int(first)
    assert first.own() is False
    assert second.own() is True
    _libfc.delete_hyp_Name(first)


def test_void_field_refuses_non_pointers():
    cookie = _libfc.new_hyp_AddrCookie()
    for bad in (0, 1, "text", b"bytes", 1.5, object()):
        with pytest.raises(TypeError) as info:
            _libfc.hyp_AddrCookie_ptr_set(cookie, bad)
        assert str(info.value) == arg2_message("hyp_AddrCookie_ptr_set", "void *")
    assert raw(cookie, 8) == bytes(8)


def test_void_pointer_is_not_accepted_as_a_record():
    cookie = _libfc.new_hyp_AddrCookie()
    name = _libfc.new_hyp_Name()
    _libfc.hyp_AddrCookie_ptr_set(cookie, name)
    untyped = _libfc.hyp_AddrCookie_ptr_get(cookie)
    with pytest.raises(TypeError) as info:
        _libfc.hyp_Name_string_get(untyped)
    assert str(info.value) == "in method 'hyp_Name_string_get', argument 1 of type 'hyp_Name *'"
    _libfc.delete_hyp_Name(name)


# --- nested records ------------------------------------------------------------------

NESTED = all_fields({"nested"})


@pytest.mark.parametrize("record,f", NESTED, ids=map(field_id, NESTED))
def test_nested_record_is_copied_on_set(record, f):
    rec = new(record)
    _, src = _target(f.target)
    owned = this_of(src).own()
    data = pattern(f.width)
    poke(src, 0, data)
    assert setter(record, f)(rec, src) is None
    assert raw(rec, record.size) == image_with(record, f, data)
    assert this_of(src).own() is owned, "copying from a record must not take its ownership"
    # later changes to the source do not reach the copy
    poke(src, 0, bytes(f.width))
    assert raw(rec, record.size) == image_with(record, f, data)


@pytest.mark.parametrize("record,f", NESTED + all_fields({"ro_nested"}),
                         ids=map(field_id, NESTED + all_fields({"ro_nested"})))
def test_nested_record_getter_is_a_view_into_the_record(record, f):
    rec = new(record)
    first = getter(record, f)(rec)
    second = getter(record, f)(rec)
    assert descriptor_name(first) == f.target
    assert addr(first) == int(rec) + f.offset
    assert this_of(first) is not this_of(second)
    assert this_of(first) == this_of(second)
    assert this_of(first).own() is False
    # writing through the view changes the outer record
    poke(first, 0, pattern(f.width))
    assert raw(rec, record.size) == image_with(record, f, pattern(f.width))


def test_nested_names_through_companion_classes():
    sig = libfc.hyp_MgmtApiSignature()
    name = libfc.hyp_Name()
    name.string = "flowcache"
    sig.name = name
    name.string = "changed"
    assert sig.name.string == "flowcache"
    assert isinstance(sig.vendor, libfc.hyp_Name)
    sig.vendor.string = "quorix"
    assert raw(sig, 32, 36) == b"quorix" + bytes(26)
    assert repr(sig.name) == "flowcache"


def test_read_only_union_member_has_no_setter():
    assert not hasattr(_libfc, "hyp_SocketIPv6AddressAddr___u6_addr_set")
    assert hasattr(_libfc, "hyp_SocketIPv6AddressAddr___u6_addr_get")


@pytest.mark.parametrize("record,f", NESTED, ids=map(field_id, NESTED))
def test_nested_setter_given_no_source_leaves_the_record_alone(record, f):
    rec = new(record)
    poke(rec, 0, pattern(record.size))
    method = "%s_%s_set" % (record.name, f.name)
    with pytest.raises(ValueError) as info:
        setter(record, f)(rec, None)
    # The missing source is the new value: argument 2, named by its C type.
    assert str(info.value) == "invalid null reference in method '%s', argument 2 of type '%s'" % (method, f.ctype)
    assert raw(rec, record.size) == pattern(record.size)


# --- arrays --------------------------------------------------------------------------

ARRAYS = all_fields({"array"})


@pytest.mark.parametrize("record,f", ARRAYS, ids=map(field_id, ARRAYS))
def test_array_is_copied_element_by_element(record, f):
    src_rec = new(record)
    full = pattern(record.size, start=0x21)
    poke(src_rec, 0, full)
    src = getter(record, f)(src_rec)
    rec = new(record)
    assert setter(record, f)(rec, src) is None
    # exactly the array's bytes are copied, nothing before or after it
    assert raw(rec, record.size) == image_with(record, f, full[f.offset:f.offset + f.width]), \
        "%s.%s" % (record.name, f.name)
    assert raw(src_rec, record.size) == full
    poke(src_rec, 0, bytes(record.size))
    assert raw(rec, f.width, f.offset) == full[f.offset:f.offset + f.width]


@pytest.mark.parametrize("record,f", ARRAYS, ids=map(field_id, ARRAYS))
def test_array_getter_addresses_element_zero(record, f):
    rec = new(record)
    got = getter(record, f)(rec)
    assert descriptor_name(got) == f.target
    assert addr(got) == int(rec) + f.offset
    assert this_of(got).own() is False


@pytest.mark.parametrize("record,f", ARRAYS + all_fields({"zarray"}),
                         ids=map(field_id, ARRAYS + all_fields({"zarray"})))
def test_array_setter_refuses_null_source(record, f):
    rec = new(record)
    poke(rec, 0, pattern(record.size))
    with pytest.raises(ValueError) as info:
        setter(record, f)(rec, None)
    assert str(info.value) == "invalid null reference in variable '%s' of type '%s'" % (f.name, f.ctype)
    assert raw(rec, record.size) == pattern(record.size)


@pytest.mark.parametrize("record,f", ARRAYS, ids=map(field_id, ARRAYS))
def test_array_setter_leaves_the_source_ownership_alone(record, f):
    src_rec = new(record)
    src = this_of(getter(record, f)(src_rec))
    src.acquire()  # pretend the source owns its memory
    try:
        setter(record, f)(new(record), src)
        assert src.own() is True, "%s.%s took ownership of its source" % (record.name, f.name)
    finally:
        src.disown()


def test_array_of_names_copies_all_32_names():
    src = _libfc.new_hyp_MgmtInstances()
    names = _libfc.hyp_MgmtInstances_instanceNames_get(src)
    assert isinstance(names, libfc.hyp_Name)
    assert _libfc.hyp_Name_string_get(names) == ""
    _libfc.hyp_Name_string_set(names, "first")
    poke(src, 264 + 31 * 32, b"last")
    dst = _libfc.new_hyp_MgmtInstances()
    _libfc.hyp_MgmtInstances_instanceNames_set(dst, names)
    assert raw(dst, 1024, 264) == raw(src, 1024, 264)
    assert _libfc.hyp_Name_string_get(_libfc.hyp_MgmtInstances_instanceNames_get(dst)) == "first"
    assert raw(dst, 4, 264 + 31 * 32) == b"last"
    assert raw(dst, 264) == bytes(264)


def test_instance_ids_hold_full_64_bit_values():
    src = _libfc.new_hyp_MgmtInstances()
    poke(src, 8, (2**64 - 1).to_bytes(8, "little") + (1).to_bytes(8, "little"))
    dst = _libfc.new_hyp_MgmtInstances()
    _libfc.hyp_MgmtInstances_instanceIds_set(dst, _libfc.hyp_MgmtInstances_instanceIds_get(src))
    assert raw(dst, 16, 8) == b"\xff" * 8 + b"\x01" + bytes(7)


# --- the open-ended VLAN range array -------------------------------------------------

def test_vid_ranges_setter_copies_nothing():
    info = _libfc.new_hyp_FabPortVlanInfo()
    _libfc.hyp_FabPortVlanInfo_vlanID_set(info, 100)
    _libfc.hyp_FabPortVlanInfo_numRanges_set(info, 2)
    before = raw(info, 4)
    vid = _libfc.new_hyp_FabPortVIDRange()
    _libfc.hyp_FabPortVIDRange_minVID_set(vid, 10)
    _libfc.hyp_FabPortVIDRange_maxVID_set(vid, 20)
    assert _libfc.hyp_FabPortVlanInfo_vidRanges_set(info, vid) is None
    assert raw(info, 4) == before == b"\x64\x00\x02\x00"
    assert vid.own() is True


def test_vid_ranges_getter_points_past_the_head():
    info = _libfc.new_hyp_FabPortVlanInfo()
    got = _libfc.hyp_FabPortVlanInfo_vidRanges_get(info)  # a view, whatever lies behind the head
    assert descriptor_name(got) == "_p_hyp_FabPortVIDRange"
    assert addr(got) == int(info) + 4
    assert this_of(got).own() is False


def test_vid_ranges_refuses_other_types():
    info = _libfc.new_hyp_FabPortVlanInfo()
    with pytest.raises(TypeError) as err:
        _libfc.hyp_FabPortVlanInfo_vidRanges_set(info, _libfc.new_hyp_FabPortVlanInfo())
    assert str(err.value) == arg2_message("hyp_FabPortVlanInfo_vidRanges_set", "hyp_FabPortVIDRange [0]")


# --- the IPv6 address union ----------------------------------------------------------

def _union_of(outer):
    return this_of(_libfc.hyp_SocketIPv6AddressAddr___u6_addr_get(outer))


def test_union_views_share_the_outer_record_memory():
    outer = _libfc.new_hyp_SocketIPv6AddressAddr()
    union = _union_of(outer)
    assert int(union) == int(outer)
    for width in ("8", "16", "32"):
        view = getattr(_libfc, "hyp_SocketIPv6AddressAddr___u6_addr___u6_addr%s_get" % width)(union)
        assert int(view) == int(outer), width


def test_writing_the_32_bit_view_shows_in_the_byte_view_in_host_order():
    src = _libfc.new_hyp_SocketIPv6AddressAddr___u6_addr()
    poke(src, 0, (0x11223344).to_bytes(4, "little") + (0xAABBCCDD).to_bytes(4, "little") + bytes(8))
    outer = _libfc.new_hyp_SocketIPv6AddressAddr()
    union = _union_of(outer)
    _libfc.hyp_SocketIPv6AddressAddr___u6_addr___u6_addr32_set(
        union, _libfc.hyp_SocketIPv6AddressAddr___u6_addr___u6_addr32_get(src))
    assert raw(outer, 16) == b"\x44\x33\x22\x11\xdd\xcc\xbb\xaa" + bytes(8)
    # copy the 16-bit view of that into a third address: same bytes
    other = _libfc.new_hyp_SocketIPv6AddressAddr()
    _libfc.hyp_SocketIPv6AddressAddr___u6_addr___u6_addr16_set(
        _union_of(other), _libfc.hyp_SocketIPv6AddressAddr___u6_addr___u6_addr16_get(union))
    assert raw(other, 16) == raw(outer, 16)


def test_ipv6_socket_address_copies_the_16_address_bytes():
    sock = _libfc.new_hyp_SocketIPv6Address()
    address = _libfc.new_hyp_SocketIPv6AddressAddr()
    data = bytes.fromhex("20010db8000000000000000000000001")
    poke(address, 0, data)
    _libfc.hyp_SocketIPv6Address_sin6_addr_set(sock, address)
    _libfc.hyp_SocketIPv6Address_sin6_port_set(sock, 443)
    _libfc.hyp_SocketIPv6Address_sin6_scopeid_set(sock, 3)
    assert raw(sock, 28) == bytes(2) + b"\xbb\x01" + bytes(4) + data + b"\x03\x00\x00\x00"
    poke(address, 0, bytes(16))
    assert raw(sock, 16, 8) == data
    union = _union_of(_libfc.hyp_SocketIPv6Address_sin6_addr_get(sock))
    assert int(union) == int(sock) + 8


def test_ipv4_socket_address_layout():
    sock = _libfc.new_hyp_SocketIPAddress()
    assert raw(sock, 16) == bytes(16)
    _libfc.hyp_SocketIPAddress_sin_port_set(sock, 80)
    assert raw(sock, 2, 2) == b"\x50\x00"
    _libfc.hyp_SocketIPAddress_sin_len_set(sock, 16)
    _libfc.hyp_SocketIPAddress_sin_family_set(sock, _libfc.HYP_SOCKET_AF_INET)
    word = _libfc.new_hyp_SocketIPAddressAddr()
    _libfc.hyp_SocketIPAddressAddr_s_addr_set(word, 0x0100007F)  # 127.0.0.1 as stored
    _libfc.hyp_SocketIPAddress_sin_addr_set(sock, word)
    assert raw(sock, 16) == b"\x10\x02\x50\x00\x7f\x00\x00\x01" + bytes(8)
    assert _libfc.hyp_SocketIPAddressAddr_s_addr_get(_libfc.hyp_SocketIPAddress_sin_addr_get(sock)) == 0x0100007F


# --- status records -------------------------------------------------------------------

def test_link_status_values():
    link = _libfc.new_hyp_LinkStatus()
    _libfc.hyp_LinkStatus_state_set(link, _libfc.HYP_LINK_STATE_UP)
    _libfc.hyp_LinkStatus_speed_set(link, _libfc.HYP_LINK_SPEED_400000_MBPS)
    _libfc.hyp_LinkStatus_duplex_set(link, _libfc.HYP_LINK_DUPLEX_AUTO)
    assert raw(link, 12) == b"\x01\x00\x00\x00" + (400000).to_bytes(4, "little") + b"\xff\xff\xff\xff"
    assert _libfc.hyp_LinkStatus_duplex_get(link) == -1
    with pytest.raises(OverflowError):
        _libfc.hyp_LinkStatus_speed_set(link, -1)
    assert _libfc.hyp_LinkStatus_speed_get(link) == 400000


def test_resource_pool_limits_accept_minus_one():
    cfg = _libfc.new_hyp_PortsetResPoolCfg()
    _libfc.hyp_PortsetResPoolCfg_limit_set(cfg, _libfc.HYP_PORTSET_RESPOOL_LIMIT_INFINITE)
    _libfc.hyp_PortsetResPoolCfg_queueDepth_set(cfg, _libfc.HYP_PORTSET_RESPOOL_DEFAULT_QUEUE_DEPTH)
    _libfc.hyp_PortsetResPoolCfg_shares_set(cfg, _libfc.HYP_PORTSET_RESPOOL_MAX_SHARES)
    _libfc.hyp_PortsetResPoolCfg_pTag_set(cfg, 7)
    assert raw(cfg, 20) == b"\x64\x00\x00\x00" + b"\xff" * 4 + bytes(4) + b"\x07\x00\x00\x00" + b"\xff" * 4
    assert _libfc.hyp_PortsetResPoolCfg_limit_get(cfg) == -1
    assert _libfc.hyp_PortsetResPoolCfg_queueDepth_get(cfg) == -1
    with pytest.raises(OverflowError):
        _libfc.hyp_PortsetResPoolCfg_pTag_set(cfg, 256)


def test_port_status_flags_and_display_text():
    status = _libfc.new_hyp_FabPortStatus()
    flags = _libfc.HYP_FABPORT_STATUS_LINKUP | _libfc.HYP_FABPORT_STATUS_BLOCKED
    _libfc.hyp_FabPortStatus_flags_set(status, flags)
    assert _libfc.hyp_FabPortStatus_flags_get(status) == 6
    _libfc.hyp_FabPortStatus_displayStr_set(status, "vmnic0")
    assert _libfc.hyp_FabPortStatus_displayStr_get(status) == "vmnic0"
    assert raw(status, 80, 20) == b"vmnic0" + bytes(74)


# --- construction through the companion classes ------------------------------------

@pytest.mark.parametrize("record", RECORDS, ids=[r.name for r in RECORDS])
def test_companion_instance_owns_a_fresh_record(record):
    inst = getattr(libfc, record.name)()
    assert type(inst.this) is SwigPyObject
    assert inst.this.own() is True
    assert descriptor_name(inst) == record.descriptor
    assert raw(inst, record.size) == bytes(record.size)


# --- None as the record ------------------------------------------------------------------

GETTERS = [(r, f) for r in RECORDS for f in r.fields]


@pytest.mark.parametrize("record,f", GETTERS, ids=map(field_id, GETTERS))
def test_getter_given_none_raises_value_error(record, f):
    with pytest.raises(ValueError):
        getter(record, f)(None)


SCALAR_SETTERS = all_fields({"uint", "int", "bool", "chars", "ptr", "void"})
SAMPLE_VALUE = {"uint": 1, "int": -1, "bool": "x", "chars": "abc", "ptr": None, "void": None}


@pytest.mark.parametrize("record,f", SCALAR_SETTERS, ids=map(field_id, SCALAR_SETTERS))
def test_setter_given_none_as_record_does_nothing(record, f):
    assert setter(record, f)(None, SAMPLE_VALUE[f.kind]) is None


@pytest.mark.parametrize("record,f", NESTED + ARRAYS + all_fields({"zarray"}),
                         ids=map(field_id, NESTED + ARRAYS + all_fields({"zarray"})))
def test_copying_setter_given_none_as_record_fails_cleanly(record, f):
    src_owner = new(record)
    if f.kind == "nested":
        _, src = _target(f.target)
    else:
        src = getter(record, f)(src_owner)  # a pointer of the element type, whatever the record
    method = "%s_%s_set" % (record.name, f.name)
    with pytest.raises(ValueError) as info:
        setter(record, f)(None, src)
    # Copying into no record at all: argument 1 is the one refused.
    assert str(info.value) == "invalid null reference in method '%s', argument 1 of type '%s *'" % (
        method, record.name)


# --- destruction -----------------------------------------------------------------------

@pytest.mark.parametrize("record", RECORDS, ids=[r.name for r in RECORDS])
def test_delete_none_is_a_no_op(record):
    assert getattr(_libfc, "delete_" + record.name)(None) is None


def test_delete_clears_ownership_of_the_object_given():
    p = _libfc.new_hyp_String()
    assert _libfc.delete_hyp_String(p) is None
    assert p.own() is False


def test_delete_through_a_companion_instance():
    inst = libfc.hyp_LinkStatus()
    assert _libfc.delete_hyp_LinkStatus(inst) is None
    assert inst.this.own() is False


def test_delete_refuses_other_record_types():
    name = _libfc.new_hyp_Name()
    with pytest.raises(TypeError) as info:
        _libfc.delete_hyp_String(name)
    assert str(info.value) == "in method 'delete_hyp_String', argument 1 of type 'hyp_String *'"
    assert name.own() is True


def test_deleting_views_and_deleting_twice_frees_nothing_extra():
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

        twice = _libfc.new_hyp_String()
        _libfc.delete_hyp_String(twice)
        attempt(_libfc.delete_hyp_String, twice)
        twice.acquire()   # its finaliser now calls the destructor once more
        del twice

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

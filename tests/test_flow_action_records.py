"""Flow action records and the flow cache's bit-fields and hardware address
fields: bits land in their storage unit and nowhere else, addresses read as
text, the client handles of the action contexts, the router instance view of
FC_VDRActionData_get_instance, and the no-op FC_ACTION_SIZE.
"""


import pytest

import _libfc
import libfc

from _flowcache_records import ACTION_RECORDS, INVAL_RECORDS, STATS_RECORDS
from _helpers import SwigPyObject, addr, descriptor_name, poke, raw, this_of, trap_status
from _records import arg1_message, arg2_message, getter, new, setter

FLOWCACHE = STATS_RECORDS + ACTION_RECORDS + INVAL_RECORDS


def fields_of_kind(kind):
    return [(r, f) for r in FLOWCACHE for f in r.fields if f.kind == kind]


def field_ids(pairs):
    return ["%s.%s" % (r.name, f.name) for r, f in pairs]


# --- bit-fields ---------------------------------------------------------------

BITFIELDS = fields_of_kind("bits")
# The largest value each declared type converts without error.
TYPE_MAX = {"hyp_uint8": 2**8 - 1, "hyp_uint32": 2**32 - 1, "hyp_uint64": 2**64 - 1}
TOO_LARGE = {"hyp_uint8": OverflowError, "hyp_uint32": OverflowError, "hyp_uint64": TypeError}


def unit_of(rec, f):
    return int.from_bytes(raw(rec, f.width, f.offset), "little")


@pytest.mark.parametrize("record,f", BITFIELDS, ids=field_ids(BITFIELDS))
def test_bit_field_owns_exactly_its_bits(record, f):
    mask = ((1 << f.bits) - 1) << f.low_bit
    rec = new(record)
    setter(record, f)(rec, (1 << f.bits) - 1)
    assert raw(rec, record.size) == bytes(f.offset) + mask.to_bytes(f.width, "little") + \
        bytes(record.size - f.offset - f.width), "%s.%s" % (record.name, f.name)
    assert getter(record, f)(rec) == (1 << f.bits) - 1
    # with every other bit of the record set, clearing the field clears only its bits
    poke(rec, 0, b"\xff" * record.size)
    setter(record, f)(rec, 0)
    assert unit_of(rec, f) == (2 ** (8 * f.width) - 1) & ~mask
    assert raw(rec, f.offset) == b"\xff" * f.offset
    assert raw(rec, record.size - f.offset - f.width, f.offset + f.width) == \
        b"\xff" * (record.size - f.offset - f.width)
    assert getter(record, f)(rec) == 0


@pytest.mark.parametrize("record,f", BITFIELDS, ids=field_ids(BITFIELDS))
def test_bit_field_keeps_the_low_bits_of_wider_values(record, f):
    rec = new(record)
    top = TYPE_MAX[f.ctype]
    setter(record, f)(rec, top)  # the full range of the declared type is accepted
    assert getter(record, f)(rec) == (1 << f.bits) - 1
    setter(record, f)(rec, (1 << f.bits) + 5 if f.bits < 8 * f.width else 5)
    assert getter(record, f)(rec) == 5 & ((1 << f.bits) - 1)
    with pytest.raises(TOO_LARGE[f.ctype]) as info:
        setter(record, f)(rec, top + 1)
    assert str(info.value) == arg2_message("%s_%s_set" % (record.name, f.name), f.ctype)
    with pytest.raises(TOO_LARGE[f.ctype]):
        setter(record, f)(rec, -1)
    assert getter(record, f)(rec) == 5 & ((1 << f.bits) - 1)


def test_decap_label_and_is_v6_share_one_word():
    d = _libfc.new_FC_VDL2DecapActionData()
    _libfc.FC_VDL2DecapActionData_label_set(d, 524287)
    _libfc.FC_VDL2DecapActionData_isV6_set(d, 1)
    assert raw(d, 4, 4) == b"\xff\xff\x0f\x00"
    _libfc.FC_VDL2DecapActionData_label_set(d, 524288)
    assert _libfc.FC_VDL2DecapActionData_label_get(d) == 0
    assert _libfc.FC_VDL2DecapActionData_isV6_get(d) == 1


def test_router_hops_wrap_at_seven_bits_and_keep_is_l4():
    d = _libfc.new_FC_VDRActionData()
    _libfc.FC_VDRActionData_isL4_set(d, 1)
    _libfc.FC_VDRActionData_hops_set(d, 200)
    assert _libfc.FC_VDRActionData_hops_get(d) == 72
    assert _libfc.FC_VDRActionData_isL4_get(d) == 1
    assert raw(d, 1, 1) == bytes([0x80 | 72])


# --- hardware addresses --------------------------------------------------------

HWADDRS = fields_of_kind("hwaddr")


def mac_source(data):
    """An unsigned char * over six bytes, kept alive by the returned holder."""
    holder = _libfc.new_FC_VDL2EncapActionData_hc_hdrSpace()
    poke(holder, 0, data)
    return holder, _libfc.FC_VDL2EncapActionData_hc_hdrSpace_hdrCacheExt_get(holder)


@pytest.mark.parametrize("record,f", HWADDRS, ids=field_ids(HWADDRS))
def test_hardware_address_is_copied_in_and_read_as_text(record, f):
    rec = new(record)
    assert getter(record, f)(rec) == "00:00:00:00:00:00"
    holder, src = mac_source(b"\x00\x1b\x21\xaB\xcd\xef" + b"\x99" * 10)
    assert setter(record, f)(rec, src) is None
    assert raw(rec, record.size) == bytes(f.offset) + b"\x00\x1b\x21\xab\xcd\xef" + bytes(record.size - f.offset - 6)
    assert getter(record, f)(rec) == "00:1b:21:ab:cd:ef"
    with pytest.raises(ValueError) as info:
        setter(record, f)(rec, None)
    assert str(info.value) == "invalid null reference in variable '%s' of type 'unsigned char [6]'" % f.name
    with pytest.raises(TypeError) as info:
        setter(record, f)(rec, "00:11:22:33:44:55")
    assert str(info.value) == arg2_message("%s_%s_set" % (record.name, f.name), "unsigned char [6]")
    assert getter(record, f)(rec) == "00:1b:21:ab:cd:ef"


# --- action contexts -------------------------------------------------------------

CONTEXTS = [r for r in ACTION_RECORDS if r.name.endswith("ActionContext")]


@pytest.mark.parametrize("record", CONTEXTS, ids=[r.name for r in CONTEXTS])
def test_client_handle_is_an_opaque_pointer(record):
    ctx = new(record)
    assert getter(record, record.field("clientHdl"))(ctx) is None
    poke(ctx, 0, (0x7F00DEADBEE0).to_bytes(8, "little"))
    handle = getter(record, record.field("clientHdl"))(ctx)
    assert type(handle) is SwigPyObject
    assert descriptor_name(handle) == "_p__FC_ClientHandle"
    assert int(handle) == 0x7F00DEADBEE0 and handle.own() is False
    # the handle moves to another context as an address, never as a record
    other = new(record)
    setter(record, record.field("clientHdl"))(other, handle)
    assert raw(other, 8) == raw(ctx, 8)
    with pytest.raises(TypeError) as info:
        setter(record, record.field("clientHdl"))(other, ctx)
    assert str(info.value) == arg2_message(record.name + "_clientHdl_set", "FC_ClientHandle")


@pytest.mark.parametrize("record", CONTEXTS, ids=[r.name for r in CONTEXTS])
def test_cookies_are_copied_as_a_block_of_n(record):
    f = record.field("ctx")
    src = new(record)
    poke(src, 0, bytes(range(1, record.size + 1)))
    dst = new(record)
    setter(record, f)(dst, getter(record, f)(src))
    assert raw(dst, record.size) == bytes(8) + bytes(range(9, record.size + 1))
    cookie = getter(record, f)(dst)
    assert isinstance(cookie, libfc.hyp_AddrCookie)
    assert int(_libfc.hyp_AddrCookie_ptr_get(cookie)) == int.from_bytes(bytes(range(9, 17)), "little")
    with pytest.raises(ValueError) as info:
        setter(record, f)(dst, None)
    assert str(info.value) == "invalid null reference in variable 'ctx' of type 'hyp_AddrCookie [%d]'" % f.count


def test_encap_header_cache_is_reached_in_place():
    data = libfc.FC_VDL2EncapActionData()
    space = data.hc.hdrSpace
    assert addr(space) == addr(data) + 40
    holder, block = mac_source(b"\x45" * 64)
    _libfc.FC_VDL2EncapActionData_hc_hdrSpace_hdrCacheBlock_set(space, block)
    assert raw(data, 64, 104) == b"\x45" * 64 and raw(data, 64, 40) == bytes(64)
    assert not hasattr(_libfc, "FC_VDL2EncapActionData_hc_set")
    assert not hasattr(_libfc, "FC_VDL2EncapActionData_hc_hdrSpace_set")


# --- FC_VDRActionData_get_instance --------------------------------------------------

GET_INSTANCE = "FC_VDRActionData_get_instance"


@pytest.mark.parametrize("index", [0, 1, 2])
def test_instance_view_opens_its_element(index):
    d = libfc.FC_VDRActionData()
    trap_status().value = 9
    info = _libfc.FC_VDRActionData_get_instance(d, index)
    assert trap_status().value == 0, "the method runs under the trap"
    assert isinstance(info, libfc.FC_VdrInfo)
    assert this_of(info).own() is False
    assert addr(info) == addr(d) + 14 + 32 * index
    info.vdrId = 0x01020304
    info.decrTTL = "\x01"
    expected = bytearray(110)
    expected[14 + 32 * index] = 1
    expected[18 + 32 * index:22 + 32 * index] = b"\x04\x03\x02\x01"
    assert raw(d, 110) == bytes(expected)


@pytest.mark.parametrize("index,exc_type,message", [
    (3, IndexError, GET_INSTANCE + ": index 3 out of range 0..2"),
    (-1, IndexError, GET_INSTANCE + ": index -1 out of range 0..2"),
    (2**31 - 1, IndexError, GET_INSTANCE + ": index 2147483647 out of range 0..2"),
    (2**31, OverflowError, arg2_message(GET_INSTANCE, "int")),
    (-(2**31) - 1, OverflowError, arg2_message(GET_INSTANCE, "int")),
    (1.0, TypeError, arg2_message(GET_INSTANCE, "int")),
    ("1", TypeError, arg2_message(GET_INSTANCE, "int")),
])
def test_instance_index_is_refused_outside_the_three_instances(index, exc_type, message):
    d = _libfc.new_FC_VDRActionData()
    with pytest.raises(exc_type) as info:
        _libfc.FC_VDRActionData_get_instance(d, index)
    assert type(info.value) is exc_type
    assert str(info.value) == message


def test_instance_view_needs_router_data():
    with pytest.raises(TypeError) as info:
        _libfc.FC_VDRActionData_get_instance(_libfc.new_FC_VdrInfo(), 0)
    assert str(info.value) == arg1_message(GET_INSTANCE, "FC_VDRActionData")
    with pytest.raises(ValueError):
        _libfc.FC_VDRActionData_get_instance(None, 0)


# --- FC_ACTION_SIZE -----------------------------------------------------------------------

def test_action_size_does_nothing_under_the_trap():
    trap_status().value = 4
    assert _libfc.FC_ACTION_SIZE() is None
    assert trap_status().value == 0
    with pytest.raises(TypeError) as info:
        _libfc.FC_ACTION_SIZE(1)
    assert str(info.value) == "FC_ACTION_SIZE() takes exactly 0 arguments (1 given)"


def test_action_size_stands_before_the_action_records():
    methods = list(_libfc.__dict__)
    assert methods.index("FC_ACTION_SIZE") + 1 == methods.index("FC_VDL2ActionContext_clientHdl_set")

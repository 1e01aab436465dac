"""Bit-fields and hardware address fields of every record table: a bit-field
value lands at exactly its bits of the storage unit and nowhere else, wider
values are truncated, values outside the declared C type are refused; a
hardware address reads as colon-separated hex and is set by copying six bytes
from a byte pointer. The compiler's own placement of every described bit-field
is checked by the bitfield_layout_check program of the test build."""

import os
import re
import subprocess

import pytest

import _libfc
import libfc  # noqa: F401  -- registers the record classes, so owned records are freed
from _helpers import BUILD_DIR, poke, raw
from _records import all_fields, arg2_message, field_id, getter, new, setter

BITFIELDS = all_fields({"bits"})
HWADDRS = all_fields({"hwaddr"})


def declared_bits(f):
    """The width of a bit-field's declared C type: the records declare theirs
    hyp_uint8 to hyp_uint64 (the C types themselves: test_field_kinds.py)."""
    assert re.fullmatch(r"hyp_uint(8|16|32|64)", f.ctype), "bit-field %s declared as %r" % (f.name, f.ctype)
    return int(f.ctype[len("hyp_uint"):])


def noise(n):
    """Distinctive bytes with every bit pattern mixed in."""
    return bytes((0xA5 ^ (i * 0x3B)) & 0xFF for i in range(n))


@pytest.mark.parametrize("record,f", BITFIELDS, ids=map(field_id, BITFIELDS))
def test_bitfield_value_lands_on_its_bits_only_wider_ones_are_truncated_and_the_type_bounds_them(record, f):
    rec = new(record)
    before = noise(record.size)
    poke(rec, 0, before)
    method = "%s_%s_set" % (record.name, f.name)
    type_bits = declared_bits(f)
    # values outside the declared C type are refused, and change nothing;
    # unsigned 64-bit conversions report every failure as a type error
    expected = TypeError if type_bits == 64 else OverflowError
    for value, exc_type in ((-1, expected), (1 << type_bits, expected), (1.0, TypeError), ("1", TypeError)):
        with pytest.raises(Exception) as info:
            setter(record, f)(rec, value)
        assert type(info.value) is exc_type, "%s given %r raised %r" % (method, value, info.value)
        assert str(info.value) == arg2_message(method, f.ctype)
    assert raw(rec, record.size) == before
    ones = (1 << f.bits) - 1
    mask = ones << f.low_bit
    old_unit = int.from_bytes(before[f.offset:f.offset + f.width], "little")
    # every bit of the field, none, an alternating pattern, then values of the
    # declared type too wide for the field: their low bits are kept
    cases = [(ones, ones), (0, 0), (int("10" * 32, 2) & ones, int("10" * 32, 2) & ones), ((1 << type_bits) - 1, ones)]
    if f.bits < type_bits:
        cases += [(1 << f.bits, 0), ((1 << f.bits) + 5, 5 & ones)]
    for value, stored in cases:
        assert setter(record, f)(rec, value) is None
        unit = (old_unit & ~mask | stored << f.low_bit).to_bytes(f.width, "little")
        assert raw(rec, record.size) == before[:f.offset] + unit + before[f.offset + f.width:], \
            "%s.%s = %#x" % (record.name, f.name, value)
        assert getter(record, f)(rec) == stored
    # the getter reads the field's bits and masks the rest of the unit
    poke(rec, f.offset, (((1 << (8 * f.width)) - 1) & ~mask).to_bytes(f.width, "little"))
    assert getter(record, f)(rec) == 0


def test_every_described_bitfield_matches_the_compilers_layout():
    program = os.path.join(BUILD_DIR, "bitfield_layout_check")
    result = subprocess.run([program], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stdout + result.stderr
    checked = int(re.search(r"(\d+) bit-fields checked", result.stdout).group(1))
    assert checked == len(BITFIELDS), "the descriptions and the layout tables disagree on the bit-fields"


# --- hardware addresses -------------------------------------------------------

@pytest.mark.parametrize("record,f", HWADDRS, ids=map(field_id, HWADDRS))
def test_hardware_address_setter_copies_six_bytes_and_refuses_null_and_other_values(record, f):
    rec = new(record)
    before = noise(record.size)
    poke(rec, 0, before)
    with pytest.raises(ValueError) as info:
        setter(record, f)(rec, None)
    assert str(info.value) == "invalid null reference in variable '%s' of type '%s'" % (f.name, f.ctype)
    method = "%s_%s_set" % (record.name, f.name)
    for bad in ("00:11:22:33:44:55", b"\x00\x11\x22\x33\x44\x55", 0, _libfc.new_hyp_IntrInfo()):
        with pytest.raises(TypeError) as info:
            setter(record, f)(rec, bad)
        assert str(info.value) == arg2_message(method, f.ctype), "%s given %r" % (method, bad)
    assert raw(rec, record.size) == before
    holder = _libfc.new_hyp_SocketAddress()
    source = _libfc.hyp_SocketAddress_sa_data_get(holder)  # an unsigned char *, kept alive by its holder
    poke(source, 0, bytes.fromhex("0211223344556677"))
    assert setter(record, f)(rec, source) is None
    expected = before[:f.offset] + bytes.fromhex("021122334455") + before[f.offset + 6:]
    assert raw(rec, record.size) == expected, "%s.%s" % (record.name, f.name)
    assert getter(record, f)(rec) == "02:11:22:33:44:55"
    assert source.own() is False  # a view stays a view: the copy takes nothing over
    poke(rec, f.offset, b"\xff\xfe\x00\x1a\x2b\x3c")
    assert getter(record, f)(rec) == "ff:fe:00:1a:2b:3c"

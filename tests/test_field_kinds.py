"""Field kinds on the test module's probe record that the libraries' records
do not have: integers of every width and sign, bit-fields in 8- to 64-bit
units placed by the C compiler. (The other kinds: test_records.py.)"""

import ctypes

import pytest

import _swigtest as m
from _helpers import raw

PROBE_SIZE = 176


@pytest.fixture
def probe():
    p = m.new_swigtest_Probe()
    yield p
    m.delete_swigtest_Probe(p)


INTEGERS = [
    # field, C type, offset, width, lowest, highest
    ("i8", "signed char", 0, 1, -128, 127),
    ("i16", "short", 2, 2, -32768, 32767),
    ("i32", "int", 4, 4, -(2**31), 2**31 - 1),
    ("i64", "long long", 8, 8, -(2**63), 2**63 - 1),
    ("u8", "unsigned char", 16, 1, 0, 255),
    ("u16", "unsigned short", 18, 2, 0, 65535),
    ("u32", "unsigned int", 20, 4, 0, 2**32 - 1),
    ("ul", "unsigned long", 24, 8, 0, 2**63 - 1),
    ("u64", "unsigned long long", 32, 8, 0, 2**64 - 1),
]


@pytest.mark.parametrize("field, ctype, offset, width, lowest, highest", INTEGERS)
def test_integer_fields_store_at_their_width_and_range(probe, field, ctype, offset, width, lowest, highest):
    setter, getter = getattr(m, f"swigtest_Probe_{field}_set"), getattr(m, f"swigtest_Probe_{field}_get")
    for value in (lowest, highest):
        setter(probe, value)
        assert getter(probe) == value, field
        assert raw(probe, width, offset) == value.to_bytes(width, "little", signed=lowest < 0), field
    # Out of range: unsigned 64-bit refuses with TypeError, every other type with OverflowError.
    error = TypeError if ctype == "unsigned long long" else OverflowError
    for bad in (lowest - 1, highest + 1):
        with pytest.raises(error) as info:
            setter(probe, bad)
        assert str(info.value) == f"in method 'swigtest_Probe_{field}_set', argument 2 of type '{ctype}'"
    assert getter(probe) == highest, f"{field} changed by a refused value"


BITFIELDS = [
    # field, declared type, unit offset, unit width, lowest bit, bits
    ("low4", "unsigned char", 47, 1, 0, 4),
    ("high4", "unsigned char", 47, 1, 4, 4),
    ("b16_a", "unsigned short", 48, 2, 0, 3),
    ("b16_b", "unsigned short", 48, 2, 3, 13),
    ("b32_a", "unsigned int", 52, 4, 0, 1),
    ("b32_b", "unsigned int", 52, 4, 1, 24),
    ("b32_c", "unsigned int", 52, 4, 25, 7),
    ("b64_a", "unsigned long long", 56, 8, 0, 56),
    ("b64_b", "unsigned long long", 56, 8, 56, 8),
]


@pytest.mark.parametrize("field, ctype, offset, unit, bit, bits", BITFIELDS)
def test_bitfield_matches_the_c_compilers_layout_keeps_its_neighbours_and_truncates(probe, field, ctype, offset, unit,
                                                                                    bit, bits):
    setter, getter = getattr(m, f"swigtest_Probe_{field}_set"), getattr(m, f"swigtest_Probe_{field}_get")
    setter(probe, 2 ** (8 * unit) - 1)  # every bit of the declared type: truncated to the field
    assert raw(probe, PROBE_SIZE) == m.swigtest_bitfield_image(field), field
    ctypes.memset(int(probe) + offset, 0xFF, unit)
    setter(probe, 0)
    unit_value = int.from_bytes(raw(probe, unit, offset), "little")
    mask = (2**bits - 1) << bit
    assert unit_value == (2 ** (8 * unit) - 1) & ~mask, field
    setter(probe, 2**bits + 5)  # wider than the field: low bits kept, no error
    assert getter(probe) == 5 & (2**bits - 1)
    assert int.from_bytes(raw(probe, unit, offset), "little") & ~mask == (2 ** (8 * unit) - 1) & ~mask
    # the declared type's range is checked, not the field's width
    error = TypeError if ctype == "unsigned long long" else OverflowError
    for bad in (2 ** (8 * unit), -1):
        with pytest.raises(error) as info:
            setter(probe, bad)
        assert str(info.value) == f"in method 'swigtest_Probe_{field}_set', argument 2 of type '{ctype}'"

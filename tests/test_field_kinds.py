"""Field kinds on the test module's probe record that the libraries' records
do not have: integers of every width and sign. (The other kinds:
test_records.py; bit-fields in 8- to 64-bit units:
test_record_bits_hwaddr.py.)"""

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


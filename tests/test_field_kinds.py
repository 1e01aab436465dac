"""Field kinds on the test module's probe record that the libraries' records
do not have: the signed integers narrower or wider than 32 bits. (The other
integer widths: test_conversions.py; the other kinds: test_records.py;
bit-fields in 8- to 64-bit units: test_record_bits_hwaddr.py.)"""

import pytest

import _swigtest as m
from _helpers import raw

@pytest.fixture
def probe():
    p = m.new_swigtest_Probe()
    yield p
    m.delete_swigtest_Probe(p)


INTEGERS = [
    # field, C type, offset, width, lowest, highest
    ("i8", "signed char", 0, 1, -128, 127),
    ("i16", "short", 2, 2, -32768, 32767),
    ("i64", "long long", 8, 8, -(2**63), 2**63 - 1),
]


@pytest.mark.parametrize("field, ctype, offset, width, lowest, highest", INTEGERS)
def test_integer_fields_store_at_their_width_and_range(probe, field, ctype, offset, width, lowest, highest):
    setter, getter = getattr(m, f"swigtest_Probe_{field}_set"), getattr(m, f"swigtest_Probe_{field}_get")
    for value in (lowest, highest):
        setter(probe, value)
        assert getter(probe) == value, field
        assert raw(probe, width, offset) == value.to_bytes(width, "little", signed=True), field
    for bad in (lowest - 1, highest + 1):
        with pytest.raises(OverflowError) as info:
            setter(probe, bad)
        assert str(info.value) == f"in method 'swigtest_Probe_{field}_set', argument 2 of type '{ctype}'"
    assert getter(probe) == highest, f"{field} changed by a refused value"


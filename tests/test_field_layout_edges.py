"""The exact edges of the bit-field layouts describe_field accepts: a field
that ends on the last bit of its unit is served, one bit further is not."""

import pytest

import _libfc
import _libfc_fields


@pytest.mark.parametrize("size", [1, 2, 4, 8])
@pytest.mark.parametrize("bits", [1, 3, 8])
def test_bit_field_may_end_on_the_last_bit_of_its_unit_and_no_further(size, bits):
    if bits > 8 * size:
        pytest.skip("wider than the unit")
    last = 8 * size - bits
    getter = _libfc.FC_FlowKey_flags_get
    field = _libfc_fields.describe_field(getter, None, 1, 4, 0, -1, 0, size, 1, last, bits)
    assert type(field) is _libfc_fields.field
    with pytest.raises(ValueError):
        _libfc_fields.describe_field(getter, None, 1, 4, 0, -1, 0, size, 1, last + 1, bits)
    for bad_size in (0, 3, 16):
        with pytest.raises(ValueError):
            _libfc_fields.describe_field(getter, None, 1, 4, 0, -1, 0, bad_size, 1, 0, 1)

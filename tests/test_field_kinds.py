"""Every field kind of the record machinery, on the test module's probe record:
integers of every width and sign, bit-fields in 8- to 64-bit units, char,
hardware addresses, owned text, pointers, char arrays, arrays and variable parts."""

import ctypes

import pytest

import _swigtest as m
from _helpers import raw, this_of

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
def test_bitfield_matches_the_c_compilers_layout(probe, field, ctype, offset, unit, bit, bits):
    setter = getattr(m, f"swigtest_Probe_{field}_set")
    top = 2 ** (8 * unit) - 1
    setter(probe, top)  # every bit of the declared type: truncated to the field
    assert raw(probe, PROBE_SIZE) == m.swigtest_bitfield_image(field), field


@pytest.mark.parametrize("field, ctype, offset, unit, bit, bits", BITFIELDS)
def test_bitfield_keeps_its_neighbours_and_truncates(probe, field, ctype, offset, unit, bit, bits):
    setter, getter = getattr(m, f"swigtest_Probe_{field}_set"), getattr(m, f"swigtest_Probe_{field}_get")
    ctypes.memset(int(probe) + offset, 0xFF, unit)
    setter(probe, 0)
    unit_value = int.from_bytes(raw(probe, unit, offset), "little")
    mask = (2**bits - 1) << bit
    assert unit_value == (2 ** (8 * unit) - 1) & ~mask, field
    setter(probe, 2**bits + 5)  # wider than the field: low bits kept, no error
    assert getter(probe) == 5 & (2**bits - 1)
    assert int.from_bytes(raw(probe, unit, offset), "little") & ~mask == (2 ** (8 * unit) - 1) & ~mask


@pytest.mark.parametrize("field, ctype, offset, unit, bit, bits", BITFIELDS)
def test_bitfield_checks_the_declared_type_not_the_width(probe, field, ctype, offset, unit, bit, bits):
    setter = getattr(m, f"swigtest_Probe_{field}_set")
    error = TypeError if ctype == "unsigned long long" else OverflowError
    with pytest.raises(error) as info:
        setter(probe, 2 ** (8 * unit))
    assert str(info.value) == f"in method 'swigtest_Probe_{field}_set', argument 2 of type '{ctype}'"
    with pytest.raises(error):
        setter(probe, -1)


@pytest.mark.parametrize(
    "value, stored",
    [("A", 65), ("", 0), (None, 0), (0, 0), (1, 1), (255, 255), (True, 1), ("\x7f", 127)],
)
def test_char_field_accepts_one_byte_texts_and_small_integers(probe, value, stored):
    m.swigtest_Probe_flag_set(probe, value)
    assert raw(probe, 1, 40)[0] == stored


@pytest.mark.parametrize("value, error", [("AB", TypeError), ("é", TypeError), (256, OverflowError),
                                          (-1, OverflowError), (1.0, TypeError), (b"A", TypeError)])
def test_char_field_refusals(probe, value, error):
    m.swigtest_Probe_flag_set(probe, "z")
    with pytest.raises(error) as info:
        m.swigtest_Probe_flag_set(probe, value)
    assert str(info.value) == "in method 'swigtest_Probe_flag_set', argument 2 of type 'char'"
    assert m.swigtest_Probe_flag_get(probe) == "z"


def test_char_field_reads_back_one_character_and_fails_on_non_utf8(probe):
    m.swigtest_Probe_flag_set(probe, 1)
    assert m.swigtest_Probe_flag_get(probe) == "\x01"
    m.swigtest_Probe_flag_set(probe, 0xC3)
    with pytest.raises(UnicodeDecodeError):
        m.swigtest_Probe_flag_get(probe)


def test_hardware_address_reads_as_text_and_is_set_from_bytes(probe):
    assert m.swigtest_Probe_mac_get(probe) == "00:00:00:00:00:00"
    source = m.new_swigtest_Probe()
    ctypes.memmove(int(source) + 41, bytes([0x00, 0x1A, 0x2B, 0xFF, 0x00, 0x01]), 6)
    mac_bytes = m.swigtest_Probe_mac_get  # text form
    assert mac_bytes(source) == "00:1a:2b:ff:00:01"
    # The setter copies six bytes from an unsigned char * (not from text).
    view = m.swigtest_Probe_names_get(source)  # any pointer of another type is refused
    with pytest.raises(TypeError) as info:
        m.swigtest_Probe_mac_set(probe, view)
    assert str(info.value) == "in method 'swigtest_Probe_mac_set', argument 2 of type 'unsigned char [6]'"
    with pytest.raises(TypeError):
        m.swigtest_Probe_mac_set(probe, "00:1a:2b:ff:00:01")
    with pytest.raises(ValueError) as info:
        m.swigtest_Probe_mac_set(probe, None)
    assert str(info.value) == "invalid null reference in variable 'mac' of type 'unsigned char [6]'"
    m.delete_swigtest_Probe(source)


def test_owned_text_is_copied_replaced_and_cleared(probe):
    assert m.swigtest_Probe_label_get(probe) is None
    m.swigtest_Probe_label_set(probe, "first")
    first_address = ctypes.c_void_p.from_address(int(probe) + 64).value
    m.swigtest_Probe_label_set(probe, "sécond")
    assert m.swigtest_Probe_label_get(probe) == "sécond"
    assert ctypes.string_at(ctypes.c_void_p.from_address(int(probe) + 64).value) == "sécond".encode()
    assert first_address != 0
    m.swigtest_Probe_label_set(probe, None)
    assert m.swigtest_Probe_label_get(probe) is None
    with pytest.raises(TypeError) as info:
        m.swigtest_Probe_label_set(probe, 5)
    assert str(info.value) == "in method 'swigtest_Probe_label_set', argument 2 of type 'char *'"


def test_typed_pointer_field_takes_ownership_and_checks_type(probe):
    s = m.new_hyp_String()
    assert s.own()
    m.swigtest_Probe_text_set(probe, s)
    assert not s.own(), "the record now holds the address; the object must not free it"
    got = this_of(m.swigtest_Probe_text_get(probe))
    assert got == s and not got.own()
    with pytest.raises(TypeError) as info:
        m.swigtest_Probe_text_set(probe, m.new_swigtest_Probe())
    assert str(info.value) == "in method 'swigtest_Probe_text_set', argument 2 of type 'hyp_String *'"
    m.swigtest_Probe_text_set(probe, None)
    assert m.swigtest_Probe_text_get(probe) is None
    m.delete_hyp_String(s)


def test_void_pointer_field_accepts_any_pointer(probe):
    other = m.new_swigtest_Probe()
    m.swigtest_Probe_cookie_set(probe, other)
    assert not other.own()
    cookie = m.swigtest_Probe_cookie_get(probe)
    assert int(cookie) == int(other)
    assert str(cookie).endswith("_p_void")
    with pytest.raises(TypeError) as info:
        m.swigtest_Probe_cookie_set(probe, 12)
    assert str(info.value) == "in method 'swigtest_Probe_cookie_set', argument 2 of type 'void *'"
    other.acquire()


def test_read_only_nested_record_has_a_getter_only(probe):
    assert not hasattr(m, "swigtest_Probe_inner_set")
    inner = m.swigtest_Probe_inner_get(probe)
    assert int(this_of(inner)) == int(probe) + 160
    m.hyp_String_bufferSize_set(inner, 99)
    assert raw(probe, 4, 160) == (99).to_bytes(4, "little")


def test_variable_part_views_the_end_of_the_record(probe):
    items = m.swigtest_Probe_items_get(probe)
    assert int(items) == int(probe) + PROBE_SIZE
    before = raw(probe, PROBE_SIZE)
    assert m.swigtest_Probe_items_set(probe, items) is None
    assert raw(probe, PROBE_SIZE) == before
    with pytest.raises(ValueError) as info:
        m.swigtest_Probe_items_set(probe, None)
    assert str(info.value) == "invalid null reference in variable 'items' of type 'int [0]'"


def test_char_array_of_eight(probe):
    m.swigtest_Probe_name_set(probe, "abcdefgh")
    assert raw(probe, 8, 88) == b"abcdefgh"
    assert raw(probe, 1, 96) == b"\0", "an 8-byte text must not spill its terminator"
    with pytest.raises(TypeError):
        m.swigtest_Probe_name_set(probe, "abcdefghi")
    assert m.swigtest_Probe_name_get(probe) == "abcdefgh"
    m.swigtest_Probe_name_set(probe, "ab")
    assert raw(probe, 8, 88) == b"ab" + bytes(6)

"""Runtime conversions reached through the test module's probes: callbacks
carried in a built-in function's documentation, text arguments and results,
and the text forms of packed objects."""

import pytest

import _swigtest as m

CALLBACK_MESSAGE = "in method 'swigtest_callback', argument 1 of type 'DVSData_MemFree'"


@pytest.mark.parametrize("value, address", [(m.swigtest_cb_address, 0x0123456789ABCDEF), (None, 0),
                                            (m.swigtest_cb_null, 0)], ids=["documented", "None", "NULL"])
def test_callback_address_is_read_from_the_documentation(value, address):
    assert m.swigtest_callback(value) == address


@pytest.mark.parametrize("value", [m.swigtest_cb_upper, m.swigtest_cb_other_type, m.swigtest_cb_no_marker, len,
                                   lambda: None, 5, "swig_ptr: NULL"],
                         ids=["upper-case digits", "other type", "no marker", "builtin without doc marker", "lambda",
                              "int", "str"])
def test_callback_refusals(value):
    with pytest.raises(TypeError) as info:
        m.swigtest_callback(value)
    assert str(info.value) == CALLBACK_MESSAGE


@pytest.mark.parametrize("text", ["", "plain", "sécurité", "a\0b"])
def test_text_round_trip(text):
    # The C side sees the text up to its first zero character.
    assert m.swigtest_text(text) == text.split("\0")[0]


def test_text_none_and_refusals():
    assert m.swigtest_text(None) is None
    for bad in (b"bytes", bytearray(b"x"), 3, "\ud800"):
        with pytest.raises(TypeError) as info:
            m.swigtest_text(bad)
        assert str(info.value) == "in method 'swigtest_text', argument 1 of type 'char const *'"


@pytest.mark.parametrize("value, code", [("A", 65), ("", 0), (None, 0), (200, 200)])
def test_char_conversion(value, code):
    assert m.swigtest_char(value) == code


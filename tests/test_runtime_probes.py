"""Callbacks carried in a built-in function's documentation, reached through
the test module's probe. (Text arguments and results: test_operations.py.)"""

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

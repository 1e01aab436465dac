"""Edges of the runtime's own objects: the packed object's switch to its short
text form and a callback accepted through a converting cast. (Integer and
text edges of every field: test_conversions.py; index ranges:
test_element_methods.py; chains that loop and ownership flags whose truth
raises: test_pointer_objects.py.)"""

import pytest

import _libfc  # noqa: F401  (before _swigtest: the shared types keep _libfc's printable names)
import _swigtest
from _helpers import run_python_ok


# The text form of a packed object needs 2 x size + 2 bytes; 1024 is the most
# it ever builds, so 511 bytes are the largest shown in full.
@pytest.mark.parametrize("size, full", [(0, True), (3, True), (510, True), (511, True), (512, False), (513, False),
                                        (600, False)])
def test_packed_text_switches_to_the_short_form_past_511_bytes(size, full):
    data = bytes((7 * i + 1) % 256 for i in range(size))
    packed = _swigtest.swigtest_packed(data)
    assert type(packed).__name__ == "SwigPyPacked"
    if full:
        assert (str(packed), repr(packed)) == ("_%s_p_char" % data.hex(), "<Swig Packed at _%s_p_char>" % data.hex())
    else:
        assert (str(packed), repr(packed)) == ("_p_char", "<Swig Packed _p_char>")


# --- callbacks --------------------------------------------------------------------------------

def test_a_callback_accepted_through_a_cast_gets_the_casts_converted_address():
    # No shipped function type has a converting cast, so one is installed on
    # the registry's own cast entry for the callback type, in a child.
    run_python_ok("""
        import ctypes, sys
        import _swigtest
        class TypeInfo(ctypes.Structure):
            _fields_ = [("name", ctypes.c_char_p), ("str", ctypes.c_char_p), ("downcast", ctypes.c_void_p),
                        ("casts", ctypes.c_void_p), ("class_info", ctypes.c_void_p), ("owns", ctypes.c_int)]
        Converter = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.c_void_p, ctypes.POINTER(ctypes.c_int))
        class CastInfo(ctypes.Structure):
            _fields_ = [("type", ctypes.POINTER(TypeInfo)), ("converter", ctypes.c_void_p),
                        ("next", ctypes.c_void_p), ("prev", ctypes.c_void_p)]
        class ModuleInfo(ctypes.Structure):
            _fields_ = [("types", ctypes.POINTER(ctypes.POINTER(TypeInfo))), ("size", ctypes.c_size_t)]
        get = ctypes.pythonapi.PyCapsule_GetPointer
        get.restype, get.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]
        table = ModuleInfo.from_address(get(sys.modules["swig_runtime_data4"].type_pointer_capsule,
                                            b"swig_runtime_data4.type_pointer_capsule"))
        target = next(table.types[i] for i in range(table.size) if table.types[i].contents.name == b"_p_f_p_void__void")
        cast = CastInfo.from_address(target.contents.casts)
        assert cast.type.contents.name == b"_p_f_p_void__void" and not cast.converter
        plain = _swigtest.swigtest_callback(_swigtest.swigtest_cb_address)
        assert plain == 0x0123456789abcdef
        moved = Converter(lambda address, allocated: address + 16)
        cast.converter = ctypes.cast(moved, ctypes.c_void_p).value
        try:
            assert _swigtest.swigtest_callback(_swigtest.swigtest_cb_address) == plain + 16
        finally:
            cast.converter = None
        assert _swigtest.swigtest_callback(_swigtest.swigtest_cb_address) == plain
    """)

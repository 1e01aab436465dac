"""Every edge exactly: the last accepted and the first refused value of each
integer C type the records use, the last text that fits each character
array width and the first that does not, and the packed object's switch to
its short text form. (Index ranges: tests/test_flow_query_records.py.)"""

import pytest

import _libfc
import _swigtest
import libfc  # noqa: F401
from _helpers import raw, run_python_ok
from _records import all_fields, arg2_message, getter, new, setter


def _one_field_per(pairs, key):
    chosen = {}
    for record, f in pairs:
        chosen.setdefault(key(f), (record, f))
    return list(chosen.values())


INTEGERS = _one_field_per(all_fields({"uint", "int"}), key=lambda f: (f.ctype, f.bits, f.signed))


def edges(f):
    """(value, expected error or None) at both ends of the field's C type."""
    if f.signed:
        low, high = -2 ** (f.bits - 1), 2 ** (f.bits - 1) - 1
        beyond = OverflowError
    else:
        low, high = 0, 2 ** f.bits - 1
        # unsigned long long refuses as a type error, everything narrower as an overflow
        beyond = TypeError if f.bits == 64 else OverflowError
    return [(low, None), (high, None), (low - 1, beyond), (high + 1, beyond),
            (-2 ** 63 - 1, OverflowError if f.bits < 64 else beyond), (2 ** 80, beyond)]


@pytest.mark.parametrize("record,f", INTEGERS, ids=lambda p: getattr(p, "name", None))
def test_integer_edges(record, f):
    put, get = setter(record, f), getter(record, f)
    rec = new(record)
    message = arg2_message("%s_%s_set" % (record.name, f.name), f.ctype)
    for value, error in edges(f):
        put(rec, 1)
        if error is None:
            assert put(rec, value) is None
            assert get(rec) == value, "%s.%s = %d" % (record.name, f.name, value)
        else:
            with pytest.raises(error) as info:
                put(rec, value)
            assert str(info.value) == message
            assert get(rec) == 1, "%s.%s changed by a refused %d" % (record.name, f.name, value)


CHAR_ARRAYS = _one_field_per(all_fields({"chars"}), key=lambda f: f.count)


@pytest.mark.parametrize("record,f", CHAR_ARRAYS, ids=lambda p: getattr(p, "name", None))
def test_character_array_width_edges(record, f):
    put, get = setter(record, f), getter(record, f)
    rec = new(record)
    message = arg2_message("%s_%s_set" % (record.name, f.name), f.ctype)
    full = "x" * f.count
    assert put(rec, full) is None and get(rec) == full        # N bytes fit without terminator
    assert raw(rec, f.count, f.offset) == full.encode()
    for too_long in ("y" * (f.count + 1), "y" * (f.count - 1) + "\u00e9"):  # N + 1 bytes
        with pytest.raises(TypeError) as info:
            put(rec, too_long)
        assert str(info.value) == message
        assert get(rec) == full
    assert put(rec, "") is None and raw(rec, f.count, f.offset) == bytes(f.count)
    if f.count > 1:
        one_short = "z" * (f.count - 2) + "\u00e9"  # N bytes, the last two one character
        assert put(rec, one_short) is None and get(rec) == one_short


# The text form of a packed object needs 2 x size + 2 bytes; 1024 is the most
# it ever builds, so 511 bytes are the largest shown in full.
@pytest.mark.parametrize("size, full", [(0, True), (510, True), (511, True), (512, False), (513, False)])
def test_packed_text_switches_to_the_short_form_past_511_bytes(size, full):
    data = bytes((7 * i + 1) % 256 for i in range(size))
    packed = _swigtest.swigtest_packed(data)
    if full:
        assert str(packed) == "_" + data.hex() + "_p_char"
        assert repr(packed) == "<Swig Packed at _%s_p_char>" % data.hex()
    else:
        assert str(packed) == "_p_char"
        assert repr(packed) == "<Swig Packed _p_char>"


# --- chains and flags at their limits -------------------------------------------------------

class Falsy:
    def __init__(self, error=None):
        self.error = error

    def __bool__(self):
        if self.error:
            raise self.error
        return False


def test_a_chain_that_loops_fails_its_repr_without_crashing():
    p = _libfc.new_hyp_String()
    q = _libfc.new_FC_FlowKey()
    p.append(q)
    q.append(p)
    with pytest.raises(RecursionError):
        repr(p)
    assert p.__repr__ is not None and str(p).endswith("_p_hyp_String")
    q.append(_libfc.new_FC_FlowKey())  # break the loop so both can die
    assert p.next() is q


def test_own_with_a_value_whose_truth_raises_changes_nothing():
    p = _libfc.new_hyp_String()
    with pytest.raises(KeyError):
        p.own(Falsy(KeyError("truth")))
    assert p.own() is True
    assert p.own(Falsy()) is True and p.own() is False
    p.acquire()


def test_repr_method_is_the_repr():
    p = _libfc.new_hyp_String()
    p.append(_libfc.new_hyp_Name())
    assert p.__repr__() == repr(p)
    assert repr(p).count("<Swig Object of type") == 2


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

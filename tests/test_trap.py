"""The library-call trap: a library may abandon a call by jumping back with an
exception type and a message; the module raises exactly that."""

import ctypes
import subprocess

import pytest

import _libfc
import _swigtest


def word(module, name, ctype=ctypes.c_int):
    return ctype.in_dll(ctypes.CDLL(module.__file__), name)


@pytest.mark.parametrize("exc_type, value", [(RuntimeError, 7), (ValueError, 1), (KeyError, -3)])
def test_jump_raises_what_the_library_left(exc_type, value):
    with pytest.raises(exc_type) as info:
        _swigtest.swigtest_trap(value, exc_type, "library gave up")
    assert info.value.args == ("library gave up",)
    assert word(_swigtest, "exception_status").value == value


def test_jump_without_a_message_raises_runtime_error():
    with pytest.raises(RuntimeError, match="abandoned"):
        _swigtest.swigtest_trap(2, RuntimeError, None)


def test_a_returning_call_leaves_status_zero_and_no_exception():
    word(_swigtest, "exception_status").value = 5
    assert _swigtest.swigtest_trap(0, RuntimeError, "unused") == 0
    assert word(_swigtest, "exception_status").value == 0


def test_module_survives_many_jumps():
    for i in range(1, 2000):
        with pytest.raises(RuntimeError):
            _swigtest.swigtest_trap(i, RuntimeError, "again")
    assert _swigtest.swigtest_trap(0, RuntimeError, "fine") == 0


def test_libfc_exports_the_trap_words_and_module_id_and_nothing_else():
    names = subprocess.run(["nm", "-D", "--defined-only", _libfc.__file__], capture_output=True, text=True).stdout
    symbols = {line.split()[-1]: line.split()[-2] for line in names.splitlines() if line.strip()
               and not line.split()[-1].startswith("__odr_asan")}  # sanitizer builds add these
    assert set(symbols) == {"exception_buffer", "exception_status", "exceptionType", "exceptionMsg",
                            "hyp_ModuleCurrentID", "PyInit__libfc"}
    # hyp_ModuleCurrentID lives in read-only data.
    assert symbols["hyp_ModuleCurrentID"] == "R" and word(_libfc, "hyp_ModuleCurrentID").value == 0


def test_constructors_and_destructors_arm_the_trap_accessors_do_not():
    status = word(_libfc, "exception_status")
    status.value = 9
    s = _libfc.new_hyp_String()
    assert status.value == 0
    status.value = 9
    _libfc.hyp_String_bufferSize_set(s, 3)
    assert _libfc.hyp_String_bufferSize_get(s) == 3 and status.value == 9
    _libfc.delete_hyp_String(s)
    assert status.value == 0
    status.value = 9
    name = _libfc.new_hyp_Name()
    status.value = 9
    _libfc.hyp_Name___repr__(name)
    assert status.value == 0

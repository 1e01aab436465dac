"""The library-call trap: a library may abandon a call by jumping back with an
exception type and a message; the module raises exactly that. The built-in
flow cache abandons a call on request, as a library would on its own."""

import ctypes
import subprocess

import pytest

import _libfc
from _helpers import builtin_library, trap_status

FC = builtin_library("libfc.so")


@pytest.fixture(autouse=True)
def cache(flow_cache):
    yield
    FC.fcemu_fail_next(b"FC_IOCGetConfigOption", 0, None, None)  # no failure outlives its test


def abandoned(value, exc_type, message):
    """A library call that jumps back with value, the type (a null one for
    None) and the message."""
    FC.fcemu_fail_next(b"FC_IOCGetConfigOption", value, exc_type and id(exc_type), message and message.encode())
    return _libfc.FC_IOCGetConfigOption(0)


# Without a type or without a message the module raises its own RuntimeError.
@pytest.mark.parametrize("value, exc_type, message", [(7, RuntimeError, "library gave up"),
                                                      (1, ValueError, "gave up"), (-3, KeyError, "gave up too"),
                                                      (2, RuntimeError, None), (4, None, "unnamed")])
def test_jump_raises_what_the_library_left(value, exc_type, message):
    named = exc_type is not None and message is not None
    with pytest.raises(exc_type if named else RuntimeError) as info:
        abandoned(value, exc_type, message)
    assert info.value.args == ((message if named else "library call abandoned without naming an exception"),)
    assert trap_status().value == value


def test_a_returning_call_after_many_jumps_leaves_status_zero_and_no_exception():
    for i in range(1, 2000):
        with pytest.raises(RuntimeError):
            abandoned(i, RuntimeError, "again")
    assert type(_libfc.FC_IOCGetConfigOption(0)) is int
    assert trap_status().value == 0


def test_libfc_exports_the_trap_words_and_module_id_and_nothing_else():
    names = subprocess.run(["nm", "-D", "--defined-only", _libfc.__file__], capture_output=True, text=True).stdout
    symbols = {line.split()[-1]: line.split()[-2] for line in names.splitlines() if line.strip()
               and not line.split()[-1].startswith("__odr_asan")}  # sanitizer builds add these
    assert set(symbols) == {"exception_buffer", "exception_status", "exceptionType", "exceptionMsg",
                            "hyp_ModuleCurrentID", "PyInit__libfc"}
    # hyp_ModuleCurrentID lives in read-only data.
    assert symbols["hyp_ModuleCurrentID"] == "R"
    assert ctypes.c_int32.in_dll(ctypes.CDLL(_libfc.__file__), "hyp_ModuleCurrentID").value == 0


def test_constructors_destructors_and_repr_arm_the_trap_accessors_do_not():
    status, made, name = trap_status(), [], _libfc.new_hyp_Name()
    for step, arms in [(lambda: made.append(_libfc.new_hyp_String()), True),
                       (lambda: _libfc.hyp_String_bufferSize_set(made[0], 3), False),
                       (lambda: _libfc.hyp_String_bufferSize_get(made[0]), False),
                       (lambda: _libfc.delete_hyp_String(made[0]), True),
                       (lambda: _libfc.hyp_Name___repr__(name), True)]:
        status.value = 9
        step()
        assert status.value == (0 if arms else 9)

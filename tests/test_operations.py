"""Library operations built from one description line each: argument order,
conversions and messages by C type, no library call after a refused argument,
result conversion, and the compile-time check of the description lines.
(Text copies released on every path: test_leaks.py.)"""

import os
import subprocess
import sysconfig

import pytest

import _helpers
import _swigtest


calls = _swigtest.probe_calls  # how often the library's functions ran


def test_arguments_reach_the_function_in_order():
    assert (_swigtest.probe_add(4000000000, -1, "\x02"), _swigtest.probe_add(1, 2, 3)) == (4000000001, 6)


# The first probe_echo line: a text refused after the text before it was copied.
@pytest.mark.parametrize("name, args, position, ctype, error", [
    ("probe_add", (-1, 0, 0), 1, "unsigned int", OverflowError),
    ("probe_add", (2 ** 32, 0, 0), 1, "unsigned int", OverflowError),
    ("probe_add", (1.5, 0, 0), 1, "unsigned int", TypeError),
    ("probe_add", (0, 2 ** 31, 0), 2, "int", OverflowError),
    ("probe_add", (0, None, 0), 2, "int", TypeError),
    ("probe_add", (0, 0, "ab"), 3, "char", TypeError),
    ("probe_add", (0, 0, 256), 3, "char", OverflowError),
    ("probe_echo", ("kept until the failure", 5), 2, "char const *", TypeError),
    ("probe_echo", (b"bytes", None), 1, "char const *", TypeError),
    ("probe_echo", (bytearray(b"x"), None), 1, "char const *", TypeError),
    ("probe_echo", ("\ud800", None), 1, "char const *", TypeError),  # no UTF-8 form
])
def test_refused_argument_names_its_position_and_type_and_calls_nothing(name, args, position, ctype, error):
    before = calls()
    with pytest.raises(error) as info:
        getattr(_swigtest, name)(*args)
    assert str(info.value) == "in method '%s', argument %d of type '%s'" % (name, position, ctype)
    assert calls() == before


@pytest.mark.parametrize("args", [(), (1, 2), (1, 2, 3, 4)])
def test_wrong_argument_count_is_the_interpreters_error(args):
    with pytest.raises(TypeError, match="probe_add"):
        _swigtest.probe_add(*args)


def test_text_arguments_and_results():
    # The C side sees a text up to its first zero character.
    assert [_swigtest.probe_echo(*args) for args in (("héllo", None), (None, "second"), (None, None), ("a\0b", ""),
                                                     ("", "x"))] == ["héllo", "second", None, "a", ""]


def test_record_pointer_arguments_and_results():
    probe = _swigtest.new_swigtest_Probe()
    _swigtest.probe_store(probe, 77)
    assert _swigtest.swigtest_Probe_u32_get(probe) == 77
    same = _swigtest.probe_same(probe)
    assert int(same) == int(probe) and same.own() is False  # what a library returns is never owned
    assert _swigtest.probe_same(None) is None
    with pytest.raises(TypeError) as info:
        _swigtest.probe_store(_swigtest.new_hyp_String(), 1)
    assert str(info.value) == "in method 'probe_store', argument 1 of type 'swigtest_Probe *'"


def _cmake_cache(name):
    path = os.path.join(_helpers.BUILD_DIR, "CMakeCache.txt")
    if not os.path.exists(path):
        pytest.skip("not an in-tree build: no compiler to ask")
    with open(path) as f:
        for line in f:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    pytest.skip("the build does not record " + name)


def _compile_operations(lines):
    """Compiles a table of _libfc operations, one per (C declaration of a
    function, result type text, argument type text); the compiler's
    stderr, or None when it compiles."""
    source = ['#include "runtime/operations.hpp"', '#include "runtime/type_ids.hpp"', '#include "libfabPublic.h"']
    for n, (declaration, result, argument) in enumerate(lines):
        source += ['extern "C" %s;' % declaration.replace("f(", "f%d(" % n),
                   'PyCFunction m%d = ops::Operation<ty::spellings, &f%d, "f", "%s", "%s">::method;'
                   % (n, n, result, argument)]
    root = _cmake_cache("CMAKE_HOME_DIRECTORY")
    includes = [root, os.path.join(root, "runtime"), os.path.join(root, "include"),
                sysconfig.get_paths()["include"]]
    r = subprocess.run([_cmake_cache("CMAKE_CXX_COMPILER"), "-std=gnu++20", "-fsyntax-only", "-fno-exceptions",
                        "-x", "c++", "-"] + ["-I" + d for d in includes],
                       input="\n".join(source), capture_output=True, text=True, timeout=120)
    return r.stderr if r.returncode else None


@pytest.mark.plain_only
@pytest.mark.parametrize("declaration, result, argument, mistake", [
    ("HYP_ReturnStatus f(DVPortList **)", "HYP_ReturnStatus", "DVPortLst **", "spells no such C type"),
    ("HYP_ReturnStatus f(DVPortList **)", "HYP_ReturnStatu", "DVPortList **", "spells no pointer to this C type"),
    ("void f(hyp_uint32)", "void", "hyp_int32", "another type than the function's"),
    ("void f(FabVersion)", "void", "HYP_ReturnStatus", "another type than the function's"),
    ("void f(int)", "void", "unsigned int", "another integer type"),
    ("void f(hyp_uint32 *)", "void", "int *", "points to another integer type"),
    ("void f(void *)", "void", "hyp_String *", "void * parameter or result"),
    ("void f(char const *)", "void", "char *", "described as \"char const *\""),
    ("void f(char *)", "int", "char [64]", "without result"),
])
def test_a_type_text_that_misnames_the_c_type_does_not_compile(declaration, result, argument, mistake):
    errors = _compile_operations([(declaration, result, argument)])
    assert errors is not None and mistake in errors, errors

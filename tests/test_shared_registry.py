"""Two modules of the same runtime in one interpreter share one type registry."""

import pytest

from _helpers import run_python_ok as run_python

SHARED_NAMES = ["hyp_String", "hyp_Name", "char", "unsigned_char", "void"]


@pytest.mark.parametrize("first, second", [("_swigtest", "_libfc"), ("_libfc", "_swigtest")])
def test_later_module_links_into_the_published_registry(first, second):
    run_python(f"""
        import ctypes, sys
        import {first}
        runtime = sys.modules["swig_runtime_data4"]
        capsule = runtime.type_pointer_capsule
        get_name = ctypes.pythonapi.PyCapsule_GetName
        get_name.restype = ctypes.c_char_p
        get_name.argtypes = [ctypes.py_object]
        assert get_name(capsule) == b"swig_runtime_data4.type_pointer_capsule"
        import {second}
        # The later module links in; it does not publish a second capsule.
        assert runtime.type_pointer_capsule is capsule

        import _swigtest, _libfc
        descriptor = _swigtest.swigtest_descriptor
        assert descriptor(_swigtest.new_hyp_String()) == descriptor(_libfc.new_hyp_String())
        assert descriptor(_swigtest.new_swigtest_Probe()) != descriptor(_libfc.new_hyp_String())
        # A record made by one module is accepted by the other.
        s = _libfc.new_hyp_String()
        _swigtest.hyp_String_stringLength_set(s, 41)
        assert _libfc.hyp_String_stringLength_get(s) == 41
        """)


def test_class_registered_by_the_later_module_replaces_the_earlier_one():
    run_python("""
        import _swigtest, _libfc

        class Early: pass
        class Late: pass

        _swigtest.hyp_String_swigregister(Early)
        probe = _swigtest.new_swigtest_Probe()
        _swigtest.swigtest_Probe_text_set(probe, _libfc.new_hyp_String())
        before = _swigtest.swigtest_Probe_text_get(probe)
        assert type(before) is Early, type(before)

        _libfc.hyp_String_swigregister(Late)
        after = _swigtest.swigtest_Probe_text_get(probe)
        assert type(after) is Late, type(after)
        assert type(before) is Early  # objects made before keep their form
        assert before.this == after.this
        """)


def test_second_initialisation_leaves_the_registry_untouched():
    run_python("""
        import sys
        import _swigtest, _libfc

        class Registered: pass
        _libfc.hyp_String_swigregister(Registered)
        first = _libfc
        capsule = sys.modules["swig_runtime_data4"].type_pointer_capsule
        descriptor = _swigtest.swigtest_descriptor(first.new_hyp_String())

        del sys.modules["_libfc"]
        import _libfc as again
        assert again is not first
        assert sys.modules["swig_runtime_data4"].type_pointer_capsule is capsule
        assert _swigtest.swigtest_descriptor(again.new_hyp_String()) == descriptor
        # Classes registered before stay in force, and cvar is the same object.
        probe = _swigtest.new_swigtest_Probe()
        _swigtest.swigtest_Probe_text_set(probe, again.new_hyp_String())
        assert type(_swigtest.swigtest_Probe_text_get(probe)) is Registered
        assert again.cvar is first.cvar
        assert again.HYP_LAST_ERR == first.HYP_LAST_ERR
        """)


def test_capsule_destruction_releases_class_references():
    # At interpreter exit the capsule is discarded; the runtime must drop its
    # references without crashing, also with classes registered.
    assert "memory leak" not in run_python("""
        import _libfc, libfc
        keep = [libfc.hyp_String() for _ in range(3)]
        """).stdout

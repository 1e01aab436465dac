"""Two modules of the same runtime in one interpreter share one type registry."""

import pytest

from _helpers import run_python_ok as run_python


# _libfc_ptr shares the ring too: its cells serve _libfc's operations and it
# knows the sizes and classes of _libfc's records, whichever came first.
@pytest.mark.parametrize("first, second", [("_swigtest", "_libfc"), ("_libfc", "_swigtest"), ("_libfc_ptr", "_libfc"),
                                           ("_libfc", "_libfc_ptr")])
def test_later_modules_link_into_the_published_registry_and_exit_cleanly(first, second, tmp_path, monkeypatch):
    monkeypatch.setenv("FAB_EMU_DB", str(tmp_path / "ring.db"))
    result = run_python(f"""
        import sys
        import {first}
        runtime = sys.modules["swig_runtime_data4"]
        capsule = runtime.type_pointer_capsule
        assert repr(capsule).startswith('<capsule object "swig_runtime_data4.type_pointer_capsule" at '), capsule
        import {second}
        # The later module links in; it does not publish a second capsule.
        assert runtime.type_pointer_capsule is capsule
        import _libfc, _libfc_ptr, libfc
        assert _libfc.DVSHYP_SwitchAdd("s", "c", 4, 1) == 0
        data, length = _libfc_ptr.new_voidpp(), _libfc_ptr.new_intp()
        assert _libfc.DVSHYP_StateGet(data, length) == 0
        assert _libfc_ptr.cdata(_libfc_ptr.voidpp_value(data), 4) == b"FABS"
        _libfc.DVSHYP_DataFree(_libfc_ptr.voidpp_value(data))
        # A record proxy made by _libfc is known to _libfc_ptr's size table.
        assert len(_libfc_ptr.cdata(libfc.DVPortData(), 52)) == 52
        # A list the helper reads back comes as the companion's class.
        cell = _libfc_ptr.new_DVPortListpp()
        assert _libfc.DVSHYP_SwitchPortList("s", cell, 1) in (0, _libfc.HYP_NOT_FOUND)
        assert type(_libfc_ptr.DVPortListpp_value(cell) or libfc.DVPortList()) is libfc.DVPortList

        import _swigtest
        assert [name for name in sys.modules if name.startswith("swig_runtime_data")] == ["swig_runtime_data4"]
        descriptor = _swigtest.swigtest_descriptor
        assert descriptor(_swigtest.new_hyp_String()) == descriptor(_libfc.new_hyp_String())
        assert descriptor(_swigtest.new_swigtest_Probe()) != descriptor(_libfc.new_hyp_String())
        # A record made by one module is accepted by the other.
        s = _libfc.new_hyp_String()
        _swigtest.hyp_String_stringLength_set(s, 41)
        assert _libfc.hyp_String_stringLength_get(s) == 41

        # A class registered through either module replaces the earlier one;
        # objects made before keep their form.
        class Early: pass
        class Late: pass
        _swigtest.hyp_String_swigregister(Early)
        probe = _swigtest.new_swigtest_Probe()
        _swigtest.swigtest_Probe_text_set(probe, _libfc.new_hyp_String())
        before = _swigtest.swigtest_Probe_text_get(probe)
        assert type(before) is Early, type(before)
        _libfc.hyp_String_swigregister(Late)
        after = _swigtest.swigtest_Probe_text_get(probe)
        assert type(after) is Late and type(before) is Early, (type(after), type(before))
        assert before.this == after.this

        # A second initialisation of _libfc leaves the registry untouched.
        first = _libfc
        descriptor = _swigtest.swigtest_descriptor(first.new_hyp_String())
        del sys.modules["_libfc"]
        import _libfc as again
        assert again is not first
        assert sys.modules["swig_runtime_data4"].type_pointer_capsule is capsule
        assert _swigtest.swigtest_descriptor(again.new_hyp_String()) == descriptor
        # Classes registered before stay in force, and cvar is the same object.
        _swigtest.swigtest_Probe_text_set(probe, again.new_hyp_String())
        assert type(_swigtest.swigtest_Probe_text_get(probe)) is Late
        assert again.cvar is first.cvar and again.HYP_LAST_ERR == first.HYP_LAST_ERR

        # At exit the capsule is discarded: the runtime drops its class
        # references without a crash, with records of registered classes alive.
        del probe
        keep = [libfc.hyp_String() for _ in range(3)]
        print("exiting")
        """)
    assert result.stdout.endswith("exiting\n"), result.stdout

"""Faults the fuzz driver found in the built-in switch state library, one
test each (the sanitizer pass is what catches them)."""

import pytest

import _libfc
import _libfc_ptr


@pytest.mark.parametrize("kind", [-1, 0, 5, 65536, 2**31 - 1, -2**31])
def test_port_list_of_a_type_outside_the_enumeration_is_refused(kind, tmp_path, monkeypatch):
    # Any int passes for the enum; the library read it as the enum type
    # (undefined outside its range, reported by UBSan).
    monkeypatch.setenv("FAB_EMU_DB", str(tmp_path / "fab.db"))
    assert _libfc.DVSHYP_SwitchAdd("sw", "etherswitch", 8, 1) == _libfc.HYP_OK
    ports = _libfc_ptr.new_DVPortListpp()
    assert _libfc.DVSHYP_SwitchPortList("sw", ports, kind) == _libfc.HYP_BAD_PARAM
    assert _libfc_ptr.DVPortListpp_value(ports) is None
    assert _libfc.DVSHYP_SwitchPortList("sw", ports, _libfc.DVSPORT_TYPE_ACTIVE) == _libfc.HYP_OK
    _libfc.DVSHYP_DataFree(_libfc_ptr.DVPortListpp_value(ports))

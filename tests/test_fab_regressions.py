"""The built-in switch state library against what the fuzz driver gives it:
faults it found (one test each; the sanitizer pass is what catches them) and
null handles, callbacks and data pointers reaching a populated store."""


import pytest

import _libfc
import _libfc_ptr

from _helpers import builtin_library


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


def test_null_callbacks_handles_and_data_reach_a_populated_store_harmlessly(tmp_path, monkeypatch):
    monkeypatch.setenv("FAB_EMU_DB", str(tmp_path / "fab.db"))
    lib = builtin_library("libfabPublic.so")
    assert lib.fabemu_populate(2, 3, 1) == 0
    switches, ports = [], []
    _libfc.DVSState_SwitchForEach(_libfc_ptr.collect_handles, _libfc_ptr.list_context(switches))
    _libfc.DVSState_PortForEach(switches[0], _libfc_ptr.collect_handles, _libfc_ptr.list_context(ports))
    assert len(switches) == 2 and len(ports) == 3
    # With entries to visit, a null callback is skipped, not called.
    _libfc.DVSState_SwitchForEach(None, None)
    for walk in ("DVSState_PortForEach", "DVSState_HostPropForEach", "DVSState_GlobalPropForEach"):
        getattr(_libfc, walk)(switches[0], None, None)
    _libfc.DVSState_PortDataForEach(ports[0], None, None)
    # collect_handles with no list context ends the walk at once.
    _libfc.DVSState_SwitchForEach(_libfc_ptr.collect_handles, None)
    switch_id, port_id = _libfc.DVS_SwitchId(switches[0]), _libfc.DVS_PortId(ports[0])
    assert _libfc.DVSHYP_StateGet(None, None) == _libfc.HYP_BAD_PARAM
    # A null data pointer with a length is refused, never read.
    assert _libfc.DVSHYP_PortDataSet(switch_id, port_id, "x", None, 16, 1) == _libfc.HYP_BAD_PARAM
    assert _libfc.DVSHYP_HostPropSet(switch_id, "h", None, 16, 1) == _libfc.HYP_BAD_PARAM
    assert _libfc.DVS_SwitchId(None) is None and _libfc.DVS_PortId(None) is None
    container = _libfc_ptr.new_voidpp()
    assert _libfc.DVSData_Alloc(container, None, None) == _libfc.HYP_OK
    _libfc.DVSData_Free(_libfc_ptr.voidpp_value(container))

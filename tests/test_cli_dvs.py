"""python -m libfc dvs / emu, and the plain-Python switch state API under it,
against a generated store: tables and JSON agree with what the operations
report, failures carry the HYP_* name and text."""

import argparse
import ctypes
import io
import json

import pytest

import _libfc
from _helpers import builtin_library, run_python

pytest.importorskip("libfc")
from libfc import cli_dvs, dvs  # noqa: E402
from libfc.__main__ import main  # noqa: E402

LIB = builtin_library("libfabPublic.so")
LIB.fabemu_populate.argtypes = [ctypes.c_uint, ctypes.c_uint, ctypes.c_uint]
SWITCHES, PORTS, SEED = 2, 3, 5


@pytest.fixture(autouse=True)
def store(tmp_path, monkeypatch):
    monkeypatch.setenv("FAB_EMU_DB", str(tmp_path / "fab.db"))
    assert LIB.fabemu_populate(SWITCHES, PORTS, SEED) == 0
    return tmp_path / "fab.db"


def cli(*argv):
    """Run the tool in-process: (exit code, stdout text)."""
    out = io.StringIO()
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command")
    cli_dvs.register(sub)
    code = cli_dvs.run(parser.parse_args(list(argv)), out)
    return code, out.getvalue()


def cli_json(*argv):
    code, text = cli(*argv, "--json")
    assert code == 0
    return json.loads(text)


@pytest.fixture
def switch_alias():
    return dvs.switches()[0].alias


def test_switches_agree_with_the_operations():
    listed = cli_json("dvs", "switches")
    assert len(listed) == SWITCHES
    for entry in listed:
        handle = _libfc.DVSState_SwitchFindByAlias(entry["id"])
        assert entry["name"] == _libfc.DVS_SwitchName(handle)
        assert entry["version"] == _libfc.DVS_Version(handle)
        assert entry["max_ports"] == _libfc.DVS_GetMaxPorts(handle)
        assert dvs.resolve_switch(entry["alias"]) == entry["id"]
    code, table = cli("dvs", "switches")
    lines = table.splitlines()
    assert code == 0 and lines[0].split()[:2] == ["ID", "ALIAS"] and len(lines) == 2 + SWITCHES
    assert all(entry["alias"] in table for entry in listed)


def test_ports_by_alias_match_the_port_list(switch_alias):
    switch_id = dvs.resolve_switch(switch_alias)
    listed = cli_json("dvs", "ports", switch_alias)
    assert sorted(p["id"] for p in listed) == sorted(pid for pid, _ in dvs.port_list(switch_id))
    assert all(_libfc.DVS_PortAlias(_libfc.DVSState_PortFind(switch_id, p["id"])) == p["alias"] for p in listed)


def test_port_data_listing_and_single_values(switch_alias):
    switch_id = dvs.resolve_switch(switch_alias)
    port = dvs.ports(switch_id)[0].id
    items = cli_json("dvs", "port-data", switch_alias, port)
    by_name = {i["name"]: i for i in items}
    external = dvs.port_data(switch_id, port, _libfc.HYP_FABPROP_PORT_VNIC_CONNECTEE)
    assert bytes.fromhex(by_name[_libfc.HYP_FABPROP_PORT_VNIC_CONNECTEE]["hex"]) == external
    code, text = cli("dvs", "port-data", switch_alias, port, _libfc.HYP_FABPROP_PORT_ALIAS)
    assert code == 0 and text.strip() == dvs.ports(switch_id)[0].alias


@pytest.mark.parametrize("command, reader", [("host-props", dvs.host_props), ("global-props", dvs.global_props)])
def test_property_listings(switch_alias, command, reader):
    switch_id = dvs.resolve_switch(switch_alias)
    items = cli_json("dvs", command, switch_alias)
    assert [(i["name"], i["prop_type"], i["hex"]) for i in items] == [
        (i.name, i.prop_type, i.value.hex()) for i in reader(switch_id)]
    code, table = cli("dvs", command, switch_alias)
    assert code == 0 and len(table.splitlines()) == 2 + len(items)


def test_global_alias_value_and_alias_lookup(switch_alias):
    assert cli("dvs", "global-props", switch_alias, _libfc.HYP_FABPROP_SWITCH_ALIAS) == (0, switch_alias + "\n")
    assert cli_json("dvs", "alias", switch_alias) == {"alias": switch_alias,
                                                      "switch": dvs.resolve_switch(switch_alias)}


def test_failures_name_the_status(capsys):
    code, _ = cli("dvs", "ports", "no-such-switch")
    assert code == 1
    assert "HYP_NOT_FOUND" in capsys.readouterr().err
    with pytest.raises(dvs.DVSError) as info:
        dvs.port_data(dvs.switches()[0].id, "no-port", "x")
    assert info.value.name.startswith("HYP_") and info.value.text == _libfc.HYP_ReturnStatusToString(
        info.value.status)


def test_emu_reset_and_populate():
    assert cli_json("emu", "reset") == {"command": "reset", "status": "HYP_OK"}
    assert dvs.switches() == []
    assert cli("emu", "populate", "--switches", "3", "--ports", "1") == (0, "populate: HYP_OK\n")
    assert len(dvs.switches()) == 3
    assert all(len(dvs.ports(s.id)) == 1 for s in dvs.switches())


def test_state_block_and_main_entry(store, flow_cache):
    assert dvs.state().startswith(b"FABS")
    assert dvs.state(persistent=True).startswith(b"FABS")
    assert main(["emu", "reset"]) == 0
    result = run_python("import sys; sys.argv[0] = 'libfc'; import runpy; "
                        "runpy.run_module('libfc', run_name='__main__')")
    assert result.returncode == 2 and "COMMAND" in result.stderr

"""libfc dvs / emu populate, and the plain-Python switch state API under
them, against a generated store: tables and JSON agree with what the
operations report, failures are DVSError with the HYP_* name and text, an
unusable store is an error rather than an empty store, and values read from
several threads are right."""

import concurrent.futures
import contextlib
import glob
import json
import os
import signal
import subprocess
import sys
import time

import pytest

import _libfc
from _helpers import c_heap_growth, child_env, cli_in_process as cli, cli_ok

from libfc import dvs
from libfc.cli import INTERRUPTED
from test_builtin_fab import lib as LIB

SWITCHES, PORTS, SEED = 2, 3, 5


@pytest.fixture(autouse=True)
def store(switch_store):
    assert LIB.fabemu_populate(SWITCHES, PORTS, SEED) == 0
    return switch_store


def cli_json(capsys, *argv):
    status, out, err = cli(capsys, *argv, "--json")
    assert (status, err) == (0, "")
    return json.loads(out)


@pytest.fixture
def switch_alias():
    return dvs.switches()[0].alias


def test_switches_agree_with_the_operations_and_are_found_by_alias(capsys):
    listed = cli_json(capsys, "dvs", "switches")["switches"]
    assert len(listed) == SWITCHES
    for entry in listed:
        handle = _libfc.DVSState_SwitchFindByAlias(entry["id"])
        assert (entry["name"], entry["version"], entry["max_ports"]) == (
            _libfc.DVS_SwitchName(handle), _libfc.DVS_Version(handle), _libfc.DVS_GetMaxPorts(handle))
    # The table's header and row count: test_cli_conventions.py's table tests.
    status, table, _ = cli(capsys, "dvs", "switches")
    assert status == 0 and all(entry["alias"] in table for entry in listed)
    alias, switch_id = listed[0]["alias"], listed[0]["id"]
    assert cli(capsys, "dvs", "global-props", alias, _libfc.HYP_FABPROP_SWITCH_ALIAS)[:2] == (0, alias + "\n")
    assert cli_json(capsys, "dvs", "alias", alias) == {"schema": 1, "alias": alias, "switch": switch_id}


def test_ports_and_port_data_by_alias_agree_with_the_operations(capsys, switch_alias):
    switch_id = dvs.resolve_switch(switch_alias)
    listed = cli_json(capsys, "dvs", "ports", switch_alias)["ports"]
    assert sorted(p["id"] for p in listed) == sorted(pid for pid, _ in dvs.port_list(switch_id))
    assert all(p["exists"] for p in listed)
    assert all(_libfc.DVS_PortAlias(_libfc.DVSState_PortFind(switch_id, p["id"])) == p["alias"] for p in listed)
    port = listed[0]
    items = {i["name"]: i["hex"] for i in cli_json(capsys, "dvs", "port-data", switch_alias, port["id"])["items"]}
    connectee = _libfc.HYP_FABPROP_PORT_VNIC_CONNECTEE
    assert bytes.fromhex(items[connectee]) == dvs.port_data(switch_id, port["id"], connectee)
    status, out, _ = cli(capsys, "dvs", "port-data", switch_alias, port["id"], _libfc.HYP_FABPROP_PORT_ALIAS)
    assert (status, out.strip()) == (0, port["alias"])


@pytest.mark.parametrize("command, reader", [("host-props", dvs.host_props), ("global-props", dvs.global_props)])
def test_property_listings(capsys, switch_alias, command, reader):
    switch_id = dvs.resolve_switch(switch_alias)
    items = cli_json(capsys, "dvs", command, switch_alias)["items"]
    assert [(i["name"], i["prop_type"], i["hex"]) for i in items] == [
        (i.name, i.prop_type, i.value.hex()) for i in reader(switch_id)]
    # The table's rows: test_cli_conventions.py's table tests.


@pytest.mark.parametrize("argv, subject", [
    (["dvs", "ports", "no-such-switch"], "switch 'no-such-switch'"),
    (["dvs", "alias", "no-such-alias"], "switch 'no-such-alias'"),
    (["dvs", "port-data", "{switch}", "no-port"], "port 'no-port' of switch"),
    (["dvs", "host-props", "{switch}", "no-such-name"], "host property 'no-such-name'"),
])
def test_what_is_not_there_is_one_line_in_the_users_words_and_status_1(capsys, switch_alias, argv, subject):
    argv = [a.format(switch=switch_alias) for a in argv]
    status, out, err = cli(capsys, *argv)
    assert (status, out) == (1, "")
    assert err == "libfc %s: error: %s" % (" ".join(argv[:2]), err.split(": error: ", 1)[1])
    assert subject in err and "HYP_NOT_FOUND" in err and "DVS" not in err.replace("HYP_", "")
    assert len(err.splitlines()) == 1


def test_an_unusable_store_is_an_error_not_an_empty_one_that_carries_the_status_name_and_text(capsys, monkeypatch,
                                                                                              tmp_path):
    # Whatever makes the store unusable (the library's refusals have their own
    # tests), the package names the store, not what was looked for in it.
    path = tmp_path / "fab.db"
    path.write_text("not a switch state store\n" * 100)
    monkeypatch.setenv("FAB_EMU_DB", str(path))
    for read in (dvs.switches, lambda: dvs.ports("dvs-0")):
        with pytest.raises(dvs.DVSError) as info:
            read()
        error = info.value
        assert error.subject == dvs.STORE  # not "no such switch"
        assert (error.operation, error.name) == ("DVSLoadConfig", dvs.status_name(error.status))
        assert error.name.startswith("HYP_") and error.text == _libfc.HYP_ReturnStatusToString(error.status)
        assert error.text in str(error)
    status, out, err = cli(capsys, "dvs", "switches")
    assert (status, out) == (1, "")
    assert err.splitlines()[-1].startswith("libfc dvs switches: error: the switch state store: ")


def test_emu_populate_and_reset(capsys):
    assert cli(capsys, "emu", "populate", "--switches", "3", "--ports", "1")[:2] == (
        0, "switch state store: 3 switches of 1 port each\n")
    assert len(dvs.switches()) == 3
    assert all(len(dvs.ports(s.id)) == 1 for s in dvs.switches())
    assert dvs.state().startswith(b"FABS") and dvs.state(persistent=True).startswith(b"FABS")
    assert cli(capsys, "emu", "reset")[0] == 0  # its words: test_cli_flows.py's table of outputs
    assert dvs.switches() == []


@pytest.mark.parametrize("argv, option", [
    (["--switches", "1025"], "--switches"),
    (["--switches", "4294967297"], "--switches"),  # would wrap to 1 in a C unsigned int
    (["--ports", "4097"], "--ports"),
    (["--switches", "1024", "--ports", "4096"], "--switches 1024 with --ports 4096"),
])
def test_emu_populate_above_the_library_maxima_is_refused_and_changes_nothing(capsys, argv, option):
    before = [s.id for s in dvs.switches()]
    status, out, err = cli(capsys, "emu", "populate", *argv)
    assert (status, out) == (2, "")
    assert err.startswith("libfc emu populate: error: ") and option in err
    assert [s.id for s in dvs.switches()] == before


def processes_in_group(pgid):
    """The live processes of a process group, read from /proc: its members
    stay in it even when their parent has gone."""
    members = []
    for stat in glob.glob("/proc/[0-9]*/stat"):
        try:
            with open(stat) as f:
                state, _, group = f.read().rsplit(")", 1)[1].split()[:3]
        except (OSError, ValueError):
            continue  # ended while we looked
        if int(group) == pgid and state != "Z":
            members.append(int(stat.split("/")[2]))
    return members


def population_under_way(store):
    """A long "emu populate" in a process group of its own, handed back once
    it writes the new store into the file (the old one then lives only in
    the journal beside it)."""
    size = store.stat().st_size
    child = subprocess.Popen([sys.executable, "-m", "libfc", "emu", "populate", "--switches", "1024", "--ports", "256"],
                             env=child_env(), stderr=subprocess.PIPE, text=True, start_new_session=True)
    while store.stat().st_size <= size:
        assert child.poll() is None, child.stderr.read()
        time.sleep(0.01)
    return child


def test_ctrl_c_ends_a_long_population_and_all_it_started_on_a_busy_machine_and_keeps_the_old_store(store):
    before = cli_ok("dvs", "switches")
    burners = [subprocess.Popen([sys.executable, "-c", "while 1: pass"]) for _ in range(4)]
    child = None
    try:
        child = population_under_way(store)
        os.killpg(child.pid, signal.SIGINT)  # as Ctrl-C reaches a terminal's foreground group
        with contextlib.suppress(subprocess.TimeoutExpired):
            child.wait(timeout=3)
        assert processes_in_group(child.pid) == []
        assert child.returncode == INTERRUPTED, child.stderr.read()
        assert not store.with_name(store.name + "-journal").exists(), "the change was left to the store's next user"
        assert cli_ok("dvs", "switches") == before
    finally:
        for process in burners:
            process.kill()
            process.wait()
        if child is not None and processes_in_group(child.pid):
            os.killpg(child.pid, signal.SIGKILL)
            child.wait()


def test_a_population_killed_midway_leaves_readers_the_old_store(store):
    before = cli_ok("dvs", "switches")
    child = population_under_way(store)
    child.kill()
    child.wait()
    assert cli_ok("dvs", "switches") == before


def test_port_list_releases_the_list_it_is_handed():
    switch_id = dvs.switches()[0].id
    assert len(dvs.port_list(switch_id)) == PORTS
    cycles = 2000
    growth = c_heap_growth(lambda: dvs.port_list(switch_id), cycles=cycles, warm_up=100)
    if growth is None:
        pytest.skip("the C heap cannot be measured here")
    assert growth < cycles * (8 + 52 * PORTS) // 4

def test_property_values_are_right_from_three_threads():
    # Each walk of a switch's properties frees the items of the one before:
    # a value must be copied before another thread can walk.
    switch_id = dvs.switches()[0].id
    expected = dvs.host_props(switch_id)
    assert expected

    def wrong_reads(deadline):
        wrong = []
        while time.monotonic() < deadline:
            got = dvs.host_props(switch_id)
            if got != expected:
                wrong.append(got)
        return wrong

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # switch threads as often as possible
    try:
        with concurrent.futures.ThreadPoolExecutor(3) as pool:
            readers = [pool.submit(wrong_reads, time.monotonic() + 1.0) for _ in range(3)]
    finally:
        sys.setswitchinterval(interval)
    assert [reader.result() for reader in readers] == [[], [], []]

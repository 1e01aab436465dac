"""Every command's JSON against the layout docs/json.md gives it: the
documented JSON Schema holds for real output, keys are snake_case, the
schema version comes first, --pretty only indents, and numbers that stand
for names agree with the library's records."""

import ctypes
import json
import pathlib
import re

import jsonschema
import pytest
from referencing import Registry, Resource

import _libfc
from _helpers import builtin_library, cli_in_process
from conftest import fcemu_library
from libfc.cli import hashstats, snapshot

pytestmark = pytest.mark.python_only

DOC = pathlib.Path(__file__).resolve().parent.parent / "docs" / "json.md"
SCHEMAS = {schema["$id"]: schema for schema in map(json.loads, re.findall(r"```json\n(.*?)```", DOC.read_text(), re.S))}
REGISTRY = Registry().with_resources((name, Resource.from_contents(schema)) for name, schema in SCHEMAS.items())
SHARED = {"urn:libfc:flow", "urn:libfc:value"}  # records the documents refer to
SWITCH, PORT = "dvSwitch-0", "0"
PLACES = {}  # files the commands name, made by the fixture

# Command, and the layout its output has ("...-line": one document a line).
COMMANDS = [
    ("flows --json", "flows"),
    ("flows --proto udp --json", "flows"),
    ("flows --json-lines", "flow-line"),
    ("stats --json", "stats"),
    ("stats --interval 0.01 --count 2 --json-lines", "stats-line"),
    ("hashstats --json", "hashstats"),
    ("inval-table --json", "inval-table"),
    ("config get --json", "config"),
    ("config get expr-time --json", "config"),
    ("port DvsPortset-0 12 --json", "port"),
    ("port nowhere 1 --json", "port"),
    ("portset status DvsPortset-0 --json", "portset"),
    ("portset set DvsPortset-0 mcast off --json", "portset"),
    ("host DvsPortset-0 cache on --json", "portset"),
    ("emu traffic --flows 5 --json", "emu-traffic"),
    ("dvs switches --json", "dvs-switches"),
    ("dvs ports %s --json" % SWITCH, "dvs-ports"),
    ("dvs port-data %s %s --json" % (SWITCH, PORT), "dvs-items"),
    ("dvs host-props %s --json" % SWITCH, "dvs-items"),
    ("dvs global-props %s --json" % SWITCH, "dvs-items"),
    ("dvs port-data %s %s %s --json" % (SWITCH, PORT, _libfc.HYP_FABPROP_PORT_ALIAS), "dvs-value"),
    ("dvs global-props %s %s --json" % (SWITCH, _libfc.HYP_FABPROP_SWITCH_ALIAS), "dvs-value"),
    ("dvs alias %s --json" % SWITCH, "dvs-alias"),
    ("diff {snapshot} {snapshot} --unchanged --json", "diff"),
    ("diff {snapshot} live --unchanged --json-lines", "diff-line"),
]


@pytest.fixture(autouse=True)
def filled(flow_cache, switch_store, tmp_path, monkeypatch):
    fcemu_library().fcemu_traffic(60, 4)
    monkeypatch.setitem(PLACES, "snapshot", str(tmp_path / "before.snap"))
    snapshot.save(PLACES["snapshot"])
    store = builtin_library("libfabPublic.so")
    store.fabemu_populate.argtypes = [ctypes.c_uint] * 3
    assert store.fabemu_populate(2, 3, 1) == 0


def keys(value):
    if isinstance(value, dict):
        for key, inner in value.items():
            yield key
            yield from keys(inner)
    elif isinstance(value, list):
        for inner in value:
            yield from keys(inner)


def run(capsys, command):
    status, out, err = cli_in_process(capsys, *command.format(**PLACES).split())
    # diff counts the changes on stderr
    assert (status, err if not command.startswith("diff") else "") == (0, ""), (command, err)
    return out


@pytest.mark.parametrize("command, layout", COMMANDS)
def test_the_json_has_its_documented_layout_in_one_style(capsys, command, layout):
    out = run(capsys, command)
    lines = out.splitlines()
    assert lines and out.endswith("\n")
    if not layout.endswith("-line"):
        assert len(lines) == 1
    validator = jsonschema.Draft202012Validator(SCHEMAS["urn:libfc:" + layout], registry=REGISTRY)
    for line in lines:
        doc = json.loads(line)
        assert line == json.dumps(doc, separators=(",", ":"))  # compact by default
        validator.validate(doc)
        assert next(iter(doc)) == "schema"
        bad = [key for key in keys(doc) if not re.fullmatch(r"[a-z][a-z0-9_]*", key)]
        assert not bad, bad
    if not layout.endswith("-line") and "emu" not in command:
        # The same document indented (a flow's age may have moved on meanwhile).
        pretty = run(capsys, command + " --pretty")
        assert pretty == json.dumps(json.loads(pretty), indent=2) + "\n"
        assert list(keys(json.loads(pretty))) == list(keys(json.loads(out)))


def test_every_documented_layout_is_checked_against_real_output():
    assert set(SCHEMAS) == SHARED | {"urn:libfc:" + layout for _, layout in COMMANDS}


def test_numbers_are_the_records_and_names_sit_beside_them(capsys):
    assert [hashstats.state_number(name) for name in ("enabled", "disabled", "state 7")] == [
        _libfc.FC_STATE_ENABLED, _libfc.FC_STATE_DISABLED, 7]
    tables = json.loads(run(capsys, "hashstats --json"))["tables"]
    assert [(t["state"], t["state_name"]) for t in tables] == [
        (t.fcState, "enabled" if t.fcState == _libfc.FC_STATE_ENABLED else "disabled")
        for t in _libfc.FC_GetFlowCacheHashStats()]
    entities = json.loads(run(capsys, "inval-table --json"))["entities"]
    assert [(e["id"], e["type"], e["direction"]) for e in entities] == [
        (e.ikey.val.vdrId, e.ikey.type, e.dir) for e in _libfc.FC_GetInvalTableEntries()]
    assert {e["type_name"] for e in entities if e["type"] == _libfc.FC_INVAL_HASH_KEY_TYPE_PORTID} == {"port"}
    assert {e["direction_name"] for e in entities if e["direction"] == _libfc.FC_PORT_ENABLE_DIR_ALL} <= {"all"}
    for name, number in (("tcp", 6), ("udp", 17)):
        flows = json.loads(run(capsys, "flows --proto %d --json" % number))["flows"]
        assert flows and {(f["proto"], f["proto_name"]) for f in flows} == {(number, name)}
    ipv6 = json.loads(run(capsys, "flows --v6 --json"))["flows"]
    assert ipv6 and {(f["ether_type"], f["ether_type_name"]) for f in ipv6} == {(0x86DD, "ipv6")}

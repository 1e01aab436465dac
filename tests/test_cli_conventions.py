"""The command-line tool's conventions shared by every command: --version,
the command names and their old spellings, one module per command, tables
fitted to the terminal with notes on stderr, every command's JSON against
the layout docs/json.md gives it (the documented JSON Schema holds for real
output, keys are snake_case, the schema version comes first, --pretty only
indents, numbers that stand for names agree with the library's records),
shell completion and the generated command reference."""

import argparse
import ast
import ctypes.util
import inspect
import io
import json
import os
import pathlib
import re
import subprocess
import sys

import jsonschema
import pytest
from referencing import Registry, Resource

import _libfc
import libfc.cli
from _helpers import BUILD_DIR, builtin_library, cli_here as cli, cli_in_process
from libfc.cli import _snapshots, dvs, flows, hashstats, inval_table

ROOT = pathlib.Path(__file__).resolve().parent.parent


@pytest.fixture(autouse=True)
def cache(flow_cache):
    yield flow_cache


# ---- --version ----------------------------------------------------------------------

def test_version_names_the_package_version_and_the_libraries_loaded_built_in_or_real():
    declared = re.search(r'^version = "([^"]+)"', (ROOT / "pyproject.toml").read_text(), re.M).group(1)
    result = cli("--version")
    assert (result.returncode, result.stderr) == (0, "")
    first, *libraries = result.stdout.splitlines()
    assert first.split()[:2] == ["libfc", declared]
    beside = os.path.dirname(os.path.realpath(_libfc.__file__))
    assert libraries == ["%s: built-in, %s" % (name, os.path.join(beside, name))
                         for name in ("libfc.so", "libfabPublic.so")]
    # Built-in means exporting the built-in implementation's control function.
    assert libfc.cli.library_kind(os.path.join(beside, "libfabPublic.so"), "fcemu_reset") == "real"
    assert libfc.cli.library_kind(ctypes.util.find_library("c"), "fcemu_reset") == "real"


# ---- Names and their old spellings ------------------------------------------------

@pytest.mark.parametrize("old, new", [
    ("inval", "inval-table"),
    ("inval --help", "inval-table --help"),
    ("host portset-0 mcast off", "portset set portset-0 mcast off"),
    ("host sw cache maybe", "portset set sw cache maybe"),
    ("inval --bogus", "inval-table --bogus"),  # an unknown option is refused by the command it follows
    ("host sw cache on --bogus", "portset set sw cache on --bogus"),
])
def test_an_old_command_name_does_what_the_new_one_does_under_the_name_typed(old, new):
    results = [cli(*command.split()) for command in (old, new)]
    for command, result in zip((old, new), results):  # help and refusals name the command as typed
        typed = "libfc " + re.match(r"(portset set|\S+)", command).group(1)
        if "--help" in command or result.returncode:
            assert re.match(r"(usage: )?%s[ :]" % typed, result.stdout + result.stderr), result
    unnamed = [(r.returncode, re.sub(r"libfc (inval-table|inval|host|portset set)\b", "libfc X", r.stdout + r.stderr))
               for r in results]
    assert unnamed[0] == unnamed[1]


COMMAND_MODULES = {name: libfc.cli.command_group(name) for name in libfc.cli.COMMAND_GROUPS}


@pytest.mark.parametrize("name", COMMAND_MODULES)
def test_a_command_module_is_named_after_its_command_and_imports_no_other(name):
    subparsers = argparse.ArgumentParser().add_subparsers()
    COMMAND_MODULES[name].register(subparsers)
    assert name.replace("_", "-") in subparsers.choices
    siblings = set()
    for node in ast.walk(ast.parse(inspect.getsource(COMMAND_MODULES[name]))):
        if isinstance(node, ast.ImportFrom) and node.level == 1:
            siblings |= {node.module} if node.module else {alias.name for alias in node.names}
    assert not siblings & (set(COMMAND_MODULES) - {name})


# ---- Tables for a terminal ---------------------------------------------------------------

@pytest.fixture
def filled(switch_store, tmp_path, monkeypatch):
    """Flows, two switches of three ports, and a snapshot of the cache."""
    builtin_library("libfc.so").fcemu_traffic(60, 4)
    monkeypatch.setitem(PLACES, "snapshot", str(tmp_path / "before.snap"))
    _snapshots.save(PLACES["snapshot"])
    store = builtin_library("libfabPublic.so")
    assert store.fabemu_populate(2, 3, 1) == 0


class Terminal(io.StringIO):
    def isatty(self):
        return True


# Command, its columns, and the key of its --json document that lists its rows.
TABLES = [
    ("flows", flows.HEADERS, "flows"),
    ("inval-table", [c.name for c in inval_table.COLUMNS], "entities"),
    ("dvs switches", [c.name for c in dvs.SWITCH_COLUMNS], "switches"),
    ("dvs host-props dvs-0", [c.name for c in dvs.ITEM_COLUMNS], "items"),
]


@pytest.mark.python_only
@pytest.mark.parametrize("columns", [None, "60", "200"])
@pytest.mark.parametrize("command, headers, listed", TABLES)
def test_a_table_fits_the_width_and_says_on_stderr_which_columns_gave_way(capsys, monkeypatch, filled, columns,
                                                                          command, headers, listed):
    rows = len(json.loads(cli_in_process(capsys, *command.split(), "--json")[1])[listed])
    monkeypatch.delenv("NO_COLOR", raising=False)  # no header is bold all the same: none goes to a terminal
    if columns is None:
        monkeypatch.delenv("COLUMNS", raising=False)  # a pipe gets whole rows
    else:
        monkeypatch.setenv("COLUMNS", columns)
    status, out, err = cli_in_process(capsys, *command.split())
    lines = out.splitlines()
    assert status == 0 and len(lines) == 1 + rows
    shown = re.split(r" {2,}", lines[0].strip())
    left_out = [name for name in headers if name not in shown]
    note = re.search(r"^\((?:left out ([^;]*))?(?:; )?(?:cut ([^)]*))? to fit (\d+) columns\)$", err, re.M)
    if columns is None:
        assert shown == headers and note is None
    else:
        assert max(map(len, lines)) <= int(columns)
        assert (note.group(1).split(", ") if note and note.group(1) else []) == left_out
        assert note is None or note.group(3) == columns
        assert int(columns) < 200 or command == "flows" or shown == headers
    assert not [cell for cell in lines[1].split() if cell.endswith("~")] or note.group(2)


FIT_COLUMNS = [libfc.cli._output.Column("A"), libfc.cli._output.Column("B", drop=1),
               libfc.cli._output.Column("C", drop=2, shrink=4), libfc.cli._output.Column("D", drop=3)]


@pytest.mark.parametrize("widths, limit, kept, fitted", [
    ([10, 10, 10, 10], 46, [0, 1, 2, 3], [10, 10, 10, 10]),  # fits as it is
    ([10, 10, 10, 10], 40, [0, 1, 2, 3], [10, 10, 4, 10]),  # cutting C is enough
    ([10, 10, 10, 10], 30, [0, 2, 3], [10, 10, 6, 10]),  # B goes first, then C is cut
    ([10, 5, 30, 40], 20, [0, 1], [10, 5, 30, 40]),  # B comes back once D has gone
    ([50, 10, 10, 10], 20, [0], [50, 10, 10, 10]),  # A stays even when too wide
])
def test_fitting_cuts_then_leaves_out_columns_by_rank(widths, limit, kept, fitted):
    assert libfc.cli._output.fit(FIT_COLUMNS, widths, limit) == (kept, fitted)


# Output that is not a terminal has no bold header: the table test above.
@pytest.mark.python_only
@pytest.mark.parametrize("no_color, bold", [(None, True), ("1", False)])
def test_the_header_is_bold_on_a_terminal_without_no_color(capsys, monkeypatch, filled, no_color, bold):
    monkeypatch.setenv("COLUMNS", "200")
    if no_color is None:
        monkeypatch.delenv("NO_COLOR", raising=False)
    else:
        monkeypatch.setenv("NO_COLOR", no_color)
    out = Terminal()
    monkeypatch.setattr(sys, "stdout", out)
    assert cli_in_process(capsys, "dvs", "switches")[0] == 0
    lines = out.getvalue().splitlines()
    assert lines[0].startswith("\033[1mID") == bold and lines[0].endswith("\033[0m") == bold
    assert "\033" not in "".join(lines[1:])


# ---- JSON ----------------------------------------------------------------------------

DOC = ROOT / "docs" / "json.md"
SCHEMAS = {schema["$id"]: schema for schema in map(json.loads, re.findall(r"```json\n(.*?)```", DOC.read_text(), re.S))}
REGISTRY = Registry().with_resources((name, Resource.from_contents(schema)) for name, schema in SCHEMAS.items())
SHARED = {"urn:libfc:flow", "urn:libfc:value"}  # records the documents refer to
SWITCH, PORT = "dvs-0", "0"
PLACES = {}  # files the commands name, made by the fixture

# Command, and the layout its output has ("...-line": one document a line).
COMMANDS = [
    ("flows --json", "flows"),
    ("flows --json-lines", "flow-line"),
    ("stats --json", "stats"),
    ("stats --interval 0.01 --count 2 --json-lines", "stats-line"),
    ("hashstats --json", "hashstats"),
    ("inval-table --json", "inval-table"),
    ("config get --json", "config"),
    ("port portset-0 12 --json", "port"),
    ("port nowhere 1 --json", "port"),
    ("portset status portset-0 --json", "portset"),
    ("emu traffic --flows 5 --json", "emu-traffic"),
    ("dvs switches --json", "dvs-switches"),
    ("dvs ports %s --json" % SWITCH, "dvs-ports"),
    ("dvs port-data %s %s --json" % (SWITCH, PORT), "dvs-items"),
    ("dvs global-props %s --json" % SWITCH, "dvs-items"),
    ("dvs port-data %s %s %s --json" % (SWITCH, PORT, _libfc.HYP_FABPROP_PORT_ALIAS), "dvs-value"),
    ("dvs global-props %s %s --json" % (SWITCH, _libfc.HYP_FABPROP_SWITCH_ALIAS), "dvs-value"),
    ("dvs alias %s --json" % SWITCH, "dvs-alias"),
    ("diff {snapshot} {snapshot} --unchanged --json", "diff"),
    ("diff {snapshot} live --unchanged --json-lines", "diff-line"),
]


def keys(value):
    if isinstance(value, dict):
        for key, inner in value.items():
            yield key
            yield from keys(inner)
    elif isinstance(value, list):
        for inner in value:
            yield from keys(inner)


def run_json(capsys, command):
    status, out, err = cli_in_process(capsys, *command.format(**PLACES).split())
    # diff counts the changes on stderr
    assert (status, err if not command.startswith("diff") else "") == (0, ""), (command, err)
    return out


@pytest.mark.python_only
@pytest.mark.parametrize("command, layout", COMMANDS)
def test_the_json_has_its_documented_layout_in_one_style(capsys, filled, command, layout):
    out = run_json(capsys, command)
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
        pretty = run_json(capsys, command + " --pretty")
        assert pretty == json.dumps(json.loads(pretty), indent=2) + "\n"
        assert list(keys(json.loads(pretty))) == list(keys(json.loads(out)))


def test_every_documented_layout_is_checked_against_real_output():
    assert set(SCHEMAS) == SHARED | {"urn:libfc:" + layout for _, layout in COMMANDS}


@pytest.mark.python_only
def test_numbers_are_the_records_and_names_sit_beside_them(capsys, filled):
    assert [hashstats.state_number(name) for name in ("enabled", "disabled", "state 7")] == [
        _libfc.FC_STATE_ENABLED, _libfc.FC_STATE_DISABLED, 7]
    tables = json.loads(run_json(capsys, "hashstats --json"))["tables"]
    assert [(t["state"], t["state_name"]) for t in tables] == [
        (t.fcState, "enabled" if t.fcState == _libfc.FC_STATE_ENABLED else "disabled")
        for t in _libfc.FC_GetFlowCacheHashStats()]
    entities = json.loads(run_json(capsys, "inval-table --json"))["entities"]
    assert [(e["id"], e["type"], e["direction"]) for e in entities] == [
        (e.ikey.val.vdrId, e.ikey.type, e.dir) for e in _libfc.FC_GetInvalTableEntries()]
    assert {e["type_name"] for e in entities if e["type"] == _libfc.FC_INVAL_HASH_KEY_TYPE_PORTID} == {"port"}
    assert {e["direction_name"] for e in entities if e["direction"] == _libfc.FC_PORT_ENABLE_DIR_ALL} <= {"all"}
    for name, number in (("tcp", 6), ("udp", 17)):
        flows = json.loads(run_json(capsys, "flows --proto %d --json" % number))["flows"]
        assert flows and {(f["proto"], f["proto_name"]) for f in flows} == {(number, name)}
    ipv6 = json.loads(run_json(capsys, "flows --v6 --json"))["flows"]
    assert ipv6 and {(f["ether_type"], f["ether_type_name"]) for f in ipv6} == {(0x86DD, "ipv6")}


# ---- Shell completion -----------------------------------------------------------------

@pytest.fixture(scope="module")
def bash_completion(tmp_path_factory):
    path = tmp_path_factory.mktemp("completion") / "libfc.bash"
    path.write_text(cli("completion", "bash").stdout)
    return path


@pytest.mark.parametrize("line, offered", [
    ("libfc ", "flows top diff stats hashstats inval-table inval invalidate config port portset host emu dvs exporter "
               "export completion"),
    ("libfc flows --p", "--port --proto --pretty"),
    ("libfc flows remove --a", "--all"),
    ("libfc inval", "inval-table inval invalidate"),
    ("libfc inval --", "--help --json --pretty"),  # an old name completes as its new one
    ("libfc port portset-0 12 e", "egress"),
    ("libfc emu populate --seed 3 --s", "--switches --seed"),  # an option's value is skipped
    ("libfc emu populate --seed ", ""),
    ("libfc portset ", "status set"),
    ("libfc --v", "--version"),
])
def test_bash_completes_commands_options_and_choices(bash_completion, line, offered):
    words = line.split() + ([""] if line.endswith(" ") else [])
    script = 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); %s; echo "${COMPREPLY[*]}"' % (
        libfc.cli.completion.FUNCTION)
    result = subprocess.run(["bash", "-c", script, "bash", str(bash_completion), *words],
                            capture_output=True, text=True, timeout=60)
    assert (result.stdout.strip(), result.stderr) == (offered, "")



# ---- The command reference ----------------------------------------------------------------

def test_the_committed_command_reference_is_what_the_parser_says():
    result = subprocess.run([sys.executable, str(ROOT / "scripts" / "gen_cli_docs.py"), "--build-dir", BUILD_DIR,
                             "--output", "-"], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout == (ROOT / "docs" / "cli.md").read_text(), \
        "docs/cli.md is out of date: run python scripts/gen_cli_docs.py"

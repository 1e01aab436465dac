"""The command-line tool's conventions shared by every command: --version,
the command names and their old spellings, JSON output, shell completion
and the generated command reference."""

import ctypes.util
import json
import os
import pathlib
import re
import subprocess
import sys

import pytest

import _libfc
import libfc.cli
from _helpers import BUILD_DIR, cli_ok as ok, run_cli as cli

ROOT = pathlib.Path(__file__).resolve().parent.parent


@pytest.fixture(autouse=True)
def cache(flow_cache):
    yield flow_cache


# ---- --version ----------------------------------------------------------------------

def test_version_names_the_package_version_and_the_libraries_loaded():
    declared = re.search(r'^version = "([^"]+)"', (ROOT / "pyproject.toml").read_text(), re.M).group(1)
    first, *libraries = ok("--version").splitlines()
    assert first.split()[:2] == ["libfc", declared]
    beside = os.path.dirname(os.path.realpath(_libfc.__file__))
    assert libraries == ["%s: built-in, %s" % (name, os.path.join(beside, name))
                         for name in ("libfc.so", "libfabPublic.so")]


@pytest.mark.parametrize("path, control, kind", [
    (os.path.join(BUILD_DIR, "libfc.so"), "fcemu_reset", "built-in"),
    (os.path.join(BUILD_DIR, "libfabPublic.so"), "fabemu_reset", "built-in"),
    (os.path.join(BUILD_DIR, "libfabPublic.so"), "fcemu_reset", "real"),
    (ctypes.util.find_library("c"), "fcemu_reset", "real"),
])
def test_a_library_is_built_in_only_when_it_exports_the_control_function(path, control, kind):
    assert libfc.cli.library_kind(path, control) == kind


# ---- Names and their old spellings ------------------------------------------------

@pytest.mark.parametrize("old, new", [
    ("inval", "inval-table"),
    ("inval --json", "inval-table --json"),
    ("host DvsPortset-0 mcast off", "portset set DvsPortset-0 mcast off"),
])
def test_an_old_command_name_does_what_the_new_one_does(old, new):
    assert ok(*old.split()) == ok(*new.split())


@pytest.mark.parametrize("args, command", [
    (["inval", "--help"], "libfc inval"),
    (["inval-table", "--help"], "libfc inval-table"),
    (["host", "sw", "cache", "maybe"], "libfc host"),
    (["portset", "set", "sw", "cache", "maybe"], "libfc portset set"),
])
def test_messages_name_the_command_as_typed(args, command):
    result = cli(*args)
    text = result.stdout if "--help" in args else result.stderr
    assert re.match(r"(usage: )?%s[ :]" % re.escape(command), text), text


# ---- JSON -----------------------------------------------------------------------------

def json_of(*args):
    return json.loads(ok(*args, "--json"))


def test_port_json_gives_the_direction_by_name_and_number():
    assert json_of("port", "DvsPortset-0", "12", "egress") == {
        "switch": "DvsPortset-0", "port": "12", "direction": "egress",
        "direction_value": _libfc.FC_PORT_ENABLE_DIR_EGRESS}
    both = json_of("port", "DvsPortset-0", "12", "all")
    assert (both["direction"], both["direction_value"]) == ("enabled", _libfc.FC_PORT_ENABLE_DIR_ALL)


@pytest.mark.parametrize("command", [["portset", "set"], ["host"]])
def test_portset_json_follows_each_change(command):
    ok("emu", "traffic", "--flows", "10")
    off = json_of(*command, "DvsPortset-0", "mcast", "off")
    assert off == {"portset": "DvsPortset-0", "cache": "enabled", "multicast_cache": "disabled"}
    assert json_of(*command, "DvsPortset-0", "cache", "off")["cache"] == "disabled"
    assert json_of("portset", "status", "DvsPortset-0") == dict(off, cache="disabled")
    assert json_of("portset", "status", "nowhere") == {"portset": "nowhere", "cache": None, "multicast_cache": None}


def test_config_json_keys_are_snake_case_and_values_numbers():
    ok("config", "set", "aging-interval", "120")
    values = json_of("config", "get", "aging-interval", "expr-time")
    assert values == {"aging_interval": 120,
                      "expr_time": _libfc.FC_IOCGetConfigOption(_libfc.FC_IOC_EXPR_TIME)}


@pytest.mark.parametrize("args", [["port", "sw", "1"], ["portset", "status", "sw"],
                                  ["portset", "set", "sw", "cache", "on"], ["config", "get"], ["inval-table"],
                                  ["dvs", "switches"]])
def test_every_json_key_is_snake_case(switch_store, args):
    ok("emu", "populate")
    def keys(value):
        if isinstance(value, dict):
            yield from value
            for inner in value.values():
                yield from keys(inner)
        elif isinstance(value, list):
            for inner in value:
                yield from keys(inner)
    found = list(keys(json_of(*args)))
    assert found and all(re.fullmatch(r"[a-z][a-z0-9_]*", key) for key in found), found


# ---- Shell completion -----------------------------------------------------------------

@pytest.fixture(scope="module")
def bash_completion(tmp_path_factory):
    path = tmp_path_factory.mktemp("completion") / "libfc.bash"
    path.write_text(cli("completion", "bash").stdout)
    return path


@pytest.mark.parametrize("line, offered", [
    ("libfc fl", "flows"),
    ("libfc ", "flows top diff stats hashstats inval-table inval invalidate config port portset host emu dvs completion"),
    ("libfc flows --p", "--port --proto"),
    ("libfc flows remove --a", "--all"),
    ("libfc inval", "inval-table inval invalidate"),
    ("libfc inval --", "--help --json"),  # an old name completes as its new one
    ("libfc port DvsPortset-0 12 e", "egress"),
    ("libfc emu populate --seed 3 --s", "--switches --seed"),  # an option's value is skipped
    ("libfc emu populate --seed ", ""),
    ("libfc portset ", "status set"),
    ("libfc completion ", "bash zsh"),
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

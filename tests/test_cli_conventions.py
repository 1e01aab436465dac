"""The command-line tool's conventions shared by every command: --version,
the command names and their old spellings, tables fitted to
the terminal with notes on stderr, shell completion and the generated
command reference."""

import ctypes.util
import io
import json
import os
import pathlib
import re
import subprocess
import sys

import pytest

import _libfc
import libfc.cli
from _helpers import BUILD_DIR, builtin_library, cli_here as cli, cli_in_process
from conftest import fcemu_library
from libfc.cli import dvs, flows, inval

ROOT = pathlib.Path(__file__).resolve().parent.parent


@pytest.fixture(autouse=True)
def cache(flow_cache):
    yield flow_cache


# ---- --version ----------------------------------------------------------------------

def test_version_names_the_package_version_and_the_libraries_loaded():
    declared = re.search(r'^version = "([^"]+)"', (ROOT / "pyproject.toml").read_text(), re.M).group(1)
    result = cli("--version")
    assert (result.returncode, result.stderr) == (0, "")
    first, *libraries = result.stdout.splitlines()
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
    ("inval --help", "inval-table --help"),
    ("host DvsPortset-0 mcast off", "portset set DvsPortset-0 mcast off"),
    ("host sw cache maybe", "portset set sw cache maybe"),
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


# ---- Tables for a terminal ---------------------------------------------------------------

@pytest.fixture
def filled(switch_store):
    fcemu_library().fcemu_traffic(40, 2)
    store = builtin_library("libfabPublic.so")
    store.fabemu_populate.argtypes = [ctypes.c_uint] * 3
    assert store.fabemu_populate(2, 3, 1) == 0


class Terminal(io.StringIO):
    def isatty(self):
        return True


# Command, its columns, and the key of its --json document that lists its rows.
TABLES = [
    ("flows", flows.HEADERS, "flows"),
    ("inval-table", [c.name for c in inval.COLUMNS], "entities"),
    ("dvs switches", [c.name for c in dvs.SWITCH_COLUMNS], "switches"),
    ("dvs host-props dvSwitch-0", [c.name for c in dvs.ITEM_COLUMNS], "items"),
]


@pytest.mark.python_only
@pytest.mark.parametrize("columns", [None, "60", "200"])
@pytest.mark.parametrize("command, headers, listed", TABLES)
def test_a_table_fits_the_width_and_says_on_stderr_which_columns_gave_way(capsys, monkeypatch, filled, columns,
                                                                          command, headers, listed):
    rows = len(json.loads(cli_in_process(capsys, *command.split(), "--json")[1])[listed])
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


@pytest.mark.python_only
@pytest.mark.parametrize("terminal, no_color, bold", [(True, None, True), (True, "1", False), (False, None, False)])
def test_the_header_is_bold_only_on_a_terminal_without_no_color(capsys, monkeypatch, filled, terminal, no_color,
                                                                 bold):
    monkeypatch.setenv("COLUMNS", "200")
    if no_color is None:
        monkeypatch.delenv("NO_COLOR", raising=False)
    else:
        monkeypatch.setenv("NO_COLOR", no_color)
    out = Terminal() if terminal else io.StringIO()
    monkeypatch.setattr(sys, "stdout", out)
    assert cli_in_process(capsys, "dvs", "switches")[0] == 0
    lines = out.getvalue().splitlines()
    assert lines[0].startswith("\033[1mID") == bold and lines[0].endswith("\033[0m") == bold
    assert "\033" not in "".join(lines[1:])


# ---- Shell completion -----------------------------------------------------------------

@pytest.fixture(scope="module")
def bash_completion(tmp_path_factory):
    path = tmp_path_factory.mktemp("completion") / "libfc.bash"
    path.write_text(cli("completion", "bash").stdout)
    return path


@pytest.mark.parametrize("line, offered", [
    ("libfc fl", "flows"),
    ("libfc ", "flows top diff stats hashstats inval-table inval invalidate config port portset host emu dvs exporter "
               "completion"),
    ("libfc flows --p", "--port --proto --pretty"),
    ("libfc flows remove --a", "--all"),
    ("libfc inval", "inval-table inval invalidate"),
    ("libfc inval --", "--help --json --pretty"),  # an old name completes as its new one
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

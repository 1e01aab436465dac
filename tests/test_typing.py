"""The package type-checks from its users' side: tests/typing/example.py,
which uses the modules, the package, its high-level functions and the
command-line modules, passes mypy --strict and pyright (basedpyright, when
installed) in strict mode, and a script that misuses them fails on exactly
the lines that do."""

import importlib.util
import json
import os
import re
import subprocess
import sys

import pytest

from conftest import BUILD_DIR

EXAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "typing", "example.py")

# Each line is wrong in a way only the stubs and annotations can tell.
MISUSE = '''\
import _libfc
import _libfc_ptr
import libfc
import libfc.dvs
from libfc.cli import main

port: str = libfc.FC_FlowEntryIOC().fkey.portID
_libfc.FC_GetFlows(1)
stats: list = libfc.stats()
name: int = libfc.dvs.switches()[0].id
main(["stats"], 1)
data: str = _libfc_ptr.cdata(_libfc_ptr.new_intp(), 4)
flag: int = _libfc.DVPortExist("dvSwitch-0", "0")
generation: str = libfc.inval_entries()["generation"]
'''
MISUSED_LINES = set(range(7, 15))

pytestmark = pytest.mark.python_only


def error_lines(output, path):
    """The line numbers of `path` that a checker's output reports errors on."""
    name = re.escape(os.path.basename(path))
    return {int(m.group(1)) for m in re.finditer(name + r":(\d+):\d*:?\s*-?\s*error", output)}


@pytest.mark.parametrize("checker", ["mypy", "basedpyright"])
def test_strict_checkers_pass_the_example_and_fail_the_misuse(checker, tmp_path):
    misuse = tmp_path / "misuse.py"
    misuse.write_text(MISUSE)
    build = os.path.abspath(BUILD_DIR)
    if checker == "mypy":
        pytest.importorskip("mypy")
        # Errors in the package's own modules are its business, not its users':
        # they are followed for their types only. The cache lives with the
        # build, so a later run checks again only what changed since.
        command = [sys.executable, "-m", "mypy", "--strict", "--follow-imports=silent", "--no-error-summary",
                   "--cache-dir", os.path.join(build, "mypy-cache"), EXAMPLE, str(misuse)]
        env = dict(os.environ, MYPYPATH=build)
    else:
        if importlib.util.find_spec("basedpyright") is None:
            pytest.skip("basedpyright is not installed (the npm-only pyright cannot be fetched here)")
        config = tmp_path / "pyrightconfig.json"
        config.write_text(json.dumps({"typeCheckingMode": "strict", "extraPaths": [build],
                                      "include": [EXAMPLE, str(misuse)],
                                      "pythonVersion": "%d.%d" % sys.version_info[:2]}))
        command, env = [sys.executable, "-m", "basedpyright", "-p", str(config)], None
    output = subprocess.run(command, capture_output=True, text=True, env=env, timeout=120).stdout
    assert error_lines(output, EXAMPLE) == set(), output
    assert error_lines(output, str(misuse)) == MISUSED_LINES, output

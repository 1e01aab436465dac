"""The package type-checks from its users' side, installed as a user installs
it: tests/typing/example.py, which uses the modules, the package, its
high-level functions and the command-line modules, passes mypy --strict and
pyright (basedpyright, when installed) in strict mode, each pointed at the
environment the package is installed in and at nothing else, and a script
that misuses them fails on exactly the lines that do."""

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
flag: int = _libfc.DVPortExist("dvs-0", "0")
generation: str = libfc.inval_entries()["generation"]
libfc.FC_FlowKey(portId=5)
libfc.FC_FlowKey(portID="x")
libfc.flows(prot=6)
libfc.FC_FlowKey().nosuchfield = 3
'''
MISUSED_LINES = set(range(7, 19))

pytestmark = pytest.mark.python_only


def error_lines(output, path):
    """The line numbers of `path` that a checker's output reports errors on."""
    name = re.escape(os.path.basename(path))
    return {int(m.group(1)) for m in re.finditer(name + r":(\d+):\d*:?\s*-?\s*error", output)}


@pytest.mark.parametrize("checker", ["mypy", "basedpyright"])
def test_strict_checkers_pass_the_example_and_fail_the_misuse(checker, installed_package, tmp_path):
    misuse = tmp_path / "misuse.py"
    misuse.write_text(MISUSE)
    python = installed_package.python
    if checker == "mypy":
        pytest.importorskip("mypy")
        # Errors in the package's own modules are its business, not its users':
        # they are followed for their types only. The cache lives with the
        # build, so a later run checks again only what changed since.
        command = [sys.executable, "-m", "mypy", "--strict", "--follow-imports=silent", "--no-error-summary",
                   "--python-executable", python, "--cache-dir", os.path.join(os.path.abspath(BUILD_DIR), "mypy-cache"),
                   EXAMPLE, str(misuse)]
    else:
        if importlib.util.find_spec("basedpyright") is None:
            pytest.skip("basedpyright is not installed (the npm-only pyright cannot be fetched here)")
        config = tmp_path / "pyrightconfig.json"
        config.write_text(json.dumps({"typeCheckingMode": "strict", "include": [EXAMPLE, str(misuse)]}))
        command = [sys.executable, "-m", "basedpyright", "-p", str(config), "--pythonpath", python]
    env = {k: v for k, v in installed_package.env.items() if k not in ("MYPYPATH", "PYTHONPATH")}
    # The installed environment is the one active: pyright otherwise also
    # reads the environment it was started from, where a copy may lie.
    bin_dir = os.path.dirname(python)
    env.update(VIRTUAL_ENV=os.path.dirname(bin_dir), PATH=bin_dir + os.pathsep + env.get("PATH", ""))
    output = subprocess.run(command, capture_output=True, text=True, env=env, cwd=tmp_path, timeout=300).stdout
    assert error_lines(output, EXAMPLE) == set(), output
    assert error_lines(output, str(misuse)) == MISUSED_LINES, output


def test_typed_signatures_name_what_the_package_takes_at_run_time():
    """The typed keywords of flows() are its filters, and each header's view
    class in the stub declares exactly the fields its view has."""
    import ast

    import libfc
    from libfc import _cache, _headers

    def declared(tree, *path):
        for name in path:
            (tree,) = [node for node in ast.walk(tree) if isinstance(node, ast.ClassDef) and node.name == name]
        return {node.target.id if isinstance(node, ast.AnnAssign) else node.name
                for node in tree.body if isinstance(node, (ast.AnnAssign, ast.FunctionDef))}

    assert declared(ast.parse(open(_cache.__file__).read()), "FlowFilter") == set(_cache.FILTERS)
    stub = ast.parse(open(os.path.join(os.path.dirname(libfc.__file__), "__init__.pyi")).read())
    for record in _headers.EXTRA_BASES:
        assert declared(stub, record, "_NetView") == set(getattr(libfc, record)().net._fields_), record

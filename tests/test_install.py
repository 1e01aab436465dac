"""The source archive holds what a build reads and nothing else; pip builds
it into a wheel of the extension, its stubs and the companion package, and
both import from any directory once installed."""

import os
import subprocess

import pytest

from conftest import JUNK

# The extension modules whose stubs ship as PEP 561 stub-only packages.
MODULES = ("_libfc", "_libfc_ptr", "_libfc_fields")


def test_source_archive_holds_what_the_build_reads_and_no_junk(installed_package):
    names, tracked = installed_package.archive_names, installed_package.tracked
    assert not names & set(JUNK)
    read_by_build = [name for name in tracked
                     if not name.startswith(("tests/", "bench/", "scripts/", ".")) and "/" in name]
    assert set(read_by_build) <= names, sorted(set(read_by_build) - names)
    assert {"CMakeLists.txt", "pyproject.toml", "README.md", "PKG-INFO"} <= names


def test_pip_install_then_import_from_elsewhere(installed_package, tmp_path):
    site, python, env = installed_package.site, installed_package.python, installed_package.env
    installed = set(os.listdir(site))
    assert {module + ".so" for module in MODULES} <= {name.split(".")[0] + ".so" for name in installed
                                                      if name.endswith(".so")}
    assert {"libfc.so", "libfabPublic.so"} <= installed, installed
    # Each module's stub as its stub-only package; none left where mypy does not look.
    assert all((site / (module + "-stubs") / "__init__.pyi").is_file() for module in MODULES), installed
    assert not [name for name in installed if name.endswith(".pyi")]
    # The package with its stubs and marker, and the command-line tool's subpackage.
    assert all((site / "libfc" / name).exists() for name in ("__init__.pyi", "py.typed", "cli/flows.py"))
    code = (
        "import _libfc, libfc, os, sys;"
        "assert os.path.dirname(_libfc.__file__) == sys.argv[1], _libfc.__file__;"
        "s = libfc.hyp_String(); s.bufferSize = 3; print(s.bufferSize, len(libfc.__all__))"
    )
    result = subprocess.run([python, "-c", code, str(site)], cwd=tmp_path, env=env,
                            capture_output=True, text=True, check=True)
    assert result.stdout.split()[0] == "3"
    # The command-line tool: `python -m libfc` and the console script.
    for command in ([python, "-m", "libfc", "--help"], [str(installed_package.venv / "bin" / "libfc"), "--help"]):
        result = subprocess.run(command, cwd=tmp_path, env=env, capture_output=True, text=True, check=True)
        assert result.stdout.startswith("usage: libfc")

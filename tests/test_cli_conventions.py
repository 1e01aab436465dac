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
from _helpers import BUILD_DIR

ROOT = pathlib.Path(__file__).resolve().parent.parent


@pytest.fixture(autouse=True)
def cache(flow_cache):
    yield flow_cache


def cli(*args):
    env = dict(os.environ)
    env["PYTHONPATH"] = BUILD_DIR + os.pathsep + env.get("PYTHONPATH", "")
    return subprocess.run([sys.executable, "-m", "libfc", *args], env=env, capture_output=True, text=True,
                          timeout=120)


def ok(*args):
    result = cli(*args)
    assert result.returncode == 0 and result.stderr == "", (args, result.stdout, result.stderr)
    return result.stdout


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

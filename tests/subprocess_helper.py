"""Runs Python code in a fresh interpreter that sees the in-tree build."""

import os
import subprocess
import sys
import textwrap

from conftest import BUILD_DIR


def run_python(code, check=True):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in (BUILD_DIR, env.get("PYTHONPATH")) if p)
    result = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True, text=True, timeout=60
    )
    if check and result.returncode != 0:
        raise AssertionError(f"subprocess failed ({result.returncode}):\n{result.stdout}\n{result.stderr}")
    return result

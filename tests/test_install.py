"""pip builds and installs both the extension and the companion package, and
both import from any directory afterwards."""

import os
import subprocess
import sys

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@pytest.mark.skipif(os.environ.get("LIBFC_SKIP_INSTALL_TEST") == "1", reason="install test disabled")
def test_pip_install_then_import_from_elsewhere(tmp_path):
    target = tmp_path / "site"
    subprocess.run(
        [sys.executable, "-m", "pip", "install", "--quiet", "--disable-pip-version-check",
         "--no-build-isolation", "--no-deps", "--target", str(target), ROOT],
        check=True, capture_output=True, text=True, timeout=600,
    )
    assert any(name.startswith("_libfc") and name.endswith(".so") for name in os.listdir(target))
    assert (target / "libfc" / "__init__.pyi").exists()
    code = (
        "import _libfc, libfc, os;"
        "assert os.path.dirname(_libfc.__file__) == os.environ['PYTHONPATH'];"
        "s = libfc.hyp_String(); s.bufferSize = 3; print(s.bufferSize, len(libfc.__all__))"
    )
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD",)}
    env["PYTHONPATH"] = str(target)
    result = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, env=env,
                            capture_output=True, text=True, check=True)
    assert result.stdout.split()[0] == "3"
    # The command-line tool: its subpackage, `python -m libfc` and the console script.
    assert (target / "libfc" / "cli" / "flows.py").exists()
    for command in ([sys.executable, "-m", "libfc", "--help"], [str(target / "bin" / "libfc"), "--help"]):
        result = subprocess.run(command, cwd=tmp_path, env=env, capture_output=True, text=True, check=True)
        assert result.stdout.startswith("usage: libfc")

"""pip builds and installs both the extension and the companion package, and
both import from any directory afterwards."""

import os
import subprocess
import sys

import pytest

from conftest import BUILD_DIR

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def reuse_settings():
    """pip's build keeps its own directory beside the tests' build (at the
    same depth, so a compiler cache keyed on paths relative to the checkout
    serves both) and takes the interpreter-independent parts, the built-in
    libraries and the two generators, from the tests' build when that has
    them and is not instrumented."""
    build = os.path.abspath(BUILD_DIR)
    settings = ["--config-settings=build-dir=" + build + "-pip"]
    prebuilt = all(os.path.exists(os.path.join(build, name)) for name in ("libfc.so", "libfabPublic.so", "gen_companion", "gen_signatures"))
    if not prebuilt or os.environ.get("LIBFC_SANITIZED") == "1":
        return settings
    settings.append("--config-settings=cmake.define.LIBFC_PREBUILT_DIR=" + build)
    # The same compilers by the same names: a compiler cache tells g++ from c++.
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        for line in cache:
            name, _, value = line.strip().partition("=")
            if name in ("CMAKE_C_COMPILER:FILEPATH", "CMAKE_CXX_COMPILER:FILEPATH"):
                settings.append("--config-settings=cmake.define.%s=%s" % (name.split(":")[0], value))
    return settings


@pytest.mark.skipif(os.environ.get("LIBFC_SKIP_INSTALL_TEST") == "1", reason="install test disabled")
def test_pip_install_then_import_from_elsewhere(tmp_path):
    target = tmp_path / "site"
    subprocess.run(
        [sys.executable, "-m", "pip", "install", "--quiet", "--disable-pip-version-check",
         "--no-build-isolation", "--no-deps", *reuse_settings(), "--target", str(target), ROOT],
        check=True, capture_output=True, text=True, timeout=600,
    )
    installed = set(os.listdir(target))
    assert any(name.startswith("_libfc") and name.endswith(".so") for name in installed)
    assert {"libfc.so", "libfabPublic.so", "_libfc.pyi", "_libfc_ptr.pyi", "_libfc_fields.pyi"} <= installed, installed
    # The package with its stubs and the command-line tool's subpackage.
    assert (target / "libfc" / "__init__.pyi").exists() and (target / "libfc" / "cli" / "flows.py").exists()
    code = (
        "import _libfc, libfc, os;"
        "assert os.path.dirname(_libfc.__file__) == os.environ['PYTHONPATH'];"
        "s = libfc.hyp_String(); s.bufferSize = 3; print(s.bufferSize, len(libfc.__all__))"
    )
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    env["PYTHONPATH"] = str(target)
    result = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, env=env,
                            capture_output=True, text=True, check=True)
    assert result.stdout.split()[0] == "3"
    # The command-line tool: `python -m libfc` and the console script.
    for command in ([sys.executable, "-m", "libfc", "--help"], [str(target / "bin" / "libfc"), "--help"]):
        result = subprocess.run(command, cwd=tmp_path, env=env, capture_output=True, text=True, check=True)
        assert result.stdout.startswith("usage: libfc")

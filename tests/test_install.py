"""The source archive holds what a build reads and nothing else; pip builds
it into both the extension and the companion package, and both import from
any directory afterwards."""

import os
import shutil
import subprocess
import sys
import tarfile

import pytest

from conftest import BUILD_DIR

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def reuse_settings(source):
    """pip's build of `source` keeps its own directory in it, at the depth the
    tests' build has in the checkout (so a compiler cache keyed on paths
    relative to the tree serves both), and takes the interpreter-independent parts, the built-in
    libraries and the two generators, from the tests' build when that has
    them and is not instrumented."""
    build = os.path.abspath(BUILD_DIR)
    settings = ["--config-settings=build-dir=" + os.path.join(source, os.path.basename(build) + "-pip")]
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


# What a working tree holds besides its tracked files, none of it the
# archive's business.
JUNK = (".venv/lib/site.py", "build-old/CMakeCache.txt", "notes.txt", "python/libfc/__pycache__/x.pyc",
        "runtime/scratch.o", "tests/big.bin")


def source_archive(tmp_path):
    """The archive built from a copy of the tracked files with junk added,
    unpacked; asserts it holds every tracked file the build reads (the
    sources and tables, the package, the generators) and none of the junk."""
    tree = tmp_path / "tree"
    tracked = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, capture_output=True, check=True).stdout
    tracked = [name.decode() for name in tracked.split(b"\0") if name]
    for name in tracked + list(JUNK):
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        if name in JUNK:
            (tree / name).write_text("junk\n")
        else:
            shutil.copy2(os.path.join(ROOT, name), tree / name)
    made = subprocess.run([sys.executable, "-c", "from scikit_build_core.build import build_sdist as b;"
                           "print(b(%r))" % str(tmp_path)], cwd=tree, capture_output=True, text=True, check=True)
    with tarfile.open(tmp_path / made.stdout.split()[-1]) as archive:
        archive.extractall(tmp_path / "unpacked")
        top, = os.listdir(tmp_path / "unpacked")
        names = {member.name.partition("/")[2] for member in archive.getmembers() if member.isfile()}
    assert not names & set(JUNK)
    read_by_build = [name for name in tracked
                     if not name.startswith(("tests/", "bench/", "scripts/", ".")) and "/" in name]
    assert set(read_by_build) <= names, sorted(set(read_by_build) - names)
    assert {"CMakeLists.txt", "pyproject.toml", "README.md", "PKG-INFO"} <= names
    return str(tmp_path / "unpacked" / top)


@pytest.mark.skipif(os.environ.get("LIBFC_SKIP_INSTALL_TEST") == "1", reason="install test disabled")
def test_pip_install_then_import_from_elsewhere(tmp_path):
    source = source_archive(tmp_path)
    target = tmp_path / "site"
    subprocess.run(
        [sys.executable, "-m", "pip", "install", "--quiet", "--disable-pip-version-check",
         "--no-build-isolation", "--no-deps", *reuse_settings(source), "--target", str(target), source],
        check=True, capture_output=True, text=True, timeout=600, env=dict(os.environ, CCACHE_BASEDIR=source),
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

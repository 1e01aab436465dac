"""Test setup: the modules come from the in-tree build (LIBFC_BUILD_DIR, default build/)."""

import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD_DIR = os.environ.get("LIBFC_BUILD_DIR", os.path.join(ROOT, "build"))
if BUILD_DIR not in sys.path:
    sys.path.insert(0, BUILD_DIR)


import pathlib  # noqa: E402
import re  # noqa: E402
import shutil  # noqa: E402
import signal  # noqa: E402
import tempfile  # noqa: E402

import pytest  # noqa: E402

# A suite started in the background of a shell without job control has
# SIGINT ignored, and so would every process it starts: the tests of what
# Ctrl-C does would see nothing happen. Handled here, the signal is back to
# its default in each child.
if signal.getsignal(signal.SIGINT) is signal.SIG_IGN:
    signal.signal(signal.SIGINT, signal.default_int_handler)

# Tests marked "python_only" exercise the package's Python code (terminal
# views, HTTP servers, scapy conversions) and call nothing native that other
# tests do not call too; tests marked "plain_only" check what the sources and
# the compiler make of them (compiling a piece of code), the same for every
# build. The plain pass runs them, the sanitizer pass and the other
# interpreters' passes (LIBFC_PASS=sanitized|matrix) skip them.
_SKIP_PLAIN_ONLY = os.environ.get("LIBFC_PASS") in ("sanitized", "matrix")

# Modules about the built-in libraries as such (driven through ctypes, or
# their own state handling) and the CLI's text: what they test is the same
# on every interpreter (the libraries are built once, the CLI is plain
# Python that the matrix byte-compiles), so the other interpreters' passes
# skip them and keep to the binding itself.
_SAME_ON_EVERY_PYTHON = {
    "test_builtin_fab.py", "test_builtin_fab_state.py", "test_builtin_libfc.py", "test_builtin_libfc_safety.py",
    "test_cli_flows.py", "test_cli_dvs.py", "test_cli_conventions.py", "test_cli_metrics.py", "test_cli_top.py",
}
# Modules about the package's own Python around the C writers (snapshot
# files, output files, the IPFIX exporter): a newer interpreter changes
# nothing there, an older one may lack an API they use. Of the other
# interpreters' passes, only the oldest supported interpreter's runs them.
_ON_THE_OLDEST_PYTHON = {"test_cli_snapshot_safety.py", "test_cli_files.py", "test_ipfix.py"}
with open(os.path.join(ROOT, "pyproject.toml")) as _project:
    _OLDEST_PYTHON = tuple(map(int, re.search(r'requires-python = ">=(\d+)\.(\d+)"', _project.read()).groups()))
_MATRIX = os.environ.get("LIBFC_PASS") == "matrix"
# The test command's plain pass runs beside the sanitized one, which runs
# every field's and record's test: it samples them as the other interpreters
# do (see _sampled). Plain pytest, outside that command, runs them all.
_PLAIN_PASS = os.environ.get("LIBFC_PASS") == "plain"
_SAMPLED = _MATRIX or _PLAIN_PASS


def pytest_configure(config):
    config.addinivalue_line("markers", "python_only: pure-Python behaviour, run in the plain pass only")
    config.addinivalue_line("markers", "plain_only: what the sources compile to, run in the plain pass only")
    config.addinivalue_line("markers", "same_on_every_build: a long test whose outcome no build of the same "
                                       "sources changes, run by the test command in its sanitized pass only")
    config.addinivalue_line("markers", "writes_state_file: writes into the flow cache's state file behind the "
                                       "library's back; its flow_cache is a new file, never used again")


def pytest_collection_modifyitems(config, items):
    if _SKIP_PLAIN_ONLY:
        skip = pytest.mark.skip(reason="pure-Python or compile-time test: run in the plain pass")
        same = pytest.mark.skip(reason="the same on every interpreter: run in the plain and sanitized passes")
        oldest = pytest.mark.skip(reason="the package's Python: run on the default and the oldest interpreters")
        for item in items:
            if item.get_closest_marker("python_only") or item.get_closest_marker("plain_only"):
                item.add_marker(skip)
            elif _MATRIX and item.path.name in _SAME_ON_EVERY_PYTHON:
                item.add_marker(same)
            elif _MATRIX and item.path.name in _ON_THE_OLDEST_PYTHON and sys.version_info[:2] > _OLDEST_PYTHON:
                item.add_marker(oldest)
    if _PLAIN_PASS:
        # Seeded inputs, or a property of the code's logic that one run
        # shows as well as two: the sanitized pass of the same command runs
        # the test with the same assertions, and would see a memory fault too.
        sanitized = pytest.mark.skip(reason="the same on every build: run in the sanitized pass")
        for item in items:
            if item.get_closest_marker("same_on_every_build"):
                item.add_marker(sanitized)
    if _SAMPLED:
        kept = _sampled(items)
        config.hook.pytest_deselected(items=[item for item in items if item not in kept])
        items[:] = [item for item in items if item in kept]


# What an interpreter can change is how a conversion talks to its C API,
# which is the same for every field of one kind and C type (one template
# instance) and for every record. The other interpreters' passes therefore
# run a test over the fields once per kind and C type, and a test over the
# records or their methods for a spread of _SPREAD of them, and so does the
# test command's plain pass; the sanitized pass runs them all (a wrong
# offset shows under the sanitizer only in its own field's test).
_SPREAD = 24


def _sampled(items):
    groups = {}
    for item in items:
        groups.setdefault((item.path, getattr(item, "originalname", item.name)), []).append(item)
    kept = set()
    for group in groups.values():
        seen = set()
        stride = -(-len(group) // _SPREAD)
        for i, item in enumerate(group):
            params = getattr(getattr(item, "callspec", None), "params", {})
            field = params.get("f", params.get("pair", (None, None))[1])
            if hasattr(field, "kind"):
                key = (field.kind, field.ctype, field.width)
                if key not in seen:
                    seen.add(key)
                    kept.add(item)
            elif not {"record", "method", "cls"} & set(params) or i % stride == 0:
                kept.add(item)
    return kept



# What a working tree holds besides its tracked files, none of it the
# source archive's business.
JUNK = (".venv/lib/site.py", "build-old/CMakeCache.txt", "notes.txt", "python/libfc/__pycache__/x.pyc",
        "runtime/scratch.o", "tests/big.bin")


def _reuse_settings(source):
    """pip's build of `source` keeps its own directory in it, at the depth the
    tests' build has in the checkout (so a compiler cache keyed on paths
    relative to the tree serves both), and takes the interpreter-independent
    parts, the built-in libraries and the two generators, from the tests'
    build when that has them and is not instrumented."""
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


@pytest.fixture(scope="session")
def installed_package(tmp_path_factory):
    """The project as a user gets it, built once per session: a source
    archive made from a copy of the tracked files with JUNK added, built
    into a wheel that is installed into a fresh virtual environment (one
    without pip and without the tests' packages). Gives the archive's file
    names, the tracked names and the environment's interpreter and
    site-packages."""
    import shutil
    import subprocess
    import tarfile
    import types

    if os.environ.get("LIBFC_SKIP_INSTALL_TEST") == "1":
        pytest.skip("install test disabled")
    work = tmp_path_factory.mktemp("installed")
    tracked = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, capture_output=True, check=True).stdout
    tracked = [name.decode() for name in tracked.split(b"\0") if name]
    tree = work / "tree"
    for name in tracked + list(JUNK):
        (tree / name).parent.mkdir(parents=True, exist_ok=True)
        if name in JUNK:
            (tree / name).write_text("junk\n")
        else:
            shutil.copy2(os.path.join(ROOT, name), tree / name)
    made = subprocess.run([sys.executable, "-c", "from scikit_build_core.build import build_sdist as b;"
                           "print(b(%r))" % str(work)], cwd=tree, capture_output=True, text=True, check=True)
    with tarfile.open(work / made.stdout.split()[-1]) as archive:
        archive.extractall(work / "unpacked")
        names = {member.name.partition("/")[2] for member in archive.getmembers() if member.isfile()}
    source = str(work / "unpacked" / os.listdir(work / "unpacked")[0])
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    pip = [sys.executable, "-m", "pip", "--quiet", "--disable-pip-version-check"]
    subprocess.run(pip + ["wheel", "--no-build-isolation", "--no-deps", *_reuse_settings(source),
                          "--wheel-dir", str(work / "wheel"), source],
                   check=True, capture_output=True, text=True, timeout=600, env=dict(env, CCACHE_BASEDIR=source))
    venv = work / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(venv)], check=True, env=env)
    python = str(venv / "bin" / "python")
    subprocess.run(pip + ["--python", python, "install", "--no-deps", "--no-index",
                          *map(str, (work / "wheel").glob("*.whl"))], check=True, capture_output=True, env=env)
    site = subprocess.run([python, "-c", "import sysconfig; print(sysconfig.get_path('purelib'))"],
                          capture_output=True, text=True, check=True, env=env).stdout.strip()
    return types.SimpleNamespace(archive_names=names, tracked=tracked, venv=venv, python=python,
                                 site=pathlib.Path(site), env=env)


@pytest.fixture
def switch_store(tmp_path, monkeypatch):
    """A private, empty built-in switch-state store: FAB_EMU_DB names a
    fresh file for this test and its children, loaded before the test and
    cleaned up after it."""
    from _helpers import builtin_library  # imports _libfc: only once a test runs

    library = builtin_library("libfabPublic.so")
    path = tmp_path / "fab.db"
    monkeypatch.setenv("FAB_EMU_DB", str(path))
    assert library.DVSLoadConfig() == 0
    yield path
    library.DVSHYP_StateCleanup()


def _as_left(directory):
    """What a test could change about a flow cache directory besides the
    cache in it: its entries, and the mode, owner and identity of the
    directory and of its state file; None once it is gone."""
    try:
        names = sorted(os.listdir(directory))
        stats = [os.lstat(directory), os.lstat(os.path.join(directory, "flowcache.state"))]
    except OSError:
        return None
    return names, [(s.st_dev, s.st_ino, s.st_mode, s.st_uid, s.st_gid) for s in stats]


class _FlowCacheDirectory:
    """The directory the flow_cache fixture hands out, made once and used
    again while every test leaves it as it found it. Making a state file
    reserves its full size (tens of megabytes, zeroed by the kernel), which
    costs a hundred times what emptying it costs. An emptied file still
    holds the flows of the tests before beyond its tables' high-water marks,
    where the library never reads: a test that writes into the file itself
    (marked writes_state_file) may make it read there, and gets a new one."""

    def __init__(self, parent):
        self.parent, self.path, self.left = parent, None, None

    def as_found(self):
        """The directory; a fresh one when a test changed the last (a file
        added, a mode or owner changed, the state file replaced)."""
        if self.path is not None and _as_left(self.path) != self.left:
            self.discard()
        if self.path is None:
            self.path = pathlib.Path(tempfile.mkdtemp(prefix="fcemu-test-", dir=self.parent))
        return self.path

    def emptied(self):
        """Notes how the directory is left once its cache is emptied."""
        self.left = _as_left(self.path)

    def discard(self):
        if self.path is not None:
            shutil.rmtree(self.path, ignore_errors=True)
            self.path = None


@pytest.fixture(scope="session")
def _flow_cache_directory():
    parent = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    with tempfile.TemporaryDirectory(prefix="fcemu-tests-", dir=parent) as session:
        yield _FlowCacheDirectory(session)


@pytest.fixture
def flow_cache(request, monkeypatch, _flow_cache_directory):
    """A private, empty built-in flow cache: FC_EMU_DIR points at a private
    directory (in memory where possible) for this test and its children,
    holding nothing but a state file that fcemu_reset has just emptied."""
    from _helpers import builtin_library

    writes = request.node.get_closest_marker("writes_state_file") is not None
    if writes:
        _flow_cache_directory.discard()
    directory = _flow_cache_directory.as_found()
    monkeypatch.setenv("FC_EMU_DIR", str(directory))
    assert builtin_library("libfc.so").fcemu_reset() == 0
    _flow_cache_directory.emptied()
    yield directory
    if writes:
        _flow_cache_directory.discard()

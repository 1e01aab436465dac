"""Test setup: the modules come from the in-tree build (LIBFC_BUILD_DIR, default build/)."""

import os
import sys

BUILD_DIR = os.environ.get(
    "LIBFC_BUILD_DIR", os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "build")
)
if BUILD_DIR not in sys.path:
    sys.path.insert(0, BUILD_DIR)


import pathlib  # noqa: E402
import tempfile  # noqa: E402

import pytest  # noqa: E402

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
    "test_builtin_fab.py", "test_builtin_fab_state.py", "test_builtin_libfc_safety.py",
    "test_cli_flows.py", "test_cli_dvs.py", "test_cli_conventions.py", "test_cli_metrics.py", "test_cli_top.py",
}
_MATRIX = os.environ.get("LIBFC_PASS") == "matrix"
# The test command's plain pass runs beside the sanitized one, which runs
# every field's and record's test: it samples them as the other interpreters
# do (see _sampled). Plain pytest, outside that command, runs them all.
_SAMPLED = _MATRIX or os.environ.get("LIBFC_PASS") == "plain"


def pytest_configure(config):
    config.addinivalue_line("markers", "python_only: pure-Python behaviour, run in the plain pass only")
    config.addinivalue_line("markers", "plain_only: what the sources compile to, run in the plain pass only")


def pytest_collection_modifyitems(config, items):
    if _SKIP_PLAIN_ONLY:
        skip = pytest.mark.skip(reason="pure-Python or compile-time test: run in the plain pass")
        same = pytest.mark.skip(reason="the same on every interpreter: run in the plain and sanitized passes")
        for item in items:
            if item.get_closest_marker("python_only") or item.get_closest_marker("plain_only"):
                item.add_marker(skip)
            elif _MATRIX and item.path.name in _SAME_ON_EVERY_PYTHON:
                item.add_marker(same)
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


@pytest.fixture
def flow_cache(monkeypatch):
    """A private, empty built-in flow cache: FC_EMU_DIR points at a fresh
    directory (in memory where possible) for this test and its children."""
    parent = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    with tempfile.TemporaryDirectory(prefix="fcemu-test-", dir=parent) as directory:
        monkeypatch.setenv("FC_EMU_DIR", directory)
        from _helpers import builtin_library

        assert builtin_library("libfc.so").fcemu_reset() == 0
        yield pathlib.Path(directory)

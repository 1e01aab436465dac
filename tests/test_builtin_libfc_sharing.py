"""The built-in libfc's state is the host's: shared by processes, kept
across them, and safe under concurrent writers."""

import ctypes
import os
import signal
import subprocess
import sys
import textwrap

import pytest

import _libfc
from _helpers import BUILD_DIR, run_python_ok
from test_builtin_libfc import LIB, EXPR_TIME, cache, get_flows, stats  # noqa: F401  (cache: autouse fixture)

CHILD_PRELUDE = """
import ctypes, os, sys, _libfc
lib = ctypes.CDLL(os.path.join(os.path.dirname(_libfc.__file__), "libfc.so"))
lib.FC_GetFlows.restype = ctypes.c_void_p
lib.FC_IOCGetConfigOption.restype = ctypes.c_uint32
def total():
    return ctypes.c_uint32.from_address(lib.FC_GetFlows(0, 0, 0, 0, None, 0, 0, 0, 0, None, 0)).value
"""


def child(code):
    return run_python_ok(CHILD_PRELUDE + textwrap.dedent(code))


def state_file(directory):
    return directory / "flowcache.state"


def test_processes_share_the_cache_and_it_outlives_them():
    LIB.fcemu_traffic(100, 1)
    LIB.FC_IOCSetConfigOption(EXPR_TIME, 30)
    mine = get_flows().total
    seen = child("print(total(), lib.FC_IOCGetConfigOption(2), lib.fcemu_traffic(50, 2))").stdout.split()
    assert [int(seen[0]), int(seen[1])] == [mine, 30]
    assert get_flows().total == mine + int(seen[2]) > mine
    # A later process finds what the exited one left.
    assert int(child("print(total())").stdout) == mine + int(seen[2])


def test_garbage_in_the_state_never_crashes_a_reader(cache):
    LIB.fcemu_traffic(200, 4)
    with open(state_file(cache), "r+b") as f:
        f.seek(128)
        f.write(os.urandom(1 << 20))
    result = child("""
        for option in range(5):
            lib.FC_IOCGetConfigOption(option)
        for call in ["FC_GetFlowCacheStats", "FC_GetFlowCacheHashStats", "FC_GetInvalTableEntries"]:
            getattr(lib, call)()
        lib.FC_GetFlowCacheEnabled(b"DvsPortset-0", b"33554433")
        before = total()
        print(-1 <= lib.fcemu_traffic(100, 5) <= 100, total() <= 4096, before <= 4096)
    """)
    assert result.stdout.split() == ["True", "True", "True"]


def test_concurrent_writers_lose_no_update():
    code = CHILD_PRELUDE + textwrap.dedent("""
        base = int(sys.argv[1])
        print(sum(lib.fcemu_traffic(25, base + round) for round in range(40)))
    """)
    env = dict(os.environ, PYTHONPATH=BUILD_DIR + os.pathsep + os.environ.get("PYTHONPATH", ""))
    writers = [subprocess.Popen([sys.executable, "-c", code, str(base)], env=env, stdout=subprocess.PIPE, text=True)
               for base in (1000, 2000)]
    installed = [int(w.communicate(timeout=120)[0]) for w in writers]
    assert all(w.returncode == 0 for w in writers)
    s = stats()
    assert s["alloc.fe"] == s["nmisses"] == sum(installed) > 1500
    assert get_flows().total == s["alloc.fe"] - s["free.fe"]



def test_a_process_killed_while_writing_loses_nothing_it_reported_done():
    # The child reports each setting after the call returned; it is killed
    # at an arbitrary point, so at most the one setting in flight is unknown.
    code = textwrap.dedent("""
        import _libfc
        for i in range(1, 10**7):
            _libfc.FC_SetPortProp("DvsPortset-7", str(i % 50), (i // 50) % 4)
            print(i, flush=True)
    """)
    env = dict(os.environ, PYTHONPATH=BUILD_DIR + os.pathsep + os.environ.get("PYTHONPATH", ""))
    proc = subprocess.Popen([sys.executable, "-c", code], env=env, stdout=subprocess.PIPE, text=True)
    last = 0
    try:
        for line in proc.stdout:
            last = int(line)
            if last >= 700:
                break
    finally:
        os.kill(proc.pid, signal.SIGKILL)
        proc.wait(timeout=60)
    rest = proc.stdout.read().split()
    last = int(rest[-1]) if rest else last
    assert last >= 700
    names = ["disabled", "ingress", "egress", "enabled"]
    in_flight = last + 1
    for port in range(50):
        done = max(i for i in range(1, last + 1) if i % 50 == port)
        got = _libfc.FC_GetFlowCacheEnabled("DvsPortset-7", str(port))
        allowed = {names[(done // 50) % 4]}
        if in_flight % 50 == port:
            allowed.add(names[(in_flight // 50) % 4])
        assert got in allowed, "port %d: %s, last reported write %d" % (port, got, done)


def test_thousands_of_abandoned_calls_leave_the_interpreter_healthy():
    message = "injected failure"
    refs = sys.getrefcount(RuntimeError)
    for i in range(3000):
        LIB.fcemu_fail_next(b"FC_IOCGetConfigOption", 1 + i % 100, ctypes.py_object(RuntimeError), message.encode())
        with pytest.raises(RuntimeError) as info:
            _libfc.FC_IOCGetConfigOption(0)
        assert str(info.value) == message
        del info
    assert sys.getrefcount(RuntimeError) == refs
    # Calls made after the jumps return normally and see the same state.
    _libfc.FC_SetPortProp("DvsPortset-3", "9", 1)
    assert _libfc.FC_GetFlowCacheEnabled("DvsPortset-3", "9") == "ingress"
    assert isinstance(_libfc.FC_IOCGetConfigOption(0), int)
    assert ctypes.c_int.in_dll(ctypes.CDLL(_libfc.__file__), "exception_status").value == 0

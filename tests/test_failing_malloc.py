"""Out of memory in the modules' own C allocations (text copies, owned text
fields, output cells, packed copies): a child interpreter runs with an
allocator shim that fails the N-th malloc/calloc after a start signal, for
every N up to past what the call needs (counting only allocations made by
the modules, the libraries and the C++ runtime). The call either succeeds or raises
MemoryError (never another exception, never a crash), and the same call
succeeds once memory is back."""

import os
import subprocess
import sys

import pytest

from _helpers import BUILD_DIR

SHIM = os.path.join(BUILD_DIR, "libfailing_malloc.so")
pytestmark = [
    pytest.mark.skipif(os.environ.get("LIBFC_SANITIZED") == "1", reason="the sanitizer owns the allocator"),
    pytest.mark.skipif(not os.path.exists(SHIM), reason="no allocator shim in this build"),
]

CHILD = r"""
import ctypes, os, sys
sys.path[:0] = [%(build)r, %(tests)r]
import _libfc, _libfc_ptr, _swigtest, libfc
shim = ctypes.CDLL(os.environ["LD_PRELOAD"])
d = _libfc.new_FC_InvalData()
calls = {
    "text copy": lambda: _libfc.DVSHYP_SwitchRemove("x" * 300),
    "owned text field": lambda: _libfc.FC_InvalData_psName_set(d, "portset-" + "n" * 40),
    "output cell": lambda: _libfc_ptr.new_intp(),
    "packed copy": lambda: _swigtest.swigtest_packed(b"\x01\x02\x03" * 50),
    "three text copies": lambda: _libfc.DVSHYP_PortDataClear("s" * 100, "p" * 100, "n" * 100),
}
call = calls[sys.argv[1]]
call()
walked = 0
for n in range(1, 400):
    os.environ["LIBFC_FAIL_MALLOC"] = str(n)
    shim.failing_malloc_start()
    try:
        call()
    except MemoryError:
        pass
    fired = shim.failing_malloc_stop()
    call()  # memory is back: the call works again
    if not fired:
        break
    walked = n
print("walked", walked, "finished", n)
"""

SCENARIOS = ["text copy", "output cell", "packed copy", "three text copies", "owned text field"]


@pytest.mark.parametrize("scenario", SCENARIOS)
def test_failed_allocation_raises_memory_error_and_leaves_the_module_working(scenario):
    tests = os.path.dirname(os.path.abspath(__file__))
    code = CHILD % {"build": BUILD_DIR, "tests": tests}
    # Only the modules' allocations (and the C++ library's, for their
    # containers) count: the interpreter's own around the call never fail.
    env = dict(os.environ, LD_PRELOAD=SHIM, LIBFC_FAIL_MALLOC="0",
               LIBFC_FAIL_MALLOC_FROM="_libfc:_swigtest:libstdc++:libfabPublic")
    proc = subprocess.run([sys.executable, "-c", code, scenario], env=env, capture_output=True, text=True,
                          timeout=120)
    assert proc.returncode == 0, proc.stderr[-3000:]
    words = proc.stdout.split()
    # Each scenario makes at least one allocation of its own, so at least
    # one failure was injected, and the walk ended below the bound.
    assert words[0] == "walked" and int(words[1]) >= 1 and int(words[3]) < 399, proc.stdout

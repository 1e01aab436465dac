"""The bounded fuzz run of the test suite: a fixed number of hostile calls
over every method, with a fixed seed so that a failure replays. The full
campaigns are scripts/fuzz_campaign.sh."""

import os
import subprocess
import sys

import pytest

import _libfc
from _helpers import BUILD_DIR

DRIVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz_methods.py")
CALLS = int(os.environ.get("LIBFC_FUZZ_CALLS", "200000"))


@pytest.mark.parametrize("seed", [17])
def test_hostile_calls_over_every_method_end_cleanly(seed):
    env = dict(os.environ, LIBFC_BUILD_DIR=BUILD_DIR)
    proc = subprocess.run([sys.executable, DRIVER, "--calls", str(CALLS), "--seed", str(seed)],
                          env=env, capture_output=True, text=True, timeout=900)
    tail = (proc.stdout + proc.stderr)[-4000:]
    assert proc.returncode == 0, "replay: python %s --calls %d --seed %d --verbose\n%s" % (DRIVER, CALLS, seed, tail)
    last = proc.stdout.strip().splitlines()[-1]
    words = last.split()
    assert words[0] == "fuzz:" and int(words[1]) >= CALLS and words[4] == "%d," % seed, tail
    assert "memory leak" not in proc.stdout
    # Every method of the module has a plan (swigregister aside), and most
    # calls get past the conversions.
    methods = int(last.split(" methods")[0].split()[-1])
    public = [n for n in dir(_libfc) if callable(getattr(_libfc, n)) and not n.startswith("_")
              and not n.endswith("_swigregister") and n != "SWIG_PyInstanceMethod_New"]
    assert methods == len(public)
    assert "(ok " in last


def test_conversion_oracle_holds_over_random_inputs():
    # The coverage-guided harness's checks, over seeded random inputs (the
    # campaign runs them under atheris).
    harness = os.path.join(os.path.dirname(DRIVER), "fuzz_conversions_atheris.py")
    env = dict(os.environ, LIBFC_BUILD_DIR=BUILD_DIR)
    proc = subprocess.run([sys.executable, harness, "--random", "20000", "3"], env=env, capture_output=True,
                          text=True, timeout=900)
    assert proc.returncode == 0, (proc.stdout + proc.stderr)[-4000:]
    assert proc.stdout.strip().endswith("20000 random inputs, seed 3")

"""The bounded fuzz run of the test suite: a fixed number of hostile calls
over every method, with a fixed seed so that a failure replays. The full
campaigns are scripts/fuzz_campaign.sh."""

import os
import re
import subprocess
import sys

import pytest

import _libfc
from _helpers import BUILD_DIR

# Seeded: the sanitized pass, where a memory fault shows too, makes the calls
# the test command's plain pass would make (the first of its own).
pytestmark = pytest.mark.same_on_every_build
HERE = os.path.dirname(os.path.abspath(__file__))
# The other interpreters' passes run a quarter of the campaign over the
# methods; the sanitized pass and plain pytest run it whole.
SAMPLED = os.environ.get("LIBFC_PASS") == "matrix"
CALLS = int(os.environ.get("LIBFC_FUZZ_CALLS") or (50000 if SAMPLED else 200000))
SEED = 17


def run_harness(name, *args):
    """The last line the harness printed, and the tail of its output."""
    proc = subprocess.run([sys.executable, os.path.join(HERE, name), *args], capture_output=True, text=True,
                          env=dict(os.environ, LIBFC_BUILD_DIR=BUILD_DIR), timeout=900)
    tail = (proc.stdout + proc.stderr)[-4000:]
    assert proc.returncode == 0, "replay: python %s %s --verbose\n%s" % (name, " ".join(args), tail)
    return proc.stdout.strip().splitlines()[-1], tail


def test_hostile_calls_over_every_method_end_cleanly():
    last, tail = run_harness("fuzz_methods.py", "--calls", str(CALLS), "--seed", str(SEED))
    # Most calls get past the conversions ("ok" comes first, the commonest).
    summary = re.match(r"fuzz: (\d+) calls, seed (\d+), (\d+) methods, .*\(ok ", last)
    assert summary and int(summary[1]) >= CALLS and int(summary[2]) == SEED, tail
    assert "memory leak" not in tail
    # Every method of the module has a plan (swigregister aside).
    public = [n for n in dir(_libfc) if callable(getattr(_libfc, n)) and not n.startswith("_")
              and not n.endswith("_swigregister") and n != "SWIG_PyInstanceMethod_New"]
    assert int(summary[3]) == len(public)


def test_hostile_calls_over_the_flow_functions_end_cleanly():
    # The writers, holds and top's functions: a SystemError (a call that ran
    # Python code with an exception set) fails the harness as a crash does.
    last, tail = run_harness("fuzz_fields.py", "--calls", str(CALLS), "--seed", str(SEED))
    assert re.fullmatch(r"fields fuzz: %d calls, seed %d, (\d+) functions" % (CALLS, SEED), last), tail


def test_conversion_oracle_holds_over_random_inputs():
    # The coverage-guided harness's checks, over seeded random inputs (the
    # campaign runs them under atheris).
    last, tail = run_harness("fuzz_conversions_atheris.py", "--random", "20000", "3")
    assert last == "atheris harness: 20000 random inputs, seed 3", tail


def test_records_made_from_data_never_hold_a_forged_pointer():
    # The records harness's checks (from_bytes, from_dict, keyword construction, unpickling, copies).
    last, tail = run_harness("fuzz_records_atheris.py", "--random", "15000", "5")
    assert last == "records harness: 15000 random inputs, seed 5", tail

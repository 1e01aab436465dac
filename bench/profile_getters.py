"""Instructions per getter call under callgrind: the bare function, the
companion attribute, and their yardsticks (the do-nothing function, a
ctypes attribute), each the difference between two loop lengths so the
interpreter's start-up and imports cancel out.

Run through bench/profile_getters.sh (needs valgrind); the callgrind files of
the longer runs stay in build-bench/profile/ for callgrind_annotate."""

import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.abspath(os.environ.get("LIBFC_BENCH_BUILD", os.path.join(HERE, "..", "build-bench")))
OUT = os.path.join(BUILD, "profile")
SHORT, LONG = 10_000, 110_000

SETUP = """
import sys, _libfc, _swigtest, libfc, ctypes_records
noop = _swigtest.swigtest_do_nothing
get = _libfc.hyp_FabPortStatistics_pktsInUnicast_get
bare = _libfc.new_hyp_FabPortStatistics()
comp = libfc.hyp_FabPortStatistics()
ct = ctypes_records.hyp_FabPortStatistics()
"""

CASES = {
    "empty loop": "pass",
    "noop(bare)": "noop(bare)",
    "bare getter": "get(bare)",
    "companion attribute": "comp.pktsInUnicast",
    "ctypes attribute": "ct.pktsInUnicast",
}


# Inside a function the loop's names are locals, so the loop itself costs
# little and the same for every case; "empty loop" measures it.
LOOP = """
def run(loops, noop=noop, get=get, bare=bare, comp=comp, ct=ct):
    for _ in range(loops):
        %s
run(%d)
"""


def instructions(name, stmt, loops):
    script = SETUP + LOOP % (stmt, loops)
    out_file = os.path.join(OUT, "callgrind.%s.%d" % (re.sub(r"\W+", "_", name), loops))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([BUILD, os.path.join(HERE, "peers")]))
    run = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out_file,
                          sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True)
    return int(re.search(r"Collected : (\d+)", run.stderr).group(1)), out_file


def function_costs(out_file):
    """Self instructions per function of one callgrind run."""
    text = subprocess.run(["callgrind_annotate", "--threshold=100", out_file],
                          capture_output=True, text=True, check=True).stdout
    costs = {}
    for line in text.splitlines():
        match = re.match(r"\s*([\d,]+) \(\s*[\d.]+%\)\s+(.*?)(?: \[[^\]]*\])?$", line)
        if match and "PROGRAM TOTALS" not in line:
            # "file:function [object]" -> "function"
            function = re.sub(r"^(\?\?\?|[^:]*\.(c|h|cpp|hpp|inc)):", "", match.group(2))
            costs[function] = costs.get(function, 0) + int(match.group(1).replace(",", ""))
    return costs


def main():
    os.makedirs(OUT, exist_ok=True)
    empty = None
    for name, stmt in CASES.items():
        short, short_file = instructions(name, stmt, SHORT)
        long, long_file = instructions(name, stmt, LONG)
        before, after = function_costs(short_file), function_costs(long_file)
        per_function = {f: (after.get(f, 0) - before.get(f, 0)) / (LONG - SHORT) for f in set(before) | set(after)}
        per_call = (long - short) / (LONG - SHORT)
        if empty is None:
            empty = per_call, per_function
            print("empty loop: %.0f instructions per iteration" % per_call)
            continue
        print("\n%s: %.0f instructions per call (loop excluded)" % (name, per_call - empty[0]))
        spent = sorted((cost - empty[1].get(f, 0), f) for f, cost in per_function.items())
        for cost, function in reversed(spent[-12:]):
            if cost >= 3:
                print("  %6.0f  %s" % (cost, function[:100]))
        sys.stdout.flush()


if __name__ == "__main__":
    main()

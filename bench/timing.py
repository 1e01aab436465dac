"""Best-of-N timing of tight loops, and import time in fresh interpreters.

Each statement runs in a loop sized so one repeat takes about REPEAT_SECONDS;
the fastest repeat is the figure, as it is the one least disturbed by the
other work a shared machine does. Statements compared with each other take
turns, so they are measured over the same stretch of time.

A busy machine still inflates every figure alike (and makes the do-nothing
function's time wander between rows): read the ratios, not the nanoseconds,
and prefer a run on a quiet machine for the record."""

import os
import subprocess
import sys
import timeit

REPEAT_SECONDS = float(os.environ.get("LIBFC_BENCH_SECONDS", "0.2"))
REPEATS = int(os.environ.get("LIBFC_BENCH_REPEATS", "7"))
IMPORT_RUNS = int(os.environ.get("LIBFC_BENCH_IMPORT_RUNS", "15"))


def _loop_size(timer):
    """Runs of the statement that take about REPEAT_SECONDS, and the time of
    the last calibration run, which counts as the first repeat."""
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= REPEAT_SECONDS / 4:
            break
        number *= 10 if elapsed < REPEAT_SECONDS / 100 else 4
    sized = max(1, int(number * REPEAT_SECONDS / elapsed))
    return sized, timer.timeit(sized)


def best_times(stmts, env):
    """Seconds per execution of each statement (name -> code text, run with
    env as globals). The statements take turns, one repeat each per round,
    so a burst of load on the machine reaches all of them alike and the
    ratios between them stay fair."""
    timers, numbers, best = {}, {}, {}
    for name, stmt in stmts.items():
        timers[name] = timeit.Timer(stmt, globals=env)
        numbers[name], first = _loop_size(timers[name])
        best[name] = first
    for _ in range(REPEATS - 1):
        for name, timer in timers.items():
            best[name] = min(best[name], timer.timeit(numbers[name]))
    return {name: best[name] / numbers[name] for name in stmts}


_IMPORT_PROBE = """
import time
start = time.perf_counter()
{statement}
print(time.perf_counter() - start)
"""


def best_import_time(statement, path):
    """Seconds the import statement takes in a fresh interpreter whose module
    path starts with path; the fastest of IMPORT_RUNS processes."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(path))
    # A user's interpreter imports from cached bytecode; compiling the
    # generated companion source on every start would be measured instead.
    env.pop("PYTHONDONTWRITEBYTECODE", None)
    probe = _IMPORT_PROBE.format(statement=statement)
    runs = []
    for _ in range(IMPORT_RUNS):
        out = subprocess.run([sys.executable, "-c", probe], env=env, check=True, capture_output=True, text=True)
        runs.append(float(out.stdout.strip().splitlines()[-1]))
    return min(runs)

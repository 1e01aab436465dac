"""Kills writers of the built-in flow cache at random points and checks what
they leave behind.

Each round starts a child process that changes the cache in a loop
(installing traffic, removing flows, invalidating ports and tables), kills
it with SIGKILL after a random delay, then checks the state from this
process: the next user of the state must find it consistent (repairing
what an interrupted change left), and the history counters must not have
gone backwards.

    python scripts/crash_campaign.py --rounds 200 [--seed S] [--build build]
"""

import argparse
import ctypes
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

TABLES, ENTRIES = 4, 512
# The traffic's switch ports (portset-0 .. switch0, eight each).
PORTS = [base + port for base in (0x2000000, 0x4000000, 0x6000000) for port in range(1, 9)]

WRITER = r"""
import ctypes, os, random, sys
sys.path.insert(0, sys.argv[1])
import _libfc
lib = ctypes.CDLL(os.path.join(os.path.dirname(_libfc.__file__), "libfc.so"))
rng = random.Random(int(sys.argv[2]))
ports = [int(p) for p in sys.argv[3].split(",")]
print("ready", flush=True)
while True:
    choice = rng.randrange(10)
    if choice < 6:
        lib.fcemu_traffic(rng.randrange(100, 1500), rng.randrange(64))
    elif choice < 8:
        lib.FC_RemoveFlows(0, 0, 0, rng.choice(ports), None, 0, 0, 0, 0, None, 0)
    elif choice < 9:
        lib.FC_InvalidateFCFlowEntry(rng.choice(ports), 2)
    else:
        lib.FC_RemoveFlows(0, 0, 0, 0, None, 0, 0, 0, 0, None, rng.randrange(1, %d))
""" % (TABLES + 1)

HISTORY = ["lookup.nhits", "lookup.nmisses", "lookup.alloc.fe", "lookup.free.fe", "lookup.alloc.actionEntity",
           "lookup.free.actionEntity", "lookup.alloc.fe_fail"]


def _library(build):
    if build not in sys.path:
        sys.path.insert(0, build)
    import _libfc
    import libfc  # noqa: F401  (the record classes of the results)
    from libfc import _emulator
    return _libfc, _emulator.controls(_emulator.FLOW_CACHE)


def _history(_libfc):
    stats = _libfc.FC_GetFlowCacheStats()
    values = {}
    for path in HISTORY:
        value = stats
        for part in path.split("."):
            value = getattr(value, part)
        values[path] = value
    return values


def campaign(rounds, seed, build, directory, longest_delay=0.25, log=None):
    """Runs the rounds in the state directory given; returns a summary."""
    _libfc, lib = _library(build)
    os.environ["FC_EMU_DIR"] = directory
    assert lib.fcemu_reset_sized(TABLES, ENTRIES) == 0
    rng = random.Random(seed)
    report = ctypes.create_string_buffer(1 << 16)
    summary = {"rounds": 0, "repaired": 0, "inconsistent": 0, "backwards": 0, "failures": []}
    before = _history(_libfc)
    repairs = 0
    for round_number in range(rounds):
        child = subprocess.Popen([sys.executable, "-c", WRITER, build, str(rng.randrange(1 << 30)),
                                  ",".join(map(str, PORTS))],
                                 stdout=subprocess.PIPE, env=dict(os.environ, FC_EMU_DIR=directory))
        child.stdout.readline()
        time.sleep(rng.uniform(0.0, longest_delay))
        child.send_signal(signal.SIGKILL)
        child.wait()
        child.stdout.close()
        problems = lib.fcemu_check(report, len(report))
        text = report.value.decode()
        summary["rounds"] += 1
        if problems != 0:
            summary["inconsistent"] += 1
            summary["failures"].append("round %d: %s" % (round_number, text))
        now_repairs = int(text.split(";")[-1].split()[0]) if problems == 0 else repairs
        summary["repaired"] += now_repairs > repairs
        repairs = now_repairs
        after = _history(_libfc)
        went_back = [name for name in HISTORY if after[name] < before[name]]
        if went_back:
            summary["backwards"] += 1
            summary["failures"].append("round %d: went backwards: %s" % (round_number, ", ".join(went_back)))
        before = after
        if log:
            log("round %d: %s" % (round_number, text.splitlines()[0] if text else problems))
    return summary


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rounds", type=int, default=200)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--build", default=os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                                        "build"))
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    parent = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    with tempfile.TemporaryDirectory(prefix="fcemu-crash-", dir=parent) as directory:
        started = time.monotonic()
        summary = campaign(args.rounds, seed, os.path.abspath(args.build), directory,
                           log=print if args.verbose else None)
    for failure in summary["failures"]:
        print(failure)
    print("seed %d: %d rounds in %.0f s; %d killed in the middle of a change and repaired; "
          "%d inconsistent after repair; %d with history counters gone backwards"
          % (seed, summary["rounds"], time.monotonic() - started, summary["repaired"], summary["inconsistent"],
             summary["backwards"]))
    return 1 if summary["failures"] else 0


if __name__ == "__main__":
    sys.exit(main())

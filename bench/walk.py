"""Walking the whole flow cache: flows per second and peak resident memory
of `libfc.flows()` fully consumed, next to the same walk making the
library's queries only (nothing decoded) and the walk a ctypes expert would
write over the same library, for caches of 100,000 and 1,000,000 flows; each
view the command line gives of the cache (listings, JSON lines, snapshots,
top, diff) as a ratio to a package walk made just before it; and how long
`libfc flows --limit 10` takes.

Every reader runs in a fresh process, so its peak resident memory is its own.
The cache is the built-in library's, in a temporary state directory, filled
anew for each of some rounds; each row shows its median over the rounds.

    python bench/walk.py [--flows 100000 1000000] [--rounds 3]
"""

import argparse
import ctypes
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def _library():
    from libfc import _emulator

    return _emulator.controls(_emulator.FLOW_CACHE)


def fill(flows):
    """A fresh cache holding about `flows` flows (a third of the tables'
    room left free, so few flows miss a full table)."""
    lib = _library()
    from libfc._emulator import MAX_ENTRIES, MAX_TABLES

    tables = min(MAX_TABLES, max(1, -(-3 * flows // (2 * MAX_ENTRIES))))
    if lib.fcemu_reset_sized(tables, MAX_ENTRIES) != 0:
        raise SystemExit("cannot size the cache to %d tables" % tables)
    seed, installed = 1, 0
    while installed < flows and seed < 200:
        count = min(flows - installed, 50000)  # the most one call installs is 65536
        added = lib.fcemu_traffic(count, seed)
        if added < 0:
            raise SystemExit("cannot install traffic")
        installed += added
        seed += 1
    return installed


# --- readers, each run in a child process --------------------------------

def read_package():
    import libfc

    count = 0
    for _ in libfc.flows():
        count += 1
    return count


def read_queries():
    """The package's walk with every answer left undecoded: the queries it
    makes and the key values it reads to split, and nothing else, so what
    libfc.flows() takes beyond this is the decoding."""
    from libfc import _flow, _walk

    walk = _walk.Walk(decode=lambda answer, now_ms: [], keys=_flow.answer_keys)
    for _ in walk:
        pass
    return walk.total


def read_ctypes():
    """The expert's walk: FC_GetFlows through ctypes, entries laid over the
    buffer as ctypes structures, the same split of the cache into parts."""
    sys.path.insert(0, os.path.join(HERE, "peers"))
    sys.path.insert(0, HERE)
    import collections

    import _libfc
    import ctypes_records
    from flow_dump import ctypes_expert
    from libfc import _walk

    lib = _library()
    lib.FC_GetFlows.restype = ctypes.c_void_p
    lib.FC_GetFlows.argtypes = [ctypes.c_uint32, ctypes.c_uint32, ctypes.c_uint8, ctypes.c_uint32,
                                ctypes.c_char_p, ctypes.c_uint32, ctypes.c_uint32, ctypes.c_uint32,
                                ctypes.c_uint32, ctypes.c_char_p, ctypes.c_uint32]
    lib.FC_GetFlowCacheHashStats.restype = ctypes.POINTER(ctypes.c_uint16)
    Row = collections.namedtuple("Row", "id port vni smac dmac ether vlan proto src dst packets since "
                                        "expires created gen table entities ipv6")

    class Answer:
        __slots__ = ("address", "totalEntries", "numEntries")

        def __len__(self):
            return self.numEntries

    def query(*arguments):
        address = lib.FC_GetFlows(*arguments)
        answer = Answer()
        answer.address = address
        header = ctypes_records.FC_IOCFlowsHeader.from_address(address)
        answer.totalEntries, answer.numEntries = header.totalEntries, header.numEntries
        return answer

    def decode(answer, now):
        return [Row(*row, ":" in row[8]) for row in ctypes_expert(answer.address)]

    def keys(answer):
        # (port, proto, vlan, ipv6) of each entry, as _walk.KEY_ATTRIBUTES orders them.
        entries = (ctypes_records.FC_FlowEntryIOC * answer.numEntries).from_address(
            answer.address + ctypes.sizeof(ctypes_records.FC_IOCFlowsHeader))
        v6 = _libfc.FC_FLOWKEY_IPV6
        return [(e.fkey.portID, e.fkey.proto, e.fkey.l2Key.vlanid, 1 if e.fkey.flags & v6 else 0) for e in entries]

    tables = lambda: range(1, lib.FC_GetFlowCacheHashStats()[0] + 1)  # noqa: E731
    count = 0
    for _ in _walk.Walk(query=query, tables=tables, decode=decode, keys=keys):
        count += 1
    return count


READERS = {"query only": read_queries, "libfc.flows()": read_package, "ctypes expert": read_ctypes}

# The command lines timed against the package's walk of the same run, each
# the whole process (interpreter start included), its output thrown away;
# SNAPSHOT is the file the --save row writes.
COMMANDS = [
    ("libfc flows (table)", ["flows"]),
    ("libfc flows --json-lines", ["flows", "--json-lines"]),
    ("libfc flows --json", ["flows", "--json"]),
    ("libfc flows --json --pretty", ["flows", "--json", "--pretty"]),
    ("libfc flows --save FILE", ["flows", "--save", "SNAPSHOT"]),
    ("libfc flows --top 10 --sort packets", ["flows", "--top", "10", "--sort", "packets"]),
    ("libfc flows --sort packets", ["flows", "--sort", "packets"]),
    ("libfc flows --json --limit 500000", ["flows", "--json", "--limit", "500000"]),
    ("libfc top --once", ["top", "--once"]),
    # The same frame without the wait between its reads (2 s by default,
    # counted from the start of the first): what top itself costs.
    ("libfc top --once --interval 0.05", ["top", "--once", "--interval", "0.05"]),
    ("libfc top --once --group-by dst", ["top", "--once", "--group-by", "dst"]),
    ("libfc flows --from SNAPSHOT", ["flows", "--from", "SNAPSHOT"]),
    ("libfc flows --from SNAPSHOT --json-lines", ["flows", "--from", "SNAPSHOT", "--json-lines"]),
    ("libfc flows --from SNAPSHOT --limit 10", ["flows", "--from", "SNAPSHOT", "--limit", "10"]),
    ("libfc flows --from SNAPSHOT --limit 500000", ["flows", "--from", "SNAPSHOT", "--limit", "500000"]),
    ("libfc flows --from SNAPSHOT --proto 17", ["flows", "--from", "SNAPSHOT", "--proto", "17"]),
    ("libfc flows --from SNAPSHOT --sort age", ["flows", "--from", "SNAPSHOT", "--sort", "age"]),
    ("libfc top --once --file SNAPSHOT", ["top", "--once", "--file", "SNAPSHOT"]),
    ("libfc diff SNAPSHOT live", ["diff", "SNAPSHOT", "live"]),
    # A listing of --watch with its flows' rates (one listing, not the process).
    ("libfc flows --watch, a listing", ["flows", "--watch"]),
    ("libfc flows --watch --json-lines, a listing", ["flows", "--watch", "--json-lines"]),
]


def _child(name):
    started = time.perf_counter()
    count = READERS[name]()
    print("%d %.6f %.1f" % (count, time.perf_counter() - started, own_peak_mb()))


# A child's peak resident memory is its own only as its /proc/self/status
# reads it at exit (VmHWM): getrusage's maxrss keeps the high-water mark of
# the process it was forked from too, and this one has the whole cache mapped.
def own_peak_mb():
    with open("/proc/self/status") as status:
        return int(next(line for line in status if line.startswith("VmHWM:")).split()[1]) / 1024


# `python -m libfc ARGS` that writes its own peak (MB) to the file named first.
_COMMAND = """import atexit, runpy, sys
from walk import own_peak_mb
path = sys.argv.pop(1)
atexit.register(lambda: open(path, "w").write("%.1f" % own_peak_mb()))
sys.argv[0] = "libfc"
runpy.run_module("libfc", run_name="__main__", alter_sys=True)
"""


def measure_command(arguments, env):
    """(seconds, processor seconds, peak resident MB) of one `libfc` command
    line in its own process, standard output to /dev/null as a redirected
    listing has it."""
    with tempfile.NamedTemporaryFile("r") as peak:
        started = time.perf_counter()
        process = subprocess.Popen([sys.executable, "-c", _COMMAND, peak.name] + arguments,
                                   env=dict(env, PYTHONPATH=os.pathsep.join(filter(None, [HERE, env.get("PYTHONPATH")]))),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            raise SystemExit("libfc %s failed with status %d" % (" ".join(arguments), os.waitstatus_to_exitcode(status)))
        return time.perf_counter() - started, usage.ru_utime + usage.ru_stime, float(peak.read())


# `python -m libfc flows --watch 0.01 ARGS` that stops at its third wait,
# writing to the file named first the seconds of its second and third
# listings (each with its flows' rates) and its own peak (MB).
_WATCH = """import sys, time
from walk import own_peak_mb
path = sys.argv.pop(1)
marks = []
def sleep(seconds):
    marks.append(time.perf_counter())
    if len(marks) == 3:
        open(path, "w").write("%.6f %.6f %.1f" % (marks[1] - marks[0], marks[2] - marks[1], own_peak_mb()))
        raise SystemExit(0)
time.sleep = sleep
sys.argv[0:1] = ["libfc", "flows", "--watch", "0.01"]
from libfc.cli import main
main(sys.argv[1:])
"""


def measure_watch(arguments, env):
    """(seconds, processor seconds, peak resident MB) of one listing of
    `libfc flows --watch` (the slower of its second and third; processor
    time not told apart from the rest of the process: nan)."""
    with tempfile.NamedTemporaryFile("r") as marks:
        process = subprocess.run([sys.executable, "-c", _WATCH, marks.name] + arguments[2:],
                                 env=dict(env, PYTHONPATH=os.pathsep.join(filter(None, [HERE, env.get("PYTHONPATH")]))),
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if process.returncode != 0:
            raise SystemExit("libfc %s failed with status %d" % (" ".join(arguments), process.returncode))
        second, third, peak = map(float, marks.read().split())
        return max(second, third), float("nan"), peak


def measure(name, env, argv=None):
    """(flows, seconds, processor seconds, peak resident MB) of one reader
    in its own process (the processor time is the whole process's)."""
    argv = argv or [sys.executable, __file__, "--child", name]
    process = subprocess.Popen(argv, env=env, stdout=subprocess.PIPE, text=True)
    output = process.stdout.read()
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        raise SystemExit("%s failed with status %d" % (name, process.returncode))
    count, seconds, peak = output.split()
    return int(count), float(seconds), usage.ru_utime + usage.ru_stime, float(peak)


def _median(runs):
    """The run of the median seconds (each run's seconds at index 1)."""
    return sorted(runs, key=lambda run: run[1])[len(runs) // 2]


def _round(flows, state, env, args):
    """One round on a fresh cache: (flows installed, {reader: (count,
    seconds, processor seconds, peak MB)}, {command: (seconds, processor
    seconds, peak MB)}). The built-in cache's flows expire after a few
    minutes: each round fills it anew, with the same flows."""
    started = time.perf_counter()
    installed = fill(flows)
    # Every reader maps the state file: the pages it touches count in its resident memory.
    mapped = sum(os.path.getsize(os.path.join(state, name)) for name in os.listdir(state)) / 2 ** 20
    print("# %d flows installed in %.1f s; state file %.0f MB" % (installed, time.perf_counter() - started, mapped))
    readers = {}
    for name in READERS if not args.commands else ["libfc.flows()"]:
        if name != "ctypes expert" or args.ctypes_round:
            readers[name] = measure(name, env)
    snapshot = os.path.join(state, "snapshot.jsonl.gz")
    commands = {}
    for name, arguments in COMMANDS:
        if args.commands and "--save" not in arguments and not any(word in name for word in args.commands):
            continue
        # Each command right after a walk of its own: a shared host speeds
        # up and slows down within a round, and the pair sees the same host.
        _, walk_seconds, walk_cpu, _ = measure("libfc.flows()", env)
        measured = measure_watch if "--watch" in arguments else measure_command
        seconds, used, peak = measured([snapshot if a == "SNAPSHOT" else a for a in arguments], env)
        commands[name] = (seconds, used, peak, seconds / walk_seconds, used / walk_cpu)
    return installed, readers, commands


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--flows", type=int, nargs="+", default=[100000, 1000000])
    parser.add_argument("--rounds", type=int, default=3,
                        help="rounds of every reader and command, each on a fresh cache; medians are shown")
    parser.add_argument("--child", choices=READERS, help=argparse.SUPPRESS)
    parser.add_argument("--commands", nargs="+", metavar="WORD",
                        help="only the package's walk and the command rows naming one of the words (the --save "
                             "row always: the others read its file)")
    args = parser.parse_args()
    if args.child:
        _child(args.child)
        return
    with tempfile.TemporaryDirectory(prefix="libfc-walk-") as state:
        os.chmod(state, 0o700)
        env = dict(os.environ, FC_EMU_DIR=state)
        # The readers start with bytecode caching on, as a user's do: the
        # command line's modules are then not compiled again for each run.
        env.pop("PYTHONDONTWRITEBYTECODE", None)
        os.environ["FC_EMU_DIR"] = state
        for flows in args.flows:
            # On a shared host one run moves by a fifth from the next: every
            # reader and command runs once a round, and each row shows its
            # median over the rounds (the ctypes walk, ten times as long,
            # runs in the first round only).
            rounds = []
            for turn in range(args.rounds):
                args.ctypes_round = turn == 0
                rounds.append(_round(flows, state, env, args))
            installed = rounds[-1][0]
            print("%-10s %-26s %12s %10s %10s" % ("cache", "reader", "flows/s", "seconds", "peak MB"))
            rates, took, cpu = {}, {}, {}
            for name in rounds[0][1]:
                count, seconds, cpu[name], peak = _median([readers[name] for _, readers, _ in rounds
                                                           if name in readers])
                rates[name], took[name] = count / seconds, seconds
                print("%-10d %-26s %12.0f %10.2f %10.0f" % (installed, name, rates[name], seconds, peak))
            if not args.commands:
                print("%-10d %-26s %12.2f x" % (installed, "libfc.flows() / ctypes",
                                              rates["libfc.flows()"] / rates["ctypes expert"]))
                pairs = [readers["libfc.flows()"][1] / readers["query only"][1] for _, readers, _ in rounds]
                print("%-10d %-26s %12.2f x  (seconds, medians; %s by round; target 1.5)" % (
                    installed, "libfc.flows() / query only", took["libfc.flows()"] / took["query only"],
                    ", ".join("%.2f" % pair for pair in pairs)))
            # On a shared host the processor time of a process moves less with
            # the load than its seconds do: both ratios are printed.
            walk_cpu = cpu["libfc.flows()"]
            print("# package walk (median of %d rounds): %.2f s, %.2f processor s (its whole process)" % (
                len(rounds), took["libfc.flows()"], walk_cpu))
            print("# each command's ratios are to a walk made just before it, their median over the rounds")
            print("%-10s %-40s %8s %8s %8s %8s %8s  %s" % ("cache", "command", "seconds", "x walk", "cpu s", "x walk",
                                                         "peak MB", "x walk by round"))
            for name in rounds[0][2]:
                runs = [commands[name] for _, _, commands in rounds]
                seconds, used, peak, _, _ = sorted(runs, key=lambda run: run[0])[len(runs) // 2]
                # Ratios to the walk made just before each run, their median.
                ratio = sorted(run[3] for run in runs)[len(runs) // 2]
                cpu_ratio = sorted(run[4] for run in runs)[len(runs) // 2]
                by_round = ", ".join("%.2f" % run[3] for run in runs)
                print("%-10d %-40s %8.2f %8.2f %8.2f %8.2f %8.0f  %s" % (
                    installed, name, seconds, ratio, used, cpu_ratio, peak, by_round))
            if args.commands:
                continue
            times = []
            for _ in range(3):
                started = time.perf_counter()
                subprocess.run([sys.executable, "-m", "libfc", "flows", "--limit", "10"], env=env, check=True,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                times.append(time.perf_counter() - started)
            print("%-10d %-26s %12s %10.2f  (fastest of 3, interpreter start included)" % (
                installed, "libfc flows --limit 10", "", min(times)))


if __name__ == "__main__":
    main()

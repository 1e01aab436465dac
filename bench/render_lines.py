"""The C text writer's cost per line: processor nanoseconds per flow of
each form it writes (JSON lines as the listing and a snapshot write them,
the listing's cells and its finished lines, a diff's records), over the
query answers of a whole-cache walk and over compact copies of them.

Only the writer is timed: the walk queries as the package does, and at each
answer the writer renders it once untimed and then some times over, the
fastest call's thread time counted. Flows expire a few minutes after the
fill, so each run fills a fresh cache in a state directory of its own.

    python bench/render_lines.py [--flows 1000000] [--repeat 3] [--state DIR] [--forms WORD...]
                                 [--against BUILD [--rounds 3]]
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def forms():
    """name -> the writer's call of one page (answer, now_ms, rest)."""
    from libfc._flow import TEXT_WRITER as writer
    from libfc.cli import _output
    from libfc.cli.flows import COLUMNS, JSON_LINE_START

    # The listing once its widths are fixed at their headers': the first
    # rows widen them in place, as a table's first page would.
    layout = (tuple(range(len(COLUMNS))), [len(c.name) for c in COLUMNS], tuple(c.numeric for c in COLUMNS),
              tuple(c.shrink for c in COLUMNS), 0, _output.ELLIPSIS)
    return {
        "json lines (str)": lambda *page: writer.json_lines(*page, JSON_LINE_START),
        "json lines (bytes)": lambda *page: writer.json_lines(*page, b"{"),
        "table cells": writer.table_cells,
        "table lines": lambda *page: writer.table_lines(*page, layout),
        "diff records": writer.seen,
    }


def run(repeat, chosen):
    """{(form, over): (flows, thread seconds, bytes)} of a walk of the cache."""
    from _libfc_fields import answer_copy
    from libfc import _flow, _walk

    written = {name: write for name, write in forms().items() if not chosen or any(word in name for word in chosen)}
    sums = {}

    def render(answer, now_ms):
        now_ms = now_ms if now_ms is not None else int(time.time() * 1000)
        copy = answer_copy(_flow._decode_rows, answer, (), False)
        for over, page in (("answer", answer), ("copy", copy)):
            for name, write in written.items():
                # Once untimed: the first read of a query's answer, whose
                # entries lie 66 KB apart, misses the caches whatever writes.
                write(page, now_ms, ())
                # The fastest of the renders: on a shared host the others
                # count what another process took of the caches.
                fastest = float("inf")
                for _ in range(repeat):
                    started = time.thread_time()
                    count, text = write(page, now_ms, ())
                    fastest = min(fastest, time.thread_time() - started)
                flows, seconds, size = sums.get((name, over), (0, 0.0, 0))
                size += len(text) if isinstance(text, (str, bytes)) else 0  # a listing's cells: a list
                sums[name, over] = flows + count, seconds + fastest, size
        return []

    for _ in _walk.Walk(decode=render, keys=_flow.answer_keys):
        pass
    return sums


def _child(args):
    """A run in this process, its sums printed as JSON for the parent."""
    sums = run(args.repeat, args.forms)
    print(json.dumps([[name, over, flows, seconds, size] for (name, over), (flows, seconds, size) in sums.items()]))


def measure(build, args, env):
    """The sums of a run in a child process whose modules are build's."""
    argv = [sys.executable, os.path.abspath(__file__), "--child", "--repeat", str(args.repeat)]
    argv += ["--forms"] + args.forms if args.forms else []
    output = subprocess.run(argv, env=dict(env, PYTHONPATH=build), stdout=subprocess.PIPE, check=True, text=True).stdout
    return {(name, over): (flows, seconds, size) for name, over, flows, seconds, size in json.loads(output)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--flows", type=int, default=1000000)
    parser.add_argument("--repeat", type=int, default=3, help="renders of each answer in each form")
    parser.add_argument("--state", help="the cache's state directory (default: a temporary one)")
    parser.add_argument("--forms", nargs="+", metavar="WORD", help="only the forms naming one of the words")
    parser.add_argument("--against", metavar="BUILD",
                        help="another build directory, run in turn with this one's (PYTHONPATH) on the same cache; "
                             "each form's ns/line is then the median of the rounds, with its ratio to BUILD's")
    parser.add_argument("--rounds", type=int, default=3, help="rounds of the two builds with --against")
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        return _child(args)
    with tempfile.TemporaryDirectory(prefix="libfc-render-") as scratch:
        state = args.state or scratch
        os.makedirs(state, mode=0o700, exist_ok=True)
        os.environ["FC_EMU_DIR"] = state
        sys.path.insert(0, HERE)
        from walk import fill

        started = time.perf_counter()
        installed = fill(args.flows)
        print("# %d flows installed in %.1f s" % (installed, time.perf_counter() - started))
        if not args.against:
            runs = {"": [run(args.repeat, args.forms)]}
        else:
            # The two builds in turn, so that a slow spell of the host
            # falls on both; the flows expire some minutes after the fill.
            own = os.environ.get("PYTHONPATH", "")
            runs = {args.against: [], own: []}
            for _ in range(args.rounds):
                for build in runs:
                    runs[build].append(measure(build, args, os.environ))
    per_line = {build: {form: statistics.median(1e9 * sums[form][1] / max(sums[form][0], 1) for sums in rounds)
                        for form in rounds[0]} for build, rounds in runs.items()}
    ours, sums = per_line[list(runs)[-1]], list(runs.values())[-1][0]
    print("%-20s %-7s %10s %12s %10s%s" % ("form", "over", "ns/line", "bytes/line", "flows",
                                         "  %10s %8s" % ("against", "ratio") if args.against else ""))
    for (name, over), (flows, _, size) in sums.items():
        against = per_line[args.against][name, over] if args.against else None
        print("%-20s %-7s %10.0f %12.1f %10d%s" % (
            name, over, ours[name, over], size / max(flows, 1), flows,
            "  %10.0f %8.2f" % (against, ours[name, over] / against) if against else ""))


if __name__ == "__main__":
    main()

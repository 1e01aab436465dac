"""``stats`` shows the flow cache's counter tree (FC_GetFlowCacheStats):
non-zero counters by default, every counter with --all, JSON (every
counter, zeros too, under snake_case names) with --json, or the metric
families of the exporter in the Prometheus text format with --prometheus
(--prometheus-file writes them to a file, replacing it whole, or to a
device or pipe).

With --interval S it reads the counters every S seconds, as vmstat does:
first every counter since the cache was reset, then each counter's rate
per second since the read before."""

import sys

from .. import _cache, _metrics
from . import _output, _replace, _values, _watch
from ._library import bad_input, need_client

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any, Callable, Dict, Optional, TextIO

    _Subparsers = argparse._SubParsersAction[Any]


def _non_zero(tree):
    kept = {}
    for name, value in tree.items():
        if isinstance(value, dict):
            value = _non_zero(value)
            if value:
                kept[name] = value
        elif value:
            kept[name] = value
    return kept


def snake_tree(tree: "Dict[str, Any]") -> "Dict[str, Any]":
    """The counter tree under the names JSON uses: the record fields'
    camelCase spelt in snake_case."""
    return {_output.snake_case(name): snake_tree(value) if isinstance(value, dict) else value
            for name, value in tree.items()}


def nested(counters: "Dict[str, Any]") -> "Dict[str, Any]":
    """A counter tree in JSON's names from counters by dotted path."""
    tree = {}
    for path, value in counters.items():
        *blocks, name = [_output.snake_case(part) for part in path.split(".")]
        level = tree
        for block in blocks:
            level = level.setdefault(block, {})
        level[name] = value
    return tree


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("stats", help="flow cache counters",
                                   description="Show the flow cache's counters (non-zero ones unless --all); "
                                               "with --interval, their rates per second.")
    parser.add_argument("--all", action="store_true", help="include counters that are zero in the text")
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="print the whole counter tree as JSON")
    _output.add_pretty(parser)
    form.add_argument("--json-lines", action="store_true",
                      help="print one compact JSON object per read (with --interval)")
    form.add_argument("--prometheus", action="store_true",
                      help="print the exporter's metric families in the Prometheus text format")
    form.add_argument("--prometheus-file", metavar="PATH",
                      help="write the metric families to PATH: a regular file through a temporary file renamed "
                           "over it (a failure leaves PATH as it was), for a node exporter's textfile collector; "
                           "a device or pipe (/dev/stdout) written through")
    parser.add_argument("--interval", type=_watch.seconds, metavar="S",
                        help="read every S seconds: the counters since reset, then rates per second "
                             "(--prometheus-file: rewrite the file every S seconds)")
    parser.add_argument("--count", type=_values.positive, metavar="N",
                        help="with --interval: stop after N reads (default: until Ctrl-C)")
    parser.set_defaults(handler=show)


def show(args: "argparse.Namespace") -> int:
    if args.interval is None and (args.count is not None or args.json_lines):
        raise bad_input("%s needs --interval" % ("--count" if args.count is not None else "--json-lines"))
    if args.prometheus or args.prometheus_file is not None:
        need_client("--prometheus" if args.prometheus else "--prometheus-file")
    if args.interval is not None:
        if args.json:
            raise bad_input("--interval writes one JSON object per read: use --json-lines")
        return watch(args, sys.stdout)
    if args.prometheus_file is not None:
        write_metrics_file(args.prometheus_file, _metrics.exposition(_metrics.families(_metrics.read())))
        return 0
    if args.prometheus:
        sys.stdout.write(_metrics.exposition(_metrics.families(_metrics.read())))
        return 0
    tree = _cache.stats()
    if args.json:
        _output.emit_json({"counters": snake_tree(tree)}, args)
        return 0
    shown = snake_tree(tree if args.all else _non_zero(tree))
    if not shown:
        _output.footer("every counter is zero")
        return 0
    _print_tree(shown)
    return 0


def _print_tree(tree, depth=0):
    width = max(len(name) for name in tree) + 2
    for name, value in tree.items():
        if isinstance(value, dict):
            print("%s%s" % ("  " * depth, name))
            _print_tree(value, depth + 1)
        else:
            print("%s%s%d" % ("  " * depth, name.ljust(width), value))


def write_metrics_file(path: str, text: str) -> None:
    """Replaces the file at `path` by `text` in one step, or writes `text`
    through when `path` leads to a device or pipe."""
    with _replace.replacing(path) as name:
        with open(name, "w", encoding="utf-8") as out:
            out.write(text)


def _rate_text(value):
    return "%.1f" % value if value < 1000 else "%.0f" % value


def watch(args: "argparse.Namespace", out: "TextIO", clock: "Optional[Callable[[], float]]" = None,
          sleep: "Optional[Callable[[float], None]]" = None, wall: "Optional[Callable[[], float]]" = None) -> int:
    """The --interval loop; `clock`, `sleep` and `wall` (the time stamps of
    the JSON lines) replace the real ones in tests."""
    import time

    prometheus = args.prometheus or args.prometheus_file is not None
    read = _metrics.read if prometheus else (lambda: {"counters": dict(_metrics.leaves(_cache.stats()))})
    wall = wall or time.time
    previous = None
    for reading, elapsed in _watch.samples(read, args.interval, args.count, clock=clock or time.monotonic,
                                           sleep=sleep or time.sleep):
        counters = reading["counters"]
        values = counters if elapsed is None else _watch.rates(previous, counters, elapsed)
        previous = counters
        if args.prometheus_file is not None:
            write_metrics_file(args.prometheus_file, _metrics.exposition(_metrics.families(reading)))
            continue
        if args.prometheus:
            found = _metrics.families(reading) if elapsed is None else _metrics.rate_families(values)
            out.write(("" if elapsed is None else "\n") + _metrics.exposition(found))
        elif args.json_lines:
            key = "counters" if elapsed is None else "rates"
            _output.json_line({"time": round(wall(), 3), "interval_s": None if elapsed is None else round(elapsed, 6),
                               key: nested(values)}, out)
        else:
            _print_sample(out, values, elapsed, args.all)
        out.flush()
    return 0


def _print_sample(out, values, elapsed, everything):
    if elapsed is None:
        title, cell = "since reset", str
    else:
        title, cell = "per second over %.2f s" % elapsed, _rate_text
    rows = [(".".join(map(_output.snake_case, path.split("."))), cell(value)) for path, value in values.items()
            if everything or value]
    if elapsed is not None:
        out.write("\n")
    if not rows:
        out.write("%s: every counter %s\n" % (title, "is zero" if elapsed is None else "unchanged"))
        return
    out.write("%s:\n" % title)
    width = max(len(name) for name, _ in rows)
    number = max(len(text) for _, text in rows)
    for name, text in rows:
        out.write("  %s  %s\n" % (name.ljust(width), text.rjust(number)))

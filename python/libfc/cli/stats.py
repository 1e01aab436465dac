"""``stats`` shows the flow cache's counter tree (FC_GetFlowCacheStats):
non-zero counters by default, every counter with --all, JSON (every
counter, zeros too, under snake_case names) with --json, or the Prometheus
text exposition format with --prometheus."""

from .. import _cache
from . import _output

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any, Dict, Tuple

    _Subparsers = argparse._SubParsersAction[Any]


def groups(tree, path=()):
    """(path, {counter: value}) for every block that holds counters itself,
    parents before their nested blocks."""
    counters = {name: value for name, value in tree.items() if isinstance(value, int)}
    if counters:
        yield path, counters
    for name, value in tree.items():
        if isinstance(value, dict):
            yield from groups(value, path + (name,))


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


def snake_tree(tree):
    """The counter tree under the names JSON uses: the record fields'
    camelCase spelt in snake_case."""
    return {_output.snake_case(name): snake_tree(value) if isinstance(value, dict) else value
            for name, value in tree.items()}


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("stats", help="flow cache counters",
                                   description="Show the flow cache's counters (non-zero ones unless --all).")
    parser.add_argument("--all", action="store_true", help="include counters that are zero in the text")
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="print the whole counter tree as JSON")
    _output.add_pretty(parser)
    form.add_argument("--prometheus", action="store_true",
                      help="print every counter in the Prometheus text format (for a textfile collector)")
    parser.set_defaults(handler=show)


def show(args: "argparse.Namespace") -> int:
    tree = _cache.stats()
    if args.prometheus:
        print(prometheus_text(tree), end="")
        return 0
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


METRIC_PREFIX = "libfc_flow_cache"


def metric_name(path: "Tuple[str, ...]") -> str:
    return "_".join((METRIC_PREFIX,) + path) + "_total"


def prometheus_text(tree: "Dict[str, Any]") -> str:
    """One counter family per counter block, the counter's name as its
    `counter` label, every counter included so the series stay stable."""
    lines = []
    for path, counters in groups(tree):
        name = metric_name(path)
        block = ".".join(path) or "cache"
        lines.append("# HELP %s Flow cache counters of the %s block." % (name, block))
        lines.append("# TYPE %s counter" % name)
        for counter, value in counters.items():
            lines.append('%s{counter="%s"} %d' % (name, counter, value))
    return "\n".join(lines) + "\n" if lines else ""

"""``hashstats`` shows the flow cache's hash tables (FC_GetFlowCacheHashStats):
per table its state, eviction and hit maxima, and the histogram of bucket
lengths drawn as text bars."""

import _libfc

from .. import _cache
from . import _output

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any, Dict, List

    _Subparsers = argparse._SubParsersAction[Any]

BAR_WIDTH = 40
# Room a bar line needs besides its bar: "  8 | " and " 65535".
BAR_MARGIN = 14

STATES = {"enabled": _libfc.FC_STATE_ENABLED, "disabled": _libfc.FC_STATE_DISABLED}


def state_number(name: str) -> int:
    """A table state's number from the name the package gives it ("enabled",
    or "state N" for a state without a name)."""
    return STATES[name] if name in STATES else int(name.split()[-1])


def document(stats: "Any") -> "Dict[str, Any]":
    """The --json document: each table's state as its number, its name beside."""
    tables = [dict(table=index, state=state_number(table["state"]), state_name=table["state"],
                   **{key: value for key, value in table.items() if key != "state"})
              for index, table in enumerate(stats["tables"])]
    return {"max_tables": stats["max_tables"], "tables": tables}


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("hashstats", help="hash table statistics",
                                   description="Show each flow cache hash table and its bucket-length histogram.")
    _output.add_json_options(parser)
    parser.set_defaults(handler=show)


def bars(counts: "List[int]", width: int = BAR_WIDTH) -> "List[str]":
    """One line per bucket length: the count of buckets that long as a bar
    scaled to the largest count (any non-zero count gets at least one mark)."""
    largest = max(counts) if counts else 0
    lines = []
    for length, count in enumerate(counts):
        marks = 0 if largest == 0 else max(1 if count else 0, round(count * width / largest))
        lines.append("  %d | %s %d" % (length, ("#" * marks).ljust(width), count))
    return lines


def show(args: "argparse.Namespace") -> int:
    stats = _cache.hash_stats()
    if args.json:
        _output.emit_json(document(stats), args)
        return 0
    tables = stats["tables"]
    if not tables:
        _output.footer("no hash tables")
        return 0
    columns = _output.table_width()
    width = BAR_WIDTH if columns is None else max(1, min(BAR_WIDTH, columns - BAR_MARGIN))
    for index, table in enumerate(tables):
        if index:
            print()
        print("table %d: %s, %d evictions (most %d, bucket %d), most hits %d (bucket %d)" % (
            index, table["state"], table["evicts_total"], table["evicts_max"], table["evicts_max_bucket"],
            table["hits_max"], table["hits_max_bucket"]))
        print("buckets by length (entries: buckets):")
        for line in bars(table["bucket_lengths"], width):
            print(line)
    return 0

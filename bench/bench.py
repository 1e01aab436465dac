"""Measures _libfc and its companion package libfc next to what a user would
otherwise reach for (ctypes, cffi in ABI and API mode, pybind11, nanobind) on
the same records, and prints times and ratios with the targets beside them.
It asserts nothing: the table is the record.

Run through bench/run.sh, which builds everything this imports; or after
building yourself: python bench/bench.py (LIBFC_BENCH_BUILD names the build
directory, default build-bench)."""

import argparse
import os
import platform
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.path.abspath(os.environ.get("LIBFC_BENCH_BUILD", os.path.join(HERE, "..", "build-bench")))
PATH = [BUILD, os.path.join(BUILD, "peers"), os.path.join(HERE, "peers"), HERE]
sys.path[:0] = PATH
# The built-in flow cache keeps its state in a file; the bench's flows must
# not land in the state of the tests or of another developer's session.
os.environ.setdefault("FC_EMU_DIR", tempfile.mkdtemp(prefix="libfc-bench-"))

import ctypes  # noqa: E402

import field_cases  # noqa: E402
import flow_dump  # noqa: E402
import timing  # noqa: E402
from report import print_table, ratio_text  # noqa: E402

DUMP_FLOWS = 2048


def measure_fields(row_filters=()):
    env = field_cases.make_env()
    columns = list(field_cases.COLUMNS)
    table = []
    for row in field_cases.rows():
        if row_filters and not any(f in row.label for f in row_filters):
            continue
        times = timing.best_times({c: row.stmts[c] for c in columns if row.stmts.get(c)}, env)
        ratios = [ratio_text(times, *check) for check in row.ratios]
        table.append([row.label] + [_ns(times.get(c)) for c in columns] + ["; ".join(ratios)])
    print_table("Record operations, ns per operation (best of %d)" % timing.REPEATS,
                ["operation"] + columns + ["ratio (target)"], table)


def _ns(seconds):
    return "-" if seconds is None else "%.1f" % (seconds * 1e9)


def _ms(seconds):
    return "-" if seconds is None else "%.2f" % (seconds * 1e3)


IMPORTS = [
    ("_libfc", "import _libfc"),
    ("_libfc + libfc", "import _libfc, libfc"),
    ("ctypes records", "import ctypes_records"),
    ("cffi ABI records", "import cffi_records; cffi_records.abi_ffi()"),
    ("cffi API module", "import bench_cffi_api"),
    ("pybind11 module", "import bench_pybind11"),
    ("nanobind module", "import bench_nanobind"),
]


def measure_imports():
    times = {label: timing.best_import_time(stmt, PATH) for label, stmt in IMPORTS}
    rows = [[label, _ms(times[label])] for label, _ in IMPORTS]
    for row, (label, _), limit in zip(rows, IMPORTS, (1.0, 2.5)):
        ms = times[label] * 1e3
        row.append("%.2f ms (target <= %g ms: %s)" % (ms, limit, "met" if ms <= limit else "not met"))
    print_table("Import in a fresh interpreter, ms (best of %d processes)" % timing.IMPORT_RUNS,
                ["import", "ms", "target"], rows)


def _query_flows():
    library = ctypes.CDLL(os.path.join(BUILD, "libfc.so"))
    library.fcemu_reset()
    # More flows than one query returns, so the buffer is full.
    library.fcemu_traffic(DUMP_FLOWS + DUMP_FLOWS // 4, 2024)
    import _libfc
    return _libfc.FC_GetFlows(0, 0, "\x00", 0, None, 0, 0, 0, 0, None, 0)


def measure_dump():
    flows = _query_flows()
    address = int(flows.this)
    readers = {
        "libfc, views": lambda: flow_dump.companion_views(flows),
        "libfc, copies": lambda: flow_dump.companion_copies(flows),
        "_libfc, views": lambda: flow_dump.bare_views(flows),
        "_libfc, copies": lambda: flow_dump.bare_copies(flows),
        "ctypes expert": lambda: flow_dump.ctypes_expert(address),
    }
    reference = readers["ctypes expert"]()
    agree = {name: read() == reference for name, read in readers.items()}
    env = {"readers": readers}
    times = timing.best_times({name: "readers[%r]()" % name for name in readers}, env)
    rows = []
    for name in readers:
        check = ""
        if name.endswith("views"):
            check = ratio_text(times, "ctypes expert", name, 3.0, "min")
        rows.append([name, _ms(times[name]), "yes" if agree[name] else "NO", check])
    print_table("Dump of %d flows read field by field, ms per dump (%d entries, %d action entities)" % (
        len(reference), len(reference), sum(len(flow[-1]) for flow in reference)),
        ["reader", "ms", "same output", "speed-up over ctypes (target)"], rows)


PARTS = ("fields", "imports", "dump")


def parse_args():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--part", action="append", choices=PARTS,
                        help="measure only this part (repeatable; default: all)")
    parser.add_argument("--row", action="append", default=[],
                        help="record operations: only rows whose label contains this text (repeatable)")
    return parser.parse_args()


def main():
    args = parse_args()
    parts = args.part or PARTS
    print("Python %s on %s, %s; loops of ~%.2f s, best of %d" % (
        platform.python_version(), platform.machine(), platform.platform(terse=True),
        timing.REPEAT_SECONDS, timing.REPEATS))
    if "fields" in parts:
        measure_fields(args.row)
    if "imports" in parts:
        measure_imports()
    if "dump" in parts:
        measure_dump()


if __name__ == "__main__":
    main()

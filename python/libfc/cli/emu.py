"""``emu reset``, ``emu traffic`` and ``emu check`` drive the built-in flow cache (the
libfc.so built with this project) through its control functions, and ``emu
populate`` fills the built-in switch state store, so the other commands have
something to show on a machine without a datapath.  ``emu reset`` empties
both."""

import argparse
import ctypes
import threading
import time

from .. import _emulator, dvs
from .._emulator import (DEFAULT_ENTRIES, DEFAULT_TABLES, MAX_ENTRIES, MAX_FLOWS, MAX_TABLES, MIN_ENTRIES,
                         TrafficResult)
from . import _output, _values
from ._library import bad_input, emulator, emulator_failure, emulator_state_dir, switch_store_emulator

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

    _Subparsers = argparse._SubParsersAction[Any]

# ``emu traffic --flows`` at most; installed in batches small enough that a
# Ctrl-C between two library calls takes effect well within a second.
MAX_TRAFFIC_FLOWS = 1000000
TRAFFIC_BATCH = 512


def traffic_flows(text: str) -> int:
    value = _values.uint32(text)
    if value > MAX_TRAFFIC_FLOWS:
        raise argparse.ArgumentTypeError("%s is more than the %d flows one run installs" % (text, MAX_TRAFFIC_FLOWS))
    return value


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("emu", help="drive the built-in flow cache",
                                   description="Drive the built-in flow cache (state in $FC_EMU_DIR, by default "
                                               "$XDG_RUNTIME_DIR/libfc or /tmp/libfc-<uid>).")
    actions = parser.add_subparsers(dest="emu_action", metavar="ACTION")
    actions.required = True
    reset_parser = actions.add_parser("reset", help="empty the cache (and the switch state store), "
                                                    "restore defaults, zero the counters; rebuilds a "
                                                    "damaged state file")
    _add_reset_sizes(reset_parser)
    reset_parser.set_defaults(handler=reset)
    traffic_parser = actions.add_parser("traffic", help="install varied flows as traffic would")
    traffic_parser.add_argument("--flows", type=traffic_flows, default=200, metavar="N",
                                help="how many flows to install (default 200, at most %d)" % MAX_TRAFFIC_FLOWS)
    traffic_parser.add_argument("--seed", type=_values.uint32, default=1, metavar="S",
                                help="the same seed gives the same flows (default 1)")
    _output.add_json_options(traffic_parser, help="print what became of the flows as JSON")
    traffic_parser.set_defaults(handler=traffic)
    _register_check(actions)
    _register_populate(actions)


def reset(args: "argparse.Namespace") -> int:
    _reset_sized(args.tables, args.entries)
    return reset_store()


def traffic(args: "argparse.Namespace") -> int:
    result = _traffic_report(args.flows, args.seed)
    if args.json:
        _output.emit_json(dict({name: getattr(result, name) for name, _ in TrafficResult._fields_},
                               state_dir=emulator_state_dir()), args)
    else:
        print(_traffic_summary(result))
    return 0


# ---- cache sizes, the traffic's outcome and the consistency check ----------

CHECK_REPORT_BYTES = 64 * 1024


def _add_reset_sizes(parser):
    parser.add_argument("--tables", type=_values.positive, default=DEFAULT_TABLES, metavar="N",
                        help="hash tables, 1 to %d (default %d)" % (MAX_TABLES, DEFAULT_TABLES))
    parser.add_argument("--entries", type=_values.positive, default=DEFAULT_ENTRIES, metavar="M",
                        help="flows per table, %d to %d (default %d); tables * entries at most %d"
                             % (MIN_ENTRIES, MAX_ENTRIES, DEFAULT_ENTRIES, MAX_FLOWS))


def _reset_sized(tables, entries):
    if tables > MAX_TABLES or entries > MAX_ENTRIES or entries < MIN_ENTRIES or tables * entries > MAX_FLOWS:
        raise bad_input("--tables %d --entries %d: the built-in cache takes 1 to %d tables of %d to %d "
                        "entries, at most %d flows" % (tables, entries, MAX_TABLES, MIN_ENTRIES, MAX_ENTRIES, MAX_FLOWS))
    status = emulator().fcemu_reset_sized(tables, entries)
    if status == -2:
        raise bad_input("--tables %d --entries %d: outside the built-in cache's limits" % (tables, entries))
    if status != 0:
        raise emulator_failure()
    print("flow cache reset: %d tables of %d entries (state in %s)" % (tables, entries, emulator_state_dir()))


def _traffic_report(flows, seed):
    """Installs the flows batch by batch, one library call each, and sums
    what became of them."""
    total = TrafficResult()
    batch = TrafficResult()
    report = emulator().fcemu_traffic_report_from
    for first in range(0, flows, TRAFFIC_BATCH):
        if report(first, min(TRAFFIC_BATCH, flows - first), seed, ctypes.byref(batch)) != 0:
            raise emulator_failure()
        for name, _ in TrafficResult._fields_:
            setattr(total, name, getattr(total, name) + getattr(batch, name))
    return total


def _plural(count, word):
    return "%d %s%s" % (count, word, "" if count == 1 else "s")


def _traffic_summary(result):
    text = "installed %s" % _plural(result.installed, "new flow")
    if result.evicted:
        text += " (%d evicting an older flow of a full bucket)" % result.evicted
    if result.hits:
        text += "; %s already cached" % _plural(result.hits, "flow was" if result.hits == 1 else "flow")
    missed = result.table_full + result.inval_full + result.port_disabled
    reasons = [(result.table_full, "hash table full"), (result.inval_full, "invalidation table full"),
               (result.port_disabled, "port does not cache ingress")]
    text += "; %d did not fit" % missed
    if missed:
        text += " (%s)" % ", ".join("%s: %d" % (why, count) for count, why in reasons if count)
    return text + " (state in %s)" % emulator_state_dir()


def _register_check(actions):
    parser = actions.add_parser("check", help="verify the built-in cache's invariants",
                                description="Verify the built-in flow cache's bucket chains, free lists, "
                                            "reference counts and counters; exit 1 when any is wrong.")
    parser.set_defaults(handler=check)


def check(args: "argparse.Namespace") -> int:
    report = ctypes.create_string_buffer(CHECK_REPORT_BYTES)
    problems = emulator().fcemu_check(report, len(report))
    if problems < 0:
        raise emulator_failure()
    print(report.value.decode(errors="replace").rstrip("\n"))
    return 1 if problems else 0


# ---- The built-in switch state store ---------------------------------------------

def _register_populate(actions):
    p = actions.add_parser("populate", help="replace the switch state store with a generated one")
    p.add_argument("--switches", type=_values.uint32, default=2, metavar="N", help="how many switches (default 2)")
    p.add_argument("--ports", type=_values.uint32, default=4, metavar="N", help="ports per switch (default 4)")
    p.add_argument("--seed", type=_values.uint32, default=1, metavar="S",
                   help="the same seed gives the same store (default 1)")
    p.set_defaults(handler=populate)


def _population_limits(lib):
    """The largest population the library makes, as it exports it."""
    return {name[len("fabemu_max_"):]: ctypes.c_uint.in_dll(lib, name).value
            for name in _emulator.VALUES[_emulator.SWITCH_STORE]}


def _run_cancellably(lib, call):
    """Run a long library call in a thread (ctypes leaves the interpreter
    lock), so Ctrl-C reaches Python at once; on it, ask the library to stop
    until the call has returned, which leaves the old store as it was.

    The wait watches an event rather than joining the thread: a join that
    KeyboardInterrupt cuts short takes the thread for ended (CPython before
    3.13), and the process would exit under a change still being written,
    leaving its journal for the store's next user to roll back."""
    outcome = []
    finished = threading.Event()

    def run():
        try:
            outcome.append(call())
        finally:
            finished.set()

    threading.Thread(target=run, daemon=True).start()
    try:
        while not finished.is_set():
            time.sleep(0.05)
    except KeyboardInterrupt:
        _cancel_until(lib, finished)
        raise
    return outcome[0]


def _cancel_until(lib, finished):
    # Ctrl-C again while the library stops changes nothing: leaving now
    # would abandon the change as surely as the first one would have.
    while not finished.is_set():
        try:
            lib.fabemu_cancel()
            time.sleep(0.01)
        except KeyboardInterrupt:
            pass


def populate(args: "argparse.Namespace") -> int:
    lib = switch_store_emulator()
    most = _population_limits(lib)
    if args.switches > most["switches"]:
        raise bad_input("--switches %d is more than the store takes (at most %d)" % (args.switches, most["switches"]))
    if args.ports > most["ports_per_switch"]:
        raise bad_input("--ports %d is more than a switch takes (at most %d)" % (args.ports, most["ports_per_switch"]))
    if args.switches * args.ports > most["ports"]:
        raise bad_input("--switches %d with --ports %d makes %d ports, more than the store takes (at most %d)" % (
            args.switches, args.ports, args.switches * args.ports, most["ports"]))
    status = _run_cancellably(lib, lambda: lib.fabemu_populate(args.switches, args.ports, args.seed))
    dvs.check("fabemu_populate", status, dvs.STORE)
    print("switch state store: %d switch%s of %d port%s each" % (
        args.switches, "" if args.switches == 1 else "es", args.ports, "" if args.ports == 1 else "s"))
    return 0


def reset_store() -> int:
    """Empty the built-in store ("emu reset" does it after the flow cache)."""
    dvs.check("fabemu_reset", switch_store_emulator().fabemu_reset(), dvs.STORE)
    print("switch state store emptied")
    return 0

"""``dvs`` shows distributed switch state (through ``libfc.dvs``) as tables
or JSON; ``emu populate`` fills the built-in switch state store.

    dvs switches | ports SWITCH | port-data SWITCH PORT [NAME]
        | host-props SWITCH [NAME] | global-props SWITCH [NAME] | alias ALIAS

SWITCH is a switch id or alias."""

import argparse
import ctypes
import threading
import time

import _libfc

from .. import _emulator, dvs
from . import _output, _values
from ._library import bad_input, switch_store_emulator

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, List

    _Subparsers = argparse._SubParsersAction[Any]


def register(subparsers: "_Subparsers") -> None:
    common = argparse.ArgumentParser(add_help=False)
    _output.add_json_options(common, help="print JSON instead of a table")

    top = subparsers.add_parser("dvs", help="distributed switch state",
                                description="Show the state of the distributed virtual switches.")
    actions = top.add_subparsers(dest="dvs_action", metavar="ACTION")
    actions.required = True
    actions.add_parser("switches", parents=[common], help="every switch").set_defaults(handler=show_switches)
    p = actions.add_parser("ports", parents=[common], help="the ports of a switch")
    p.add_argument("switch", help="switch id or alias")
    p.set_defaults(handler=show_ports)
    p = actions.add_parser("port-data", parents=[common], help="a port's data entries, or one value")
    p.add_argument("switch", help="switch id or alias")
    p.add_argument("port", help="port id")
    p.add_argument("name", nargs="?", help="show only this entry's value")
    p.set_defaults(handler=show_port_data)
    for command, scope in (("host-props", "host"), ("global-props", "global")):
        p = actions.add_parser(command, parents=[common], help="a switch's %s properties, or one value" % scope)
        p.add_argument("switch", help="switch id or alias")
        p.add_argument("name", nargs="?", help="show only this property's value")
        p.set_defaults(handler=show_properties, scope=scope)
    p = actions.add_parser("alias", parents=[common], help="the switch a switch alias names")
    p.add_argument("alias")
    p.set_defaults(handler=show_alias)


def register_emu(emu_actions: "_Subparsers") -> None:
    """Add "emu populate" to the emu group the flow cache commands made."""
    p = emu_actions.add_parser("populate", help="replace the switch state store with a generated one")
    p.add_argument("--switches", type=_values.uint32, default=2, metavar="N", help="how many switches (default 2)")
    p.add_argument("--ports", type=_values.uint32, default=4, metavar="N", help="ports per switch (default 4)")
    p.add_argument("--seed", type=_values.uint32, default=1, metavar="S",
                   help="the same seed gives the same store (default 1)")
    p.set_defaults(handler=populate)


# ---- Values -----------------------------------------------------------------------

def _value_fields(data):
    text = data.rstrip(b"\0")
    try:
        decoded = text.decode()
        printable = decoded.isprintable() and (bool(decoded) or not data)
    except UnicodeDecodeError:
        decoded, printable = None, False
    return {"size": len(data), "text": decoded if printable else None, "hex": data.hex()}


def _shown_value(data):
    fields = _value_fields(data)
    if fields["text"] is not None:
        return fields["text"]
    return "0x" + fields["hex"] if data else ""


# The single-bit property types, by bit (the ALL_* ones are masks of these).
PROP_TYPE_BITS = {value & 0xFFFFFFFF: name[:-len("_PROP_TYPE")].lower() for name, value in vars(_libfc).items()
                  if name.endswith("_PROP_TYPE") and not name.startswith("ALL_")}


def prop_type_names(prop_type: int) -> "List[str]":
    """The names of a property type's bits, lowest first ("bitN" for a bit without one)."""
    return [PROP_TYPE_BITS.get(1 << bit, "bit%d" % bit) for bit in range(32) if prop_type >> bit & 1]


ITEM_COLUMNS = [_output.Column("NAME", shrink=16), _output.Column("TYPE", drop=1),
                _output.Column("SIZE", numeric=True, drop=2), _output.Column("VALUE", shrink=8)]


def _print_items(args, items, **where):
    if args.json:
        _output.emit_json(dict(where, items=[
            dict(name=i.name, prop_type=i.prop_type, prop_type_names=prop_type_names(i.prop_type),
                 **_value_fields(i.value)) for i in items]), args)
    else:
        _output.table(ITEM_COLUMNS, [[i.name, "0x%08x" % i.prop_type, len(i.value), _shown_value(i.value)]
                                     for i in items])


def _print_value(args, name, data, **where):
    if args.json:
        _output.emit_json(dict(where, name=name, **_value_fields(data)), args)
    else:
        print(_shown_value(data))


# ---- Commands ---------------------------------------------------------------------

SWITCH_COLUMNS = [_output.Column("ID", drop=5), _output.Column("ALIAS"), _output.Column("NAME", drop=4, shrink=12),
                  _output.Column("CLASS", drop=3), _output.Column("VERSION", numeric=True, drop=1),
                  _output.Column("MAX PORTS", numeric=True, drop=2)]
PORT_COLUMNS = [_output.Column("PORT"), _output.Column("ALIAS", shrink=12), _output.Column("EXISTS")]


def show_switches(args: "argparse.Namespace") -> int:
    found = dvs.switches()
    if args.json:
        _output.emit_json({"switches": [s._asdict() for s in found]}, args)
    else:
        _output.table(SWITCH_COLUMNS, [[s.id, s.alias, s.name, s.class_name, s.version, s.max_ports] for s in found])
    return 0


def show_ports(args: "argparse.Namespace") -> int:
    switch_id = dvs.resolve_switch(args.switch)
    found = dvs.ports(switch_id)
    if args.json:
        _output.emit_json({"switch": switch_id, "ports": [p._asdict() for p in found]}, args)
    else:
        _output.table(PORT_COLUMNS, [[p.id, p.alias, "yes" if p.exists else "no"] for p in found])
    return 0


def show_port_data(args: "argparse.Namespace") -> int:
    switch_id = dvs.resolve_switch(args.switch)
    if args.name:
        _print_value(args, args.name, dvs.port_data(switch_id, args.port, args.name), switch=switch_id, port=args.port)
    else:
        _print_items(args, dvs.port_data_items(switch_id, args.port), switch=switch_id, port=args.port)
    return 0


def show_properties(args: "argparse.Namespace") -> int:
    switch_id = dvs.resolve_switch(args.switch)
    if args.name:
        read = dvs.host_prop if args.scope == "host" else dvs.global_prop
        _print_value(args, args.name, read(switch_id, args.name), switch=switch_id, scope=args.scope)
    else:
        _print_items(args, dvs.host_props(switch_id) if args.scope == "host" else dvs.global_props(switch_id),
                     switch=switch_id, scope=args.scope)
    return 0


def show_alias(args: "argparse.Namespace") -> int:
    switch_id = dvs.alias(args.alias)
    if args.json:
        _output.emit_json({"alias": args.alias, "switch": switch_id}, args)
    else:
        print(switch_id)
    return 0


# ---- The built-in store -------------------------------------------------------------

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


def reset_store() -> None:
    """Empty the built-in store ("emu reset" does it after the flow cache)."""
    dvs.check("fabemu_reset", switch_store_emulator().fabemu_reset(), dvs.STORE)
    print("switch state store emptied")
    return 0

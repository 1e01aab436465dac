"""The ``dvs`` and ``emu`` commands of ``python -m libfc``: switch state as
readable tables or JSON, and the built-in store's emulator controls.

    dvs switches | ports SWITCH | port-data SWITCH PORT [NAME]
        | host-props SWITCH [NAME] | global-props SWITCH [NAME] | alias ALIAS
    emu populate [--switches N] [--ports N] [--seed N] | emu reset

SWITCH is a switch id or alias. ``--json`` prints JSON instead of a table."""

import argparse
import ctypes
import json
import os
import sys
from typing import Any, Dict, List, Sequence

import _libfc

from . import dvs

COMMANDS = ("dvs", "emu")


def register(subparsers: Any, emu_actions: Any = None) -> None:
    """Add the dvs commands to an argparse subparsers object, and "emu
    populate" to the given emu group (or to an emu group of its own)."""
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--json", action="store_true", help="print JSON instead of a table")

    top = subparsers.add_parser("dvs", help="distributed switch state")
    actions = top.add_subparsers(dest="dvs_command", metavar="ACTION")
    actions.required = True
    actions.add_parser("switches", parents=[common], help="every switch")
    p = actions.add_parser("ports", parents=[common], help="the ports of a switch")
    p.add_argument("switch")
    p = actions.add_parser("port-data", parents=[common], help="a port's data entries, or one value")
    p.add_argument("switch")
    p.add_argument("port")
    p.add_argument("name", nargs="?")
    for command, what in (("host-props", "host"), ("global-props", "global")):
        p = actions.add_parser(command, parents=[common], help="a switch's %s properties, or one value" % what)
        p.add_argument("switch")
        p.add_argument("name", nargs="?")
    p = actions.add_parser("alias", parents=[common], help="the switch a switch alias names")
    p.add_argument("alias")

    if emu_actions is None:  # standalone: an "emu" group of its own
        emu = subparsers.add_parser("emu", help="controls of the built-in libfabPublic store")
        emu_actions = emu.add_subparsers(dest="emu_command", metavar="ACTION")
        emu_actions.required = True
        emu_actions.add_parser("reset", parents=[common], help="empty the store").set_defaults(emu_command="reset")
    p = emu_actions.add_parser("populate", parents=[common], help="replace the switch state store with a generated one")
    p.add_argument("--switches", type=int, default=2)
    p.add_argument("--ports", type=int, default=4, help="ports per switch")
    p.add_argument("--seed", type=int, default=1)
    p.set_defaults(emu_command="populate", handler=run)


# ---- Output -------------------------------------------------------------------

def _value_fields(data: bytes) -> Dict[str, Any]:
    text = data.rstrip(b"\0")
    try:
        decoded = text.decode()
        printable = decoded.isprintable() and (bool(decoded) or not data)
    except UnicodeDecodeError:
        decoded, printable = None, False
    return {"size": len(data), "text": decoded if printable else None, "hex": data.hex()}


def _shown_value(data: bytes) -> str:
    fields = _value_fields(data)
    return fields["text"] if fields["text"] is not None else "0x" + fields["hex"] if data else ""


def _table(headers: Sequence[str], rows: List[Sequence[Any]], out) -> None:
    cells = [[("" if c is None else str(c)) for c in row] for row in rows]
    widths = [max([len(h)] + [len(r[i]) for r in cells]) for i, h in enumerate(headers)]
    line = "  ".join("%-*s" % (w, h) for w, h in zip(widths, headers)).rstrip()
    print(line, file=out)
    print("  ".join("-" * w for w in widths), file=out)
    for row in cells:
        print("  ".join("%-*s" % (w, c) for w, c in zip(widths, row)).rstrip(), file=out)


def _emit(args: argparse.Namespace, payload: Any, headers: Sequence[str], rows: List[Sequence[Any]], out) -> None:
    if args.json:
        print(json.dumps(payload, indent=2, sort_keys=False), file=out)
    else:
        _table(headers, rows, out)


def _items(args, items: List[dvs.Item], out) -> None:
    payload = [dict(name=i.name, prop_type=i.prop_type, **_value_fields(i.value)) for i in items]
    rows = [(i.name, "0x%08x" % i.prop_type, len(i.value), _shown_value(i.value)) for i in items]
    _emit(args, payload, ("NAME", "TYPE", "SIZE", "VALUE"), rows, out)


def _one_value(args, name: str, data: bytes, out) -> None:
    if args.json:
        print(json.dumps(dict(name=name, **_value_fields(data)), indent=2), file=out)
    else:
        print(_shown_value(data), file=out)


# ---- dvs ------------------------------------------------------------------------

def _run_dvs(args: argparse.Namespace, out) -> None:
    command = args.dvs_command
    if command == "switches":
        found = dvs.switches()
        rows = [(s.id, s.alias, s.name, s.class_name, s.version, s.max_ports) for s in found]
        _emit(args, [s._asdict() for s in found], ("ID", "ALIAS", "NAME", "CLASS", "VERSION", "MAX PORTS"), rows, out)
    elif command == "alias":
        switch_id = dvs.alias(args.alias)
        if args.json:
            print(json.dumps({"alias": args.alias, "switch": switch_id}), file=out)
        else:
            print(switch_id, file=out)
    else:
        switch_id = dvs.resolve_switch(args.switch)
        if command == "ports":
            found = dvs.ports(switch_id)
            rows = [(p.id, p.alias, _libfc.DVPortExist(switch_id, p.id) == "\x01") for p in found]
            _emit(args, [p._asdict() for p in found], ("PORT", "ALIAS", "EXISTS"), rows, out)
        elif command == "port-data":
            if args.name:
                _one_value(args, args.name, dvs.port_data(switch_id, args.port, args.name), out)
            else:
                _items(args, dvs.port_data_items(switch_id, args.port), out)
        elif command in ("host-props", "global-props"):
            scope = "host" if command == "host-props" else "global"
            if args.name:
                _one_value(args, args.name, getattr(dvs, scope + "_prop")(switch_id, args.name), out)
            else:
                _items(args, getattr(dvs, scope + "_props")(switch_id), out)


# ---- emu ------------------------------------------------------------------------

def _emulator() -> ctypes.CDLL:
    path = os.path.join(os.path.dirname(os.path.abspath(_libfc.__file__)), "libfabPublic.so")
    library = ctypes.CDLL(path)
    if not hasattr(library, "fabemu_reset"):
        raise RuntimeError("the libfabPublic beside _libfc is not the built-in store: it has no emulator controls")
    library.fabemu_populate.argtypes = [ctypes.c_uint, ctypes.c_uint, ctypes.c_uint]
    return library


def _run_emu(args: argparse.Namespace, out) -> None:
    library = _emulator()
    if args.emu_command == "reset":
        status = library.fabemu_reset()
    else:
        if min(args.switches, args.ports, args.seed) < 0:
            raise ValueError("--switches, --ports and --seed take non-negative numbers")
        status = library.fabemu_populate(args.switches, args.ports, args.seed)
    dvs.check("fabemu_" + args.emu_command, status)
    if args.json:
        print(json.dumps({"command": args.emu_command, "status": dvs.status_name(status)}), file=out)
    else:
        print("%s: %s" % (args.emu_command, dvs.status_name(status)), file=out)


def reset_store(out=None) -> int:
    """Empty the built-in store, as "emu reset" does; returns the exit code."""
    args = argparse.Namespace(command="emu", emu_command="reset", json=False)
    return run(args, out)


def run(args: argparse.Namespace, out=None) -> int:
    """Run a parsed dvs or emu command; returns the process exit code."""
    out = out or sys.stdout
    try:
        if args.command == "dvs":
            _run_dvs(args, out)
        else:
            _run_emu(args, out)
    except dvs.DVSError as error:
        print("error: %s" % error, file=sys.stderr)
        return 1
    except (RuntimeError, ValueError, OSError) as error:
        print("error: %s" % error, file=sys.stderr)
        return 2
    return 0

"""``dvs`` shows distributed switch state (through ``libfc.dvs``) as tables
or JSON.

    dvs switches | ports SWITCH | port-data SWITCH PORT [NAME]
        | host-props SWITCH [NAME] | global-props SWITCH [NAME] | alias ALIAS

SWITCH is a switch id or alias."""

import argparse

import _libfc

from .. import dvs
from . import _output

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

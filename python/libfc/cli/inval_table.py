"""``inval`` lists the invalidation table (FC_GetInvalTableEntries);
``invalidate`` invalidates the flows tied to one key
(FC_InvalidateFCFlowEntry) or every flow (FC_InvalidateFlowsIoctl)."""

import _libfc

from .. import _cache
from . import _output, _values
from ._library import CommandError, bad_input
from .enablement import DIRECTIONS

KEY_TYPES = {name: number for number, name in _cache.INVAL_KEY_TYPES.items()}
DIRECTION_NAMES = {number: name for name, number in DIRECTIONS.items()}

COLUMNS = [_output.Column("TYPE"), _output.Column("ID", numeric=True), _output.Column("REFS", numeric=True, drop=4),
           _output.Column("GENERATION", numeric=True, drop=5), _output.Column("UCAST PKTS", numeric=True, drop=6),
           _output.Column("UCAST BYTES", numeric=True, drop=3), _output.Column("MCAST PKTS", numeric=True, drop=2),
           _output.Column("MCAST BYTES", numeric=True, drop=1)]


def entity_document(entity: "Any") -> "Dict[str, Any]":
    """An entity as --json gives it: the key type and the direction as
    numbers with their names beside."""
    name = entity["type"]
    doc = {"type": KEY_TYPES[name] if name in KEY_TYPES else int(name.split()[-1]), "type_name": name}
    for key, value in entity.items():
        if key == "dir":
            doc.update(direction=value, direction_name=DIRECTION_NAMES.get(value))
        elif key != "type":
            doc[key] = value
    return doc

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any, Dict

    _Subparsers = argparse._SubParsersAction[Any]


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("inval", help="the invalidation table",
                                   description="List the invalidation entities and their generations.")
    _output.add_json_options(parser)
    parser.set_defaults(handler=show)

    parser = subparsers.add_parser("invalidate", help="invalidate flows by key, or all flows",
                                   description="Invalidate the flows tied to a port or VDR id, or every flow.")
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--port", type=_values.uint32, metavar="ID", help="flows tied to this switch port id")
    which.add_argument("--vdr", type=_values.uint32, metavar="ID", help="flows tied to this VDR id")
    which.add_argument("--all", action="store_true", help="every cached flow")
    parser.set_defaults(handler=invalidate)


def show(args: "argparse.Namespace") -> int:
    table = _cache.inval_entries()
    generation, entities = table["generation"], table["entities"]
    if args.json:
        _output.emit_json({"generation": generation, "entities": [entity_document(e) for e in entities]}, args)
        return 0
    if entities:
        rows = [[e["type"], e["id"], e["refs"], e["generation"], e["unicast_packets"], e["unicast_bytes"],
                 e["multicast_packets"], e["multicast_bytes"]] for e in entities]
        _output.table(COLUMNS, rows)
    _output.footer("global generation %d, %d entit%s" % (generation, len(entities),
                                                         "y" if len(entities) == 1 else "ies"))
    return 0


def _in_table(key_type, value):
    table = _libfc.FC_GetInvalTableEntries()
    return table is not None and any(entity.ikey.type == key_type and entity.ikey.val.vdrId == value
                                     for entity in table)


def invalidate(args: "argparse.Namespace") -> int:
    if args.all:
        count = _libfc.FC_InvalidateFlowsIoctl()
        print("invalidated %d flow%s" % (count, "" if count == 1 else "s"))
        return 0
    if args.port is not None:
        key_type, value, what = _libfc.FC_INVAL_HASH_KEY_TYPE_PORTID, args.port, "port"
    elif args.vdr is not None:
        key_type, value, what = _libfc.FC_INVAL_HASH_KEY_TYPE_VDRID, args.vdr, "VDR"
    else:  # argparse requires one of the three
        raise bad_input("invalidate needs --port, --vdr or --all")
    if not _in_table(key_type, value):
        # The library takes any key; one the invalidation table does not hold
        # is most likely a mistyped id, refused before anything changes.
        raise CommandError("no %s %d in the invalidation table" % (what, value))
    _libfc.FC_InvalidateFCFlowEntry(value, key_type)
    print("invalidated the flows tied to %s %d" % (what, value))
    return 0

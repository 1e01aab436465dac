"""``inval-table`` lists the invalidation table (FC_GetInvalTableEntries):
its entities, each with its generation and counters, and the global
generation.  ``inval``, its old name, reports under the name typed."""

from .. import _cache
from . import _output
from ._enablement import DIRECTIONS

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any, Dict

    _Subparsers = argparse._SubParsersAction[Any]

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


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("inval-table", aliases=["inval"], help="the invalidation table",
                                   description="List the invalidation entities and their generations.")
    _output.add_json_options(parser)
    parser.set_defaults(handler=show)


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

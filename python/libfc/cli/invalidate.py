"""``invalidate`` invalidates the flows tied to one port or VDR id
(FC_InvalidateFCFlowEntry), or every cached flow (FC_InvalidateFlowsIoctl)."""

import _libfc

from . import _values
from ._library import CommandError, bad_input

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any

    _Subparsers = argparse._SubParsersAction[Any]


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("invalidate", help="invalidate flows by key, or all flows",
                                   description="Invalidate the flows tied to a port or VDR id, or every flow.")
    which = parser.add_mutually_exclusive_group(required=True)
    which.add_argument("--port", type=_values.uint32, metavar="ID", help="flows tied to this switch port id")
    which.add_argument("--vdr", type=_values.uint32, metavar="ID", help="flows tied to this VDR id")
    which.add_argument("--all", action="store_true", help="every cached flow")
    parser.set_defaults(handler=invalidate)


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

"""``port`` shows a port's flow cache direction (FC_GetFlowCacheEnabled),
setting it first when one is named (FC_SetPortProp)."""

import _libfc

from . import _output
from ._enablement import DIRECTION_NAMES, DIRECTIONS, state_text

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any

    _Subparsers = argparse._SubParsersAction[Any]


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("port", help="a port's flow cache direction",
                                   description="Show a port's flow cache state, or set its direction first.")
    parser.add_argument("switch", help="portset (switch) name")
    parser.add_argument("port", help="port name (its id as text)")
    parser.add_argument("direction", nargs="?", choices=list(DIRECTIONS), help="set this direction")
    _output.add_json_options(parser)
    parser.set_defaults(handler=port)


def port(args: "argparse.Namespace") -> int:
    if args.direction is not None:
        _libfc.FC_SetPortProp(args.switch, args.port, DIRECTIONS[args.direction])
    direction = _libfc.FC_GetFlowCacheEnabled(args.switch, args.port)
    if args.json:
        # The library answers with the direction's name; its number is the
        # one "port SWITCH PORT DIRECTION" sets.
        _output.emit_json({"switch": args.switch, "port": args.port, "direction": DIRECTION_NAMES.get(direction),
                           "direction_name": direction}, args)
    else:
        print("%s port %s: %s" % (args.switch, args.port, state_text(direction)))
    return 0

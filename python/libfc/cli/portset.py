"""Where the flow cache is enabled: ``port`` (FC_GetFlowCacheEnabled,
FC_SetPortProp), ``portset set`` (FC_SetHostProp; ``host`` is its old name)
and ``portset status`` (FC_GetPortsetStatus, FC_GetPortsetMcastStatus)."""

import _libfc

from . import _output

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any

    _Subparsers = argparse._SubParsersAction[Any]

DIRECTIONS = {
    "disabled": _libfc.FC_PORT_DISABLE,
    "ingress": _libfc.FC_PORT_ENABLE_DIR_INGRESS,
    "egress": _libfc.FC_PORT_ENABLE_DIR_EGRESS,
    "all": _libfc.FC_PORT_ENABLE_DIR_ALL,
}

# The names the library answers with, and the directions they stand for: it
# calls both directions "enabled".
DIRECTION_NAMES = dict(DIRECTIONS, enabled=_libfc.FC_PORT_ENABLE_DIR_ALL)

HOST_PROPERTIES = {
    "cache": _libfc.FCPROP_PORTSET_ENABLE_CACHE,
    "mcast": _libfc.FCPROP_PORTSET_ENABLE_MUL_DEST_CACHE,
}

SWITCHES = {"on": 1, "off": 0}


def _add_portset_setting(parser):
    parser.add_argument("switch", help="portset (switch) name")
    parser.add_argument("property", choices=list(HOST_PROPERTIES),
                        help="cache: %s; mcast: %s" % tuple(HOST_PROPERTIES.values()))
    parser.add_argument("state", choices=list(SWITCHES))
    _output.add_json_options(parser)
    parser.set_defaults(handler=set_portset)


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("port", help="a port's flow cache direction",
                                   description="Show a port's flow cache state, or set its direction first.")
    parser.add_argument("switch", help="portset (switch) name")
    parser.add_argument("port", help="port name (its id as text)")
    parser.add_argument("direction", nargs="?", choices=list(DIRECTIONS), help="set this direction")
    _output.add_json_options(parser)
    parser.set_defaults(handler=port)

    parser = subparsers.add_parser("portset", help="a portset's flow cache: its status, or turn it on or off",
                                   description="Show a portset's flow cache status, or turn its cache "
                                               "(or its multicast cache) on or off.")
    actions = parser.add_subparsers(dest="portset_action", metavar="{status,set}")
    actions.required = True
    status = actions.add_parser("status", help="the portset's cache and multicast cache status")
    status.add_argument("portset", help="portset name")
    _output.add_json_options(status)
    status.set_defaults(handler=portset_status)
    _add_portset_setting(actions.add_parser(
        "set", help="turn the portset's cache or multicast cache on or off, then show its status"))

    # The old name of "portset set", which changes one portset, not the host.
    _add_portset_setting(subparsers.add_parser("host", help="old name of 'portset set'",
                                               description="The same as 'libfc portset set'."))


def _status_text(text):
    return text if text is not None else "not set"


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
        print("%s port %s: %s" % (args.switch, args.port, _status_text(direction)))
    return 0


def set_portset(args: "argparse.Namespace") -> int:
    _libfc.FC_SetHostProp(args.switch, HOST_PROPERTIES[args.property], SWITCHES[args.state])
    return _print_portset(args.switch, args)


def portset_status(args: "argparse.Namespace") -> int:
    return _print_portset(args.portset, args)


def _print_portset(name, args):
    cache, multicast = _libfc.FC_GetPortsetStatus(name), _libfc.FC_GetPortsetMcastStatus(name)
    if args.json:
        _output.emit_json({"portset": name, "cache": cache, "multicast_cache": multicast}, args)
    else:
        print("%s cache: %s" % (name, _status_text(cache)))
        print("%s multicast cache: %s" % (name, _status_text(multicast)))
    return 0

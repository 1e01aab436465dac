"""``portset status`` shows whether a portset caches flows, and multicast
flows (FC_GetPortsetStatus, FC_GetPortsetMcastStatus); ``portset set`` turns
either on or off (FC_SetHostProp), and ``host`` is its old name."""

import _libfc

from . import _output
from ._enablement import state_text

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any

    _Subparsers = argparse._SubParsersAction[Any]

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
        print("%s cache: %s" % (name, state_text(cache)))
        print("%s multicast cache: %s" % (name, state_text(multicast)))
    return 0

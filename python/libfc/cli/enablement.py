"""Where the flow cache is enabled: ``port`` (FC_GetFlowCacheEnabled,
FC_SetPortProp), ``host`` (FC_SetHostProp) and ``portset status``
(FC_GetPortsetStatus, FC_GetPortsetMcastStatus)."""

import _libfc

DIRECTIONS = {
    "disabled": _libfc.FC_PORT_DISABLE,
    "ingress": _libfc.FC_PORT_ENABLE_DIR_INGRESS,
    "egress": _libfc.FC_PORT_ENABLE_DIR_EGRESS,
    "all": _libfc.FC_PORT_ENABLE_DIR_ALL,
}

HOST_PROPERTIES = {
    "cache": _libfc.FCPROP_PORTSET_ENABLE_CACHE,
    "mcast": _libfc.FCPROP_PORTSET_ENABLE_MUL_DEST_CACHE,
}

SWITCHES = {"on": 1, "off": 0}


def register(subparsers):
    parser = subparsers.add_parser("port", help="a port's flow cache direction",
                                   description="Show a port's flow cache state, or set its direction first.")
    parser.add_argument("switch", help="portset (switch) name")
    parser.add_argument("port", help="port name (its id as text)")
    parser.add_argument("direction", nargs="?", choices=list(DIRECTIONS), help="set this direction")
    parser.set_defaults(handler=port)

    parser = subparsers.add_parser("host", help="enable or disable the cache of a portset",
                                   description="Turn a portset's flow cache (or its multicast cache) on or off.")
    parser.add_argument("switch", help="portset (switch) name")
    parser.add_argument("property", choices=list(HOST_PROPERTIES),
                        help="cache: %s; mcast: %s" % tuple(HOST_PROPERTIES.values()))
    parser.add_argument("state", choices=list(SWITCHES))
    parser.set_defaults(handler=host)

    parser = subparsers.add_parser("portset", help="portset status",
                                   description="Show a portset's flow cache status.")
    actions = parser.add_subparsers(dest="portset_action", metavar="{status}")
    actions.required = True
    status = actions.add_parser("status", help="the portset's cache and multicast cache status")
    status.add_argument("portset", help="portset name")
    status.set_defaults(handler=portset_status)


def _status_text(text):
    return text if text is not None else "not set"


def port(args):
    if args.direction is not None:
        _libfc.FC_SetPortProp(args.switch, args.port, DIRECTIONS[args.direction])
    print("%s port %s: %s" % (args.switch, args.port,
                              _status_text(_libfc.FC_GetFlowCacheEnabled(args.switch, args.port))))
    return 0


def host(args):
    _libfc.FC_SetHostProp(args.switch, HOST_PROPERTIES[args.property], SWITCHES[args.state])
    return _print_portset(args.switch)


def portset_status(args):
    return _print_portset(args.portset)


def _print_portset(name):
    print("%s cache: %s" % (name, _status_text(_libfc.FC_GetPortsetStatus(name))))
    print("%s multicast cache: %s" % (name, _status_text(_libfc.FC_GetPortsetMcastStatus(name))))
    return 0

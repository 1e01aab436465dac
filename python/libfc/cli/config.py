"""``config get`` and ``config set``: the flow cache's configuration options
(FC_IOCGetConfigOption, FC_IOCSetConfigOption) by name."""

import argparse

import _libfc

from . import _output, _values
from ._library import bad_input

# Option names on the command line and the constants the library knows them
# by, in FC_ConfigOptionTypeIOC order.
OPTION_CONSTANTS = {
    "stats-level": "FC_IOC_STATS_LEVEL",
    "log-level": "FC_IOC_LOG_LEVEL",
    "expr-time": "FC_IOC_EXPR_TIME",
    "aging-interval": "FC_IOC_AGING_INTERVAL",
    "disable-threshold": "FC_IOC_DISABLE_THRESHOLD",
}
OPTIONS = {name: getattr(_libfc, constant) for name, constant in OPTION_CONSTANTS.items()}


def option_name(text):
    if text not in OPTIONS:
        raise argparse.ArgumentTypeError("unknown option %r (one of %s)" % (text, ", ".join(OPTIONS)))
    return text


def register(subparsers):
    parser = subparsers.add_parser("config", help="configuration options",
                                   description="Read or change the flow cache's configuration options.")
    actions = parser.add_subparsers(dest="config_action", metavar="{get,set}")
    actions.required = True
    get = actions.add_parser("get", help="print options (all of them by default)")
    get.add_argument("names", nargs="*", type=option_name, metavar="OPTION",
                     help="one of: " + ", ".join(OPTIONS))
    _output.add_json_options(get)
    get.set_defaults(handler=get_options)
    put = actions.add_parser("set", help="change one option")
    put.add_argument("name", type=option_name, metavar="OPTION", help="one of: " + ", ".join(OPTIONS))
    put.add_argument("value", type=_values.uint32, help="the new value")
    put.set_defaults(handler=set_option)


def get_options(args):
    names = args.names or list(OPTIONS)
    values = {name: _libfc.FC_IOCGetConfigOption(OPTIONS[name]) for name in names}
    if args.json:
        # JSON keys are snake_case, as in every other command's JSON.
        _output.emit_json({"options": {name.replace("-", "_"): value for name, value in values.items()}}, args)
    else:
        width = max(len(name) for name in values)
        for name, value in values.items():
            print("%s  %d" % (name.ljust(width), value))
    return 0


def set_option(args):
    try:
        _libfc.FC_IOCSetConfigOption(OPTIONS[args.name], args.value)
    except ValueError as error:
        # The library names the option by its constant; the user typed its name.
        raise bad_input(str(error).replace(OPTION_CONSTANTS[args.name], args.name)) from None
    print("%s  %d" % (args.name, _libfc.FC_IOCGetConfigOption(OPTIONS[args.name])))
    return 0

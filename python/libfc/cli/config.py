"""``config get`` and ``config set``: the flow cache's configuration options
(FC_IOCGetConfigOption, FC_IOCSetConfigOption) by name."""

import argparse

import _libfc

from .. import _cache
from . import _output, _values
from ._library import bad_input

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

    _Subparsers = argparse._SubParsersAction[Any]

# Option names on the command line and the constants the library knows them
# by, in FC_ConfigOptionTypeIOC order.
OPTION_CONSTANTS = {name.replace("_", "-"): constant for name, constant in _cache.OPTION_CONSTANTS.items()}
OPTIONS = {name: getattr(_libfc, constant) for name, constant in OPTION_CONSTANTS.items()}


def option_name(text: str) -> str:
    if text not in OPTIONS:
        raise argparse.ArgumentTypeError("unknown option %r (one of %s)" % (text, ", ".join(OPTIONS)))
    return text


def register(subparsers: "_Subparsers") -> None:
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


def get_options(args: "argparse.Namespace") -> int:
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


def set_option(args: "argparse.Namespace") -> int:
    try:
        _libfc.FC_IOCSetConfigOption(OPTIONS[args.name], args.value)
    except ValueError as error:
        # The library names the option by its constant; the user typed its name.
        raise bad_input(str(error).replace(OPTION_CONSTANTS[args.name], args.name)) from None
    print("%s  %d" % (args.name, _libfc.FC_IOCGetConfigOption(OPTIONS[args.name])))
    return 0

"""``emu reset`` and ``emu traffic`` drive the built-in flow cache (the
libfc.so built with this project) through its control functions, so the
other commands have something to show on a machine without a datapath.
``emu reset`` also empties the built-in switch state store (the dvs
commands add ``emu populate``)."""

from . import _values, dvs
from ._library import CommandError, emulator, emulator_state_dir


def register(subparsers):
    parser = subparsers.add_parser("emu", help="drive the built-in flow cache",
                                   description="Drive the built-in flow cache (state in $FC_EMU_DIR, "
                                               "by default /tmp/fcemu-<uid>).")
    actions = parser.add_subparsers(dest="emu_action", metavar="ACTION")
    actions.required = True
    reset_parser = actions.add_parser("reset", help="empty the cache (and the switch state store), "
                                                    "restore defaults, zero the counters")
    reset_parser.set_defaults(handler=reset)
    traffic_parser = actions.add_parser("traffic", help="install varied flows as traffic would")
    traffic_parser.add_argument("--flows", type=_values.uint32, default=200, metavar="N",
                                help="how many flows to install (default 200)")
    traffic_parser.add_argument("--seed", type=_values.uint32, default=1, metavar="S",
                                help="the same seed gives the same flows (default 1)")
    traffic_parser.set_defaults(handler=traffic)
    return actions


def _state_failure():
    return CommandError("cannot use the flow cache state directory %s" % emulator_state_dir())


def reset(args):
    if emulator().fcemu_reset() != 0:
        raise _state_failure()
    print("flow cache reset (state in %s)" % emulator_state_dir())
    return dvs.reset_store()


def traffic(args):
    installed = emulator().fcemu_traffic(args.flows, args.seed)
    if installed < 0:
        raise _state_failure()
    print("installed %d new flow%s (state in %s)" % (installed, "" if installed == 1 else "s",
                                                     emulator_state_dir()))
    return 0

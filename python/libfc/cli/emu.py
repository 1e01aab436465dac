"""``emu reset`` and ``emu traffic`` drive the built-in flow cache (the
libfc.so built with this project) through its control functions, so the
other commands have something to show on a machine without a datapath.
``emu reset`` also empties the built-in switch state store when the
switch-state commands are present (they add ``emu populate``)."""

import argparse

from . import _values
from ._library import emulator, emulator_failure, emulator_state_dir

try:
    from .. import cli_dvs
except ImportError:
    cli_dvs = None

# ``emu traffic --flows`` at most; installed in batches small enough that a
# Ctrl-C between two library calls takes effect well within a second.
MAX_TRAFFIC_FLOWS = 1000000
TRAFFIC_BATCH = 512


def traffic_flows(text):
    value = _values.uint32(text)
    if value > MAX_TRAFFIC_FLOWS:
        raise argparse.ArgumentTypeError("%s is more than the %d flows one run installs" % (text, MAX_TRAFFIC_FLOWS))
    return value


def register(subparsers):
    parser = subparsers.add_parser("emu", help="drive the built-in flow cache",
                                   description="Drive the built-in flow cache (state in $FC_EMU_DIR, by default "
                                               "$XDG_RUNTIME_DIR/libfc or /tmp/fcemu-<uid>).")
    actions = parser.add_subparsers(dest="emu_action", metavar="ACTION")
    actions.required = True
    reset_parser = actions.add_parser("reset", help="empty the cache (and the switch state store), "
                                                    "restore defaults, zero the counters; rebuilds a "
                                                    "damaged state file")
    reset_parser.set_defaults(handler=reset)
    traffic_parser = actions.add_parser("traffic", help="install varied flows as traffic would")
    traffic_parser.add_argument("--flows", type=traffic_flows, default=200, metavar="N",
                                help="how many flows to install (default 200, at most %d)" % MAX_TRAFFIC_FLOWS)
    traffic_parser.add_argument("--seed", type=_values.uint32, default=1, metavar="S",
                                help="the same seed gives the same flows (default 1)")
    traffic_parser.set_defaults(handler=traffic)
    return actions


def reset(args):
    if emulator().fcemu_reset() != 0:
        raise emulator_failure()
    print("flow cache reset (state in %s)" % emulator_state_dir())
    if cli_dvs is not None:
        return cli_dvs.reset_store()
    return 0


def traffic(args):
    lib = emulator()
    installed = 0
    for first in range(0, args.flows, TRAFFIC_BATCH):
        new = lib.fcemu_traffic_from(first, min(TRAFFIC_BATCH, args.flows - first), args.seed)
        if new < 0:
            raise emulator_failure()
        installed += new
    print("installed %d new flow%s (state in %s)" % (installed, "" if installed == 1 else "s",
                                                     emulator_state_dir()))
    return 0

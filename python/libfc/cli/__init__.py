"""The flow cache command-line tool (``python -m libfc``, ``libfc``).

One module per command group; each has ``register(subparsers)``, which adds
its commands and sets a ``handler`` for each.  A handler takes the parsed
arguments and returns the exit status; it reports a failure by raising
CommandError, or lets a library call's exception through, and main() turns
either into one line on stderr."""

import argparse
import os
import sys

from . import config, emu, enablement, flows, hashstats, inval, stats
from ._library import LIBRARY_ERRORS, CommandError, library_error

try:  # switch-state commands, when that module is present
    from .. import cli_dvs
except ImportError:
    cli_dvs = None

PROG = "libfc"
COMMAND_GROUPS = [flows, stats, hashstats, inval, config, enablement, emu]


class _Parser(argparse.ArgumentParser):
    """Refuses bad input with one line (and exit status 2) instead of the
    usage block; the usage is one --help away."""

    def error(self, message):
        self.exit(2, "%s: error: %s (see '%s --help')\n" % (self.prog, message, self.prog))


def build_parser():
    parser = _Parser(prog=PROG, description="Inspect and manage a host's flow cache.")
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND")
    subparsers.required = True
    emu_actions = None
    for group in COMMAND_GROUPS:
        registered = group.register(subparsers)
        if group is emu:
            emu_actions = registered
    if cli_dvs is not None:
        # The store's emulator controls join the one "emu" group.
        cli_dvs.register(subparsers, emu_actions)
    return parser


def _fail(message, status):
    sys.stderr.write("%s: error: %s\n" % (PROG, message))
    return status


def main(argv=None):
    args = build_parser().parse_args(argv)
    handler = getattr(args, "handler", None)
    try:
        if handler is None:
            if cli_dvs is None:
                return _fail("no handler for command %r" % args.command, 2)
            return cli_dvs.run(args)
        return handler(args)
    except BrokenPipeError:
        # The reader went away (| head): say nothing more, and keep Python's
        # own flush at exit from failing on the closed pipe too.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except CommandError as error:
        return _fail(str(error), error.status)
    except LIBRARY_ERRORS as error:
        failure = library_error(error)
        return _fail(str(failure), failure.status)
    except KeyboardInterrupt:
        return 130

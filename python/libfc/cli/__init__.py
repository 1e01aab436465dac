"""The flow cache command-line tool (``python -m libfc``, ``libfc``).

One module per command group; each has ``register(subparsers)``, which adds
its commands and sets a ``handler`` for each.  A handler takes the parsed
arguments and returns the exit status; it reports a failure by raising
CommandError, or lets a library call's exception or a DVSError through, and
main() turns each into one line on stderr, "libfc <command>: error: ...".

Exit statuses: 0 done; 1 the library or its state failed, or what was named
is not there; 2 bad input; 130 interrupted; 141 standard output closed or
its reader gone, as for a program that SIGPIPE stopped (said nothing)."""

import argparse
import os
import re
import sys

from ..dvs import DVSError
from . import config, dvs, emu, enablement, flows, hashstats, inval, stats
from ._library import LIBRARY_ERRORS, CommandError, library_error

PROG = "libfc"
COMMAND_GROUPS = [flows, stats, hashstats, inval, config, enablement, emu, dvs]
DEBUG_VARIABLE = "LIBFC_DEBUG"
OUTPUT_GONE = 128 + 13  # SIGPIPE
INTERRUPTED = 128 + 2  # SIGINT


def printable(text):
    """Text as the user typed it: bytes that were not UTF-8 (kept by Python
    as surrogate escapes, raw or inside a repr) are shown as \\xNN."""
    try:
        text = text.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")
    except UnicodeEncodeError:  # a surrogate no decoder made
        text = text.encode("utf-8", "backslashreplace").decode("utf-8")
    return re.sub(r"\\udc([89a-f][0-9a-f])", r"\\x\1", text)


def _undecodable(value):
    texts = value if isinstance(value, list) else [value]
    for text in texts:
        if isinstance(text, str):
            try:
                text.encode("utf-8")
            except UnicodeEncodeError:
                return text
    return None


class _Parser(argparse.ArgumentParser):
    """Refuses bad input with one line (and exit status 2) instead of the
    usage block; the usage is one --help away."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        # The parser of the innermost command sets it last, so the messages
        # name the command that was run ("libfc dvs ports").
        self.set_defaults(command_name=self.prog)

    def error(self, message):
        self.exit(2, "%s: error: %s (see '%s --help')\n" % (self.prog, printable(message), self.prog))


def build_parser():
    parser = _Parser(prog=PROG, description="Inspect and manage a host's flow cache and switch state.")
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND")
    subparsers.required = True
    for group in COMMAND_GROUPS:
        registered = group.register(subparsers)
        if group is emu:
            # The switch state store's control joins the one "emu" group.
            dvs.register_emu(registered)
    return parser


def _fail(command, message, status):
    sys.stderr.write("%s: error: %s\n" % (command, printable(message)))
    return status


def _settle_stdout():
    """Leave nothing for the interpreter's flush at exit to fail on: flush
    now, and when the output cannot take it, send what is left to /dev/null."""
    stream = sys.stdout
    if stream is None:
        return
    try:
        stream.flush()
    except (OSError, ValueError):
        try:
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(null, stream.fileno())
            os.close(null)
        except (OSError, ValueError, AttributeError):
            pass


def _run(args):
    value = next(filter(None, map(_undecodable, vars(args).values())), None)
    if value is not None:
        return _fail(args.command_name, "argument '%s' is not UTF-8 text" % printable(value), 2)
    if sys.stdout is None:  # started with standard output closed
        return OUTPUT_GONE
    status = args.handler(args)
    sys.stdout.flush()
    return status


def main(argv=None):
    # A Ctrl-C may land anywhere, also while a failure is being reported:
    # it ends the tool the same way wherever it lands.
    try:
        return _main(argv)
    except KeyboardInterrupt:
        try:
            _settle_stdout()
        except KeyboardInterrupt:
            pass
        return INTERRUPTED


def _main(argv):
    command = PROG
    try:
        args = build_parser().parse_args(argv)
        command = args.command_name
        return _run(args)
    except BrokenPipeError:
        # The reader went away (| head): end quietly, as a program that
        # SIGPIPE stops would.
        _settle_stdout()
        return OUTPUT_GONE
    except CommandError as error:
        _settle_stdout()
        return _fail(command, str(error), error.status)
    except Exception as error:
        _settle_stdout()
        if os.environ.get(DEBUG_VARIABLE):
            raise
        if isinstance(error, DVSError):
            return _fail(command, str(error), 1)
        if isinstance(error, OSError) and error.errno is not None:
            return _fail(command, error.strerror or str(error), 1)
        if isinstance(error, LIBRARY_ERRORS):
            failure = library_error(error)
            return _fail(command, str(failure), failure.status)
        return _fail(command, "unexpected %s: %s (%s=1 shows where)" % (type(error).__name__, error,
                                                                      DEBUG_VARIABLE), 1)

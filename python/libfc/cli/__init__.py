"""The flow cache command-line tool (``python -m libfc``, ``libfc``).

One module per command group; each has ``register(subparsers)``, which adds
its commands and sets a ``handler`` for each.  A handler takes the parsed
arguments and returns the exit status; it reports a failure by raising
CommandError, or lets a library call's exception or a DVSError through, and
main() turns each into one line on stderr, "libfc <command>: error: ...".

``libfc --version`` names the package version and the two libraries
_libfc loaded, and whether each is the built-in one or a real one.

Exit statuses: 0 done; 1 the library or its state failed, or what was named
is not there; 2 bad input; 130 interrupted; 141 standard output closed or
its reader gone, as for a program that SIGPIPE stopped (said nothing)."""

import argparse
import importlib
import os
import re
import sys

from .. import _emulator
from ._library import LIBRARY_ERRORS, CommandError, library_error

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Optional, Sequence

PROG = "libfc"
# The distribution's version, as pyproject.toml states it (a test keeps the
# two equal); reading installed metadata instead would name whatever copy
# is installed, not the one that runs.
VERSION = "0.1.0"
# The command groups, in the order --help lists them: each a module of this
# package named after its command ("inval-table" is inval_table), imported
# when its command runs or every command is listed.
COMMAND_GROUPS = ("flows", "top", "diff", "stats", "hashstats", "inval_table", "invalidate", "config", "port",
                  "portset", "emu", "dvs", "exporter", "export", "completion")
DEBUG_VARIABLE = "LIBFC_DEBUG"
OUTPUT_GONE = 128 + 13  # SIGPIPE
INTERRUPTED = 128 + 2  # SIGINT


def printable(text: str) -> str:
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


# The libraries _libfc links, each with a control function that only the
# built-in implementation exports.
LIBRARIES = ((_emulator.FLOW_CACHE, "fcemu_reset"), (_emulator.SWITCH_STORE, "fabemu_reset"))


def _mapped_files():
    """The files mapped into this process, as the kernel lists them."""
    try:
        with open("/proc/self/maps") as maps:
            fields = (line.split(None, 5) for line in maps)
            return {entry[5].strip() for entry in fields if len(entry) == 6 and entry[5].startswith("/")}
    except OSError:
        return set()


def loaded_library(file_name: str) -> "Optional[str]":
    """The path of the library `file_name` (or a versioned libNAME.so.N)
    that this process has mapped; without /proc, the one beside _libfc,
    where _libfc's run path finds it."""
    import _libfc

    pattern = re.compile(re.escape(file_name) + r"(\.[0-9]+)*")
    mapped = sorted(path for path in _mapped_files() if pattern.fullmatch(os.path.basename(path)))
    if mapped:
        return mapped[0]
    beside = os.path.join(os.path.dirname(os.path.abspath(_libfc.__file__)), file_name)
    return beside if os.path.exists(beside) else None


def library_kind(path: str, control: str) -> str:
    """"built-in" when the library at `path` exports the built-in
    implementation's control function `control`, else "real"."""
    import ctypes

    try:
        library = ctypes.CDLL(path)
    except OSError:
        return "unreadable"
    return "built-in" if hasattr(library, control) else "real"


def version_text() -> str:
    lines = ["%s %s (Python %s)" % (PROG, VERSION, ".".join(map(str, sys.version_info[:3])))]
    for file_name, control in LIBRARIES:
        path = loaded_library(file_name)
        if path is None:
            lines.append("%s: not loaded" % file_name)
        else:
            lines.append("%s: %s, %s" % (file_name, library_kind(path, control), path))
    return "\n".join(lines) + "\n"


class _VersionAction(argparse.Action):
    def __init__(self, option_strings, dest, help=None):
        super().__init__(option_strings, dest, nargs=0, default=argparse.SUPPRESS, help=help)

    def __call__(self, parser, namespace, values, option_string=None):
        sys.stdout.write(version_text())
        parser.exit(0)


class _Parser(argparse.ArgumentParser):
    """Refuses bad input with one line (and exit status 2) instead of the
    usage block; the usage is one --help away."""

    def __init__(self, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.commands = None
        # The parser of the innermost command sets it last, so the messages
        # name the command that was run ("libfc dvs ports").
        self.set_defaults(command_name=self.prog)

    def add_subparsers(self, **kwargs):
        # Kept so that a command's parser can be found by the words that
        # name it (see _shown_as_typed).
        self.commands = super().add_subparsers(**kwargs)
        return self.commands

    def error(self, message):
        self.exit(2, "%s: error: %s (see '%s --help')\n" % (self.prog, printable(message), self.prog))


def _rename(parser, old, new):
    """Name `parser`, and the commands under it, `new` where they were `old`."""
    parser.prog = new + parser.prog[len(old):]
    parser.set_defaults(command_name=parser.prog)
    if parser.commands is not None:
        for name, command in parser.commands.choices.items():
            if command.prog.startswith(old + " "):
                _rename(command, old, new)


def _shown_as_typed(parser, argv):
    """A command that has an old name (argparse's aliases) answers to it;
    when the user typed the old name, its help and its errors say that
    name, as the user would look for it ("libfc inval: error: ...")."""
    command = parser.commands.choices.get(argv[0]) if argv else None
    typed = "%s %s" % (PROG, argv[0]) if argv else None
    if command is not None and command.prog != typed:
        _rename(command, command.prog, typed)
    return parser


def _command_parser(parser, name):
    """The parser of the command `name` ("libfc dvs ports") under `parser`."""
    for word in name.split()[1:]:
        parser = parser.commands.choices[word]
    return parser


def command_group(name: str) -> "Any":
    """The module of the command group `name` (one of COMMAND_GROUPS)."""
    return importlib.import_module("." + name, __name__)


def build_parser(command: "Optional[str]" = None) -> argparse.ArgumentParser:
    """The parser of every command; or, when `command` is the name a group
    registers, of that group's commands alone, which parses that command
    the same way without importing every group (a third of a run's start)."""
    group = command.replace("-", "_") if command is not None else None
    if group not in COMMAND_GROUPS:
        return _parser_of(COMMAND_GROUPS)
    parser = _parser_of([group])
    return parser if command in parser.commands.choices else _parser_of(COMMAND_GROUPS)


def _parser_of(groups: "Sequence[str]") -> argparse.ArgumentParser:
    parser = _Parser(prog=PROG, description="Inspect and manage a host's flow cache and switch state.")
    parser.add_argument("--version", action=_VersionAction,
                        help="print the version and the libraries loaded (built-in or real, and where)")
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND")
    subparsers.required = True
    for group in groups:
        command_group(group).register(subparsers)
    return parser


def _fail(command: str, message: str, status: int) -> int:
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


def _run(args: argparse.Namespace) -> int:
    value = next(filter(None, map(_undecodable, vars(args).values())), None)
    if value is not None:
        return _fail(args.command_name, "argument '%s' is not UTF-8 text" % printable(value), 2)
    if getattr(args, "pretty", False) and not getattr(args, "json", False):
        return _fail(args.command_name, "--pretty indents the --json document: add --json", 2)
    if sys.stdout is None:  # started with standard output closed
        return OUTPUT_GONE
    status = args.handler(args)
    sys.stdout.flush()
    return status


def main(argv: "Optional[Sequence[str]]" = None) -> int:
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


def _main(argv: "Optional[Sequence[str]]") -> int:
    command = PROG
    try:
        argv = sys.argv[1:] if argv is None else list(argv)
        parser = _shown_as_typed(build_parser(argv[0] if argv else None), argv)
        args, unknown = parser.parse_known_args(argv)
        command = args.command_name
        if unknown:
            # Said by the command they were given to, whose --help lists
            # what it takes, unless they came before the command's name.
            where = parser if argv[0].startswith("-") else _command_parser(parser, command)
            where.error("unrecognized arguments: %s" % " ".join(unknown))
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
        # Only the switch state's module raises its error: not imported, not raised.
        switch_state = sys.modules.get("libfc.dvs")
        if switch_state is not None and isinstance(error, switch_state.DVSError):
            return _fail(command, str(error), 1)
        if isinstance(error, OSError) and error.errno is not None:
            return _fail(command, error.strerror or str(error), 1)
        if isinstance(error, LIBRARY_ERRORS):
            failure = library_error(error)
            return _fail(command, str(failure), failure.status)
        return _fail(command, "unexpected %s: %s (%s=1 shows where)" % (type(error).__name__, error,
                                                                      DEBUG_VARIABLE), 1)

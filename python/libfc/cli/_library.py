"""What the commands reach besides the records: the built-in libraries'
control functions, the optional Prometheus client, and the errors a library
call may raise, sorted into the tool's exit statuses."""

import os

from .. import _emulator

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Dict


class CommandError(Exception):
    """A failure the tool reports as one line; ``status`` is its exit status
    (2 for input the tool or the library refused, 1 for anything else)."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


def bad_input(message):
    return CommandError(message, status=2)


# What a library call abandoned through the trap raises, and how to exit.
# The libraries raise ValueError for a value they do not accept; text they
# hand back that does not decode is their failure, not the user's.
LIBRARY_ERRORS = (ValueError, OSError, MemoryError, RuntimeError, KeyError)


def library_error(error):
    status = 2 if isinstance(error, ValueError) and not isinstance(error, UnicodeError) else 1
    return CommandError(str(error) or type(error).__name__, status)


def need_client(what: str) -> None:
    """A CommandError naming the extra to install when prometheus_client
    is missing; `what` is what needs it."""
    try:
        import prometheus_client  # noqa: F401
    except ImportError:
        raise CommandError("%s needs prometheus_client: pip install 'libfc-binding[exporter]'" % what) from None


# What the emu commands call each built-in library when it is missing.
_WHAT = {_emulator.FLOW_CACHE: "flow cache", _emulator.SWITCH_STORE: "switch state"}

_loaded: "Dict[str, Any]" = {}


def _controls(file_name):
    if file_name not in _loaded:
        try:
            lib = _emulator.controls(file_name)
        except (OSError, AttributeError):
            raise CommandError("the emu commands need the built-in %s library (the %s beside _libfc has no "
                               "emulator controls)" % (_WHAT[file_name], file_name)) from None
        _loaded[file_name] = lib
    return _loaded[file_name]


def emulator():
    """The built-in flow cache's control functions (fcemu_*), or a
    CommandError when the loaded libfc is another library."""
    return _controls(_emulator.FLOW_CACHE)


def switch_store_emulator():
    """The built-in switch state store's control functions (fabemu_*)."""
    return _controls(_emulator.SWITCH_STORE)


def emulator_state_dir():
    """Where the built-in cache keeps its state file, as the library itself
    chooses it for the current environment."""
    return os.fsdecode(emulator().fcemu_state_dir())


def emulator_failure():
    """The CommandError for a control function that returned -1."""
    message = emulator().fcemu_last_error()
    return CommandError(os.fsdecode(message) if message else "the built-in flow cache failed")

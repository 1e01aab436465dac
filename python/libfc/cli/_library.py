"""What the commands reach besides the records: the built-in libraries'
control functions, and the errors a library call may raise, sorted into the
tool's exit statuses."""

import ctypes
import os

import _libfc

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


# The built-in libraries' control functions: the library file beside
# _libfc, and each function's result and argument types.
_FLOW_CACHE_CONTROLS = ("libfc.so", "flow cache", {
    "fcemu_reset": (ctypes.c_int, []),
    "fcemu_traffic_from": (ctypes.c_int, [ctypes.c_uint, ctypes.c_uint, ctypes.c_uint]),
    "fcemu_last_error": (ctypes.c_char_p, []),
    "fcemu_state_dir": (ctypes.c_char_p, []),
})
_SWITCH_STORE_CONTROLS = ("libfabPublic.so", "switch state", {
    "fabemu_reset": (ctypes.c_int, []),
    "fabemu_populate": (ctypes.c_int, [ctypes.c_uint, ctypes.c_uint, ctypes.c_uint]),
    "fabemu_cancel": (None, []),
    "fabemu_store_path": (ctypes.c_char_p, []),
})

_loaded: "Dict[str, Any]" = {}


def _controls(library):
    file_name, what, prototypes = library
    if file_name not in _loaded:
        # _libfc finds its libraries beside itself; loading the same file
        # again only hands back the handle the dynamic loader already holds.
        path = os.path.join(os.path.dirname(os.path.abspath(_libfc.__file__)), file_name)
        try:
            lib = ctypes.CDLL(path)
            for name, (result, arguments) in prototypes.items():
                function = getattr(lib, name)
                function.restype, function.argtypes = result, arguments
        except (OSError, AttributeError):
            raise CommandError("the emu commands need the built-in %s library (the %s beside _libfc has no "
                               "emulator controls)" % (what, file_name)) from None
        _loaded[file_name] = lib
    return _loaded[file_name]


def emulator():
    """The built-in flow cache's control functions (fcemu_*), or a
    CommandError when the loaded libfc is another library."""
    return _controls(_FLOW_CACHE_CONTROLS)


def switch_store_emulator():
    """The built-in switch state store's control functions (fabemu_*)."""
    return _controls(_SWITCH_STORE_CONTROLS)


def emulator_state_dir():
    """Where the built-in cache keeps its state file, as the library itself
    chooses it for the current environment."""
    return os.fsdecode(emulator().fcemu_state_dir())


def emulator_failure():
    """The CommandError for a control function that returned -1."""
    message = emulator().fcemu_last_error()
    return CommandError(os.fsdecode(message) if message else "the built-in flow cache failed")

"""What the commands reach besides the records: the loaded ``libfc.so`` for
the built-in cache's control functions, and the errors a library call may
raise, sorted into the tool's exit statuses."""

import ctypes
import os

import _libfc


class CommandError(Exception):
    """A failure the tool reports as one line; ``status`` is its exit status
    (2 for input the tool or the library refused, 1 for anything else)."""

    def __init__(self, message, status=1):
        super().__init__(message)
        self.status = status


def bad_input(message):
    return CommandError(message, status=2)


# What a library call abandoned through the trap raises, and how to exit.
# The libraries raise ValueError for a value they do not accept.
LIBRARY_ERRORS = (ValueError, OSError, MemoryError, RuntimeError, KeyError)


def library_error(error):
    status = 2 if isinstance(error, ValueError) else 1
    return CommandError(str(error) or type(error).__name__, status)


def _library_path():
    # _libfc finds libfc.so beside itself; loading that same file again only
    # hands back the handle the dynamic loader already holds.
    return os.path.join(os.path.dirname(os.path.abspath(_libfc.__file__)), "libfc.so")


_emulator = None


def emulator():
    """The built-in cache's control functions (fcemu_*), or a CommandError
    when the loaded libfc is another library."""
    global _emulator
    if _emulator is None:
        try:
            lib = ctypes.CDLL(_library_path())
            lib.fcemu_reset.restype = ctypes.c_int
            lib.fcemu_reset.argtypes = []
            lib.fcemu_traffic_from.restype = ctypes.c_int
            lib.fcemu_traffic_from.argtypes = [ctypes.c_uint, ctypes.c_uint, ctypes.c_uint]
            lib.fcemu_last_error.restype = ctypes.c_char_p
            lib.fcemu_last_error.argtypes = []
            lib.fcemu_state_dir.restype = ctypes.c_char_p
            lib.fcemu_state_dir.argtypes = []
        except (OSError, AttributeError):
            raise CommandError("the emu commands need the built-in flow cache library "
                               "(this libfc has no fcemu_* control functions)") from None
        _emulator = lib
    return _emulator


def emulator_state_dir():
    """Where the built-in cache keeps its state file, as the library itself
    chooses it for the current environment."""
    return os.fsdecode(emulator().fcemu_state_dir())


def emulator_failure():
    """The CommandError for a control function that returned -1."""
    return CommandError(os.fsdecode(emulator().fcemu_last_error()) or "the built-in flow cache failed")

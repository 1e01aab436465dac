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
            lib.fcemu_traffic.restype = ctypes.c_int
            lib.fcemu_traffic.argtypes = [ctypes.c_uint, ctypes.c_uint]
        except (OSError, AttributeError):
            raise CommandError("the emu commands need the built-in flow cache library "
                               "(this libfc has no fcemu_* control functions)") from None
        _emulator = lib
    return _emulator


def emulator_state_dir():
    """Where the built-in cache keeps its state file (mirrors its own rule)."""
    return os.environ.get("FC_EMU_DIR") or "/tmp/fcemu-%d" % os.getuid()

"""A library's lock held around the functions that read what it hands out:
a result stays the library's only until its next call from any thread, so a
reader holds the lock from its first call until the last value is copied
into Python objects."""

import functools
import threading

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Callable, TypeVar

    _F = TypeVar("_F", bound=Callable)

# One lock per library, shared by every module that reads what it hands out.
FLOW_CACHE = threading.RLock()
SWITCH_STATE = threading.RLock()


def holding(lock: "threading.RLock") -> "Callable[[_F], _F]":
    """A decorator that runs its function with `lock` held (reentrant: the
    functions may call one another)."""
    def decorate(function: "_F") -> "_F":
        @functools.wraps(function)
        def call(*args, **kwargs):  # type: ignore[no-untyped-def]
            with lock:
                return function(*args, **kwargs)
        return call  # type: ignore[return-value]
    return decorate

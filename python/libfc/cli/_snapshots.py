"""What the commands add to libfc.snapshot: a save that never leaves half a
file under the name, "-" and "live" for the live cache, and a snapshot that
cannot be read reported as the command's one error line (status 1)."""

import contextlib
import gc

from .. import _cache
from .. import snapshot as _format
from ..snapshot import Snapshot, SnapshotError
from . import _output, _replace
from ._library import CommandError

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Callable, Dict, Iterable, Iterator, List, Optional, Tuple, Union

    from .._flow import Flow

LIVE = ("-", "live")


def save(path: str, flows: "Optional[Iterable[Flow]]" = None) -> int:
    """Writes the whole live cache (or `flows`) to `path`, through a
    temporary file beside it, so that a failed or interrupted save leaves no
    half-written snapshot under the name; returns the count of flows."""
    with _replace.replacing(path) as temporary:
        with open(temporary, "wb") as file:
            if temporary == path:  # a stream, written through
                return _format.write(file, flows, _output.json_text)
            with _replace.FlushedAsWritten(file) as flushed:
                return _format.write(flushed, flows, _output.json_text)


@contextlib.contextmanager
def refused_as_command_error() -> "Iterator[None]":
    try:
        yield
    except SnapshotError as error:
        raise CommandError(str(error)) from None


@contextlib.contextmanager
def holding_every_flow(paths: "List[str]") -> "Iterator[None]":
    """Where the snapshots `paths` are read and every flow of them is held
    at once (sorted, compared): running out of memory says which files
    were too large, and any failure to read one is the command's error."""
    with refused_as_command_error(), _format.holding_every_flow(paths):
        yield


@contextlib.contextmanager
def without_collector() -> "Iterator[None]":
    """The cyclic garbage collector held off: while a million flows are
    kept, it would walk every one kept so far again and again."""
    enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if enabled:
            gc.enable()


class LiveCache:
    """The live cache read now, in the shape of a Snapshot."""

    def __init__(self) -> None:
        self.path = "live"
        self.header: "Dict[str, Any]" = _format.header()
        self.time: float = self.header["time"]

    def __iter__(self) -> "Iterator[Flow]":
        return iter(_cache.flows())

    def pages(self, render: "Callable[[Any, int, Any], Tuple[int, Any]]",
              flow_page: "Callable[[List[Flow]], Tuple[int, Any]]") -> "Iterator[Tuple[int, Any]]":
        """A walk's pages (see Snapshot.pages); its flows are all the C
        writer's, so flow_page is never called."""
        return _cache.flows().pages(render)


def source(name: str) -> "Union[Snapshot, LiveCache]":
    """A snapshot file, or the live cache for ``-`` and ``live``."""
    if name in LIVE:
        return LiveCache()
    with refused_as_command_error():
        return Snapshot(name)

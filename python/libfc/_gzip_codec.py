"""The deflate codec snapshot files are compressed and inflated with: ISA-L's
(the ``isal`` package) where it can be imported, Python's zlib otherwise.
Both read and write the same gzip members, so a file saved with either
reads with either and with any gzip reader. ISA-L's level 1 compresses a
snapshot's lines about five times as fast as zlib's (and a little smaller)
and inflates them in about two thirds of zlib's time: with zlib,
compressing a large snapshot costs more than walking the whole cache."""

import zlib

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Callable, Sequence, Tuple

try:
    from isal import isal_zlib as _isal
except ImportError:  # zlib does all of it, slower
    _isal = None


class Codec:
    """One library's calls, as the snapshot module makes them."""

    def __init__(self, name: str, library: "Any") -> None:
        self.name = name
        self.crc32: "Callable[..., int]" = library.crc32
        self._library = library

    def gzip_member(self, pieces: "Sequence[bytes]", level: int) -> bytes:
        """One gzip member of the pieces one after the other, compressed in
        one call. The compressing thread takes the interpreter's lock back
        after each call, and while the thread reading the cache holds it,
        a waiting thread gets it only every few milliseconds: with a call
        per piece (a page of lines, tens of KiB) the compression hardly ran
        beside the reading. Joining a few MiB costs far less."""
        # 31: a gzip header and trailer around the data.
        compressor = self._library.compressobj(level, zlib.DEFLATED, 31)
        return compressor.compress(b"".join(pieces)) + compressor.flush()

    def raw_inflater(self) -> "Any":
        """A decompressor of one member's deflate data, without its gzip
        header and trailer (read, and checked, by the caller)."""
        return self._library.decompressobj(-zlib.MAX_WBITS)


ZLIB = Codec("zlib", zlib)
ISAL = Codec("isal", _isal) if _isal is not None else None
# What inflating a damaged stream raises, with either codec.
INFLATE_ERRORS: "Tuple[type, ...]" = (zlib.error,) + ((_isal.error,) if _isal is not None else ())
# Level 1, the fastest of both libraries that compresses at all: compressing
# is most of what a save costs.
LEVEL = 1
# The codec in use; tests set it to ZLIB to read and write without ISA-L.
codec = ISAL or ZLIB

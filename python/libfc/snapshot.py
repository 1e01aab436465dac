"""Flow cache snapshots: the whole cache written to a file, read back later
in place of the live cache.  ``open(path)`` reads one; the ``libfc``
command writes them (``flows --save``) and reads them (``flows --from``,
``top --file``, ``diff``).

A snapshot is gzip-compressed JSON Lines: a header object (``format``,
``version``, ``host``, ``time``, the cache's options, its size and its
counters), one object per flow as ``flows --json-lines`` writes it, and an
end object that counts the flows.  The end object is how a reader tells a
complete file from one cut short; gzip's own check catches damage.

A snapshot file is untrusted input: whatever it holds, reading it gives
flows or raises SnapshotError, one line that names the file and, for a
line that is not what the format says, the line."""

import collections
import contextlib
import gzip
import io
import itertools
import os
import json
import queue
import re
import socket
import struct
import sys
import threading
import time

import _libfc

from . import _addresses, _cache, _gzip_codec, _metrics
from ._processors import PROCESSORS
from ._flow import _KEPT_AS, ENTITY_KEYS, JSON_FIELDS, NAME_FORMS, Flow, _decode_rows, action_names

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from concurrent.futures import Future
    from typing import IO, Any, BinaryIO, Callable, Deque, Dict, Iterable, Iterator, List, Optional, Tuple, Union

    Rule = Tuple[str, str, Optional[Tuple[Any, ...]]]

FORMAT = "libfc-flow-snapshot"
VERSION = 1
_pton, _ntop, _AF_INET, _AF_INET6 = socket.inet_pton, socket.inet_ntop, socket.AF_INET, socket.AF_INET6


class SnapshotError(ValueError):
    """A snapshot that cannot be read (missing, not a snapshot, damaged, too
    large to hold), said in one line that names the file."""


# ---- writing ---------------------------------------------------------------------

def cache_size() -> "Tuple[int, int]":
    """(tables, entries) of the live cache, from the hash statistics."""
    tables = _metrics.tables(_cache.hash_stats())
    return len(tables), sum(table["capacity"] for table in tables)


def header(now: "Optional[float]" = None) -> "Dict[str, Any]":
    """The header of a snapshot of the live cache taken now."""
    now = time.time() if now is None else now
    tables, entries = cache_size()
    return {"format": FORMAT, "version": VERSION, "host": socket.gethostname(), "time": now,
            "time_text": time.strftime("%Y-%m-%dT%H:%M:%S%z", time.localtime(now)),
            "options": _cache.options(), "tables": tables, "entries": entries, "stats": _cache.stats()}


def _compact_json(document: "Dict[str, Any]") -> str:
    return json.dumps(document, separators=(",", ":"))


def write(out: "BinaryIO", flows: "Optional[Iterable[Flow]]" = None,
          json_text: "Callable[[Dict[str, Any]], str]" = _compact_json) -> int:
    """Writes a snapshot of the whole live cache (or of `flows`) to the
    binary file `out`; returns the count of flows.  `json_text` writes the
    header and end objects (the command adds its output's schema number)."""
    from ._flow import TEXT_WRITER

    start = header()
    count = 0
    with _quick_switches(), _Compressing(out) as text:
        text.write(json_text(start) + "\n")
        flows = _cache.flows() if flows is None else flows
        copies = getattr(flows, "copies", None)
        copied = copies() if copies is not None and TEXT_WRITER is not None else None
        pages = getattr(flows, "pages", None)
        if copied is not None:
            # The walk's thread only queries and copies: the compressing
            # threads write the lines of many answers a call.
            text.lines_of = lambda copies: TEXT_WRITER.json_lines_of(copies, b"{")[1]
            for shown, copy, now_ms in copied:
                text.write_copy(copy, now_ms, shown)
                count += shown
        elif pages is not None and TEXT_WRITER is not None:
            # A walk's lines are written a whole answer at a time.
            write_lines = TEXT_WRITER.json_lines
            for shown, lines in pages(lambda *page: write_lines(*page, b"{")):
                text.write(lines)
                count += shown
        else:
            for flow in flows:
                text.write(flow.json_text() + "\n")
                count += 1
        text.write(json_text({"end": True, "flows": count}) + "\n")
    return count


# The compressing threads take the interpreter's lock at each piece's start
# and end, while the writer of the lines holds it for long stretches (the
# library's queries keep it) and lets it go only once the interpreter's
# switch interval has passed. While a snapshot is written the interval is
# held at half a millisecond instead of five, so that the threads keep
# compressing: in eleven alternating pairs of saves of a million flows,
# each save took 0.07-0.71 s less so (1.55-2.03 s against 1.75-2.26 s), and
# less processor time.
QUICK_SWITCH = 0.0005
_switches = threading.Lock()
_quick_writers = 0
_interval_before = 0.0


@contextlib.contextmanager
def _quick_switches() -> "Iterator[None]":
    """The switch interval at most QUICK_SWITCH while any snapshot is being
    written, as it was before once none is."""
    global _quick_writers, _interval_before
    with _switches:
        if _quick_writers == 0:
            _interval_before = sys.getswitchinterval()
            sys.setswitchinterval(min(_interval_before, QUICK_SWITCH))
        _quick_writers += 1
    try:
        yield
    finally:
        with _switches:
            _quick_writers -= 1
            if _quick_writers == 0:
                sys.setswitchinterval(_interval_before)


def _no_copies(copies: "List[Tuple[Any, int]]") -> bytes:
    raise RuntimeError("copies written with no writer of their lines")


class _Compressing:
    """Text written to a binary file as gzip, a piece of about PIECE bytes
    at a time, each piece a gzip member of its own (gzip reads members one
    after the other as one stream) compressed by one of a few threads.
    Both codecs let go of the interpreter while they compress, so the
    pieces are compressed side by side while the next answers' lines are
    made: a save takes about the longest of these, not their sum. The
    members are written in order; a failure is raised by a later write or
    at the end. Lines come as str (ASCII, as the writers make them), as
    bytes, or as an answer's copy whose lines the compressing thread makes
    (``write_copy``), the walk's thread then only making the queries."""

    # Each piece costs its thread a few waits for the interpreter's lock,
    # which the writer of the lines holds for long stretches: few large
    # pieces keep the threads compressing.
    PIECE = 1 << 22
    LINE_BYTES = 432  # about a flow's line: a copy's share of a piece before its lines are made
    # The walk's thread, making the queries, keeps a processor to itself:
    # the compressing threads take the others, up to three. With a second
    # thread beside the walk on a machine of two, saves of a million flows
    # took 1.30 s against 1.22 s (medians of ten alternating runs) and more
    # processor time, the lines' worker getting no processor of its own.
    MOST_WORKERS = 3

    def __init__(self, out: "BinaryIO") -> None:
        import concurrent.futures

        self.out = out
        self.codec = _gzip_codec.codec
        self.workers = max(1, min(self.MOST_WORKERS, PROCESSORS - 1))
        self.pool = concurrent.futures.ThreadPoolExecutor(self.workers, thread_name_prefix="libfc-snapshot-writer")
        self.lines: "List[Union[bytes, Tuple[Any, int]]]" = []
        self.lines_of: "Callable[[List[Tuple[Any, int]]], bytes]" = _no_copies
        self.size = 0
        self.members: "Deque[Future[bytes]]" = collections.deque()

    def write(self, lines: "Union[str, bytes]") -> None:
        data = lines.encode("utf-8") if type(lines) is str else lines
        self.lines.append(data)
        self.size += len(data)
        if self.size >= self.PIECE:
            self._compress()

    def write_copy(self, copy: "Any", now_ms: int, flows: int) -> None:
        """The lines of an answer's copy, made by ``lines_of`` when its
        piece is compressed."""
        self.lines.append((copy, now_ms))
        self.size += flows * self.LINE_BYTES
        if self.size >= self.PIECE:
            self._compress()

    def _member(self, items: "List[Union[bytes, Tuple[Any, int]]]") -> bytes:
        pieces: "List[bytes]" = []
        copies: "List[Tuple[Any, int]]" = []
        for item in items:
            if type(item) is tuple:
                copies.append(item)
                continue
            if copies:
                pieces.append(self.lines_of(copies))
                copies = []
            pieces.append(item)
        if copies:
            pieces.append(self.lines_of(copies))
        return self.codec.gzip_member(pieces, _gzip_codec.LEVEL)

    def _compress(self) -> None:
        lines, self.lines, self.size = self.lines, [], 0
        self.members.append(self.pool.submit(self._member, lines))
        # Each thread with a piece to compress and one waiting: enough to
        # keep them busy, few enough to hold little text.
        while len(self.members) > 2 * self.workers or self.members and self.members[0].done():
            self.out.write(self.members.popleft().result())

    def __enter__(self) -> "_Compressing":
        return self

    def __exit__(self, *failure: object) -> None:
        try:
            if failure[0] is None:
                if self.lines or not self.members:
                    self._compress()
                while self.members:
                    self.out.write(self.members.popleft().result())
        finally:
            for member in self.members:
                member.cancel()
            self.pool.shutdown(wait=True)


# ---- reading ---------------------------------------------------------------------

# A snapshot file is untrusted input: a line is read only up to LINE_LIMIT
# bytes and refused when it nests deeper than DEPTH_LIMIT (the
# header's counter blocks nest 5 deep, a flow 4), so a file that inflates
# without end costs one line of memory and time; then every field of the
# line is checked against the C field it was read from before anything is
# made of it.
LINE_LIMIT = 64 * 1024
DEPTH_LIMIT = 8
UINT32, UINT64 = 2**32 - 1, 2**64 - 1
LATEST_TIME = 1e10  # seconds since the epoch (the year 2286): any later one is not a clock's
_MISSING = object()


# A field's rule is (test, words for what it must be, kind): the kind tells
# the C reader of flow lines (see _fast_reader) the same rule.
def _integer(low: int, high: int) -> "Rule":
    return ("type(v) is int and %d <= v <= %d" % (low, high), "an integer from %d to %d" % (low, high),
            ("integer", low, high))


def _optional(check: "Rule") -> "Rule":
    test, expected = check[:2]
    return "v is missing or " + test, expected, None


def _address(value, ipv6):
    try:
        _pton(_AF_INET6 if ipv6 else _AF_INET, value)
    except (OSError, ValueError):
        return False
    return True


def _entity(entity):
    # Whole lists at a time, in C (a list holding a list cannot be hashed).
    if type(entity) is not dict or len(entity) != 2:
        return False
    names, ports = map(entity.get, ENTITY_KEYS)
    if type(names) is not list or type(ports) is not list or len(names) > 64 or len(ports) > _MAX_PORTS:
        return False
    try:
        if not _ACTIONS.issuperset(names):
            return False
    except TypeError:
        return False
    return not ports or _INT_ONLY.issuperset(map(type, ports)) and min(ports) >= 0 and max(ports) <= UINT32


def _counters(value, low, high):
    return type(value) is dict and all(
        type(key) is str and (type(v) is int and low <= v <= high or _counters(v, low, high))
        for key, v in value.items())


# Every name an action bit can have, the ones without an FC_ACTION_ name too.
_ACTION_BITS = {name: bit for bit in range(64) for name in action_names(1 << bit)}
_ACTIONS = frozenset(_ACTION_BITS)
_MAX_ENTITIES = _libfc.FC_MAX_OUT_AC_IOC
_MAX_PORTS = _libfc.FC_MAX_DPORTS_IOC
_INT_ONLY = frozenset((int,))
# What the field tests below may name: `v` is the field's value, `r` the line.
_TEST_NAMES = {"missing": _MISSING, "address": _address, "entity": _entity, "counters": _counters,
               "mac": re.compile("[0-9a-f]{2}(?::[0-9a-f]{2}){5}").fullmatch}
_ADDRESS = ("type(v) is str and address(v, r['ipv6'])", "an address of the family ipv6 gives",
            ("address", "ipv6"))
_MAC = "type(v) is str and mac(v) is not None", "a MAC address xx:xx:xx:xx:xx:xx", ("mac",)
NAME_LIMIT = 32
_NAME = ("v is None or type(v) is str and len(v) <= %d and v.isprintable()" % NAME_LIMIT, "null or a name",
         ("name", NAME_LIMIT))
_TEXT = "type(v) is str and len(v) <= 255 and v.isprintable()", "a printable text", None

# What each field of a line must be, as a test and the words for it: the
# range of the C field a flow's value was read from; in the flow's order
# (JSON_FIELDS).  Keys not named are ignored.
_FLOW_RULES: "Dict[str, Rule]" = {
    "id": _integer(0, UINT64),
    "flags": _integer(-2**31, 2**31 - 1),  # FC_FlowEntryFlags, a C int
    "table": _integer(0, UINT64),
    "port": _integer(0, UINT32),
    "vni": _integer(0, 2**24 - 1),
    "ipv6": ("type(v) is bool", "true or false", ("bool",)),
    "src": _ADDRESS,
    "dst": _ADDRESS,
    "proto": _integer(0, 255),
    "proto_name": _NAME,
    "ether_type": _integer(0, 65535),
    "ether_type_name": _NAME,
    "vlan": _integer(0, 4095),
    "src_mac": _MAC,
    "dst_mac": _MAC,
    "inner_dst_mac": _MAC,
    "entities": ("type(v) is list and len(v) <= %d and all(map(entity, v))" % _MAX_ENTITIES,
                 "at most %d {%s, %s} of action names and port ids" % ((_MAX_ENTITIES,) + ENTITY_KEYS),
                 ("entities", _MAX_ENTITIES, _MAX_PORTS) + ENTITY_KEYS),
    "packets": _integer(0, UINT64),
    "age_s": _integer(0, UINT64 // 1000),
    "expires_in_s": _integer(0, UINT32),
}
FLOW_FIELDS: "Dict[str, Rule]" = {key: _FLOW_RULES[key] for key, _, _ in JSON_FIELDS}
HEADER_FIELDS: "Dict[str, Rule]" = {
    "version": _integer(1, VERSION),
    "time": ("type(v) in (int, float) and 0 <= v <= %r" % LATEST_TIME, "a number of seconds from 0 to %d"
             % LATEST_TIME, None),
    "time_text": _optional(_TEXT),
    "host": _optional(_TEXT),
    "options": _optional(("counters(v, %d, %d)" % (-2**63, 2**63 - 1), "an object of integers", None)),
    "tables": _optional(_integer(0, UINT64)),
    "entries": _optional(_integer(0, UINT64)),
    "stats": _optional(("counters(v, 0, %d)" % UINT64, "an object of counters", None)),
}
END_FIELDS: "Dict[str, Rule]" = {"end": ("v is True", "true", None), "flows": _integer(0, UINT64)}


def _first_wrong(fields: "Dict[str, Any]") -> "Callable[[Dict[str, Any]], Optional[str]]":
    """The tests of `fields` made one function, compiled once (a line of a
    million-flow snapshot cannot afford a call per field): it gives the
    name of the first field that fails or is missing, or None."""
    body = "".join("        v = r%s\n        if not (%s):\n            return %r\n"
                   % ((".get(%r, missing)" if test.startswith("v is missing") else "[%r]") % name, test, name)
                   for name, (test, _, _) in fields.items())
    namespace = dict(_TEST_NAMES)
    exec("def first_wrong(r):\n    try:\n%s    except KeyError as error:\n        return error.args[0]\n"
         "    return None\n" % body, namespace)
    return namespace["first_wrong"]


def fault(record: "Dict[str, Any]", fields: "Dict[str, Any]",
          first_wrong: "Callable[[Dict[str, Any]], Optional[str]]") -> "Optional[str]":
    """What is wrong with a decoded line, or None."""
    name = first_wrong(record)
    if name is None:
        return None
    if name not in record:
        return "%s is missing" % name
    shown = json.dumps(record[name])
    return "%s is %s, not %s" % (name, shown if len(shown) <= 40 else shown[:36] + " ...", fields[name][1])


_flow_wrong, _header_wrong, _end_wrong = map(_first_wrong, (FLOW_FIELDS, HEADER_FIELDS, END_FIELDS))
# The Flow slot each field of a flow line fills (None: a name, only checked), as flow_of() fills them.
_FLOW_SLOTS = {key: None if form in NAME_FORMS else _KEPT_AS.get(attribute, attribute)
               for key, attribute, form in JSON_FIELDS}
# The key of each of Flow's fields.
_FLOW_KEYS = {attribute: key for key, attribute, form in JSON_FIELDS if form not in NAME_FORMS}


def _fast_reader() -> "Any":
    """The C reader of flow lines, told FLOW_FIELDS' rules; None without
    the fields module.  It accepts only lines these rules accept, as the
    flows flow_of() makes, and stops at any other line, which the reader
    below then reads itself.  Aimed at lines, it is also an answer the
    listing's C writer writes the flows of (see Snapshot.pages)."""
    try:
        from _libfc_fields import snapshot_lines
    except ImportError:
        return None
    rules = tuple((name, _FLOW_SLOTS[name], kind) for name, (_, _, kind) in FLOW_FIELDS.items())
    names = tuple(action_names(1 << bit)[0] for bit in range(64))
    return snapshot_lines(Flow, names, rules, LINE_LIMIT, DEPTH_LIMIT)


def lines_reader(lines: bytes) -> "Any":
    """A C reader aimed at flow lines, an answer for the writers that take
    one (see Snapshot.pages)."""
    reader = _fast_reader()
    reader.aim(lines, 0)
    return reader


_LINES = _fast_reader()
_read_lines = _LINES.read if _LINES is not None else None
CHUNK = 1 << 17  # decompressed bytes read at a time


def _spelt(family: int, address: str) -> str:
    """An address as the writers spell it ("FD00:0::1" is read as "fd00::1"),
    as the C reader does: a flow's text depends neither on the reader nor on
    whether its address objects were made. Text that is no address (never
    in a checked record) is kept."""
    try:
        return _ntop(family, _pton(family, address))
    except (OSError, ValueError):
        return address


def flow_of(record: "Dict[str, Any]") -> Flow:
    """A Flow from one flow object of a snapshot, checked by fault()."""
    values = {attribute: record[key] for attribute, key in _FLOW_KEYS.items()}
    family = _AF_INET6 if values["ipv6"] else _AF_INET
    values["src"], values["dst"] = _spelt(family, values["src"]), _spelt(family, values["dst"])
    # An entity's actions are a bit map: named in the order of their bits,
    # each once, as the cache's flows name them (a line may list them in
    # any order).
    values["entities"] = [(_in_bit_order(names), ports) for names, ports in
                          (map(entity.__getitem__, ENTITY_KEYS) for entity in values["entities"])]
    return Flow(**values)


def _in_bit_order(names: "List[str]") -> "List[str]":
    bits = 0
    for name in names:
        bit = _ACTION_BITS.get(name)
        if bit is None:  # no action's name (the checks refuse it first): kept as it is
            return names
        bits |= 1 << bit
    return action_names(bits)


def _no_constant(name):
    raise ValueError("%s is not a number JSON allows" % name)


_decode = json.JSONDecoder(parse_constant=_no_constant).decode
# The brackets of a line outside its strings.
_structure = re.compile(r'"[^"\\]*(?:\\.[^"\\]*)*"|[\[\]{}]').finditer


def too_deep(line: str) -> bool:
    """Whether a line nests more than DEPTH_LIMIT deep, told before it is
    decoded; a line with few brackets is told by counting them."""
    if line.count("[") + line.count("{") <= DEPTH_LIMIT:
        return False
    depth = 0
    for match in _structure(line):
        mark = match.group()
        if mark in ("[", "{"):
            depth += 1
            if depth > DEPTH_LIMIT:
                return True
        elif mark in ("]", "}"):
            depth -= 1
    return False


@contextlib.contextmanager
def holding_every_flow(paths: "List[str]") -> "Iterator[None]":
    """Where every flow of the snapshots `paths` is held at once (sorted,
    compared): running out of memory says which files were too large."""
    try:
        yield
    except MemoryError:
        if not paths:
            raise
        raise SnapshotError("%s: not enough memory to hold every flow" % " and ".join(paths)) from None


class _Inflating:
    """A gzip file read as gzip.open reads it (members one after the other,
    zero bytes between them, each member's check and length; the same
    exceptions for the same faults), but a quarter megabyte of the file at
    a time where gzip takes 8 KiB: its reads are made by a thread while the
    interpreter's lock is busy with the lines, and each small read waits
    for the lock again, so with gzip's reads the thread kept the reader
    waiting for most of a million-flow snapshot's decompression."""

    INPUT = 1 << 18

    def __init__(self, path: "Union[str, IO[bytes]]") -> None:
        opened = isinstance(path, (str, bytes, os.PathLike))
        self.file: "Any" = io.open(path, "rb") if opened else path
        self.owned = opened
        self.data = b""  # read from the file, not yet inflated
        self.inflater: "Any" = None  # None between members
        self.crc = self.size = 0
        self.codec = _gzip_codec.codec

    def _fill(self, count: int) -> bool:
        while len(self.data) < count:
            more = self.file.read(self.INPUT)
            if not more:
                return False
            self.data += more
        return True

    def _take(self, count: int, at_end: bool = False) -> bytes:
        if not self._fill(count) and not at_end:
            raise EOFError("Compressed file ended before the end-of-stream marker was reached")
        taken, self.data = self.data[:count], self.data[count:]
        return taken

    def _text_field(self) -> None:
        """A zero-ended name or comment; the file's end ends it too, as gzip has it."""
        while True:
            self._fill(1)
            end = self.data.find(b"\0")
            if end >= 0 or not self.data:
                self.data = self.data[end + 1:] if end >= 0 else b""
                return
            self.data = b""

    def _member(self) -> bool:
        """The next member's header read; False at the file's end."""
        magic = self._take(2, at_end=True)
        if not magic:
            return False
        if magic != b"\037\213":
            raise gzip.BadGzipFile("Not a gzipped file (%r)" % magic)
        method, flags = struct.unpack("<BB4xxx", self._take(8))
        if method != 8:
            raise gzip.BadGzipFile("Unknown compression method")
        if flags & 4:  # FEXTRA
            self._take(struct.unpack("<H", self._take(2))[0])
        for flag in (8, 16):  # FNAME, FCOMMENT
            if flags & flag:
                self._text_field()
        if flags & 2:  # FHCRC
            self._take(2)
        self.inflater = self.codec.raw_inflater()
        self.crc = self.size = 0
        return True

    def _member_end(self) -> None:
        crc, size = struct.unpack("<II", self._take(8))
        if crc != self.crc:
            raise gzip.BadGzipFile("CRC check failed %s != %s" % (hex(crc), hex(self.crc)))
        if size != self.size & 0xFFFFFFFF:
            raise gzip.BadGzipFile("Incorrect length of data produced")
        self.inflater = None
        self._fill(1)
        while self.data[:1] == b"\0":  # zero bytes after a member are padding
            self.data = self.data.lstrip(b"\0")
            self._fill(1)

    def read1(self, size: int) -> bytes:
        """Up to `size` bytes of text, b"" at the end."""
        while True:
            # A member's end is checked by the read after its last text: the
            # text before a fault is the reader's, as gzip's reads have it.
            if self.inflater is not None and self.inflater.eof:
                self._member_end()
            if self.inflater is None and not self._member():
                return b""
            inflater = self.inflater
            # With the file read to its end, the inflater may still hold text.
            ended = not self.data and not self._fill(1)
            text = inflater.decompress(self.data, size)
            self.data = inflater.unconsumed_tail or inflater.unused_data
            if text:
                self.crc = self.codec.crc32(text, self.crc)
                self.size += len(text)
            if text:
                return text
            if ended and not inflater.eof:
                raise EOFError("Compressed file ended before the end-of-stream marker was reached")

    def close(self) -> None:
        if self.owned:
            self.file.close()


class _ReadAhead:
    """A file's read1(CHUNK) calls made ahead by a thread of its own: the
    codec lets go of the interpreter while it inflates, so the next chunks
    are inflated while the ones before them are read. The first reads
    are the caller's own, so a small file (or a listing cut short) starts
    no thread. A failure is raised by the read1() that reaches it; after
    the end, read1() gives b"" again and again, as a file's does.

    Started by parse_ahead() instead, a second thread reads the flow lines
    of each chunk, cut after its last whole line, with a C line reader
    (which lets go of the interpreter too) while the first inflates the
    chunks after it: read_parsed() then gives each chunk with the lines the
    reader took, so that taking them costs the caller only their writing.
    Inflating and reading lines cost about the same, and the caller's
    writing less than either: as three stages they share two processors."""

    AHEAD = 3  # chunks: enough to keep both busy, and a line that inflates without end still costs little
    OWN_READS = 2
    THREAD_READ = 1 << 21  # few reads, each taking the interpreter's lock once

    def __init__(self, file: "_Inflating") -> None:
        self.file = file
        self.reads = 0
        self.ended = False
        self.closing = False
        self.thread: "Optional[threading.Thread]" = None
        self.parser: "Optional[threading.Thread]" = None
        self.parse: "Optional[Callable[[bytes], Tuple[Any, int, int]]]" = None
        self.chunks: "queue.Queue[Any]" = queue.Queue(self.AHEAD)
        self.texts: "queue.Queue[Any]" = queue.Queue(self.AHEAD)  # cut chunks, for the parser

    def _run(self, size: int, held: bytes) -> None:
        parse = self.parse
        put = self.chunks.put if parse is None else self.texts.put
        try:
            while not self.closing:
                try:
                    chunk = self.file.read1(size)
                except BaseException:  # what was read before it first, then the failure
                    if held:
                        put((held, None, 0, 0))
                    raise
                if parse is None or not chunk:
                    if held:
                        put((held, None, 0, 0))
                    put(chunk)
                    if not chunk:
                        return
                    continue
                cut = chunk.rfind(b"\n") + 1
                if not cut:
                    held += chunk  # a line's start, with the rest to come
                    if len(held) > LINE_LIMIT:  # a line too long, which the caller refuses
                        put((held, None, 0, 0))
                        held = b""
                    continue
                # The chunk copied once, after the line it ends.
                text = b"".join((held, memoryview(chunk)[:cut])) if held or cut < len(chunk) else chunk
                held = chunk[cut:]
                put([text])
            put(b"")  # closing: the parser ends too
        except BaseException as error:  # handed to the reader, in order
            put(error)

    def _parse_texts(self) -> None:
        """The parser's loop: each cut chunk with its lines read, anything
        else passed on as it came, up to the end or a failure."""
        get, put, parse = self.texts.get, self.chunks.put, self.parse
        assert parse is not None
        while True:
            item = get()
            if type(item) is list:
                try:
                    item = (item[0],) + parse(item[0])
                except BaseException as error:
                    item = error
            put(item)
            if isinstance(item, BaseException) or not item:
                return

    def _start(self, held: bytes = b"") -> None:
        if self.parse is not None:
            self.parser = threading.Thread(target=self._parse_texts, name="libfc-snapshot-lines", daemon=True)
            self.parser.start()
        self.thread = threading.Thread(target=self._run, args=(self.THREAD_READ, held),
                                       name="libfc-snapshot-reader", daemon=True)
        self.thread.start()

    def _next(self) -> "Any":
        item = self.chunks.get()
        if isinstance(item, BaseException):
            self.ended = True
            raise item
        self.ended = not item
        return item

    def read1(self, size: int) -> bytes:
        if self.ended:
            return b""
        if self.thread is None:
            self.reads += 1
            if self.reads <= self.OWN_READS:
                chunk = self.file.read1(size)
                self.ended = not chunk
                return chunk
            self._start()
        item = self._next()
        return item[0] if type(item) is tuple else item  # lines parsed ahead are read again

    def parse_ahead(self, reader: "Any", held: bytes) -> bool:
        """Whether the thread reads ahead in chunks of lines `reader` has
        read: started so now, the caller holding `held` (the start of a
        line, which the thread then holds instead), or so already with the
        caller holding nothing."""
        if self.parse is not None:
            return not held
        if self.thread is not None or self.ended:
            return False
        self.parse = reader.parse_chunk
        self._start(held)
        return True

    def read_parsed(self) -> "Optional[Tuple[bytes, Any, int, int]]":
        """The next chunk the thread read as parse_ahead() has it: (text,
        lines, count, stop), the lines (None: not read) holding its first
        count lines, up to offset stop; None at the end."""
        if self.ended:
            return None
        item = self._next()
        return item or None

    def close(self) -> None:
        self.closing = True
        # A put either thread waits in is let through.
        while any(thread is not None and thread.is_alive() for thread in (self.thread, self.parser)):
            try:
                self.chunks.get(timeout=0.05)
            except queue.Empty:
                pass
        self.file.close()


class Snapshot:
    """A snapshot file opened for reading: ``header`` is read at once, the
    flows are read by iterating (once), each a ``Flow``, keeping only those
    that match ``criteria`` (names of the walk's fields, as
    ``_cache.criteria`` makes them).  Like a walk of the live cache, it has
    ``total`` (the matching flows read so far; all of them once the file is
    read to its end, see ``count_rest``) and ``unreachable`` (always 0).
    A line that is not what the format says ends the read with the
    SnapshotError "damaged snapshot FILE line N: what is wrong".  With ``limit`` the read
    stops, and the file is closed, at the limit-th matching flow: the lines
    after it (the end line too) are not read, so neither checked nor
    counted."""

    def __init__(self, path: "Union[str, IO[bytes]]", criteria: "Optional[Dict[str, Any]]" = None,
                 limit: "Optional[int]" = None) -> None:
        self.path: "Union[str, IO[bytes]]" = path
        self._limit = limit
        self.unreachable: int = 0
        self.total: int = 0
        self.read: int = 0
        self._match = matcher(criteria or {})
        self._kept = _line_filter(criteria or {}) if self._match is not _everything else None
        try:
            self._file = _ReadAhead(_Inflating(path))
        except OSError as error:
            raise SnapshotError("%s: %s" % (path, error.strerror or error)) from None
        self._line = 0
        # What has been decompressed and not yet read, from _at on; a failure
        # to read more is told at the line it cuts.
        self._buffer, self._at, self._failure = b"", 0, None
        self.header: "Dict[str, Any]" = self._header()
        self.time: float = self.header["time"]
        # Made at the first flow asked for: the generator holds the
        # snapshot, which then holds it; a snapshot only opened, or read by
        # pages(), would otherwise live on in that cycle until the collector
        # found it.
        self._flows: "Optional[Iterator[Flow]]" = None

    def _header(self):
        first = self._next_line()
        try:
            head = self._record(first) if first is not None else None
        except SnapshotError:
            if FORMAT not in first:
                raise self._foreign() from None
            raise
        if head is None or head.get("format") != FORMAT:
            raise self._foreign()
        version = head.get("version")
        if type(version) is int and version > VERSION:
            self.close()
            raise SnapshotError("%s: snapshot format version %d is newer than this tool reads (%d)"
                               % (self.path, version, VERSION))
        wrong = fault(head, HEADER_FIELDS, _header_wrong)
        if wrong:
            raise self._damaged(wrong)
        return head

    def _foreign(self, why=""):
        self.close()
        return SnapshotError("%s: not a flow cache snapshot%s" % (self.path, why))

    def _damaged(self, what, line=None):
        self.close()
        return SnapshotError("damaged snapshot %s line %d: %s" % (self.path, line or self._line, what))

    def _more(self):
        """More of the file in the buffer; False at its end or a failure."""
        if self._failure is not None:
            return False
        try:
            chunk = self._file.read1(CHUNK)  # one read: data before a failure is not lost
        except (OSError, EOFError) + _gzip_codec.INFLATE_ERRORS as error:
            self._failure = error
            return False
        if not chunk:
            return False
        self._buffer, self._at = self._buffer[self._at:] + chunk, 0
        return True

    def _fail(self, error):
        if isinstance(error, gzip.BadGzipFile) and self._line == 0:
            raise self._foreign(" (not gzip-compressed)")
        if isinstance(error, OSError) and error.errno is not None:
            self.close()
            raise SnapshotError("%s: %s" % (self.path, error.strerror))
        raise self._damaged("cut short" if isinstance(error, EOFError) else "compressed data corrupt", self._line + 1)

    def _next_line(self):
        """The next line as text, None at the end; read as bytes and
        decoded here, so that text that is not UTF-8 is told on its line."""
        at = self._at
        end = self._buffer.find(b"\n", at, at + LINE_LIMIT + 1)
        while end < 0 and len(self._buffer) - self._at <= LINE_LIMIT and self._more():
            at = self._at
            end = self._buffer.find(b"\n", at, at + LINE_LIMIT + 1)
        if end < 0 and self._failure is not None and len(self._buffer) - at <= LINE_LIMIT:
            self._fail(self._failure)
        line = self._buffer[at:end + 1 if end >= 0 else at + LINE_LIMIT + 1]
        self._at = at + len(line)
        if not line:
            return None
        self._line += 1
        if len(line) > LINE_LIMIT and line[-1] != 10:
            raise self._damaged("longer than %d bytes" % LINE_LIMIT)
        try:
            return line.decode("utf-8")
        except UnicodeDecodeError:
            raise self._damaged("text that is not UTF-8") from None

    def _record(self, line):
        """A line decoded, as an object."""
        if too_deep(line):
            raise self._damaged("nested more than %d deep" % DEPTH_LIMIT)
        try:
            record = _decode(line)
        except json.JSONDecodeError as error:
            raise self._damaged("not JSON (%s at character %d)" % (error.msg, error.pos + 1)) from None
        except (ValueError, RecursionError) as error:
            raise self._damaged("not JSON (%s)" % error) from None
        if type(record) is not dict:
            raise self._damaged("not a JSON object")
        return record

    def _matching(self, flows):
        """Yields the flows that match; returns True once the limit is
        reached, the file then closed."""
        match = self._match
        if match is _everything and self._limit is None:
            self.total += len(flows)
            yield from flows
            return False
        for flow in flows:
            if match(flow):
                self.total += 1
                yield flow
                if self.total == self._limit:
                    self.close()
                    return True
        return False

    def _read(self) -> "Iterator[Flow]":
        read_lines = _read_lines
        # Past the first chunks, without a limit (whose lines after the last
        # flow shown are not to be read), the read-ahead thread reads the
        # lines too, those of flows the criteria leave out left out there,
        # and the decoder makes the flows of what it read.
        ahead = None
        if read_lines is not None and _decode_rows is not None and self._limit is None:
            ahead = _fast_reader()
            ahead.keep(self._kept)
        while True:
            if read_lines is not None:
                flows, self._at = read_lines(self._buffer, self._at)
                self._took(len(flows))
                if (yield from self._matching(flows)):
                    return
                if self._holds_no_whole_line():
                    more, batch = self._next_chunk(ahead)
                    if batch is not None:
                        yield from self._matching(_decode_rows(batch, 0))
                    if more:
                        continue
            flow = self._checked_flow()
            if flow is None:
                return
            if (yield from self._matching((flow,))):
                return

    def _took(self, count: int) -> None:
        """`count` lines the C reader took."""
        self._line += count
        self.read += count

    def _holds_no_whole_line(self) -> bool:
        """Whether the buffer holds no whole line: the C reader stopped for
        want of one, not at a line it cannot take."""
        return len(self._buffer) - self._at <= LINE_LIMIT and self._buffer.find(b"\n", self._at) < 0

    def _parsed_ahead(self, reader: "Any") -> "Optional[Tuple[Any, int]]":
        """The next chunk read, its lines read by the read-ahead thread
        with `reader`: (lines, count) as read_parsed() gives them, the
        buffer then the chunk from the first line they do not hold; None
        when the thread does not read so (_more() reads on), at the end
        and at a failure (told as _more() tells it)."""
        if self._failure is not None or not self._file.parse_ahead(reader, self._buffer[self._at:]):
            return None
        try:
            parsed = self._file.read_parsed()
        except (OSError, EOFError) + _gzip_codec.INFLATE_ERRORS as error:
            self._failure = error
            return None
        if parsed is None:
            return None
        text, batch, count, stop = parsed
        self._buffer, self._at = text, stop
        return batch, count

    def _next_chunk(self, ahead: "Any") -> "Tuple[bool, Any]":
        """Once the buffer holds no whole line, the next chunk: (True,
        lines) when the read-ahead thread read it with the reader `ahead`
        (None: not reading so), lines those it took (None: none); (True,
        None) when _more() read it here; (False, None) at the end, the
        line left to be read and checked here."""
        parsed = self._parsed_ahead(ahead) if ahead is not None else None
        if parsed is None:
            return self._more(), None
        batch, read = parsed
        self._took(read)
        return True, batch if read else None

    def _checked_flow(self) -> "Optional[Flow]":
        """The next line read and checked here: its Flow, or None after the
        end line (which closes the file)."""
        line = self._next_line()
        if line is None:
            raise self._damaged("it ends after %d flows without its end line" % self.read, self._line + 1)
        record = self._record(line)
        if "end" not in record:
            if _flow_wrong(record) is not None:
                raise self._damaged(fault(record, FLOW_FIELDS, _flow_wrong))
            self.read += 1
            return flow_of(record)
        if _end_wrong(record) is not None or record["flows"] != self.read:
            raise self._damaged("its end line does not close it (%d flows read)" % self.read)
        if self._next_line() is not None:
            raise self._damaged("a line after the end line")
        self.close()
        return None

    def pages(self, render: "Callable[[Any, int, Any], Tuple[int, Any]]",
              flow_page: "Callable[[List[Flow]], Tuple[int, Any]]") -> "Iterator[Tuple[int, Any]]":
        """The snapshot for a writer that prints what it reads, as a walk's
        pages are: ``render(answer, -1, ())`` writes the flows of the lines
        the C reader takes, given the reader aimed at them, or the lines it
        read ahead, as the answer (see ``flow_text``), and
        ``flow_page(flows)`` those of the other lines; each non-empty
        ``(count, page)`` is yielded.  Past the first chunks, the lines are
        inflated and read by the read-ahead thread while the ones before
        them are written.  The C reader leaves out the flows the criteria
        do not match.  With a limit, the pages hold no more flows than it,
        and the read ends at the last of them as iterating ends it."""
        self._flows = iter(())  # read here: count_rest() has nothing left
        flows = self._read()
        if _LINES is None:
            while True:
                batch = list(itertools.islice(flows, CHUNK // 512))
                if not batch:
                    return
                yield flow_page(batch)
        for count, page in self._written(render, flow_page):
            self.total += count
            yield count, page
            if self.total == self._limit:
                self.close()
                return

    def _written(self, render: "Callable[[Any, int, Any], Tuple[int, Any]]",
                 flow_page: "Callable[[List[Flow]], Tuple[int, Any]]") -> "Iterator[Tuple[int, Any]]":
        """The non-empty pages of pages(), the C reader given no more flows
        than the limit leaves once those before are counted in total."""
        # Readers of their own, this thread's and the read-ahead thread's:
        # the writers and parse_chunk read lines without the interpreter's
        # lock, when another thread could aim a shared reader elsewhere.
        lines, ahead = _fast_reader(), _fast_reader()
        lines.keep(self._kept)
        ahead.keep(self._kept)
        aim, stopped, taken, match, limit = lines.aim, lines.stopped, lines.taken, self._match, self._limit
        while True:
            aim(self._buffer, self._at, -1 if limit is None else limit - self.total)
            try:
                count, page = render(lines, -1, ())
            finally:
                self._at = stopped()
            self._took(taken())
            if count:
                yield count, page
            if self._holds_no_whole_line():
                more, batch = self._next_chunk(ahead)
                if batch is not None:
                    if limit is not None:
                        batch.cut(limit - self.total)
                    count, page = render(batch, -1, ())
                    if count:
                        yield count, page
                if more:
                    continue
            flow = self._checked_flow()
            if flow is None:
                return
            if match(flow):
                yield flow_page([flow])

    def __iter__(self) -> "Iterator[Flow]":
        if self._flows is None:
            self._flows = self._read()
        return self._flows

    def __next__(self) -> Flow:
        return next(iter(self))

    def count_rest(self) -> None:
        """Reads the flows not yet read, only to count the matching ones."""
        for _ in self:
            pass

    def close(self) -> None:
        self._file.close()

    def __enter__(self) -> "Snapshot":
        return self

    def __exit__(self, *failure: object) -> None:
        self.close()


def _everything(flow: Flow) -> bool:
    return True


def matcher(criteria: "Dict[str, Any]") -> "Callable[[Flow], bool]":
    """A predicate on Flow for FC_GetFlows criteria (see ``_walk.FIELDS``):
    the same matches the library makes, zero or no value being a wildcard."""
    tests = []
    if not any(value not in (0, None) for value in criteria.values()):
        return _everything
    for field, value in criteria.items():
        if value in (0, None):
            continue
        if field in ("sip", "dip"):
            attribute = "src" if field == "sip" else "dst"
            tests.append(lambda flow, a=attribute, v=value: _addresses.key_word(getattr(flow, a).packed) == v)
        elif field == "isV6":
            tests.append(lambda flow: flow.ipv6)
        elif field in ("daddr", "innerdaddr"):
            attribute = "dst_mac" if field == "daddr" else "inner_dst_mac"
            tests.append(lambda flow, a=attribute, v=value.lower(): getattr(flow, a).lower() == v)
        else:
            attribute = {"switchPort": "port", "vlanid": "vlan", "tid": "table"}.get(field, field)
            tests.append(lambda flow, a=attribute, v=value: getattr(flow, a) == v)
    return lambda flow: all(test(flow) for test in tests)


def _line_filter(criteria: "Dict[str, Any]") -> "Tuple[int, ...]":
    """The criteria as the C reader's keep() takes them (the numbers the
    matcher above compares, in the walk's order of its fields)."""
    from ._walk import FIELDS

    def number(field: str) -> int:
        value = criteria.get(field)
        if field in ("daddr", "innerdaddr"):
            return int(value.replace(":", ""), 16) if value else 0
        return int(value or 0)
    return tuple(number(field) for field in FIELDS)


def open(path: "Union[str, IO[bytes]]") -> Snapshot:
    """The snapshot file `path` (a name or a binary file) opened for
    reading, its header read and checked: iterate over it for its flows,
    each a ``Flow``.  Raises SnapshotError for a file that cannot be read
    or is not what the format says."""
    return Snapshot(path)

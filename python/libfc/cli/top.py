"""``top``: a full-screen view of the flow cache that refreshes every few
seconds, its flows ordered by packet rate (the packets counted between two
reads), or folded into groups by one field.

Everything the screen shows is computed by plain functions from a ``Model``
(the last complete read of the cache and the flows that left since the view
started) and a ``View`` (sort column, filter, grouping, modes): ``frame``
turns the two into the lines of one screen of a given size.  The curses
loop only reads keys, feeds them to the View and draws frames.  ``--once``
prints one frame without curses.

A read of a large cache takes seconds, longer than a refresh interval: it
runs in a thread of its own, which also sorts what the next frame shows
and folds the read by address for a key that groups it so, while the loop
keeps polling the keyboard, so a key is answered (from the last complete
read) while the next read is under way.  What a key changes is worked out
in C over the read's compact columns, the interpreter released meanwhile:
a filter's matching, a fold, the order of the flows or groups shown."""

import argparse
import array
import gc
import heapq
import itertools
import operator
import os
import socket
import sys
import threading
import time

from _libfc_fields import (top_fold, top_group_lines, top_group_rows, top_group_widths, top_lines, top_match,
                           top_order, top_page, top_pick, top_select, top_widths)

from .. import _cache, snapshot
from .._processors import PROCESSORS
from .._flow import _address_bytes as _packed, _address_text as _text, _decode_rows, action_names
from . import _output, _snapshots, _values
from ._library import bad_input

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Callable, Dict, Iterable, Iterator, List, Optional, Sequence, Tuple, Union

    from .._flow import Flow

    Row = Tuple[Any, ...]  # a flow's (ID ... TABLE), or a group's (KEY ... SHARE)
    Shown = Union["Rows", "Groups", List[Row]]
    Cell = Callable[[Any, Optional[float]], str]  # a value and the seconds between the reads -> its text
    _Page = Tuple[int, Sequence[bytes]]  # (flows, the bytes of each of PAGE_COLUMNS)
    _Subparsers = argparse._SubParsersAction[Any]

LIVE_FILTER_ROWS = 100000  # the most flows a filter is applied to at each typed key

# A row: one flow as a frame shows it, made only for the flows shown.  DELTA
# is the packets counted since the previous read (0 on the first read,
# whose sample has no elapsed time, so no rate); EXPIRES is GONE for a flow
# that has left the cache.
ID, PORT, VNI, SRC, DST, PROTO, ACTIONS, PACKETS, DELTA, AGE, EXPIRES, TABLE = range(12)
GONE = -1
LOOKUP_LIMIT = 4096  # the most entity rows remembered by their action text

# The action texts met so far, each kept once: a read keeps a flow's as a
# position in this list, and a cache holds few different ones.
_action_texts: "List[str]" = []
_action_index: "Dict[str, int]" = {}
_entity_actions: "Dict[bytes, int]" = {}
# The C reader's keys of action texts (the bit maps each entity adds to the
# flow's actions before it) -> the text's position.
_action_keys: "Dict[bytes, int]" = {}


def _text_position(text: str) -> int:
    index = _action_index.get(text)
    if index is None:
        index = _action_index[text] = len(_action_texts)
        _action_texts.append(text)
    return index


def _actions_of(flow: "Flow") -> int:
    """The position of the flow's action text, worked out once per
    different list of entities."""
    raw = flow._entities
    known = _entity_actions.get(raw) if type(raw) is bytes else None
    if known is not None:
        return known
    index = _text_position(",".join(flow.actions))
    if type(raw) is bytes and len(_entity_actions) < LOOKUP_LIMIT:
        _entity_actions[raw] = index
    return index


def _learn_actions(key: bytes) -> int:
    """The position of the action text of a key the C reader met first."""
    index = _text_position(",".join(name for bit_map in array.array("Q", key) for name in action_names(bit_map)))
    if len(_action_keys) < LOOKUP_LIMIT:
        _action_keys[key] = index
    return index


# The columns a page of a read fills (top_page's order); a read that only
# counts fills the first three.
PAGE_COLUMNS = ("ids", "packets", "tables", "ports", "vnis", "actions", "protos", "ipv6", "ages", "expires",
                "address_at", "addresses")


class Table:
    """The flows of one read, a compact column each (some 60 bytes an IPv4
    flow, no Python object per flow)."""

    def __init__(self) -> None:
        self.ids: "array.array[int]" = array.array("Q")
        self.packets: "array.array[int]" = array.array("Q")
        self.deltas: "array.array[int]" = array.array("Q")
        self.tables: "array.array[int]" = array.array("Q")
        self.ports: "array.array[int]" = array.array("I")
        self.vnis: "array.array[int]" = array.array("I")
        self.actions: "array.array[int]" = array.array("I")
        self.protos: "array.array[int]" = array.array("B")
        self.ipv6: "array.array[int]" = array.array("B")
        self.ages: "array.array[int]" = array.array("q")
        self.expires: "array.array[int]" = array.array("I")
        self.addresses: bytearray = bytearray()  # a flow's source, then destination
        self.address_at: "array.array[int]" = array.array("I")
        self.counts_only: bool = False  # only ids, packets and tables: what the next read's rates need
        self._every: "Optional[array.array[int]]" = None

    def __len__(self) -> int:
        return len(self.ids)

    def take(self, columns: "Sequence[bytes]") -> None:
        """Appends a page of flows: the bytes of each column, in PAGE_COLUMNS' order."""
        *numbers, addresses = columns
        for name, values in zip(PAGE_COLUMNS, numbers):
            getattr(self, name).frombytes(values)
        self.addresses += addresses

    def columns(self) -> "Tuple[Any, ...]":
        """The columns the C rows writer reads, in the order it takes them."""
        return (self.ids, self.packets, self.deltas, self.ports, self.vnis, self.actions, self.protos, self.ipv6,
                self.ages, self.expires, self.addresses, self.address_at, self.tables)

    def keep_every_position(self) -> None:
        """Keeps every row's position, which an array of a million numbers
        is copied from quicker than it is made from a range."""
        self._every = array.array("I", range(len(self)))

    def every_position(self) -> "array.array[int]":
        """Every row's position, in an array of its own."""
        every = self._every
        return every[:] if every is not None and len(every) == len(self) else array.array("I", range(len(self)))

    def address(self, index: int, which: int) -> bytes:
        size = 16 if self.ipv6[index] else 4
        start = self.address_at[index] + which * size
        return bytes(self.addresses[start:start + size])

    def row(self, index: int) -> "Row":
        return (self.ids[index], self.ports[index], self.vnis[index], self.address(index, 0), self.address(index, 1),
                self.protos[index], _action_texts[self.actions[index]], self.packets[index], self.deltas[index],
                self.ages[index], self.expires[index], self.tables[index])


# The column a grouping folds a read's flows by (top_fold), which gives the
# group's value itself, but for actions the position of a flow's action
# text: a flow with several actions is in each action's group.
_GROUP_COLUMN = {"port": PORT, "vni": VNI, "src": SRC, "dst": DST, "proto": PROTO, "action": ACTIONS, "table": TABLE}
# The fields a fold by makes a group every few flows of.
ADDRESS_FIELDS = tuple(field for field, column in _GROUP_COLUMN.items() if column in (SRC, DST))


class Sample:
    """One complete read of the cache (or of a snapshot file): its flows,
    when it was taken (seconds since the epoch), the seconds since the read
    before (None for the first), the cache's counters then and at the read
    before, and the rows of the flows of the read before that this one no
    longer holds."""

    def __init__(self, source: str, host: str, taken: float, stats: "Dict[str, Any]", tables: int, entries: int,
                 previous: "Optional[Sample]" = None) -> None:
        self.source: str = source
        self.host: str = host
        self.taken: float = taken
        self.stats: "Dict[str, Any]" = stats
        self.tables: int = tables
        self.entries: int = entries
        self.table: Table = Table()
        self.left: "List[Row]" = []
        self.elapsed: "Optional[float]" = taken - previous.taken if previous is not None else None
        self.previous_stats: "Optional[Dict[str, Any]]" = previous.stats if previous is not None else None


class Reading:
    """A read under way: `step` takes one more page of flows and tells
    whether the read is complete; then each flow's packets since the read
    before are found by its hash table and id."""

    def __init__(self, flows: "Iterable[Flow]", sample: Sample, previous: "Optional[Sample]" = None,
                 counts_only: bool = False, pages: "Optional[Iterator[_Page]]" = None) -> None:
        self.flows: "Iterable[Flow]" = flows
        self.sample: Sample = sample
        self.counts_only: bool = counts_only
        sample.table.counts_only = counts_only
        self._pages: "Iterator[_Page]" = pages if pages is not None else _flow_pages(flows, sample.table)
        self._previous: "Optional[Sample]" = previous

    def step(self) -> bool:
        page = next(self._pages, None)
        if page is None:
            self._close()
            return True
        self.sample.table.take(page[1])
        return False

    def _close(self) -> None:
        """Each flow's packets since the read before, and the rows of the
        flows that left."""
        table, previous = self.sample.table, self._previous
        if self.counts_only:
            return
        table.deltas = array.array("Q", [0]) * len(table)
        if previous is None:
            return
        before = previous.table
        gone = array.array("I", top_match(before.tables, before.ids, before.packets, table.tables, table.ids,
                                          table.packets, table.deltas))
        if not before.counts_only:
            self.sample.left = [before.row(i) for i in gone]
        self._previous = None

    def progress(self) -> "Tuple[int, Optional[int]]":
        total = getattr(self.flows, "total", None)
        return len(self.sample.table), total

    def finish(self, between: "Callable[[], None]" = lambda: None) -> Sample:
        """The whole read, between() called between its pages."""
        while not self.step():
            between()
        return self.sample


def live_reading(previous: "Optional[Sample]" = None, counts_only: bool = False) -> Reading:
    """A read of the live cache, started now, its answers taken in C."""
    tables, entries = snapshot.cache_size()
    sample = Sample("live", socket.gethostname(), time.time(), _cache.stats(), tables, entries, previous)
    walk, table = _cache.flows(), sample.table

    def page(answer: "Any", now_ms: int, rest: "Any") -> "_Page":
        return top_page(_decode_rows, answer, now_ms, rest, len(table.addresses), _action_keys, _learn_actions,
                        counts_only)
    # Rendered in turn: a top page costs less than copying its answer, and a
    # read beside took more processor time and no less wall time.
    return Reading(walk, sample, previous, counts_only, walk.pages(page, beside=False))


def _flow_pages(flows: "Iterable[Flow]", table: Table, chunk: int = 1 << 14) -> "Iterator[_Page]":
    """Pages of flow objects' columns, as top_page makes them of answers."""
    flows = iter(flows)
    while True:
        some = list(itertools.islice(flows, chunk))
        if not some:
            return
        columns = [array.array(code) for code in "QQQIIIBBqII"]
        ids, packets, tables, ports, vnis, actions, protos, ipv6, ages, expires, address_at = columns
        addresses, base = bytearray(), len(table.addresses)
        for flow in some:
            ids.append(flow.id)
            packets.append(flow.packets)
            tables.append(flow.table)
            ports.append(flow.port)
            vnis.append(flow.vni)
            actions.append(_actions_of(flow))
            protos.append(flow.proto)
            ipv6.append(1 if flow.ipv6 else 0)
            ages.append(flow.age_s)
            expires.append(flow.expires_in_s)
            address_at.append(base + len(addresses))
            addresses += _packed(flow._source)
            addresses += _packed(flow._destination)
        yield len(some), [column.tobytes() for column in columns] + [bytes(addresses)]


def file_reading(path: str, previous: "Optional[Sample]" = None) -> Reading:
    """A read of a snapshot file: the lines the C reader takes go to
    top_page as a live read's answers do, any other line by its Flow."""
    opened = snapshot.Snapshot(path)
    head = opened.header
    sample = Sample(path, str(head.get("host", "?")), opened.time, head.get("stats") or {},
                    head.get("tables", 0), head.get("entries", 0), previous)
    table = sample.table

    def page(lines: "Any", now_ms: int, rest: "Any") -> "_Page":
        return top_page(_decode_rows, lines, now_ms, rest, len(table.addresses), _action_keys, _learn_actions, False)

    def flow_page(flows: "List[Flow]") -> "_Page":
        return next(_flow_pages(flows, table, len(flows)))
    return Reading(opened, sample, previous, pages=opened.pages(page, flow_page))


class Rows:
    """Rows of a read in a given order, made only as they are gone through
    (the table's lines are written from the positions without them), and
    the same positions in read order when they are every one selected (a
    column's width is measured quicker so), else None."""

    def __init__(self, table: Table, positions: "array.array[int]",
                 selection: "Optional[Sequence[int]]" = None) -> None:
        self.table: Table = table
        self.positions: "array.array[int]" = positions
        self.selection: "Optional[Sequence[int]]" = selection

    def __len__(self) -> int:
        return len(self.positions)

    def __iter__(self) -> "Iterator[Row]":
        return map(self.table.row, self.positions)


# Held by the screen's thread while it answers keys and draws. The work of
# other threads (a refresh's read, folds made ahead of a key) waits for it
# between pieces: sharing the interpreter's lock instead, each thread gets
# it back only every few milliseconds, and a key took twice what it costs.
# Reentrant: work the screen's thread does itself never waits for itself.
KEYS_FIRST = threading.RLock()


def after_keys() -> None:
    """Waits while the screen's thread answers keys."""
    with KEYS_FIRST:
        pass


class Model:
    """What the view shows: the last complete read, and the rows of the
    flows that have left the cache since the first read (their last
    count)."""

    def __init__(self) -> None:
        self.sample: "Optional[Sample]" = None
        self.gone: "Dict[int, Row]" = {}
        self._selection: "Optional[Tuple[Tuple[str, bool], Tuple[Sequence[int], List[Row]]]]" = None
        self._filtered: "Optional[Tuple[str, Sequence[int]]]" = None  # a filter's text and the positions it kept
        # (filter text, field) -> the positions the filter kept folded by the
        # field, for the filter and for none (which Escape goes back to).
        self._folds: "Dict[Tuple[str, str], bytearray]" = {}
        self._folding: "Dict[Tuple[str, str], threading.Event]" = {}  # folds under way in a thread
        # A filter changed by a key has its positions folded by address in
        # a thread of its own, as a refresh folds a read: the full-screen
        # view's, whose next key may turn to a grouping.
        self.folds_ahead: bool = False
        self._shown: "Optional[Tuple[Tuple[Optional[str], str, bool, Optional[int]], Shown, str]]" = None

    def following(self, sample: Sample, view: "View", room: "Optional[int]") -> "Model":
        """A model of the flows that have left and a new read, with what a
        frame of `view` would show already worked out: made away from the
        screen's thread, which swaps it in whole."""
        model = Model()
        model.gone, model.folds_ahead = dict(self.gone), self.folds_ahead
        model.add(sample)
        after_keys()
        model.shown(view, view.sort_column(), room)
        # The groupings by address a key may turn to, folded here, and the
        # positions a flat frame orders: a fold by address of a large read
        # takes longer than a key may, one by a number some milliseconds.
        # The folds let go of the interpreter: the two are made at once.
        if model.sample is not None:
            table = model.sample.table
            after_keys()
            for _ in in_order_two_at_once(lambda field: model._fold(table, field), ADDRESS_FIELDS):
                pass
            table.keep_every_position()
        return model

    def add(self, sample: Sample) -> None:
        for row in sample.left:
            self.gone[row[ID]] = row[:DELTA] + (0, row[AGE], GONE, row[TABLE])
        sample.left = []
        self.sample = sample
        self._selection = self._shown = self._filtered = None
        self._folds = {}

    def rows(self, view: "View") -> "Tuple[Sequence[int], List[Row]]":
        """The positions in the read and the rows of flows that left the
        view's filter and mode select (kept until either changes: filtering
        a million flows is worth doing once).  A filter being typed applies
        at each key to a small cache, to a large one once Enter keeps it."""
        held = len(self.sample.table) if self.sample is not None else 0
        text = view.filter if not view.editing or held <= LIVE_FILTER_ROWS else view.kept_filter
        key = (text, view.accumulate)
        if self._selection is None or self._selection[0] != key:
            gone = list(self.gone.values()) if view.accumulate else []
            test = matcher(text)
            if self._filtered is None or self._filtered[0] != text:
                changed = self._filtered is not None
                positions: "Sequence[int]" = range(held)
                if test is not None and self.sample is not None:
                    positions = array.array("I", top_select(self.sample.table.columns(), None, filter_words(text)))
                self._filtered = (text, positions)
                self._folds = {key: fold for key, fold in self._folds.items() if not key[0]}
                if changed and self.folds_ahead and self.sample is not None and held > LIVE_FILTER_ROWS:
                    threading.Thread(target=self._fold_by_address, args=(self.sample.table,), daemon=True).start()
            if test is not None:
                gone = [row for row in gone if test(row)]
            self._selection, self._shown = (key, (self._filtered[1], gone)), None
        return self._selection[1]

    def shown(self, view: "View", column: "Column", room: "Optional[int]") -> "Tuple[Shown, str]":
        """The rows (or groups) a frame shows, and how many there are of
        how many; kept while nothing they depend on changes, so that a
        frame redrawn only to show the progress of a read costs nothing."""
        positions, gone = self.rows(view)
        key = (view.group, column.name, view.reverse, room)
        if self._shown is None or self._shown[0] != key:
            count = len(positions) + len(gone)
            table = self.sample.table if self.sample is not None else Table()
            if view.group is None:
                shown = ordered_positions(table, positions, column, view.reverse, room)
                if gone:
                    shown = ordered(list(shown) + gone, column, view.reverse, room)
                what = "%d of %d flows" % (len(shown), count)
            else:
                shown, total = self._groups(table, positions, gone, view.group, column, view.reverse, room)
                what = "%d of %d groups of %d flows" % (len(shown), total, count)
            self._shown = (key, shown, what)
        return self._shown[1:]

    def _groups(self, table: Table, positions: "Sequence[int]", gone: "List[Row]", field: str, column: "Column",
                reverse: bool, room: "Optional[int]") -> "Tuple[Union[Groups, List[Row]], int]":
        """The first `room` groups a frame shows in order, and how many
        groups there are.  A fold by one value per flow is kept for the
        selection and picked from in C: a read folds into as many groups as
        it has sources; a flow's actions and the flows that left are folded
        in Python, where few groups come of them."""
        fold = self._fold(table, field)
        if field == "action" or gone:
            folded = groups(table, positions, gone, field, fold)
            return ordered(folded, column, reverse, room), len(folded)
        total, places = top_pick(fold, column.index, column.numeric != reverse, -1 if room is None else room)
        return Groups(fold, array.array("I", places), field, len(positions) or 1), total

    def _fold(self, table: Table, field: str) -> bytearray:
        """The positions the filter kept folded by a field (top_fold), kept;
        waited for when another thread is folding them."""
        assert self._filtered is not None  # rows() has filtered the read
        text, positions = self._filtered
        key = (text, field)
        under_way = self._folding.get(key)
        if under_way is not None and key not in self._folds:
            under_way.wait()
        fold = self._folds.get(key)
        if fold is None:
            done = self._folding[key] = threading.Event()
            try:
                # Valid for the text on this read even when a new filter
                # has replaced the folds meanwhile: kept under its text.
                fold = self._folds[key] = top_fold(table.columns(), _selected(table, positions), _GROUP_COLUMN[field])
            finally:
                done.set()
                self._folding.pop(key, None)
        return fold

    def _fold_by_address(self, table: Table) -> None:
        for field in ADDRESS_FIELDS:
            after_keys()
            self._fold(table, field)


def _selected(table: Table, positions: "Sequence[int]") -> "Optional[array.array[int]]":
    """Positions as the C functions take them: None for every row."""
    if isinstance(positions, array.array):
        return positions
    return None if positions == range(len(table)) else array.array("I", positions)


def ordered_positions(table: Table, positions: "Sequence[int]", column: "Column", reverse: bool,
                      count: "Optional[int]" = None) -> Rows:
    """The rows at `positions` of a read in the order ``ordered`` gives
    them; only the first `count` when given, picked without sorting the
    rest."""
    order = table.every_position() if positions == range(len(table)) else array.array("I", positions)
    rank = ()
    if column.index == ACTIONS:
        places = sorted(range(len(_action_texts)), key=_action_texts.__getitem__)
        rank = tuple(sorted(range(len(places)), key=places.__getitem__))
    leading = top_order(table.columns(), column.index, order, column.numeric != reverse,
                        -1 if count is None else count, rank)
    if leading < len(order):
        del order[leading:]
        return Rows(table, order)
    return Rows(table, order, positions)


# ---- filter ------------------------------------------------------------------------

def _address_key(address: "Any") -> "Tuple[Any, ...]":
    """Addresses in order: IPv4 before IPv6, each by value (an address
    read from a snapshot is still text: by its text; a read keeps them as
    bytes)."""
    if isinstance(address, str):
        return 0, address
    if type(address) is bytes:
        return 4 if len(address) == 4 else 6, int.from_bytes(address, "big")
    return address.version, int(address)


def _proto_name(number: int) -> str:
    return _values.PROTOCOL_NAMES.get(number, str(number))


_ADDRESS_CHARACTERS = set("0123456789abcdef.:")


def _word_number(word: str) -> int:
    """The port or protocol number a word is, -1 for none (a port is at
    most 32 bits: a larger number is none)."""
    if not word.isdecimal():
        return -1
    try:
        number = int(word)
    except ValueError:  # longer than the interpreter turns into a number
        return -1
    return number if number <= 0xFFFFFFFF else -1


def filter_words(text: str) -> "Tuple[Tuple[int, int, Optional[str]], ...]":
    """A typed filter's words as a row is matched against them (top_select
    in C, matcher in Python): (number, protocol, address part) each, -1 or
    None for what a word is not.  Every word must match: a number the
    flow's port or protocol number, a protocol name its protocol, and a
    word of address characters a part of its source or destination
    address's text ("tcp" is in no address)."""
    return tuple((_word_number(word), _values.PROTOCOLS.get(word, -1),
                  None if set(word) - _ADDRESS_CHARACTERS else word) for word in text.lower().split())


def matcher(text: str) -> "Optional[Callable[[Row], bool]]":
    """A predicate on rows for a typed filter (see filter_words), or None
    for an empty one: for rows that are tuples, such as those of the flows
    that left."""
    words = filter_words(text)
    if not words:
        return None

    def test(row: "Row") -> bool:
        for number, proto, part in words:
            if number >= 0 and (row[PORT] == number or row[PROTO] == number):
                continue
            if proto >= 0 and row[PROTO] == proto:
                continue
            if part is None or (part not in _text(row[SRC]) and part not in _text(row[DST])):
                return False
        return True
    return test


# ---- columns -----------------------------------------------------------------------

class Column:
    """A column of the table: its name (the sort key's name), header, the
    priority by which it stays when the width runs short (0 stays longest),
    whether it holds numbers (right-aligned, largest first by default), the
    index of its value in a row, the text of a cell (given the value and
    the seconds between the reads, for rates), and the sort key of a value
    when the value itself is none.  Its `layout` is how the shared table
    fitter sees it: ranked to leave in the order of the priorities."""

    def __init__(self, name: str, header: str, priority: int, numeric: bool, index: int, text: "Cell",
                 key: "Optional[Callable[[Any], Any]]" = None) -> None:
        self.name: str = name
        self.header: str = header
        self.priority: int = priority
        self.numeric: bool = numeric
        self.index: int = index
        self.text: "Cell" = text
        self.key: "Optional[Callable[[Any], Any]]" = key
        self.layout: _output.Column = _output.Column(header, numeric, drop=100 - priority if priority else 0)


def rate_text(delta: int, elapsed: "Optional[float]") -> str:
    if not elapsed or elapsed <= 0:
        return "-"
    return _output.rate_text(delta / elapsed)


def _number(value: "Any", elapsed: "Optional[float]") -> str:
    return str(value)


FLOW_COLUMNS: "List[Column]" = [
    Column("id", "ID", 10, False, ID, _number),
    Column("port", "PORT", 5, False, PORT, _number),
    Column("vni", "VNI", 7, False, VNI, _number),
    Column("src", "SOURCE", 2, False, SRC, lambda v, e: _text(v), _address_key),
    Column("dst", "DESTINATION", 3, False, DST, lambda v, e: _text(v), _address_key),
    Column("proto", "PROTO", 4, False, PROTO, lambda v, e: _proto_name(v)),
    Column("actions", "ACTIONS", 6, False, ACTIONS, lambda v, e: v or "-"),
    Column("packets", "PACKETS", 1, True, PACKETS, _number),
    Column("rate", "RATE", 0, True, DELTA, rate_text),
    Column("age", "AGE", 8, True, AGE, lambda v, e: _output.duration(v)),
    Column("expires", "EXPIRES", 9, False, EXPIRES, lambda v, e: "gone" if v == GONE else _output.duration(v)),
]

def _actions_in(text: str) -> "Sequence[str]":
    """The groups of a flow's action text: each of its actions, "-" for none."""
    return text.split(",") if text else ("-",)


# Fields the flows fold by: the header of the group column, and the values
# of a row (a flow with several actions is in each action's group).
GROUP_FIELDS: "Dict[str, Tuple[str, Callable[[Row], Sequence[Any]]]]" = {
    "port": ("PORT", lambda r: (r[PORT],)),
    "vni": ("VNI", lambda r: (r[VNI],)),
    "src": ("SOURCE", lambda r: (_text(r[SRC]),)),
    "dst": ("DESTINATION", lambda r: (_text(r[DST]),)),
    "proto": ("PROTO", lambda r: (r[PROTO],)),
    "action": ("ACTION", lambda r: _actions_in(r[ACTIONS])),
    "table": ("TABLE", lambda r: (r[TABLE],)),
}
GROUP_ORDER = [None, *GROUP_FIELDS]

# A group: (value, flows, packets, packet delta or None, share of the flows).
KEY, FLOWS, GROUP_PACKETS, GROUP_DELTA, SHARE = range(5)


def group_columns(field: str) -> "List[Column]":
    header = GROUP_FIELDS[field][0]
    text = _proto_name if field == "proto" else str
    return [
        Column("key", header, 0, False, KEY, lambda v, e: text(v)),
        Column("flows", "FLOWS", 3, True, FLOWS, _number),
        Column("packets", "PACKETS", 2, True, GROUP_PACKETS, _number),
        Column("rate", "RATE", 1, True, GROUP_DELTA, rate_text),
        Column("share", "SHARE", 4, True, SHARE, lambda v, e: "%.1f%%" % (100 * v)),
    ]


def groups(table: Table, positions: "Sequence[int]", gone: "List[Row]", field: str,
           fold: "Optional[bytearray]" = None) -> "List[Row]":
    """The flows at `positions` of a read and the rows `gone` folded by a
    field: one group per value, its flow count, packets, packet delta and
    share of the flows.  The read's flows are folded in C (unless their
    `fold` is given), by a flow's action text for actions, which few texts
    hold."""
    count = len(positions) + len(gone) or 1
    if fold is None:
        fold = top_fold(table.columns(), _selected(table, positions), _GROUP_COLUMN[field])
    if field != "action" and not gone:  # the fold's values are the groups'
        return _group_rows(fold, None, count)
    values = GROUP_FIELDS[field][1]
    parts: "List[Tuple[Sequence[Any], Sequence[int]]]" = [
        (_actions_in(_action_texts[value]) if field == "action" else (value,), sums)
        for value, *sums in top_group_rows(fold, None)]
    parts.extend((values(row), (1, row[PACKETS], row[DELTA])) for row in gone)
    folded: "Dict[Any, List[int]]" = {}
    for group_values, (flows, counted, delta) in parts:
        for value in group_values:
            entry = folded.get(value)
            if entry is None:
                entry = folded[value] = [0, 0, 0]
            entry[0] += flows
            entry[1] += counted
            entry[2] += delta
    return [(value, flows, packets, delta, flows / count) for value, (flows, packets, delta) in folded.items()]


class Groups:
    """Groups of a fold in a given order, made as rows only as they are
    gone through: the table's lines are written from the fold's sums and
    the places picked, with nothing made per group in Python."""

    def __init__(self, fold: bytearray, places: "array.array[int]", field: str, count: int) -> None:
        self.fold: bytearray = fold
        self.places: "array.array[int]" = places
        self.field: str = field
        self.count: int = count  # the flows a share is of

    def __len__(self) -> int:
        return len(self.places)

    def __iter__(self) -> "Iterator[Row]":
        return iter(_group_rows(self.fold, self.places, self.count))


def _group_rows(fold: bytearray, places: "Optional[array.array[int]]", count: int) -> "List[Row]":
    """The groups of a fold at the places (None: every one, in the fold's
    order) as rows: (value, flows, packets, packet delta, share of `count`
    flows)."""
    return [(value, flows, packets, delta, flows / count)
            for value, flows, packets, delta in top_group_rows(fold, places)]


def columns_of(view: "View") -> "List[Column]":
    return FLOW_COLUMNS if view.group is None else group_columns(view.group)


def ordered(rows: "Sequence[Row]", column: "Column", reverse: bool, count: "Optional[int]" = None) -> "List[Row]":
    """The rows by a column: numbers largest first, texts in order, both
    turned around by `reverse`; ties in order of the first cell.  Only the
    first `count` when given (without sorting all of them)."""
    descending = column.numeric != reverse
    key: "Callable[[Row], Any]" = operator.itemgetter(column.index, 0)
    if column.key is not None:
        index, value_key = column.index, column.key

        def by_value(row: "Row") -> "Tuple[Any, Any]":
            return value_key(row[index]), row[0]
        key = by_value
    if count is not None and count < len(rows):
        pick = heapq.nlargest if descending else heapq.nsmallest
        return pick(count, rows, key=key)
    return sorted(rows, key=key, reverse=descending)


ROWS_AT_ONCE = 1 << 14  # a read's rows written per piece of text
_protocol_cells = None  # the PROTO cell of each protocol number, made at the first frame


def table_text(columns: "List[Column]", rows: "Shown", elapsed: "Optional[float]", width: int) -> "Iterator[str]":
    """The header and a line per row, in the columns that fit in `width`,
    as pieces of text that end in a newline; a read's rows (Rows) and a
    fold's groups (Groups) are measured and written in C, some rows a
    piece."""
    if width == 0:  # a terminal that reports no columns: every line cut to nothing
        yield "\n" * (len(rows) + 1)
        return
    if isinstance(rows, Rows):
        yield from _read_rows_text(columns, rows, elapsed, width)
        return
    if isinstance(rows, Groups):
        yield from _groups_text(columns, rows, elapsed, width)
        return

    def cells(row: "Row") -> "List[str]":
        return [c.text(row[c.index], elapsed) for c in columns]
    widths = [len(column.header) for column in columns]
    for row in rows:
        widths = list(map(max, widths, map(len, cells(row))))
    layout = _fitted(columns, widths, width)
    yield layout.line([column.header for column in columns], True) + "\n"
    for row in rows:
        yield layout.line(cells(row)) + "\n"


def _fitted(columns: "List[Column]", widths: "List[int]", width: int) -> _output.Layout:
    """The table's layout: the columns that fit in `width`, which leave
    strictly in the order of their priorities (none is taken back), at the
    widths of their widest cells, which no row goes past."""
    return _output.Layout([column.layout for column in columns], widths, width, take_back=False)


def _read_rows_text(columns: "List[Column]", rows: Rows, elapsed: "Optional[float]", width: int) -> "Iterator[str]":
    table, positions = rows.table.columns(), rows.positions
    spelling = (elapsed, _action_texts, _protocol_names())
    measured = rows.selection if rows.selection is not None else positions
    if measured == range(len(rows.table)):
        measured = None
    yield from _written_in_c(
        columns, top_widths(table, measured, *spelling), width, len(positions),
        lambda start, layout: top_lines(table, positions[start:start + ROWS_AT_ONCE], *spelling, layout))


def _written_in_c(columns: "List[Column]", cell_widths: "Sequence[int]", width: int, count: int,
                  write: "Callable[[int, Tuple[Any, ...]], str]") -> "Iterator[str]":
    """The header and the lines of `count` rows that a C writer writes:
    `cell_widths` its widest cell of each column, `write(start, layout)`
    its lines of ROWS_AT_ONCE rows from `start`, laid out by the fitter's
    layout (Layout.as_tuple())."""
    layout = _fitted(columns, list(map(max, [len(column.header) for column in columns], cell_widths)), width)
    yield layout.line([column.header for column in columns], True) + "\n"
    laid_out = layout.as_tuple()
    yield from in_order_two_at_once(lambda start: write(start, laid_out), range(0, count, ROWS_AT_ONCE))


def in_order_two_at_once(make: "Callable[[int], str]", keys: "Sequence[int]") -> "Iterator[str]":
    """make(key) for each key, in order.  With a second processor, every
    other piece is made on a thread of its own meanwhile: the C writers
    let go of the interpreter lock, and a frame of a million rows took a
    quarter of `top --once`."""
    if PROCESSORS < 2 or len(keys) < 2:
        yield from map(make, keys)
        return
    for k in range(0, len(keys), 2):
        if k + 1 == len(keys):
            yield make(keys[k])
            return
        made: "List[Any]" = [None, None]

        def other(key: int = keys[k + 1]) -> None:
            try:
                made[0] = make(key)
            except BaseException as error:  # raised in order, on the caller's thread
                made[1] = error
        thread = threading.Thread(target=other, name="libfc-top-lines")
        thread.start()
        try:
            here = make(keys[k])
        finally:
            thread.join()
        yield here
        if made[1] is not None:
            raise made[1]
        yield made[0]


def _groups_text(columns: "List[Column]", groups: Groups, elapsed: "Optional[float]", width: int
                 ) -> "Iterator[str]":
    """A fold's groups as table_text writes rows, measured and written in C."""
    key_cells = _protocol_names() if groups.field == "proto" else None
    spelling = (elapsed, key_cells, groups.count)
    fold, places = groups.fold, groups.places
    yield from _written_in_c(
        columns, top_group_widths(fold, places, *spelling), width, len(places),
        lambda start, layout: top_group_lines(fold, places[start:start + ROWS_AT_ONCE], *spelling, layout))


def _protocol_names() -> "Tuple[str, ...]":
    """The PROTO cell of each protocol number, made once."""
    global _protocol_cells
    if _protocol_cells is None:
        _protocol_cells = tuple(_proto_name(number) for number in range(256))
    return _protocol_cells


# ---- the view ----------------------------------------------------------------------

QUIT = "quit"


class View:
    """How the rows are shown, and what keys change about it:
    < and > the sort column, r reverse, / type a filter (Enter keeps it,
    Escape clears it), f the field to group by (off, then each field),
    a accumulate the flows that left, p or space pause, q quit."""

    def __init__(self, sort: "Optional[str]" = None, reverse: bool = False, group: "Optional[str]" = None,
                 filter: str = "", accumulate: bool = False) -> None:
        self.group: "Optional[str]" = group
        self.sort: str = sort or "rate"
        self.reverse: bool = reverse
        self.filter: str = filter
        self.kept_filter: str = filter
        self.accumulate: bool = accumulate
        self.paused: bool = False
        self.editing: bool = False

    def sort_column(self) -> "Column":
        columns = columns_of(self)
        for column in columns:
            if column.name == self.sort:
                return column
        return next(column for column in columns if column.name == "rate")

    def handle(self, key: str) -> "Union[bool, str]":
        """Applies a key ("q", "KEY_LEFT", "\\n", ...); QUIT, or whether
        the frame changed."""
        if self.editing:
            return self._edit(key)
        if key in ("q", "Q"):
            return QUIT
        if key in ("<", ">", "KEY_LEFT", "KEY_RIGHT"):
            names = [column.name for column in columns_of(self)]
            current = names.index(self.sort_column().name)
            step = -1 if key in ("<", "KEY_LEFT") else 1
            self.sort = names[(current + step) % len(names)]
        elif key == "r":
            self.reverse = not self.reverse
        elif key == "/":
            self.editing = True
        elif key == "f":
            self.group = GROUP_ORDER[(GROUP_ORDER.index(self.group) + 1) % len(GROUP_ORDER)]
            self.sort = "rate"
        elif key == "a":
            self.accumulate = not self.accumulate
        elif key in ("p", " "):
            self.paused = not self.paused
        elif key != "KEY_RESIZE":
            return False
        return True

    def _edit(self, key: str) -> bool:
        if key in ("\n", "\r", "KEY_ENTER"):
            self.editing, self.kept_filter = False, self.filter
        elif key == "\x1b":
            self.editing, self.filter, self.kept_filter = False, "", ""
        elif key in ("\x7f", "\b", "KEY_BACKSPACE"):
            self.filter = self.filter[:-1]
        elif len(key) == 1 and key.isprintable():
            self.filter += key
        elif key != "KEY_RESIZE":
            return False
        return True


# ---- the frame ---------------------------------------------------------------------

def _per_second(now: "Dict[str, Any]", before: "Optional[Dict[str, Any]]", path: "Sequence[str]",
                elapsed: "Optional[float]") -> "Optional[float]":
    if before is None or not elapsed or elapsed <= 0:
        return None
    return max(_counter(now, path) - _counter(before, path), 0) / elapsed


def _counter(tree: "Any", path: "Sequence[str]") -> int:
    for name in path:
        tree = tree.get(name, {}) if isinstance(tree, dict) else {}
    return tree if isinstance(tree, int) else 0


LOOKUPS = (("lookup", "nhits"), ("lookup", "nmisses"))
ALLOC_FAILURES = ("lookup", "alloc", "fe_fail")


def counters_line(sample: Sample) -> str:
    """Cache fill, lookups per second, hit ratio and allocation failures per
    second; rates between the last two reads, the ratio over them too when
    there were lookups, else since the counters started."""
    now, before, elapsed = sample.stats, sample.previous_stats, sample.elapsed
    held = len(sample.table)
    fill = "%d flows" % held
    if sample.entries:
        fill += " of %d (%.1f%% full)" % (sample.entries, 100.0 * held / sample.entries)
    rates = [rate for rate in (_per_second(now, before, path, elapsed) for path in LOOKUPS) if rate is not None]
    lookups = sum(rates) if len(rates) == len(LOOKUPS) else None
    hits, misses = (_counter(now, path) for path in LOOKUPS)
    if before is not None and lookups:
        hits -= _counter(before, LOOKUPS[0])
        misses -= _counter(before, LOOKUPS[1])
    ratio = "%.1f%%" % (100.0 * hits / (hits + misses)) if hits + misses > 0 else "-"
    failures = _per_second(now, before, ALLOC_FAILURES, elapsed)
    return "%s  lookups/s %s  hit ratio %s  alloc failures/s %s" % (
        fill, "-" if lookups is None else "%.1f" % lookups, ratio, "-" if failures is None else "%.1f" % failures)


def frame(model: Model, view: "View", width: "Optional[int]", height: "Optional[int]" = None,
          status: str = "") -> "List[str]":
    """The lines of one screen (see frame_text)."""
    return "".join(frame_text(model, view, width, height, status)).split("\n")[:-1]


def frame_text(model: Model, view: "View", width: "Optional[int]", height: "Optional[int]" = None,
               status: str = "") -> "Iterator[str]":
    """The text of one screen, in pieces made as they are written, each
    ending in a newline: three header lines, then the table, as many rows
    as `height` leaves room for (every row without a height), no line
    longer than `width` (no limit without one)."""
    sample = model.sample
    limit = width if width is not None else 1 << 30
    if sample is None:
        yield from [line[:limit] + "\n" for line in ["libfc top  %s" % status, "reading the flow cache..."]]
        return
    when = time.strftime("%H:%M:%S", time.localtime(sample.taken))
    source = sample.host if sample.source == "live" else "%s (%s)" % (sample.source, sample.host)
    top = "libfc top  %s  %s" % (source, when)
    if status:
        top += "  " + status
    column = view.sort_column()
    columns = columns_of(view)
    room = None if height is None else max(height - 4, 0)
    shown, what = model.shown(view, column, room)
    if column.numeric:
        order = "smallest first" if view.reverse else "largest first"
    else:
        order = "reversed" if view.reverse else "in order"
    settings = ["sort %s, %s" % (column.name, order)]
    if view.editing or view.filter:
        settings.append("filter: %s%s" % (view.filter, "_" if view.editing else ""))
    if view.group is not None:
        settings.append("group %s" % view.group)
    if view.accumulate:
        settings.append("with %d that left" % len(model.gone))
    if view.paused:
        settings.append("paused")
    settings.append(what)
    pieces = itertools.chain([line[:limit] + "\n" for line in (top, counters_line(sample), "  ".join(settings))],
                             table_text(columns, shown, sample.elapsed, limit))
    yield from pieces if height is None else _first_lines(pieces, height)


def _first_lines(pieces: "Iterable[str]", count: int) -> "Iterator[str]":
    """The pieces of text up to their `count`th line."""
    for piece in pieces:
        if count <= 0:
            return
        lines = piece.count("\n")
        yield piece if lines <= count else "\n".join(piece.split("\n", count)[:count]) + "\n"
        count -= lines


# ---- the command -------------------------------------------------------------------

def interval(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("not a number of seconds: %r" % text) from None
    if not 0.05 <= value <= 3600:
        raise argparse.ArgumentTypeError("%s is outside 0.05..3600 seconds" % text)
    return value


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser(
        "top", help="a refreshing full-screen view of the busiest flows",
        description="Show the flow cache's counters and its flows by packet rate, refreshed every interval. "
                    "Keys: < > sort column, r reverse, / filter (port, address, protocol; Enter keeps it, "
                    "Escape clears it), f group by the next field, a add the flows that left, "
                    "p pause, q quit.")
    parser.add_argument("--interval", type=interval, default=2.0, metavar="S",
                        help="seconds between reads (default 2)")
    parser.add_argument("--once", action="store_true",
                        help="print one frame to standard output (a read, the interval, a second read) and end")
    parser.add_argument("--group-by", choices=GROUP_FIELDS, metavar="FIELD",
                        help="fold the flows by %s" % "|".join(GROUP_FIELDS))
    parser.add_argument("--sort", metavar="COLUMN",
                        help="sort by this column (default rate): %s; grouped: key, flows, packets, rate, share"
                             % ", ".join(column.name for column in FLOW_COLUMNS))
    parser.add_argument("--reverse", action="store_true", help="reverse the order")
    parser.add_argument("--filter", default="", metavar="TEXT",
                        help="show only flows whose port, protocol or address matches every word")
    parser.add_argument("--file", action="append", metavar="FILE",
                        help="show a snapshot (flows --save) instead of the live cache; given twice, the rates "
                             "between the two")
    parser.set_defaults(handler=show)


def _view(args: argparse.Namespace) -> "View":
    view = View(args.sort, args.reverse, args.group_by, args.filter)
    if args.sort is not None and args.sort not in [column.name for column in columns_of(view)]:
        raise bad_input("--sort %s: not a column (one of %s)" % (
            args.sort, ", ".join(column.name for column in columns_of(view))))
    return view


def file_model(paths: "List[str]") -> Model:
    """The model of one snapshot, or of the second of two with the rates
    between them."""
    model = Model()
    previous = None
    with _snapshots.holding_every_flow(paths):
        for path in paths:
            previous = _quietly(file_reading(path, previous).finish)
            model.add(previous)
    return model


def _size() -> "Tuple[Optional[int], Optional[int]]":
    """(width, height) for a frame on standard output: the terminal's or
    COLUMNS and LINES, None for no limit when neither says."""
    sizes = []
    for variable, index in (("COLUMNS", 0), ("LINES", 1)):
        value = os.environ.get(variable, "")
        if value.isdigit() and int(value) > 0:
            sizes.append(int(value))
            continue
        try:
            sizes.append(os.get_terminal_size(sys.stdout.fileno())[index])
        except (OSError, ValueError, AttributeError):
            sizes.append(None)
    return tuple(sizes)


def show(args: argparse.Namespace) -> int:
    view = _view(args)
    if args.file is not None and len(args.file) > 2:
        raise bad_input("--file: at most two snapshots (the rates are between them)")
    if args.once:
        if args.file:
            model = file_model(args.file)
        else:
            # The first read keeps only what the rates need (no frame shows
            # it) and is let go as soon as the second has its counts.
            # The interval counts from the start of the first read: a read
            # of a large cache takes about as long as the interval itself.
            started = time.monotonic()
            model, first = Model(), _quietly(live_reading(counts_only=True).finish)
            time.sleep(max(args.interval - (time.monotonic() - started), 0.0))
            reading, first = live_reading(first), None
            model.add(_quietly(reading.finish))
        width, height = _size()
        sys.stdout.writelines(frame_text(model, view, width, height))
        return 0
    if not (sys.stdin.isatty() and sys.stdout.isatty()):
        raise bad_input("the full-screen view needs a terminal: --once prints one frame")
    import curses

    os.environ.setdefault("ESCDELAY", "25")  # Escape ends a filter without a wait
    return curses.wrapper(_screen, args, view)


def _quietly(read: "Callable[[], Sample]") -> Sample:
    with _snapshots.without_collector():
        return read()


def _key_name(curses: "Any", key: int) -> str:
    if 0 <= key < 256:
        return chr(key)
    try:
        return curses.keyname(key).decode("ascii", "replace")
    except (ValueError, curses.error):
        return ""


def _draw(curses: "Any", screen: "Any", model: Model, view: "View", status: str) -> None:
    height, width = screen.getmaxyx()
    screen.erase()
    for y, line in enumerate(frame(model, view, width, height, status)):
        try:
            screen.addnstr(y, 0, line, width)
        except curses.error:  # the bottom right cell cannot be written without scrolling
            pass
    screen.refresh()


class Refresh(threading.Thread):
    """A read of the live cache and the model that follows from it, made in
    a thread that lets the keys go first between its pages."""

    def __init__(self, model: Model, view: "View", room: "Optional[int]") -> None:
        super().__init__(daemon=True)
        self.reading: Reading = live_reading(model.sample)
        self.model: Model = model
        self.view: View = View(view.sort, view.reverse, view.group, view.kept_filter, view.accumulate)
        self.room: "Optional[int]" = room
        self.error: "Optional[BaseException]" = None

    def run(self) -> None:
        try:
            self.model = self.model.following(self.reading.finish(after_keys), self.view, self.room)
        except BaseException as error:  # raised again on the screen's thread
            self.error = error


def _screen(screen: "Any", args: argparse.Namespace, view: "View") -> int:
    import curses

    try:
        curses.curs_set(0)
    except curses.error:
        pass
    screen.keypad(True)
    model = file_model(args.file) if args.file else Model()
    model.folds_ahead = True
    refresh = None
    next_read = time.monotonic()
    drawn_at = 0.0
    dirty = True
    gc_enabled = gc.isenabled()
    try:
        while True:
            now = time.monotonic()
            if refresh is None and not args.file and not view.paused and now >= next_read:
                gc.disable()
                refresh = Refresh(model, view, max(screen.getmaxyx()[0] - 4, 0))
                refresh.start()
                next_read = now + args.interval
            if refresh is not None:
                screen.timeout(50)
            else:
                wait = 1.0 if view.paused or args.file else next_read - now
                screen.timeout(max(1, min(int(wait * 1000), 1000)))
            key = screen.getch()
            screen.timeout(0)
            with KEYS_FIRST:
                while key != -1:
                    changed = view.handle(_key_name(curses, key))
                    if changed == QUIT:
                        return 0
                    dirty = dirty or changed
                    key = screen.getch()
                if refresh is not None:
                    if not refresh.is_alive():
                        if refresh.error is not None:
                            raise refresh.error
                        model, refresh = refresh.model, None
                        if gc_enabled:
                            gc.enable()
                        dirty = True
                    elif now - drawn_at > 0.5:
                        dirty = True
                if dirty:
                    status = "every %gs" % args.interval if not args.file else ""
                    if refresh is not None:
                        done, total = refresh.reading.progress()
                        status += "  reading %d/%s" % (done, total if total is not None else "?")
                    _draw(curses, screen, model, view, status.strip())
                    drawn_at = time.monotonic()
                    dirty = False
    finally:
        if gc_enabled:
            gc.enable()

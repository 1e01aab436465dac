"""``top``: a full-screen view of the flow cache that refreshes every few
seconds, its flows ordered by packet rate (the packets counted between two
reads), or folded into groups by one field.

Everything the screen shows is computed by plain functions from a ``Model``
(the last complete read of the cache and the flows that left since the view
started) and a ``View`` (sort column, filter, grouping, modes): ``frame``
turns the two into the lines of one screen of a given size.  The curses
loop only reads keys, feeds them to the View and draws frames.  ``--once``
prints one frame without curses.

A read of a large cache takes seconds, longer than a refresh interval: the
loop reads one page of the walk at a time and polls the keyboard between
pages, so a key is answered (from the frame of the last complete read)
while the next read is under way."""

import argparse
import gc
import heapq
import itertools
import operator
import os
import socket
import sys
import time

from .. import _cache
from .._flow import _address_text as _text
from . import _output, _values, snapshot
from ._library import bad_input

PAGE = 2048  # flows read between two looks at the keyboard
LIVE_FILTER_ROWS = 100000  # the most flows a filter is applied to at each typed key

# A row: one flow as the view keeps it.  DELTA is the packets counted since
# the previous read (0 on the first read, whose sample has no elapsed time,
# so no rate); EXPIRES is GONE for a flow that has left the cache.
ID, PORT, VNI, SRC, DST, PROTO, ACTIONS, PACKETS, DELTA, AGE, EXPIRES, TABLE = range(12)
GONE = -1

_action_texts = {}


def row_of(flow, previous=None):
    """The row of a Flow; `previous` maps flow ids to the rows of the read
    before (None on the first read), whose packet counts give DELTA."""
    # A cache holds few different action lists: each is worked out once.
    spelt = ";".join([",".join(names) for names, _ in flow.entities])
    actions = _action_texts.get(spelt)
    if actions is None:
        actions = ",".join(flow.actions)
        if len(_action_texts) < 4096:
            _action_texts[spelt] = actions
    if previous is None:
        delta = 0
    else:
        old = previous.get(flow.id)
        delta = flow.packets if old is None else max(flow.packets - old[PACKETS], 0)
    return (flow.id, flow.port, flow.vni, flow._src, flow._dst, flow.proto, actions, flow.packets, delta,
            flow.age_s, flow.expires_in_s, flow.table)


class Sample:
    """One complete read of the cache (or of a snapshot file): the rows by
    flow id, when it was taken (seconds since the epoch), the seconds since
    the read before (None for the first), and the cache's counters then and
    at the read before."""

    def __init__(self, source, host, taken, stats, tables, entries, previous=None):
        self.source, self.host, self.taken = source, host, taken
        self.stats, self.tables, self.entries = stats, tables, entries
        self.rows = {}
        self.elapsed = taken - previous.taken if previous is not None else None
        self.previous_stats = previous.stats if previous is not None else None


class Reading:
    """A read under way: `step` reads up to `count` more flows and tells
    whether the read is complete."""

    def __init__(self, flows, sample, previous=None):
        self.flows = flows
        self.sample = sample
        self._iterator = iter(flows)
        self._previous = previous.rows if previous is not None else None

    def step(self, count=PAGE):
        rows, previous = self.sample.rows, self._previous
        read = 0
        for flow in itertools.islice(self._iterator, count):
            rows[flow.id] = row_of(flow, previous)
            read += 1
        if read < count:
            self._previous = None
            return True
        return False

    def progress(self):
        total = getattr(self.flows, "total", None)
        return len(self.sample.rows), total

    def finish(self):
        while not self.step(1 << 20):
            pass
        return self.sample


def live_reading(previous=None):
    """A read of the live cache, started now."""
    tables, entries = snapshot.cache_size()
    sample = Sample("live", socket.gethostname(), time.time(), _cache.stats(), tables, entries, previous)
    return Reading(_cache.flows(), sample, previous)


def file_reading(path, previous=None):
    """A read of a snapshot file."""
    opened = snapshot.Snapshot(path)
    head = opened.header
    sample = Sample(path, str(head.get("host", "?")), opened.time, head.get("stats") or {},
                    head.get("tables", 0), head.get("entries", 0), previous)
    return Reading(opened, sample, previous)


class Model:
    """What the view shows: the last complete read, and the rows of the
    flows that have left the cache since the first read (their last
    count)."""

    def __init__(self):
        self.sample = None
        self.gone = {}
        self._selection = self._shown = None

    def add(self, sample):
        if self.sample is not None:
            rows = sample.rows
            for flow_id, row in self.sample.rows.items():
                if flow_id not in rows:
                    self.gone[flow_id] = row[:DELTA] + (0, row[AGE], GONE, row[TABLE])
        self.sample = sample
        self._selection = self._shown = None

    def rows(self, view):
        """The rows the view's filter and mode select (kept until either
        changes: filtering a million rows is worth doing once).  A filter
        being typed applies at each key to a small cache, to a large one
        once Enter keeps it."""
        held = len(self.sample.rows) if self.sample is not None else 0
        text = view.filter if not view.editing or held <= LIVE_FILTER_ROWS else view.kept_filter
        key = (text, view.accumulate)
        if self._selection is None or self._selection[0] != key:
            rows = list(self.sample.rows.values()) if self.sample is not None else []
            if view.accumulate:
                rows.extend(self.gone.values())
            test = matcher(text)
            if test is not None:
                rows = [row for row in rows if test(row)]
            self._selection, self._shown = (key, rows), None
        return self._selection[1]

    def shown(self, view, column, room):
        """The rows (or groups) a frame shows, and how many there are of
        how many; kept while nothing they depend on changes, so that a
        frame redrawn only to show the progress of a read costs nothing."""
        rows = self.rows(view)
        key = (view.group, column.name, view.reverse, room)
        if self._shown is None or self._shown[0] != key:
            if view.group is None:
                shown = ordered(rows, column, view.reverse, room)
                what = "%d of %d flows" % (len(shown), len(rows))
            else:
                folded = groups(rows, view.group)
                shown = ordered(folded, column, view.reverse)[:room]
                what = "%d of %d groups of %d flows" % (len(shown), len(folded), len(rows))
            self._shown = (key, shown, what)
        return self._shown[1:]


# ---- filter ------------------------------------------------------------------------

def _address_key(address):
    """Addresses in order: IPv4 before IPv6, each by value (an address
    read from a snapshot is still text: by its text)."""
    if isinstance(address, str):
        return 0, address
    return address.version, address._ip


def _proto_name(number):
    return _values.PROTOCOL_NAMES.get(number, str(number))


_ADDRESS_CHARACTERS = set("0123456789abcdef.:")


def matcher(text):
    """A predicate on rows for a typed filter, or None for an empty one.
    Every word must match: a number matches the flow's port or protocol
    number, a protocol name its protocol, and any word a part of its source
    or destination address."""
    words = text.lower().split()
    if not words:
        return None
    tests = []
    for word in words:
        number = int(word) if word.isdigit() else None
        proto = _values.PROTOCOLS.get(word)
        address = not set(word) - _ADDRESS_CHARACTERS  # "tcp" is in no address

        def test(row, word=word, number=number, proto=proto, address=address):
            if number is not None and (row[PORT] == number or row[PROTO] == number):
                return True
            if proto is not None and row[PROTO] == proto:
                return True
            return address and (word in _text(row[SRC]) or word in _text(row[DST]))
        tests.append(test)
    return lambda row: all(test(row) for test in tests)


# ---- columns -----------------------------------------------------------------------

class Column:
    """A column of the table: its name (the sort key's name), header, the
    priority by which it stays when the width runs short (0 stays longest),
    whether it holds numbers (right-aligned, largest first by default), the
    index of its value in a row, the text of a cell (given the value and
    the seconds between the reads, for rates), and the sort key of a value
    when the value itself is none."""

    def __init__(self, name, header, priority, numeric, index, text, key=None):
        self.name, self.header, self.priority, self.numeric = name, header, priority, numeric
        self.index, self.text, self.key = index, text, key


def rate_text(delta, elapsed):
    if not elapsed or elapsed <= 0:
        return "-"
    return _output.rate_text(delta / elapsed)


def _number(value, elapsed):
    return str(value)


FLOW_COLUMNS = [
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

# Fields the flows fold by: the header of the group column, and the values
# of a row (a flow with several actions is in each action's group).
GROUP_FIELDS = {
    "port": ("PORT", lambda r: (r[PORT],)),
    "vni": ("VNI", lambda r: (r[VNI],)),
    "src": ("SOURCE", lambda r: (_text(r[SRC]),)),
    "dst": ("DESTINATION", lambda r: (_text(r[DST]),)),
    "proto": ("PROTO", lambda r: (r[PROTO],)),
    "action": ("ACTION", lambda r: r[ACTIONS].split(",") if r[ACTIONS] else ("-",)),
    "table": ("TABLE", lambda r: (r[TABLE],)),
}
GROUP_ORDER = [None, *GROUP_FIELDS]

# A group: (value, flows, packets, packet delta or None, share of the flows).
KEY, FLOWS, GROUP_PACKETS, GROUP_DELTA, SHARE = range(5)


def group_columns(field):
    header = GROUP_FIELDS[field][0]
    text = _proto_name if field == "proto" else str
    return [
        Column("key", header, 0, False, KEY, lambda v, e: text(v)),
        Column("flows", "FLOWS", 3, True, FLOWS, _number),
        Column("packets", "PACKETS", 2, True, GROUP_PACKETS, _number),
        Column("rate", "RATE", 1, True, GROUP_DELTA, rate_text),
        Column("share", "SHARE", 4, True, SHARE, lambda v, e: "%.1f%%" % (100 * v)),
    ]


def groups(rows, field):
    """The rows folded by a field: one group per value, its flow count,
    packets, packet delta and share of the rows."""
    values = GROUP_FIELDS[field][1]
    folded = {}
    for row in rows:
        for value in values(row):
            entry = folded.get(value)
            if entry is None:
                entry = folded[value] = [0, 0, 0]
            entry[0] += 1
            entry[1] += row[PACKETS]
            entry[2] += row[DELTA]
    count = len(rows) or 1
    return [(value, flows, packets, delta, flows / count) for value, (flows, packets, delta) in folded.items()]


def columns_of(view):
    return FLOW_COLUMNS if view.group is None else group_columns(view.group)


def ordered(rows, column, reverse, count=None):
    """The rows by a column: numbers largest first, texts in order, both
    turned around by `reverse`; ties in order of the first cell.  Only the
    first `count` when given (without sorting all of them)."""
    descending = column.numeric != reverse
    if column.key is None:
        key = operator.itemgetter(column.index, 0)
    else:
        index, value_key = column.index, column.key

        def key(row):
            return value_key(row[index]), row[0]
    if count is not None and count < len(rows):
        pick = heapq.nlargest if descending else heapq.nsmallest
        return pick(count, rows, key=key)
    return sorted(rows, key=key, reverse=descending)


def fit(columns, cells, width):
    """The columns that fit in `width` (two spaces apart), dropping the
    lowest priorities first; at least one is kept.  Returns the indexes of
    the columns kept, in order, and the width of every column."""
    widths = [max([len(column.header)] + [len(row[i]) for row in cells]) for i, column in enumerate(columns)]
    kept = list(range(len(columns)))
    while len(kept) > 1 and sum(widths[i] for i in kept) + 2 * (len(kept) - 1) > width:
        kept.remove(max(kept, key=lambda i: columns[i].priority))
    return kept, widths


def table_lines(columns, cells, width):
    kept, widths = fit(columns, cells, width)

    def line(texts, header=False):
        parts = [texts[i].rjust(widths[i]) if columns[i].numeric and not header else texts[i].ljust(widths[i])
                 for i in kept]
        return "  ".join(parts).rstrip()[:width]
    return [line([column.header for column in columns], True)] + [line(row) for row in cells]


# ---- the view ----------------------------------------------------------------------

QUIT = "quit"


class View:
    """How the rows are shown, and what keys change about it:
    < and > the sort column, r reverse, / type a filter (Enter keeps it,
    Escape clears it), f the field to group by (off, then each field),
    a accumulate the flows that left, p or space pause, q quit."""

    def __init__(self, sort=None, reverse=False, group=None, filter="", accumulate=False):
        self.group = group
        self.sort = sort or "rate"
        self.reverse = reverse
        self.filter = self.kept_filter = filter
        self.accumulate = accumulate
        self.paused = False
        self.editing = False

    def sort_column(self):
        columns = columns_of(self)
        for column in columns:
            if column.name == self.sort:
                return column
        return next(column for column in columns if column.name == "rate")

    def handle(self, key):
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

    def _edit(self, key):
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

def _per_second(now, before, path, elapsed):
    if before is None or not elapsed or elapsed <= 0:
        return None
    return max(_counter(now, path) - _counter(before, path), 0) / elapsed


def _counter(tree, path):
    for name in path:
        tree = tree.get(name, {}) if isinstance(tree, dict) else {}
    return tree if isinstance(tree, int) else 0


LOOKUPS = (("lookup", "nhits"), ("lookup", "nmisses"))
ALLOC_FAILURES = ("lookup", "alloc", "fe_fail")


def counters_line(sample):
    """Cache fill, lookups per second, hit ratio and allocation failures per
    second; rates between the last two reads, the ratio over them too when
    there were lookups, else since the counters started."""
    now, before, elapsed = sample.stats, sample.previous_stats, sample.elapsed
    held = len(sample.rows)
    fill = "%d flows" % held
    if sample.entries:
        fill += " of %d (%.1f%% full)" % (sample.entries, 100.0 * held / sample.entries)
    rates = [_per_second(now, before, path, elapsed) for path in LOOKUPS]
    lookups = None if None in rates else sum(rates)
    hits, misses = (_counter(now, path) for path in LOOKUPS)
    if before is not None and lookups:
        hits -= _counter(before, LOOKUPS[0])
        misses -= _counter(before, LOOKUPS[1])
    ratio = "%.1f%%" % (100.0 * hits / (hits + misses)) if hits + misses > 0 else "-"
    failures = _per_second(now, before, ALLOC_FAILURES, elapsed)
    return "%s  lookups/s %s  hit ratio %s  alloc failures/s %s" % (
        fill, "-" if lookups is None else "%.1f" % lookups, ratio, "-" if failures is None else "%.1f" % failures)


def frame(model, view, width, height=None, status=""):
    """The lines of one screen: three header lines, then the table, as many
    rows as `height` leaves room for (every row without a height), no line
    longer than `width` (no limit without one)."""
    sample = model.sample
    limit = width if width is not None else 1 << 30
    if sample is None:
        return [line[:limit] for line in ["libfc top  %s" % status, "reading the flow cache..."]]
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
    cells = [[c.text(row[c.index], sample.elapsed) for c in columns] for row in shown]
    lines = [top, counters_line(sample), "  ".join(settings)]
    lines = [line[:limit] for line in lines] + table_lines(columns, cells, limit)
    return lines if height is None else lines[:height]


# ---- the command -------------------------------------------------------------------

def interval(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("not a number of seconds: %r" % text) from None
    if not 0.05 <= value <= 3600:
        raise argparse.ArgumentTypeError("%s is outside 0.05..3600 seconds" % text)
    return value


def register(subparsers):
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


def _view(args):
    view = View(args.sort, args.reverse, args.group_by, args.filter)
    if args.sort is not None and args.sort not in [column.name for column in columns_of(view)]:
        raise bad_input("--sort %s: not a column (one of %s)" % (
            args.sort, ", ".join(column.name for column in columns_of(view))))
    return view


def file_model(paths):
    """The model of one snapshot, or of the second of two with the rates
    between them."""
    model = Model()
    previous = None
    with snapshot.holding_every_flow(paths):
        for path in paths:
            previous = _quietly(file_reading(path, previous).finish)
            model.add(previous)
    return model


def _size():
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


def show(args):
    view = _view(args)
    if args.file is not None and len(args.file) > 2:
        raise bad_input("--file: at most two snapshots (the rates are between them)")
    if args.once:
        if args.file:
            model = file_model(args.file)
        else:
            model = Model()
            first = _quietly(live_reading().finish)
            model.add(first)
            time.sleep(args.interval)
            model.add(_quietly(live_reading(first).finish))
        width, height = _size()
        sys.stdout.write("\n".join(frame(model, view, width, height)) + "\n")
        return 0
    if not (sys.stdin.isatty() and sys.stdout.isatty()):
        raise bad_input("the full-screen view needs a terminal: --once prints one frame")
    import curses

    os.environ.setdefault("ESCDELAY", "25")  # Escape ends a filter without a wait
    return curses.wrapper(_screen, args, view)


def _quietly(read):
    with snapshot.without_collector():
        return read()


def _key_name(curses, key):
    if 0 <= key < 256:
        return chr(key)
    try:
        return curses.keyname(key).decode("ascii", "replace")
    except (ValueError, curses.error):
        return ""


def _draw(curses, screen, model, view, status):
    height, width = screen.getmaxyx()
    screen.erase()
    for y, line in enumerate(frame(model, view, width, height, status)):
        try:
            screen.addnstr(y, 0, line, width)
        except curses.error:  # the bottom right cell cannot be written without scrolling
            pass
    screen.refresh()


def _screen(screen, args, view):
    import curses

    try:
        curses.curs_set(0)
    except curses.error:
        pass
    screen.keypad(True)
    model = file_model(args.file) if args.file else Model()
    reading = None
    next_read = time.monotonic()
    drawn_at = 0.0
    dirty = True
    gc_enabled = gc.isenabled()
    try:
        while True:
            now = time.monotonic()
            if reading is None and not args.file and not view.paused and now >= next_read:
                reading = live_reading(model.sample)
                next_read = now + args.interval
                gc.disable()
            if reading is not None:
                screen.timeout(0)
            else:
                wait = 1.0 if view.paused or args.file else next_read - now
                screen.timeout(max(1, min(int(wait * 1000), 1000)))
            key = screen.getch()
            screen.timeout(0)
            while key != -1:
                changed = view.handle(_key_name(curses, key))
                if changed == QUIT:
                    return 0
                dirty = dirty or changed
                key = screen.getch()
            if reading is not None:
                if reading.step():
                    model.add(reading.sample)
                    reading = None
                    if gc_enabled:
                        gc.enable()
                    dirty = True
                elif now - drawn_at > 0.5:
                    dirty = True
            if dirty:
                status = "every %gs" % args.interval if not args.file else ""
                if reading is not None:
                    done, total = reading.progress()
                    status += "  reading %d/%s" % (done, total if total is not None else "?")
                _draw(curses, screen, model, view, status.strip())
                drawn_at = time.monotonic()
                dirty = False
    finally:
        if gc_enabled:
            gc.enable()

"""Output shared by the commands: JSON documents, tables that fit the
terminal, footers on stderr, durations and the progress line of long dumps.

Standard output carries data only (table rows, JSON); everything said about
the data (what a listing left out, which columns did not fit) goes to
stderr through footer(), so `libfc ... | wc -l` counts rows."""

import json
import os
import re
import sys
import time

# The layout version of every JSON document the tool prints, its first key
# ("schema": 1); docs/json.md describes each command's layout.
SCHEMA = 1


# ---- JSON -------------------------------------------------------------------------

def add_json_options(parser, help="print JSON"):
    """--json and --pretty, for a command whose only other form is text."""
    parser.add_argument("--json", action="store_true", help=help)
    add_pretty(parser)


def add_pretty(parser):
    parser.add_argument("--pretty", action="store_true", help="indent the JSON (with --json)")


def json_text(doc, pretty=False):
    """A document as JSON text, its schema version first: compact, or
    indented by two spaces."""
    doc = {"schema": SCHEMA, **doc}
    if pretty:
        return json.dumps(doc, indent=2)
    return json.dumps(doc, separators=(",", ":"))


def emit_json(doc, args=None, out=None):
    """Print a document as --json and --pretty ask."""
    (out or sys.stdout).write(json_text(doc, bool(getattr(args, "pretty", False))) + "\n")


def json_line(doc, out=None):
    """One JSON Lines record: a compact document on one line, which carries
    the schema version like every other document."""
    (out or sys.stdout).write(json_text(doc) + "\n")


_CAMEL_WORD = re.compile(r"(?<=[a-z0-9])(?=[A-Z])|(?<=[A-Z])(?=[A-Z][a-z])")


def snake_case(name):
    """A record field name as a JSON key: "fromNestedTN" -> "from_nested_tn",
    "actionGenList_appended" -> "action_gen_list_appended"."""
    return _CAMEL_WORD.sub("_", name).lower()


# ---- Text for a terminal --------------------------------------------------------

def footer(text):
    """A note about the output, such as "(3 of 40 matching flows shown)", on
    stderr after what standard output already holds."""
    sys.stdout.flush()
    sys.stderr.write("(%s)\n" % text)


def table_width(out=None):
    """The width a table must fit: $COLUMNS when set, the terminal's when
    the output is one; None when it goes to a pipe or file, which get whole
    rows however long."""
    out = out or sys.stdout
    if os.environ.get("COLUMNS", "").strip() or _is_terminal(out):
        import shutil  # only here: most output goes to a pipe or file

        return shutil.get_terminal_size().columns
    return None


def colour(out=None):
    """Whether to colour: only on a terminal, and never with NO_COLOR set."""
    return _is_terminal(out or sys.stdout) and not os.environ.get("NO_COLOR") and os.environ.get("TERM") != "dumb"



def rate_text(rate):
    """A rate per second as a cell: one decimal while it is short, "-" for none."""
    if rate is None:
        return "-"
    return "%.1f" % rate if rate < 10000 else "%.0f" % rate


_BOLD, _PLAIN = "\033[1m", "\033[0m"
ELLIPSIS = "~"


class Column:
    """A table column: its header, whether its cells are numbers (right
    aligned), and how it gives way on a narrow terminal: ``drop`` ranks the
    columns that may be left out (1 goes first; 0 never), ``shrink`` is the
    width a column of text may be cut down to (0: never cut)."""

    __slots__ = ("name", "numeric", "drop", "shrink")

    def __init__(self, name, numeric=False, drop=0, shrink=0):
        self.name, self.numeric, self.drop, self.shrink = name, numeric, drop, shrink


def fit(columns, widths, limit, take_back=True):
    """The columns kept and their widths so that a row is at most `limit`
    characters: cut the shrinkable ones while that is enough, else leave out
    the column ranked first and try again; then (with `take_back`) take back
    any column left out that the room a later one made holds, which a table
    whose columns must leave strictly by rank goes without.  Returns (kept
    indices, widths)."""
    kept, widths, dropped = list(range(len(columns))), list(widths), []

    def total():
        return sum(widths[i] for i in kept) + 2 * (len(kept) - 1)

    while total() > limit:
        excess = total() - limit
        room = sum(max(0, widths[i] - columns[i].shrink) for i in kept if columns[i].shrink)
        droppable = [i for i in kept if columns[i].drop]
        if room >= excess or not droppable:
            while excess > 0 and room > 0:
                widest = max((i for i in kept if columns[i].shrink and widths[i] > columns[i].shrink),
                             key=lambda i: widths[i] - columns[i].shrink)
                widths[widest] -= 1
                excess, room = excess - 1, room - 1
            break
        dropped.append(min(droppable, key=lambda i: (columns[i].drop, -i)))
        kept.remove(dropped[-1])
    for i in reversed(dropped if take_back else []):
        if total() + 2 + widths[i] <= limit:
            kept = sorted(kept + [i])
    return kept, widths


class Layout:
    """How a table's rows are laid out once its widths are known: the
    columns kept and their widths (fitted to `limit` characters when it is
    given, see fit()), each cell padded to its width (numbers to the right),
    two spaces apart, no trailing space, a line at most `limit` long.  A
    cell longer than its column widens it from that row on, unless the table
    is fitted and the column may be cut: the cell is then cut to end in the
    ellipsis.  The C writers of the flows listing and of top lay out their
    lines by the same rules, from as_tuple()."""

    __slots__ = ("columns", "kept", "widths", "limit")

    def __init__(self, columns, widths, limit=None, take_back=True):
        self.columns = columns
        if limit:
            self.kept, self.widths = fit(columns, widths, limit, take_back)
        else:
            self.kept, self.widths = list(range(len(columns))), list(widths)
        self.limit = limit or 0

    def line(self, cells, header=False):
        """The line of a row's cells (a list of texts, one per column), or of
        the headers, which are never cut and always to the left; without
        its newline."""
        parts = []
        for i in self.kept:
            cell, column, width = cells[i], self.columns[i], self.widths[i]
            if len(cell) > width:
                if self.limit and column.shrink:
                    cell = cell[:max(width - len(ELLIPSIS), 0)] + ELLIPSIS
                else:
                    self.widths[i] = width = len(cell)
            parts.append(cell.rjust(width) if column.numeric and not header else cell.ljust(width))
        line = "  ".join(parts).rstrip()
        return line[:self.limit] if self.limit else line

    def as_tuple(self):
        """What a C writer of lines lays them out by: the kept columns, the
        widths (a list it widens in place), which columns are numeric and
        which may be cut, the limit (0: none) and the ellipsis."""
        return (tuple(self.kept), self.widths, tuple(c.numeric for c in self.columns),
                tuple(c.shrink for c in self.columns), self.limit, ELLIPSIS)


class StreamingTable:
    """Rows written as they come, in columns whose widths the header and the
    first `sample` rows fix, so a long listing needs neither all its rows
    in memory nor to wait for them.  A longer cell later on widens its
    column from that row on, or is cut in a column fitted to the terminal.

    `columns` are Column objects, or header texts with `numeric` giving the
    indices of the right-aligned ones.  On a terminal (or with $COLUMNS set)
    the table fits its width: low-ranked columns are left out or cut, which
    finish() says on stderr; no row is ever longer than the width."""

    def __init__(self, columns, numeric=(), out=None, sample=256, width=None):
        self.columns = [c if isinstance(c, Column) else Column(c, numeric=i in numeric)
                        for i, c in enumerate(columns)]
        self.out = out or sys.stdout
        self.sample = sample
        self.limit = width if width is not None else table_width(self.out)
        self.bold = colour(self.out)
        self.pending = []
        self.fitted = None  # the Layout, once the widths are fixed
        self.rows = 0
        self.noted = False

    def add(self, row):
        cells = ["" if cell is None else str(cell) for cell in row]
        if not "".join(cells).isprintable():
            cells = list(map(escaped, cells))
        self.rows += 1
        if self.fitted is not None:
            self._write(cells)
            return
        self.pending.append(cells)
        if len(self.pending) >= self.sample:
            self._start()

    def layout(self):
        """Once the widths are fixed (None before), what a writer of finished
        rows needs to write them as _write() would (Layout.as_tuple())."""
        return None if self.fitted is None else self.fitted.as_tuple()

    def add_lines(self, count, text):
        """`count` rows a writer laid out by layout() as finished lines."""
        self.rows += count
        self.out.write(text)

    def finish(self):
        if self.fitted is None:
            self._start()
        if not self.noted:
            self.noted = True
            self._note()

    def _start(self):
        natural = [len(c.name) for c in self.columns]
        for cells in self.pending:
            natural = [max(w, len(cell)) for w, cell in zip(natural, cells)]
        self.natural = natural
        self.fitted = Layout(self.columns, natural, self.limit)
        self._write([c.name for c in self.columns], header=True)
        for cells in self.pending:
            self._write(cells)
        self.pending = []

    def _note(self):
        kept, widths = self.fitted.kept, self.fitted.widths
        dropped = [c.name for i, c in enumerate(self.columns) if i not in kept]
        cut = [self.columns[i].name for i in kept if widths[i] < self.natural[i]]
        said = (["left out " + ", ".join(dropped)] if dropped else []) + (["cut " + ", ".join(cut)] if cut else [])
        if said:
            footer("%s to fit %d columns" % ("; ".join(said), self.limit))

    def _write(self, cells, header=False):
        line = self.fitted.line(cells, header)
        if header and self.bold:
            line = _BOLD + line + _PLAIN
        self.out.write(line + "\n")


def escaped(text):
    """A text with its control characters (and every other one that does
    not print) spelt as escapes (\\x1b, \\u202e): a cell read from a file
    cannot move the cursor, recolour the terminal or forge a row."""
    return "".join(c if c.isprintable() else c.encode("unicode_escape").decode("ascii") for c in text)


def table(columns, rows, out=None, width=None):
    """A whole table at once; cells that are all numbers are right-aligned
    unless `columns` are Column objects, which say it themselves.  None is
    an empty cell."""
    numeric = {i for i in range(len(columns)) if rows and all(_is_number(row[i]) for row in rows)}
    listing = StreamingTable(columns, numeric, out=out, sample=len(rows) + 1, width=width)
    for row in rows:
        listing.add(row)
    listing.finish()


def _is_number(value):
    return isinstance(value, int) and not isinstance(value, bool)


def duration(seconds):
    """A short human duration: 45s, 3m07s, 2h05m, 3d04h."""
    seconds = int(seconds)
    if seconds < 0:
        return "-" + duration(-seconds)
    if seconds < 60:
        return "%ds" % seconds
    if seconds < 3600:
        return "%dm%02ds" % divmod(seconds, 60)
    if seconds < 86400:
        return "%dh%02dm" % (seconds // 3600, seconds % 3600 // 60)
    return "%dd%02dh" % (seconds // 86400, seconds % 86400 // 3600)


class Progress:
    """A "label done/total" line on stderr, shown only when stderr is a
    terminal, standard output is not (rows arriving on the terminal show
    the progress already) and the work has already taken longer than `delay`
    seconds, so quick dumps and redirected runs print nothing extra.
    `total` may be learnt on the way (update's `total`)."""

    delay = 1.0
    interval = 0.1

    def __init__(self, label, total, stream=None, clock=time.monotonic):
        self.label = label
        self.total = total
        self.stream = stream or sys.stderr
        self.clock = clock
        self.started = clock()
        self.shown_at = None
        self.enabled = _is_terminal(self.stream) and not _is_terminal(sys.stdout)

    def update(self, done, total=None):
        if not self.enabled:
            return
        if total is not None:
            self.total = total
        now = self.clock()
        if now - self.started < self.delay:
            return
        if self.shown_at is not None and now - self.shown_at < self.interval and done < self.total:
            return
        self.shown_at = now
        self.stream.write("\r%s %d/%d" % (self.label, done, self.total))
        self.stream.flush()

    def finish(self):
        if self.shown_at is not None:
            # Clear the line so the table or the shell prompt starts clean.
            self.stream.write("\r\033[K")
            self.stream.flush()


def _is_terminal(stream):
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False

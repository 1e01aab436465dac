"""Text output shared by the commands: aligned tables, JSON, durations and
the progress line of long dumps."""

import json
import sys
import time


def table(headers, rows, out=None):
    """Left-aligned text columns, numbers right-aligned, two spaces apart;
    None is an empty cell."""
    out = out or sys.stdout
    texts = [["" if cell is None else str(cell) for cell in row] for row in rows]
    widths = [len(h) for h in headers]
    for row in texts:
        for i, cell in enumerate(row):
            widths[i] = max(widths[i], len(cell))
    numeric = [all(_is_number(row[i]) for row in rows) and bool(rows) for i in range(len(headers))]

    def line(cells):
        parts = [cell.rjust(w) if right else cell.ljust(w) for cell, w, right in zip(cells, widths, numeric)]
        return "  ".join(parts).rstrip()

    out.write(line(headers) + "\n")
    for row in texts:
        out.write(line(row) + "\n")


class StreamingTable:
    """Rows written as they come, in columns whose widths the header and the
    first `sample` rows fix, so a long listing needs neither all its rows
    in memory nor to wait for them.  A longer cell later on widens its
    column from that row on.  Columns listed in `numeric` are right-aligned."""

    def __init__(self, headers, numeric=(), out=None, sample=256):
        self.headers = list(headers)
        self.numeric = [i in numeric for i in range(len(headers))]
        self.out = out or sys.stdout
        self.sample = sample
        self.pending = []
        self.widths = None
        self.rows = 0

    def add(self, row):
        cells = ["" if cell is None else str(cell) for cell in row]
        self.rows += 1
        if self.widths is not None:
            self._write(cells)
            return
        self.pending.append(cells)
        if len(self.pending) >= self.sample:
            self._start()

    def finish(self):
        if self.widths is None:
            self._start()

    def _start(self):
        self.widths = [len(h) for h in self.headers]
        for cells in self.pending:
            self.widths = [max(w, len(cell)) for w, cell in zip(self.widths, cells)]
        self._write(self.headers, header=True)
        for cells in self.pending:
            self._write(cells)
        self.pending = []

    def _write(self, cells, header=False):
        parts = []
        for i, (cell, right) in enumerate(zip(cells, self.numeric)):
            if len(cell) > self.widths[i]:
                self.widths[i] = len(cell)
            parts.append(cell.rjust(self.widths[i]) if right and not header else cell.ljust(self.widths[i]))
        self.out.write("  ".join(parts).rstrip() + "\n")


def _is_number(value):
    return isinstance(value, int) and not isinstance(value, bool)


def dump_json(value, out=None):
    out = out or sys.stdout
    json.dump(value, out, indent=2)
    out.write("\n")


_compact = json.JSONEncoder(separators=(",", ":"))


def json_line(value, out=None):
    """One compact JSON object on one line (a JSON Lines record)."""
    (out or sys.stdout).write(_compact.encode(value) + "\n")


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

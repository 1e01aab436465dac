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


def _is_number(value):
    return isinstance(value, int) and not isinstance(value, bool)


def dump_json(value, out=None):
    out = out or sys.stdout
    json.dump(value, out, indent=2)
    out.write("\n")


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
    terminal and the work has already taken longer than `delay` seconds, so
    quick dumps and redirected runs print nothing extra."""

    delay = 1.0
    interval = 0.1

    def __init__(self, label, total, stream=None, clock=time.monotonic):
        self.label = label
        self.total = total
        self.stream = stream or sys.stderr
        self.clock = clock
        self.started = clock()
        self.shown_at = None
        self.enabled = _is_terminal(self.stream)

    def update(self, done):
        if not self.enabled:
            return
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

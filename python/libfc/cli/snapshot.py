"""Flow cache snapshots: ``flows --save FILE`` writes the whole cache to a
file, ``flows --from FILE`` and ``top --file FILE`` read one instead of the
live cache, and ``diff A B`` lists what changed between two of them (or
between one and the live cache).

A snapshot is gzip-compressed JSON Lines: a header object (``format``,
``version``, ``host``, ``time``, the cache's options, its size and its
counters), one object per flow as ``flows --json-lines`` writes it, and an
end object that counts the flows.  The end object is how a reader tells a
complete file from one cut short; gzip's own check catches damage."""

import collections
import contextlib
import gc
import gzip
import json
import socket
import sys
import time
import zlib

from .. import _addresses, _cache, _metrics
from .._flow import Flow
from . import _output, _replace, _values
from ._library import CommandError

FORMAT = "libfc-flow-snapshot"
VERSION = 1
LIVE = ("-", "live")


# ---- writing ---------------------------------------------------------------------

def cache_size():
    """(tables, entries) of the live cache, from the hash statistics."""
    tables = _metrics.tables(_cache.hash_stats())
    return len(tables), sum(table["capacity"] for table in tables)


def header(now=None):
    """The header of a snapshot of the live cache taken now."""
    now = time.time() if now is None else now
    tables, entries = cache_size()
    return {"format": FORMAT, "version": VERSION, "host": socket.gethostname(), "time": now,
            "time_text": time.strftime("%Y-%m-%dT%H:%M:%S%z", time.localtime(now)),
            "options": _cache.options(), "tables": tables, "entries": entries, "stats": _cache.stats()}


def save(path, flows=None):
    """Writes the whole live cache (or `flows`) to `path`, through a
    temporary file beside it, so that a failed or interrupted save leaves no
    half-written snapshot under the name; returns the count of flows."""
    start = header()
    flows = _cache.flows() if flows is None else flows
    count = 0
    with _replace.replacing(path) as temporary:
        with gzip.open(temporary, "wt", encoding="utf-8", compresslevel=3) as out:
            _output.json_line(start, out)
            for flow in flows:
                out.write(flow.json_text() + "\n")
                count += 1
            _output.json_line({"end": True, "flows": count}, out)
    return count


# ---- reading ---------------------------------------------------------------------

def flow_of(record):
    """A Flow from one flow object of a snapshot."""
    r = record
    entities = [(entity["actions"], entity["dst_ports"]) for entity in r["entities"]]
    return Flow(r["id"], r["flags"], r["table"], r["port"], r["vni"], r["ipv6"], r["src"], r["dst"], r["proto"],
                r["ether_type"], r["vlan"], r["src_mac"], r["dst_mac"], r["inner_dst_mac"], entities, r["packets"],
                r["age_s"], r["expires_in_s"])


_decode = json.JSONDecoder().decode


@contextlib.contextmanager
def without_collector():
    """The cyclic garbage collector held off: while a million flows are
    kept, it would walk every one kept so far again and again."""
    enabled = gc.isenabled()
    gc.disable()
    try:
        yield
    finally:
        if enabled:
            gc.enable()


def _damaged(path, what):
    return CommandError("%s: damaged snapshot: %s" % (path, what))


class Snapshot:
    """A snapshot file opened for reading: ``header`` is read at once, the
    flows are read by iterating (once), each a ``Flow``, keeping only those
    that match ``criteria`` (names of the walk's fields, as
    ``_cache.criteria`` makes them).  Like a walk of the live cache, it has
    ``total`` (the matching flows read so far; all of them once the file is
    read to its end, see ``count_rest``) and ``unreachable`` (always 0)."""

    def __init__(self, path, criteria=None):
        self.path = path
        self.unreachable = 0
        self.total = 0
        self.read = 0
        self._match = matcher(criteria or {})
        try:
            self._file = gzip.open(path, "rt", encoding="utf-8")
        except OSError as error:
            raise CommandError("%s: %s" % (path, error.strerror or error)) from None
        self._line = 0
        first = self._next_line()
        try:
            head = json.loads(first) if first is not None else None
        except ValueError:
            head = None
        if (not isinstance(head, dict) or head.get("format") != FORMAT or not isinstance(head.get("version"), int)
                or not isinstance(head.get("time"), (int, float))):
            self.close()
            raise CommandError("%s: not a flow cache snapshot" % path)
        if head["version"] > VERSION:
            self.close()
            raise CommandError("%s: snapshot format version %d is newer than this tool reads (%d)"
                               % (path, head["version"], VERSION))
        self.header = head
        self.time = head["time"]
        self._flows = self._read()

    def _next_line(self):
        try:
            line = self._file.readline()
        except (OSError, EOFError, zlib.error, UnicodeDecodeError) as error:
            self.close()
            if isinstance(error, gzip.BadGzipFile) and self._line == 0:
                raise CommandError("%s: not a flow cache snapshot (not gzip-compressed)" % self.path) from None
            raise _damaged(self.path, "%s after line %d" % (_reason(error), self._line)) from None
        if not line:
            return None
        self._line += 1
        return line

    def _read(self):
        while True:
            line = self._next_line()
            if line is None:
                self.close()
                raise _damaged(self.path, "it ends after %d flows without its end line" % self.read)
            try:
                record = _decode(line)
                if not isinstance(record, dict):
                    raise ValueError("not an object")
                if "end" in record:
                    break
                flow = flow_of(record)
            except (ValueError, TypeError, KeyError, AttributeError):
                self.close()
                raise _damaged(self.path, "line %d is not a flow" % self._line) from None
            self.read += 1
            if self._match(flow):
                self.total += 1
                yield flow
        if record.get("flows") != self.read or self._next_line() is not None:
            self.close()
            raise _damaged(self.path, "its end line does not close it (%d flows read)" % self.read)
        self.close()

    def __iter__(self):
        return self

    def __next__(self):
        return next(self._flows)

    def count_rest(self):
        """Reads the flows not yet read, only to count the matching ones."""
        for _ in self._flows:
            pass

    def close(self):
        self._file.close()


def _reason(error):
    if isinstance(error, EOFError):
        return "cut short"
    if isinstance(error, UnicodeDecodeError):
        return "text that is not UTF-8"
    return "compressed data corrupt"


def matcher(criteria):
    """A predicate on Flow for FC_GetFlows criteria (see ``_walk.FIELDS``):
    the same matches the library makes, zero or no value being a wildcard."""
    tests = []
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


# ---- the live cache as a snapshot ------------------------------------------------

class LiveCache:
    """The live cache read now, in the shape of a Snapshot."""

    def __init__(self):
        self.path = "live"
        self.header = header()
        self.time = self.header["time"]

    def __iter__(self):
        return iter(_cache.flows())


def source(name):
    """A snapshot file, or the live cache for ``-`` and ``live``."""
    return LiveCache() if name in LIVE else Snapshot(name)


# ---- diff ------------------------------------------------------------------------

def register(subparsers):
    parser = subparsers.add_parser(
        "diff", help="flows that appeared, left or changed between two snapshots",
        description="List the flows that appeared, left, or changed their packet count between snapshot A "
                    "and snapshot B (made by 'flows --save'); '-' or 'live' for B compares with the live cache.")
    parser.add_argument("before", metavar="A", help="the earlier snapshot")
    parser.add_argument("after", metavar="B", help="the later snapshot, or - (or live) for the live cache")
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="print one JSON document")
    form.add_argument("--json-lines", action="store_true", help="print one JSON object per changed flow")
    _output.add_pretty(parser)
    parser.add_argument("--unchanged", action="store_true", help="list the flows that did not change too")
    parser.set_defaults(handler=diff)


# What a diff keeps of a flow: what makes two reads the same flow (its id,
# never reused, and key) and its packet count.
Seen = collections.namedtuple("Seen", "id port vni proto src dst table packets")


def identity(flow):
    return (flow.id, flow.port, flow.vni, flow.proto, flow.src_text, flow.dst_text, flow.table)


def compare(before, after, elapsed, unchanged=False):
    """(change, Seen, packet delta, packets per second) in id order for
    every flow that is only in `after` ("appeared"), only in `before`
    ("left", its last count) or in both with another packet count
    ("changed"), and with `unchanged` the others too; and the count of each
    kind of change.  The rate is None without a positive `elapsed`.  Of the
    flows of `before` only their identity and count are kept, of `after`
    only the ones listed."""
    earlier = {identity(flow): flow.packets for flow in before}
    counts = dict.fromkeys(CHANGES, 0)
    changes = []
    for flow in after:
        key = identity(flow)
        old = earlier.pop(key, None)
        if old is None:
            change, delta = "appeared", flow.packets
        else:
            delta = flow.packets - old
            change = "changed" if delta else "unchanged"
        counts[change] += 1
        if change != "unchanged" or unchanged:
            changes.append((change, Seen(*key, flow.packets), delta))
    counts["left"] = len(earlier)
    changes.extend(("left", Seen(*key, packets), 0) for key, packets in earlier.items())
    changes.sort(key=lambda item: (item[1].id, item[0]))
    rated = elapsed is not None and elapsed > 0
    return [(change, seen, delta, delta / elapsed if rated else None) for change, seen, delta in changes], counts


DIFF_HEADERS = ["CHANGE", "ID", "PORT", "VNI", "SOURCE", "DESTINATION", "PROTO", "PACKETS", "DELTA", "RATE"]
DIFF_NUMERIC = {1, 2, 3, 7, 8, 9}
CHANGES = ("appeared", "left", "changed", "unchanged")


def rate_text(rate):
    if rate is None:
        return "-"
    return "%.1f" % rate if rate < 10000 else "%.0f" % rate


def _diff_record(change, seen, delta, rate):
    return {"change": change, "id": seen.id, "port": seen.port, "vni": seen.vni, "src": seen.src, "dst": seen.dst,
            "proto": seen.proto, "proto_name": _values.PROTOCOL_NAMES.get(seen.proto), "packets": seen.packets,
            "delta": delta,
            "rate": None if rate is None else round(rate, 3)}


def diff(args):
    before = source(args.before)
    after = source(args.after)
    elapsed = after.time - before.time
    with without_collector():
        listed, counts = compare(before, after, elapsed, args.unchanged)
    if args.json:
        _output.emit_json({"before": before.path, "after": after.path, "elapsed_s": round(elapsed, 3),
                           "counts": counts, "flows": [_diff_record(*item) for item in listed]}, args)
    elif args.json_lines:
        for item in listed:
            _output.json_line(_diff_record(*item))
    elif listed:
        table = _output.StreamingTable(DIFF_HEADERS, DIFF_NUMERIC)
        for change, seen, delta, rate in listed:
            table.add([change, seen.id, seen.port, seen.vni, seen.src, seen.dst,
                       _values.PROTOCOL_NAMES.get(seen.proto, str(seen.proto)), seen.packets, "%+d" % delta,
                       rate_text(rate)])
        table.finish()
    sys.stdout.flush()
    sys.stderr.write("%s over %s\n" % (", ".join("%d %s" % (counts[c], c) for c in CHANGES),
                                       _output.duration(elapsed)))
    return 0

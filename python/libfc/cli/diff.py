"""``diff A B``: the flows that appeared, left or changed their packet
count between two snapshots, or between a snapshot and the live cache."""

import array
import collections
import struct
import sys

from .. import snapshot
from .._flow import TEXT_WRITER, _address_bytes as _packed, _address_text as _text
from . import _output, _snapshots, _values

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any, Dict, Iterable, Iterator, List, Optional, Tuple

    from .._flow import Flow

    _Subparsers = argparse._SubParsersAction[Any]


def register(subparsers: "_Subparsers") -> None:
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


# What a diff shows of a flow: what makes two reads the same flow (its id,
# never reused, and key) and its packet count.
Seen = collections.namedtuple("Seen", "id port vni proto src dst table packets")

# The kinds of change in the order a flow's changes are listed (by name).
APPEARED, CHANGED, LEFT, UNCHANGED = range(4)
KIND_NAMES = ("appeared", "changed", "left", "unchanged")
POSITION_BITS = 32
ADDRESS = 16  # bytes kept per address; an IPv4 one fills the first four


class Flows:
    """Flows kept compactly, a column each (some 70 bytes a flow, no Python
    object per flow), with the runs of positions each hash table's flows
    came in."""

    def __init__(self):
        self.ids, self.packets = array.array("Q"), array.array("Q")
        self.ports, self.vnis, self.tables = array.array("I"), array.array("I"), array.array("Q")
        self.protos, self.ipv6 = array.array("B"), array.array("B")
        self.addresses = bytearray()  # source and destination, ADDRESS bytes each
        self.starts, self.runs = array.array("I"), {}  # where each run starts; hash table -> its runs

    def __len__(self) -> int:
        return len(self.ids)

    def add(self, flow, key):
        if not self.starts or self.tables[-1] != flow.table:
            self.runs.setdefault(flow.table, []).append(len(self.starts))
            self.starts.append(len(self.ids))
        self.ids.append(flow.id)
        self.packets.append(flow.packets)
        self.ports.append(flow.port)
        self.vnis.append(flow.vni)
        self.protos.append(flow.proto)
        self.tables.append(flow.table)
        self.ipv6.append(key[3])
        self.addresses += key[4]

    def key(self, i):
        return (self.ports[i], self.vnis[i], self.protos[i], self.ipv6[i],
                self.addresses[2 * ADDRESS * i:2 * ADDRESS * (i + 1)])

    def seen(self, i):
        start, size = 2 * ADDRESS * i, ADDRESS if self.ipv6[i] else 4
        both = self.addresses
        return Seen(self.ids[i], self.ports[i], self.vnis[i], self.protos[i], _text(bytes(both[start:start + size])),
                    _text(bytes(both[start + ADDRESS:start + ADDRESS + size])), self.tables[i], self.packets[i])

    def by_id(self, table: int) -> "Dict[int, int]":
        """Flow id -> position, for the flows of one hash table."""
        found, starts = {}, self.starts
        for run in self.runs.get(table, ()):
            start, end = starts[run], starts[run + 1] if run + 1 < len(starts) else len(self.ids)
            found.update(zip(self.ids[start:end], range(start, end)))
        return found


def key_of(flow: "Flow") -> "Tuple[int, int, int, int, bytes]":
    """What besides its id and table makes two reads the same flow."""
    pad = ADDRESS - (16 if flow.ipv6 else 4)
    both = _packed(flow._source) + bytes(pad) + _packed(flow._destination) + bytes(pad)
    return flow.port, flow.vni, flow.proto, 1 if flow.ipv6 else 0, both


class Listed:
    """The changes listed, in order, each made as it is gone through."""

    def __init__(self, order: "List[int]", earlier: Flows, later: Flows, deltas: "array.array[int]",
                 elapsed: "Optional[float]") -> None:
        self.order, self.earlier, self.later, self.deltas, self.elapsed = order, earlier, later, deltas, elapsed

    def __len__(self) -> int:
        return len(self.order)

    def __iter__(self) -> "Iterator[Tuple[str, Seen, int, Optional[float]]]":
        mask, elapsed = (1 << POSITION_BITS) - 1, self.elapsed
        rated = elapsed is not None and elapsed > 0
        for key in self.order:
            change, at = key >> POSITION_BITS & 3, key & mask
            if change == LEFT:
                seen, delta = self.earlier.seen(at), 0
            else:
                seen, delta = self.later.seen(at), self.deltas[at]
            yield KIND_NAMES[change], seen, delta, delta / elapsed if rated else None


def compare(before: "Iterable[Flow]", after: "Iterable[Flow]", elapsed: "Optional[float]",
            unchanged: bool = False) -> "Tuple[Listed, Dict[str, int]]":
    """(change, Seen, packet delta, packets per second) in id order for
    every flow that is only in `after` ("appeared"), only in `before`
    ("left", its last count) or in both with another packet count
    ("changed"), and with `unchanged` the others too; and the count of each
    kind of change.  The rate is None without a positive `elapsed`.

    Of `before` only a compact column per field is kept; `after` streams
    past it, a flow looked up among the flows of its hash table in
    `before` (a small dict at a time: a walk and a snapshot give a table's
    flows together), and only the flows listed are kept, compactly; the
    order of what is listed is a sort of one integer per listed flow."""
    earlier = Flows()
    for flow in before:
        earlier.add(flow, key_of(flow))
    later, deltas = Flows(), array.array("q")
    counts = [0, 0, 0, 0]
    order = []
    left_over, table, lookup = {}, None, {}
    for flow in after:
        if flow.table != table:
            left_over[table] = dict(lookup)  # a copy: a dict keeps its room when emptied
            table = flow.table
            lookup = left_over.pop(table) if table in left_over else earlier.by_id(table)
        at, key = lookup.get(flow.id), key_of(flow)
        if at is not None and earlier.key(at) != key:
            at = None
        if at is None:
            change, delta = APPEARED, flow.packets
        else:
            del lookup[flow.id]
            delta = flow.packets - earlier.packets[at]
            change = CHANGED if delta else UNCHANGED
        counts[change] += 1
        if change != UNCHANGED or unchanged:
            order.append(((flow.id << 2 | change) << POSITION_BITS) | len(later))
            later.add(flow, key)
            deltas.append(delta)
    left_over[table] = dict(lookup)
    for table in earlier.runs:
        for at in (left_over[table].values() if table in left_over else earlier.by_id(table).values()):
            counts[LEFT] += 1
            order.append(((earlier.ids[at] << 2 | LEFT) << POSITION_BITS) | at)
    order.sort()
    return Listed(order, earlier, later, deltas, elapsed), {name: counts[KIND_NAMES.index(name)] for name in CHANGES}


# What the C comparison keeps of a flow and lists, as flow_diff packs them.
SEEN = struct.Struct("=QQQIIBB16s16s")  # table, id, packets, port, vni, proto, ipv6, src, dst
LISTED = struct.Struct("=QIII")  # id, change, position of its Seen, position of the earlier flow
NOT_MATCHED = 2**32 - 1


def _packed_page(flows: "List[Flow]") -> "Tuple[int, bytes]":
    """Seen records of flows the C reader left to the Python one."""
    pack = SEEN.pack
    records = []
    for flow in flows:
        port, vni, proto, ipv6, both = key_of(flow)
        records.append(pack(flow.table, flow.id, flow.packets, port, vni, proto, ipv6, both[:ADDRESS],
                            both[ADDRESS:]))
    return len(flows), b"".join(records)


def _seen_pages(source: "Any", writer: "Any") -> "Iterator[bytes]":
    """What a diff keeps of every flow of a snapshot or the live cache, a
    page of Seen records at a time."""
    for _, records in source.pages(writer.seen, _packed_page):
        yield records


class Compared:
    """The changes the C comparison listed, in order, each made as it is
    gone through (see Listed)."""

    listed: bytes
    earlier: bytearray
    later: bytes
    elapsed: "Optional[float]"

    def __init__(self, listed: bytes, earlier: bytearray, later: bytes, elapsed: "Optional[float]") -> None:
        self.listed, self.earlier, self.later, self.elapsed = listed, earlier, later, elapsed

    def __len__(self) -> int:
        return len(self.listed) // LISTED.size

    def __iter__(self) -> "Iterator[Tuple[str, Seen, int, Optional[float]]]":
        elapsed, size, seen_at = self.elapsed, SEEN.size, SEEN.unpack_from
        rated = elapsed is not None and elapsed > 0
        for _, change, at, matched in LISTED.iter_unpack(self.listed):
            record = seen_at(self.earlier if change == LEFT else self.later, at * size)
            if change == LEFT:
                delta = 0
            else:
                delta = record[2] - (seen_at(self.earlier, matched * size)[2] if matched != NOT_MATCHED else 0)
            yield KIND_NAMES[change], _seen(record), delta, delta / elapsed if rated else None


def _seen(record: "Tuple[Any, ...]") -> Seen:
    table, id, packets, port, vni, proto, ipv6, src, dst = record
    size = ADDRESS if ipv6 else 4
    return Seen(id, port, vni, proto, _text(src[:size]), _text(dst[:size]), table, packets)


def compare_in_c(before: "Any", after: "Any", elapsed: "Optional[float]", unchanged: bool,
                 writer: "Any") -> "Tuple[Compared, Dict[str, int]]":
    """compare() of the C writer's Seen records: the earlier flows kept as
    one array of them, the later ones compared a page at a time, only the
    listed ones kept."""
    from _libfc_fields import flow_diff

    earlier = bytearray()
    for records in _seen_pages(before, writer):
        earlier += records
    comparison = flow_diff(earlier, unchanged)
    for records in _seen_pages(after, writer):
        comparison.add(records)
    listed, later, counts = comparison.finish()
    del comparison  # lets go of earlier
    return Compared(listed, earlier, later, elapsed), {name: counts[KIND_NAMES.index(name)] for name in CHANGES}


DIFF_HEADERS = ["CHANGE", "ID", "PORT", "VNI", "SOURCE", "DESTINATION", "PROTO", "PACKETS", "DELTA", "RATE"]
DIFF_NUMERIC = {1, 2, 3, 7, 8, 9}
CHANGES = ("appeared", "left", "changed", "unchanged")


def _diff_record(change, seen, delta, rate):
    return {"change": change, "id": seen.id, "port": seen.port, "vni": seen.vni, "src": seen.src, "dst": seen.dst,
            "proto": seen.proto, "proto_name": _values.PROTOCOL_NAMES.get(seen.proto), "packets": seen.packets,
            "delta": delta,
            "rate": None if rate is None else round(rate, 3)}


def diff(args: "argparse.Namespace") -> int:
    before = _snapshots.source(args.before)
    after = _snapshots.source(args.after)
    elapsed = after.time - before.time
    with _snapshots.without_collector(), _snapshots.holding_every_flow(
            [s.path for s in (before, after) if isinstance(s, snapshot.Snapshot)]):
        if TEXT_WRITER is not None:
            listed, counts = compare_in_c(before, after, elapsed, args.unchanged, TEXT_WRITER)
        else:
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
                       _output.rate_text(rate)])
        table.finish()
    sys.stdout.flush()
    sys.stderr.write("%s over %s\n" % (", ".join("%d %s" % (counts[c], c) for c in CHANGES),
                                       _output.duration(elapsed)))
    return 0

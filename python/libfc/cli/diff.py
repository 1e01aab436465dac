"""``diff A B``: the flows that appeared, left or changed their packet
count between two snapshots, or between a snapshot and the live cache."""

import collections
import sys

from . import _output, _values, snapshot


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


def _diff_record(change, seen, delta, rate):
    return {"change": change, "id": seen.id, "port": seen.port, "vni": seen.vni, "src": seen.src, "dst": seen.dst,
            "proto": seen.proto, "proto_name": _values.PROTOCOL_NAMES.get(seen.proto), "packets": seen.packets,
            "delta": delta,
            "rate": None if rate is None else round(rate, 3)}


def diff(args):
    before = snapshot.source(args.before)
    after = snapshot.source(args.after)
    elapsed = after.time - before.time
    with snapshot.without_collector(), snapshot.holding_every_flow(
            [s.path for s in (before, after) if isinstance(s, snapshot.Snapshot)]):
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

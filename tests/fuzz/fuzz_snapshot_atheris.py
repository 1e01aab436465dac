"""Coverage-guided fuzzing of the snapshot reader: a snapshot file is
untrusted input, so whatever its lines hold, reading it ends in flows or in
one "damaged snapshot ..." (or "FILE: ...") SnapshotError, and every flow
read comes out of every view (JSON line, JSON document, table row, top's
row) as one line of printable text, the same with or without the C reader
of flow lines (or the same error). Any other exception is a fault.

    python tests/fuzz/fuzz_snapshot_atheris.py [libFuzzer options, e.g. -runs=1000000 -seed=1]
    python tests/fuzz/fuzz_snapshot_atheris.py --random N SEED

An input is a valid snapshot's flow with one field set to a hostile value,
random lines after a valid header, or a valid snapshot with bytes of the
input spliced in. Flow lines are read in C, so run the seeded mode under
the sanitizer build too (atheris's coverage does not work with ASan):

    mkdir -p corpus && nice -n 10 python tests/fuzz/fuzz_snapshot_atheris.py corpus -runs=1000000 -seed=2 \
        -max_len=4096 -print_final_stats=1
"""

import gzip
import inspect
import io
import json
import os
import random
import sys
import tempfile

TESTS = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("LIBFC_BUILD_DIR", os.path.join(os.path.dirname(TESTS), "build"))
sys.path[:0] = [path for path in (BUILD, TESTS) if path not in sys.path]
_STATE = tempfile.TemporaryDirectory(prefix="libfc-atheris-")  # never the user's own flow cache
os.environ.setdefault("FC_EMU_DIR", _STATE.name)

from _libfc_fields import flow_hold  # noqa: E402
from libfc._flow import TEXT_WRITER, _decode_rows  # noqa: E402
from libfc import snapshot  # noqa: E402
from libfc.cli import _output, diff, flows, top  # noqa: E402
from libfc.snapshot import SnapshotError  # noqa: E402

HEADER = json.dumps({"format": snapshot.FORMAT, "version": 1, "time": 5000.0, "host": "a.example.net"})
FLOW = {"id": 7, "flags": 3, "table": 1, "port": 33554433, "vni": 5001, "ipv6": False, "src": "10.0.0.1",
        "dst": "10.0.0.2", "proto": 6, "proto_name": "tcp", "ether_type": 2048, "ether_type_name": "ipv4",
        "vlan": 0, "src_mac": "02:00:00:00:00:01", "dst_mac": "02:00:00:00:00:02",
        "inner_dst_mac": "00:00:00:00:00:00", "entities": [{"actions": ["dst_port"], "dst_ports": [9]}],
        "packets": 32, "age_s": 4, "expires_in_s": 180}
HOSTILE = [None, True, -1, 2**64, 1.5, "", "\x1b[2J", 'x","zz":0}\n{"id":1', "fe80::1%eth0", "::ffff:1.2.3.4",
           "1:2:3:4:5:6:7:8", "10.0.0.1", [], {}, [{"actions": [], "dst_ports": [True]}], [[[]]], "bit63", [1]]


def snapshot_text(*flow_lines):
    end = json.dumps({"end": True, "flows": len(flow_lines)})
    return "\n".join((HEADER,) + flow_lines + (end, "")).encode()


def make_input(data):
    mode, pick, rest = data[0] % 3 if data else 0, data[1:3], data[3:]
    # Lines spelt as the writers spell them (no spaces) and spelt otherwise
    # take different paths through the C reader.
    dumps = json.dumps if data and data[0] // 3 % 2 else lambda value: json.dumps(value, separators=(",", ":"))
    if mode == 0:  # one field of a flow set to a hostile value
        name = list(FLOW)[pick[0] % len(FLOW)] if pick else "id"
        value = HOSTILE[pick[1] % len(HOSTILE)] if len(pick) > 1 else rest.decode("utf-8", "replace")
        return snapshot_text(dumps(FLOW), dumps(dict(FLOW, **{name: value})))
    if mode == 1:  # random lines after the header
        return HEADER.encode() + b"\n" + rest
    text = snapshot_text(dumps(FLOW), dumps(dict(FLOW, ipv6=True, src="fd00::1", dst="fd00::2")))
    at = int.from_bytes(pick.ljust(2, b"\0"), "little") % len(text)
    return text[:at] + bytes(byte % 128 for byte in rest) + text[at + len(rest) % 7:]


def check_views(flow):
    line = flow.json_text()
    assert line.isprintable() and json.loads(line) == flow.as_dict() == json.loads(json.dumps(flow.as_dict()))
    assert (flow.src.version, flow.dst.version) == ((6, 6) if flow.ipv6 else (4, 4))
    out = io.StringIO()
    table = _output.StreamingTable(flows.COLUMNS, out=out)
    table.add(flows._row(flow))
    table.finish()
    assert all(row.isprintable() for row in out.getvalue().splitlines())
    top.Reading([flow], top.Sample("fuzz", "", 0, {}, 0, 0)).finish().table.row(0)


C_READER = snapshot._read_lines


def read_with(source, reader):
    source.seek(0)
    snapshot._read_lines = reader
    try:
        return [(flow.json_text(), flow) for flow in snapshot.Snapshot(source)]
    except SnapshotError as error:
        return str(error)


def written_in_c(source, render, flow_page, criteria=None):
    """What the C writer makes of a snapshot's lines (flow_page of those it
    leaves), page after page, or the error."""
    source.seek(0)
    snapshot._read_lines = C_READER
    try:
        return [page for _, page in snapshot.Snapshot(source, criteria).pages(render, flow_page)]
    except SnapshotError as error:
        return str(error)


def c_views(source, read):
    """The C writer's JSON lines, table cells and diff records are the ones
    made of the flows the Python reader reads, or the same error."""
    flows_read = [flow for _, flow in read] if not isinstance(read, str) else []
    views = [(lambda *page: TEXT_WRITER.json_lines(*page, "{"), lambda fl: (len(fl), "".join(f.json_text() + "\n"
                                                                                              for f in fl)), "".join),
             (TEXT_WRITER.table_cells, lambda fl: (len(fl), [list(map(str, flows._row(f))) for f in fl]), sum),
             (TEXT_WRITER.seen, diff._packed_page, b"".join)]
    for render, flow_page, joined in views:
        made = written_in_c(source, render, flow_page)
        if isinstance(read, str):
            assert made == read, (made, read)
        else:
            whole = sum(made, []) if joined is sum else joined(made)
            assert whole == flow_page(flows_read)[1], (whole, flows_read)
    # The lines of flows criteria leave out are read, checked and counted, not written.
    json_render, json_page = views[0][:2]
    for criteria in ({"proto": 6}, {"isV6": 1, "switchPort": 33554433}):
        made = written_in_c(source, json_render, json_page, criteria)
        kept = snapshot.matcher(criteria)
        assert ("".join(made) if not isinstance(made, str) else made) == (
            read if isinstance(read, str) else "".join(f.json_text() + "\n" for f in flows_read if kept(f))), criteria
    if not isinstance(read, str):  # held in C and put in order, as a sorted listing is
        hold = flow_hold(_decode_rows, "packets", True)
        written_in_c(source, hold.add, lambda fl: flows._held_flows(hold, fl))
        hold.sort()
        hold.aim(len(hold))
        in_order = sorted(flows_read, key=lambda f: (f.packets, f.id), reverse=True)
        assert TEXT_WRITER.json_lines(hold, 0, (), "{")[1] == "".join(f.json_text() + "\n" for f in in_order)
    if flows_read:
        copies = [snapshot.Snapshot(io.BytesIO(source.getvalue())) for _ in range(2)]
        in_c, counts = diff.compare_in_c(*copies, 1.0, True, TEXT_WRITER)
        listed, expected = diff.compare(flows_read, flows_read, 1.0, True)
        assert (list(in_c), counts) == (list(listed), expected)


def read_ahead_as_aimed(text):
    """The lines parse_chunk reads ahead are the ones the reader aimed at
    them takes, and written the same."""
    body = text[text.find(b"\n") + 1:]
    ahead, aimed = snapshot._fast_reader(), snapshot._fast_reader()
    for render in (lambda *page: TEXT_WRITER.json_lines(*page, "{"), TEXT_WRITER.seen):
        batch, count, stop = ahead.parse_chunk(body)
        aimed.aim(body, 0)
        assert render(batch, -1, ()) == render(aimed, -1, ()) and aimed.stopped() == stop, body
        assert render(batch, -1, ())[0] == 0  # each line is written once


def TestOneInput(data):
    text = make_input(data)
    read_ahead_as_aimed(text)
    source = io.BytesIO(gzip.compress(text, 1))
    read = read_with(source, C_READER)
    assert read == read_with(source, None), read
    c_views(source, read)
    if isinstance(read, str):
        assert read.startswith(("damaged snapshot %s line " % source, "%s: " % source)) and read.isprintable(), read
        return
    for _, flow in read:
        check_views(flow)


def main():
    if sys.argv[1:2] == ["--random"]:
        count, seed = int(sys.argv[2]), int(sys.argv[3])
        rng = random.Random(seed)  # a failure replays with the same count and seed
        for done in range(1, count + 1):
            TestOneInput(rng.randbytes(rng.randrange(1, 120)))
            if done % 100000 == 0:
                print("%d inputs" % done, file=sys.stderr, flush=True)
        print("snapshot harness: %d random inputs, seed %d" % (count, seed))
        return
    import atheris
    # The package's code only: tracing gzip and json too would take most of
    # each input's time and tell the fuzzer nothing about the reader.
    for module in [module for name, module in sys.modules.items() if name.startswith("libfc")]:
        for value in list(vars(module).values()):
            for function in vars(value).values() if isinstance(value, type) else [value]:
                if inspect.isfunction(function) and function.__module__ == module.__name__:
                    atheris.instrument_func(function)
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()

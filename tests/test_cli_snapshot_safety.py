"""A snapshot file is untrusted input: a line that is not what the format
says (forged JSON, control characters, wrong types, NaN, too long, too deep)
is refused with one "damaged snapshot FILE line N" error and status 1, and
the commands that promise a whole answer print nothing before it."""

import gc
import gzip
import io
import itertools
import json
import os
import struct
import subprocess
import sys
import threading
import tracemalloc
import types
import weakref
import zlib

import pytest

from _helpers import BUILD_DIR, builtin_library, cli_in_process
from libfc._flow import TEXT_WRITER, Flow
from libfc import _gzip_codec, snapshot
from libfc.cli import _output, _snapshots
from libfc.cli.flows import JSON_LINE_START

HERE = os.path.dirname(os.path.abspath(__file__))
FLOW = {"id": 7, "flags": 3, "table": 1, "port": 9, "vni": 5001, "ipv6": False, "src": "10.0.0.1", "dst": "10.0.0.2",
        "proto": 6, "proto_name": "tcp", "ether_type": 2048, "ether_type_name": "ipv4", "vlan": 0,
        "src_mac": "02:00:00:00:00:01", "dst_mac": "02:00:00:00:00:02", "inner_dst_mac": "00:00:00:00:00:00",
        "entities": [{"actions": ["dst_port"], "dst_ports": [9]}], "packets": 32, "age_s": 4, "expires_in_s": 180}
HEADER = {"format": snapshot.FORMAT, "version": 1, "time": 5000.0, "host": "a.example.net"}
GOOD = 300  # valid flows before the damaged line
MANY = 2000  # valid flows that fill more than the reader's first chunks


def flow_line(**change):
    return json.dumps(dict(FLOW, **change)) + "\n"


# Each damaged line and the words its error ends with.
BAD_LINES = {
    "forged json in a mac": (flow_line(src_mac='x","zz":0}\n{"id":1'), 'src_mac is "x\\",\\"zz\\":0}\\n{\\"id\\":1"'),
    "control characters": (flow_line(dst="\x1b]0;owned\x07"), 'dst is "\\u001b]0;owned\\u0007", not an address'),
    "id text": (flow_line(id="abc"), 'id is "abc", not an integer from 0 to 18446744073709551615'),
    "id of 65 bits": (flow_line(id=2**64), "id is 18446744073709551616, not an integer from 0 to"),
    "id of 21 digits": (flow_line(id=10**20 + 7), "id is 100000000000000000007, not an integer from 0 to"),
    "packets null": (flow_line(packets=None), "packets is null, not an integer"),
    "id bool": (flow_line(id=True), "id is true, not an integer"),
    "vlan out of range": (flow_line(vlan=4096), "vlan is 4096, not an integer from 0 to 4095"),
    "address scope": (flow_line(ipv6=True, src="fe80::1%eth0"), 'src is "fe80::1%eth0", not an address of the '
                                                                 'family ipv6 gives'),
    "unknown action": (flow_line(entities=[{"actions": ["$(reboot)"], "dst_ports": []}]), "entities is"),
    "missing field": (json.dumps({k: v for k, v in FLOW.items() if k != "vni"}) + "\n", "vni is missing"),
    "nan": (flow_line().replace('"packets": 32', '"packets": NaN'), "not JSON (NaN is not a number JSON allows)"),
    "too long": (flow_line(pad="x" * 65536), "longer than 65536 bytes"),
    "too deep": (flow_line(pad=[[[[[[[[[]]]]]]]]]), "nested more than 8 deep"),
    "not json": ('{"id" 7}\n', "not JSON (Expecting ':' delimiter at character 7)"),
}
# The readers, and whether they promise a whole answer (print nothing before a refusal).
COMMANDS = [(["flows", "--from", "{bad}"], False), (["flows", "--from", "{bad}", "--json-lines"], False),
            (["flows", "--from", "{bad}", "--sort", "packets"], True), (["diff", "{good}", "{bad}"], True),
            (["diff", "{bad}", "{good}", "--json"], True), (["top", "--once", "--file", "{bad}"], True)]


def write(path, lines, header=HEADER):
    with gzip.open(path, "wt") as out:
        out.write(json.dumps(header) + "\n")
        out.writelines(lines)
        out.write(json.dumps({"end": True, "flows": len(lines)}) + "\n")
    return str(path)


# The codecs a snapshot can be written and read with here: zlib always.
CODECS = {name: codec for name, codec in (("isal", _gzip_codec.ISAL), ("zlib", _gzip_codec.ZLIB)) if codec}


@pytest.fixture(params=list(CODECS))
def codec(request, monkeypatch):
    monkeypatch.setattr(_gzip_codec, "codec", CODECS[request.param])


@pytest.fixture
def good(tmp_path):
    return write(tmp_path / "good.snap", [flow_line(id=n, packets=n) for n in range(GOOD)])


@pytest.mark.parametrize("command, whole", COMMANDS)
@pytest.mark.parametrize("case", BAD_LINES)
def test_a_damaged_line_is_refused_with_its_number_before_a_whole_answer(tmp_path, capsys, good, case, command,
                                                                         whole):
    line, said = BAD_LINES[case]
    bad = write(tmp_path / "bad.snap", [flow_line(id=n) for n in range(GOOD)] + [line])
    status, out, err = cli_in_process(capsys, *[part.format(bad=bad, good=good) for part in command])
    assert status == 1 and err.startswith("libfc %s: error: damaged snapshot %s line %d: " % (
        command[0], bad, GOOD + 2)) and said in err and err.count("\n") == 1, err
    assert out == "" if whole else out.count("\n") <= GOOD + 1


@pytest.mark.parametrize("header, said", [
    (dict(HEADER, time=float("inf")), "not JSON (Infinity is not a number JSON allows)"),
    (dict(HEADER, time=float("nan")), "not JSON (NaN is not a number JSON allows)"),
    (dict(HEADER, host="\x1b[2J"), 'host is "\\u001b[2J", not a printable text'),
    (dict(HEADER, stats={"lookup": {"nhits": -1}}), "stats is"),
])
def test_a_damaged_header_is_refused(tmp_path, capsys, header, said):
    bad = write(tmp_path / "bad.snap", [], header)
    status, out, err = cli_in_process(capsys, "diff", bad, bad)
    assert (status, out) == (1, "") and err.startswith("libfc diff: error: damaged snapshot %s line 1: %s" % (
        bad, said)), err


# Each way of reading, the flows before the line, its megabytes and the
# most the reading may hold: pages read ahead a few chunks of megabytes,
# in the read-ahead thread once past the first chunk.
# Flows before the bomb, its MiB, and the most MiB its reading may hold: a
# line, or in pages what the read-ahead threads hold in flight (their two
# queues, a chunk in each thread's hands and the caller's, and a join of one).
AHEAD_MIB = (2 * snapshot._ReadAhead.AHEAD + 4) * snapshot._ReadAhead.THREAD_READ >> 20
BOMBS = {"flows": (0, 16, 1), "pages": (MANY, 64, AHEAD_MIB)}


@pytest.mark.parametrize("read", BOMBS)
def test_a_line_that_inflates_without_end_costs_one_line(tmp_path, capsys, read):
    bomb = tmp_path / "bomb.snap"
    flows, size, most = BOMBS[read]
    with gzip.open(bomb, "wb") as out:
        out.write((json.dumps(HEADER) + "\n" + "".join(flow_line(id=n) for n in range(flows))).encode())
        out.write(b"[" * (size << 20))
    tracemalloc.start()
    with pytest.raises(snapshot.SnapshotError, match="line %d: longer than 65536 bytes" % (flows + 2)):
        if read == "flows":
            snapshot.Snapshot(str(bomb)).count_rest()
        else:
            _ids_listed(capsys, str(bomb))
    assert tracemalloc.get_traced_memory()[1] < most << 20
    tracemalloc.stop()


def exhausted(*read):
    raise MemoryError


@pytest.mark.parametrize("command", [["flows", "--from", "{}", "--sort", "id"], ["diff", "{}", "live"],
                                     ["top", "--once", "--file", "{}"]])
def test_running_out_of_memory_names_the_file(capsys, monkeypatch, flow_cache, good, command):
    monkeypatch.setattr(snapshot, "flow_of", exhausted)
    monkeypatch.setattr(snapshot, "_read_lines", exhausted)
    monkeypatch.setattr(snapshot, "_fast_reader", lambda: types.SimpleNamespace(
        aim=exhausted, stopped=exhausted, taken=exhausted, keep=lambda criteria: None))
    status, out, err = cli_in_process(capsys, *[part.format(good) for part in command])
    assert (status, out, err) == (1, "", "libfc %s: error: %s: not enough memory to hold every flow\n" % (
        command[0], good))


@pytest.mark.parametrize("text", ['x","zz":0}\n{"id":1', "\x1b[31m\x9b2J\u202e", "\udcff"])
def test_output_escapes_every_text(text):
    flow = snapshot.flow_of(dict(FLOW, src_mac=text, dst=text, entities=[{"actions": [text], "dst_ports": []}]))
    document = json.loads(flow.json_text())
    assert (document["src_mac"], document["dst"], document["entities"][0]["actions"]) == (text, text, [text])
    assert document == json.loads(json.dumps(flow.as_dict()))
    out = io.StringIO()
    table = _output.StreamingTable(["NAME"], out=out, width=0)
    table.add(["a" + text])
    table.finish()
    assert out.getvalue().splitlines()[1] == "a" + text.encode("unicode_escape").decode()


@pytest.mark.same_on_every_build
def test_the_fuzz_harness_over_seeded_random_inputs():
    harness = os.path.join(HERE, "fuzz", "fuzz_snapshot_atheris.py")
    proc = subprocess.run([sys.executable, harness, "--random", "2000", "5"], capture_output=True, text=True,
                          env=dict(os.environ, LIBFC_BUILD_DIR=BUILD_DIR), timeout=300)
    assert proc.stdout.splitlines()[-1:] == ["snapshot harness: 2000 random inputs, seed 5"], proc.stderr[-3000:]


@pytest.mark.parametrize("form", ["--json-lines", "--json"])
@pytest.mark.parametrize("limit", [3, MANY - 5, MANY, MANY + 1])
def test_a_limited_listing_reads_only_the_lines_it_shows(tmp_path, capsys, form, limit):
    # The damaged line lies past the first chunks, which the read-ahead thread reads.
    bad = write(tmp_path / "bad.snap", [flow_line(id=n) for n in range(MANY)] + [BAD_LINES["not json"][0]])
    status, out, err = cli_in_process(capsys, "flows", "--from", bad, "--limit", str(limit), form)
    if limit > MANY:
        assert status == 1 and "line %d: not JSON" % (MANY + 2) in err
        return
    flows = json.loads(out)["flows"] if form == "--json" else list(map(json.loads, out.splitlines()))
    assert (status, err, [flow["id"] for flow in flows]) == (0, "", list(range(limit)))


@pytest.mark.parametrize("read", ["nothing", "by pages"])
def test_a_snapshot_is_gone_once_dropped_without_the_collector(tmp_path, read):
    path = write(tmp_path / "a.snap", [flow_line(id=n) for n in range(MANY)])
    enabled = gc.isenabled()
    gc.disable()
    try:
        opened = snapshot.Snapshot(path)
        if read == "by pages":
            render = lambda *page: TEXT_WRITER.json_lines(*page, "{")  # noqa: E731
            assert sum(count for count, _ in opened.pages(render, lambda flows: (len(flows), None))) == MANY
        gone = weakref.ref(opened)
        del opened
        assert gone() is None
    finally:
        if enabled:
            gc.enable()


def test_closing_a_snapshot_read_partway_ends_its_reading_threads(tmp_path, monkeypatch):
    monkeypatch.setattr(snapshot._ReadAhead, "THREAD_READ", 4096)  # many chunks, queues full when closed
    path = write(tmp_path / "a.snap", [flow_line(id=n) for n in range(MANY)])
    render = lambda *page: TEXT_WRITER.json_lines(*page, "{")  # noqa: E731
    before = set(threading.enumerate())
    with snapshot.Snapshot(path) as opened:
        pages = opened.pages(render, lambda flows: (len(flows), None))
        while opened.total < MANY // 2:
            next(pages)
        reading = {thread.name for thread in set(threading.enumerate()) - before}
    assert reading == {"libfc-snapshot-reader", "libfc-snapshot-lines"}
    assert set(threading.enumerate()) <= before


@pytest.mark.same_on_every_build
@pytest.mark.parametrize("seed", [1, 2024])
def test_the_c_reader_reads_what_the_python_reader_reads(tmp_path, capsys, monkeypatch, flow_cache, seed):
    monkeypatch.setattr(snapshot._ReadAhead, "THREAD_READ", 4096)  # chunks read ahead end inside lines
    assert builtin_library("libfc.so").fcemu_traffic(600, seed) > 0
    _snapshots.save(str(tmp_path / "saved.snap"))
    body = gzip.open(tmp_path / "saved.snap").read().split(b"\n", 1)[1].rsplit(b"\n", 2)[0] + b"\n"
    assert len(snapshot._read_lines(body, 0)[0]) == body.count(b"\n")  # every line the writer writes, in C
    names = [snapshot.action_names(1 << bit)[0] for bit in range(64)]
    every = [flow_line(id=n, ipv6=n % 2 == 1, src="fd00::%x" % n if n % 2 else "10.0.0.%d" % n,
                       dst="::ffff:10.0.0.%d" % n if n % 2 else "10.0.1.2", proto_name=None, flags=-n,
                       entities=[{"actions": [name], "dst_ports": [n, 2**32 - 1]}, {"actions": [], "dst_ports": []}])
             for n, name in enumerate(names)] + [flow_line(entities=[{"actions": names[::-1], "dst_ports": []}])]
    every += [flow_line(id=902, entities=[{"actions": names[1::-1] + names[1:2], "dst_ports": [7]}])]  # one twice
    # Addresses spelt otherwise than the writers spell them: read as they spell them.
    every += [flow_line(id=900, ipv6=True, src="FD00:0:0::1", dst="fdF0::2"), flow_line(id=901, src="10.0.0.9")]
    # Lines past the first chunks are read ahead by the reader's thread.
    ahead = [flow_line(id=n, packets=n) for n in range(MANY)]
    paths = [tmp_path / "saved.snap", write(tmp_path / "every.snap", every)] + [
        write(tmp_path / ("%d-%d.snap" % (n, len(before))), before + [line] + before[:9])
        for n, (line, _) in enumerate(BAD_LINES.values()) for before in ([flow_line(id=1)], ahead)]
    # Listed as read, as flows in order (the lines read ahead made flows by the decoder), and in top.
    for path, command in itertools.product(map(str, paths), (["flows", "--json-lines", "--from"],
                                                                       ["flows", "--sort", "id", "--from"],
                                                                       ["flows", "--json", "--pretty", "--from"],
                                                                       ["top", "--once", "--file"])):
        fast = cli_in_process(capsys, *command, path)
        with monkeypatch.context() as python_only:
            python_only.setattr(snapshot, "_read_lines", None)
            python_only.setattr(snapshot, "_LINES", None)
            status, out, err = cli_in_process(capsys, *command, path)
        # Pages of Python's flows are listed whole: before a refusal, fewer
        # of them. A sorted listing, a document and top show nothing but a whole read.
        assert (status, err) == (fast[0], fast[2]) and fast[1].startswith(out), (path, command)
        assert (status or out == fast[1]) and (fast[1] or command[0] == "top" or {"--sort", "--json"} & set(command)), \
            (path, command)
    listed = cli_in_process(capsys, "flows", "--from", str(paths[1]), "--json-lines")[1]
    assert '"src":"fd00::1","dst":"fdf0::2"' in listed
    # Actions in any order, or twice, are a flow's bit map: named in its order, in every listing.
    assert '"actions":[%s]' % ",".join('"%s"' % name for name in names) in listed
    assert '"actions":["%s","%s"],"dst_ports":[7]' % tuple(names[:2]) in listed
    for form in (["--sort", "id"], ["--json"]):
        assert cli_in_process(capsys, "flows", "--from", str(paths[1]), *form)[::2] == (0, ""), form
    named = write(tmp_path / "named.snap", [line for line in every if '"bit' not in line])  # as a hold takes them
    for path in (paths[0], named):
        document = cli_in_process(capsys, "flows", "--from", str(path), "--json", "--pretty")[1]
        assert document == json.dumps(json.loads(document), indent=2) + "\n" and document.count('"id"') > 30
    flow = [flow for flow in snapshot.Snapshot(str(paths[1])) if flow.id == 900][0]
    assert flow.json_text() == (flow.dst, flow.json_text())[1] and '"dst":"fdf0::2"' in flow.json_text()


def varied_line(n):
    """A flow whose every field a filter can name varies with n."""
    v6 = n % 2 == 1
    return flow_line(id=n, table=n % 3 + 1, port=n % 5, vni=n % 7, ipv6=v6, proto=(6, 17)[n % 4 // 3],
                     src="fd00::%x" % n if v6 else "10.0.%d.%d" % (n // 256, n % 256),
                     dst="fd00::1:%x" % (n % 9) if v6 else "10.0.1.%d" % (n % 9), vlan=n % 4,
                     ether_type=34525 if v6 else 2048, dst_mac="02:00:00:00:00:%02x" % (n % 6),
                     inner_dst_mac="02:00:00:00:01:%02x" % (n % 3))


@pytest.mark.parametrize("criteria", [
    ["--proto", "17"], ["--v6"], ["--src", "fd00::5"], ["--src", "10.0.0.8"], ["--dst", "10.0.1.2"], ["--port", "3"],
    ["--dmac", "02:00:00:00:00:04"], ["--inner-dmac", "02:00:00:00:01:01"], ["--vni", "2"], ["--ether", "34525"],
    ["--vlan", "1"], ["--table", "2"], ["--v6", "--proto", "17", "--port", "1"]])
def test_a_filtered_listing_of_a_snapshot_is_the_one_the_python_reader_makes(tmp_path, capsys, monkeypatch, criteria):
    monkeypatch.setattr(snapshot._ReadAhead, "THREAD_READ", 4096)  # chunks read ahead end inside lines
    # Among them a line only the Python reader reads (an address spelt otherwise).
    lines = [varied_line(n) for n in range(MANY)]
    lines[MANY // 2] = varied_line(MANY // 2 + 1).replace("fd00::", "FD00:0::")
    path = str(write(tmp_path / "varied.snap", lines))
    fast = cli_in_process(capsys, "flows", "--json-lines", "--from", path, *criteria)
    with monkeypatch.context() as python_only:
        python_only.setattr(snapshot, "_read_lines", None)
        python_only.setattr(snapshot, "_LINES", None)
        assert cli_in_process(capsys, "flows", "--json-lines", "--from", path, *criteria) == fast
    assert fast[0] == 0 and 0 < fast[1].count("\n") < MANY


def _member_with_fields(text):
    """A gzip member whose header has every optional field gzip allows."""
    packer = zlib.compressobj(6, zlib.DEFLATED, -zlib.MAX_WBITS)
    header = b"\x1f\x8b\x08\x1e" + bytes(6) + b"\x02\x00ab" + b"name\0" + b"comment\0" + b"\x00\x00"
    return header + packer.compress(text) + packer.flush() + struct.pack("<II", zlib.crc32(text), len(text))


def _members(text, pieces, between=b""):
    cuts = [len(text) * n // pieces for n in range(pieces + 1)]
    return between.join(gzip.compress(text[a:b]) for a, b in zip(cuts, cuts[1:]))


# A snapshot's gzip stream as gzip would write or damage it, and what reading it gives.
GZIP_FORMS = {
    "members": (lambda text: _members(text, 7), None),
    "zero padding": (lambda text: _members(text, 3, bytes(5)) + bytes(3), None),
    "header fields": (_member_with_fields, None),
    "garbage after the members": (lambda text: _members(text, 2) + b"xy", "compressed data corrupt"),
    "cut in a header": (lambda text: gzip.compress(text) + b"\x1f\x8b\x08", "cut short"),
    "wrong check": (lambda text: gzip.compress(text)[:-8] + bytes(8), "compressed data corrupt"),
}


def _ids_listed(capsys, path):
    status, out, err = cli_in_process(capsys, "flows", "--from", path, "--json-lines")
    if status:
        raise snapshot.SnapshotError(err.split("error: ", 1)[1].rstrip("\n"))
    return [json.loads(line)["id"] for line in out.splitlines()]


# Each way of reading a snapshot's flows: as a Flow at a time, and in pages
# (which read ahead in parsed chunks once past the first ones).
READS = {"flows": lambda capsys, path: [flow.id for flow in snapshot.Snapshot(path)], "pages": _ids_listed}


@pytest.mark.parametrize("form", GZIP_FORMS)
@pytest.mark.parametrize("read, count", [("flows", GOOD), ("pages", GOOD), ("pages", MANY)])
def test_a_snapshot_is_inflated_as_gzip_reads_it(tmp_path, capsys, monkeypatch, codec, form, read, count):
    monkeypatch.setattr(snapshot._ReadAhead, "THREAD_READ", 4096)
    lines = [flow_line(id=n) for n in range(count)]
    text = gzip.decompress(open(write(tmp_path / "plain.snap", lines), "rb").read())
    make, said = GZIP_FORMS[form]
    (tmp_path / "odd.snap").write_bytes(make(text))
    try:
        ids = READS[read](capsys, str(tmp_path / "odd.snap"))
    except snapshot.SnapshotError as error:
        ids = str(error)
    assert ids == (list(range(count)) if said is None else "damaged snapshot %s line %d: %s"
                   % (tmp_path / "odd.snap", count + 3, said)), ids


@pytest.mark.parametrize("writer, reader", list(itertools.product(CODECS, repeat=2)))
def test_a_save_reads_back_line_for_line_with_either_codec(tmp_path, capsys, monkeypatch, flow_cache, writer, reader):
    builtin_library("libfc.so").fcemu_traffic(3000, 3)
    monkeypatch.setattr(_gzip_codec, "codec", CODECS[writer])
    monkeypatch.setattr(snapshot._Compressing, "PIECE", 1 << 16)  # members that end inside a line
    path = str(tmp_path / "saved.snap")
    count = _snapshots.save(path)
    saved = gzip.decompress(open(path, "rb").read()).decode().splitlines()  # any gzip reader reads it
    monkeypatch.setattr(_gzip_codec, "codec", CODECS[reader])
    status, out, err = cli_in_process(capsys, "flows", "--from", path, "--json-lines")
    lines = [line.replace(JSON_LINE_START, "{", 1) for line in out.splitlines()]
    assert (status, err, len(lines)) == (0, "", count) and count > 1000
    assert lines == saved[1:-1]


def test_saves_shorten_the_switch_interval_until_the_last_one_ends(tmp_path, monkeypatch, flow_cache):
    builtin_library("libfc.so").fcemu_traffic(500, 3)
    seen = []
    member = snapshot._Compressing._member
    monkeypatch.setattr(snapshot._Compressing, "_member",
                        lambda self, lines: seen.append(sys.getswitchinterval()) or member(self, lines))
    before = sys.getswitchinterval()
    with snapshot._quick_switches():  # another save under way
        _snapshots.save(str(tmp_path / "a.snap"))
        assert sys.getswitchinterval() == snapshot.QUICK_SWITCH
    assert seen and set(seen) == {snapshot.QUICK_SWITCH} and sys.getswitchinterval() == before


@pytest.mark.parametrize("as_bytes", [False, True])
def test_lines_compressed_as_str_or_bytes_come_back_whole(monkeypatch, codec, as_bytes):
    monkeypatch.setattr(snapshot._Compressing, "PIECE", 1000)  # many members, each from several threads' turns
    lines = [flow_line(id=n) for n in range(GOOD)]
    out = io.BytesIO()
    with snapshot._Compressing(out) as compressing:
        for n, line in enumerate(lines):
            compressing.write(line.encode() if as_bytes and n % 2 else line)
    assert gzip.decompress(out.getvalue()).decode() == "".join(lines)

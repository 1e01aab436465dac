"""Flow cache snapshots: a saved cache read back lists as the live one did
(filters, sort and limit included), two snapshots diff to the changes made
between them with their rates, and damaged or foreign files are refused in
one line."""

import gzip
import json
import time
import types

import pytest

import _libfc
from _helpers import cli_in_process as run
from conftest import fcemu_library
from libfc.cli import snapshot
from test_builtin_libfc import add_flow, new_entry

LIB = fcemu_library()
NO_FILTER = (0, 0, 0, 0, None, 0, 0, 0, 0, None, 0)


def listing(capsys, *argv):
    """The flows a --json-lines listing prints, without the fields that
    move with the clock, and its stderr."""
    status, out, err = run(capsys, "flows", "--json-lines", *argv)
    assert status == 0, err
    flows = [json.loads(line) for line in out.splitlines()]
    for flow in flows:
        del flow["age_s"], flow["expires_in_s"]
    return flows, err


@pytest.fixture
def saved(flow_cache, tmp_path, capsys):
    LIB.fcemu_traffic(150, 5)
    path = tmp_path / "cache.snap"
    status, out, err = run(capsys, "flows", "--save", str(path))
    assert status == 0 and out == "" and err == "saved %d flows to %s\n" % (
        _libfc.FC_GetFlows(*NO_FILTER).totalEntries, path)
    assert list(tmp_path.iterdir()) == [path]
    return path


def some_flow():
    return next(iter(_libfc.FC_GetFlows(*NO_FILTER)))


@pytest.mark.parametrize("options", [
    [],
    ["--port", "{port}"],
    ["--src", "{src}", "--proto", "tcp"],
    ["--v6", "--sort", "packets", "--limit", "7"],
    ["--top", "5", "--sort", "port", "--reverse"],
])
def test_a_snapshot_lists_as_the_live_cache_it_was_taken_from(saved, capsys, options):
    flow = some_flow()
    values = {"port": flow.fkey.portID, "src": _libfc.FC_FlowEntryIOC_get_srcip_entry(flow, flow.fkey.flags & 1)}
    options = [option.format(**values) for option in options]
    live = listing(capsys, *options)
    assert live[0], "the filter matched nothing"
    assert listing(capsys, "--from", str(saved), *options) == live
    status, out, _ = run(capsys, "flows", "--from", str(saved), "--json", *options)
    document = json.loads(out)
    assert status == 0 and document["shown"] == len(live[0]) and document["total"] >= document["shown"]


KNOWN = dict(port=7, sip=0x0500000a, proto=17, packets=10)


@pytest.fixture
def two_snapshots(flow_cache, tmp_path, monkeypatch):
    """A and B, ten seconds apart as their headers tell; between them a
    known flow got 250 packets, the flows of one port left and a flow
    appeared.  Returns the paths and the ids of each kind of change."""
    LIB.fcemu_traffic(200, 8)
    assert add_flow(new_entry(**KNOWN)) == 0
    ports = {f.flowId: f.fkey.portID for f in _libfc.FC_GetFlows(*NO_FILTER)}  # the buffer is reused
    known = next(i for i, p in ports.items() if p == 7)
    port = next(p for p in ports.values() if p != 7)
    left = {i for i, p in ports.items() if p == port}
    clock = iter([5000.0, 5010.0])
    before, after = tmp_path / "a.snap", tmp_path / "b.snap"
    with monkeypatch.context() as patch:
        patch.setattr(snapshot, "time", types.SimpleNamespace(time=lambda: next(clock), strftime=time.strftime,
                                                              localtime=time.localtime))
        snapshot.save(str(before))
        assert add_flow(new_entry(**dict(KNOWN, packets=250))) == 0
        _libfc.FC_RemoveFlows(0, 0, 0, port, None, 0, 0, 0, 0, None, 0)
        assert add_flow(new_entry(port=7, sip=0x0600000a, proto=6, packets=3)) == 0
        appeared = {f.flowId for f in _libfc.FC_GetFlows(*NO_FILTER)} - set(ports)
        snapshot.save(str(after))
    return before, after, {"changed": {known}, "left": left, "appeared": appeared}


def changes(document):
    found = {}
    for flow in document["flows"]:
        found.setdefault(flow["change"], set()).add(flow["id"])
    return found


def test_diff_lists_what_appeared_left_and_changed_with_its_rate(two_snapshots, capsys):
    before, after, expected = two_snapshots
    status, out, err = run(capsys, "diff", str(before), str(after), "--json")
    document = json.loads(out)
    assert status == 0 and changes(document) == expected and document["elapsed_s"] == 10
    changed = next(flow for flow in document["flows"] if flow["change"] == "changed")
    assert (changed["packets"], changed["delta"], changed["rate"]) == (260, 250, 25.0)
    appeared = next(flow for flow in document["flows"] if flow["change"] == "appeared")
    assert (appeared["delta"], appeared["rate"]) == (3, 0.3)
    counts = document["counts"]
    assert err == "1 appeared, %d left, 1 changed, %d unchanged over 10s\n" % (counts["left"], counts["unchanged"])
    # The live cache is what B saved: the same changes, and B against it none.
    status, out, _ = run(capsys, "diff", str(before), "live", "--json")
    assert changes(json.loads(out)) == expected
    status, out, err = run(capsys, "diff", str(after), "-")
    assert status == 0 and out == "" and err.startswith("0 appeared, 0 left, 0 changed, ")
    status, out, _ = run(capsys, "diff", str(after), "-", "--unchanged", "--json-lines")
    listed = [json.loads(line) for line in out.splitlines()]
    assert {flow["change"] for flow in listed} == {"unchanged"}
    assert len(listed) == counts["unchanged"] + 2 == _libfc.FC_GetFlows(*NO_FILTER).totalEntries


def test_top_shows_the_rates_between_two_snapshots(two_snapshots, capsys, monkeypatch):
    before, after, _ = two_snapshots
    monkeypatch.setenv("COLUMNS", "200")
    monkeypatch.setenv("LINES", "50")
    status, out, _ = run(capsys, "top", "--once", "--file", str(before), "--file", str(after))
    lines = out.splitlines()
    header = lines[3].split()
    rows = [dict(zip(header, line.split())) for line in lines[4:]]
    assert status == 0 and rows[0]["SOURCE"] == "10.0.0.5" and rows[0]["RATE"] == "25.0"
    assert rows[1]["SOURCE"] == "10.0.0.6" and rows[1]["RATE"] == "0.3"
    assert str(after) in lines[0]
    status, out, _ = run(capsys, "top", "--once", "--file", str(after), "--group-by", "port", "--sort", "key")
    assert status == 0 and "group port" in out.splitlines()[2]


# ---- damaged and foreign files ---------------------------------------------------

def _rewrite(path, change):
    with gzip.open(path, "rt") as source:
        lines = source.read().splitlines(True)
    with gzip.open(path, "wt") as out:
        out.writelines(change(lines))


def _flip(path, back):
    data = bytearray(path.read_bytes())
    data[-back] ^= 0xFF
    path.write_bytes(bytes(data))


DAMAGE = {
    "text": (lambda p: p.write_text("id port\n1 2\n"), "not a flow cache snapshot (not gzip-compressed)"),
    "other json": (lambda p: _rewrite(p, lambda lines: ['{"format": "other"}\n'] + lines[1:]),
                   "not a flow cache snapshot"),
    "newer": (lambda p: _rewrite(p, lambda lines: [lines[0].replace('"version":1', '"version":7')] + lines[1:]),
              "snapshot format version 7 is newer than this tool reads (1)"),
    "cut short": (lambda p: p.write_bytes(p.read_bytes()[:len(p.read_bytes()) // 2]), "damaged snapshot: cut short"),
    "bad length": (lambda p: _flip(p, 2), "damaged snapshot: compressed data corrupt"),
    "no end line": (lambda p: _rewrite(p, lambda lines: lines[:-1]), "damaged snapshot: it ends after"),
    "not a flow": (lambda p: _rewrite(p, lambda lines: lines[:2] + ["[1, 2]\n"] + lines[3:]),
                   "damaged snapshot: line 3 is not a flow"),
    "counted wrong": (lambda p: _rewrite(p, lambda lines: lines[:2] + lines[3:]),
                      "damaged snapshot: its end line does not close it"),
    "missing": (lambda p: p.unlink(), "No such file or directory"),
}


READERS = [["flows", "--from", "{}"], ["top", "--once", "--file", "{}"], ["diff", "{}", "live"]]


@pytest.mark.parametrize("damage, command", [(damage, READERS[i % len(READERS)]) for i, damage in enumerate(DAMAGE)])
def test_a_damaged_or_foreign_file_is_refused_in_one_line(saved, capsys, command, damage):
    spoil, message = DAMAGE[damage]
    spoil(saved)
    status, _, err = run(capsys, *[part.format(saved) for part in command])
    name = " ".join(part for part in command[:1])
    assert status == 1 and err.count("\n") == 1, err
    assert err.startswith("libfc %s: error: %s: %s" % (name, saved, message)), err


def test_a_failed_save_leaves_no_file(flow_cache, tmp_path, capsys, monkeypatch):
    LIB.fcemu_traffic(50, 1)
    path = tmp_path / "cache.snap"

    real = snapshot._cache.flows

    def failing():
        yield from list(real())[:10]
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(snapshot._cache, "flows", failing)
    status, _, err = run(capsys, "flows", "--save", str(path))
    assert status == 1 and "No space left on device" in err
    assert list(tmp_path.iterdir()) == []

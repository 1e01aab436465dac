"""The command-line tool against a private built-in flow cache: what it
prints, its JSON, and the one error contract of every command (switch state
ones included): its messages and exit statuses for bad input, library
failures and output nobody can read; snapshots of the cache read back,
compared, and refused when damaged. It runs in this process, and as a
person runs it (python -m libfc in a child) where the process is what is
tested: exit statuses, output nobody reads, another process writing."""

import gzip
import io
import json
import os
import re
import subprocess
import sys
import time
import types

import pytest

import _libfc
import libfc
import libfc._walk
import libfc.cli
from _helpers import builtin_library, child_env, cli_here, cli_in_process, cli_ok as ok, run_cli as cli
from libfc import snapshot
from libfc._metrics import leaves
from libfc.cli import _snapshots, diff
from libfc.cli._output import snake_case
from test_builtin_libfc import add_flow, new_entry

LIB = builtin_library("libfc.so")
LIB_FAB = builtin_library("libfabPublic.so")
NO_FILTER = (0, 0, 0, 0, None, 0, 0, 0, 0, None, 0)
PAGE = _libfc.FC_MAX_CACHE_FLOWS_IOC


@pytest.fixture(autouse=True)
def cache(flow_cache):
    yield flow_cache
    LIB.fcemu_fail_next(None, 0, None, None)


def here(capsys, *args):
    """The tool run in this process: its output, after checking it succeeded quietly."""
    status, out, err = cli_in_process(capsys, *args)
    assert (status, err) == (0, ""), (args, out, err)
    return out


def cached_flows():
    """Every cached flow read in this process: id -> protocol."""
    return {e.flowId: e.fkey.proto for e in _libfc.FC_GetFlows(*NO_FILTER)}


# ---- flows ----------------------------------------------------------------------

def test_a_flow_is_shown_with_its_key_actions_ports_and_counts():
    entry = new_entry(port=7, sip=libfc.ipv4("10.0.0.1"), dip=libfc.ipv4("192.168.5.9"),
                      daddr=bytes.fromhex("020000aabbcc"), proto=17, packets=42,
                      actions=(1 << _libfc.FC_ACTION_DROP) | (1 << _libfc.FC_ACTION_DST_PORT), dports=(8, 9, 4000))
    assert add_flow(entry) == 0
    listing = json.loads(ok("flows", "--json"))
    assert listing["total"] == listing["shown"] == 1
    flow = listing["flows"][0]
    assert {k: flow[k] for k in ("port", "src", "dst", "proto", "dst_mac", "packets", "ipv6")} == {
        "port": 7, "src": "10.0.0.1", "dst": "192.168.5.9", "proto": 17, "dst_mac": "02:00:00:aa:bb:cc",
        "packets": 42, "ipv6": False}
    assert flow["entities"] == [{"actions": ["drop", "dst_port"], "dst_ports": [8, 9, 4000]}]
    assert 0 < flow["expires_in_s"] <= _libfc.FC_DEFAULT_FLOW_EXPR_TIME_SEC and flow["age_s"] < 60
    header, row = ok("flows").splitlines()
    assert header.split()[:5] == ["ID", "PORT", "VNI", "SOURCE", "DESTINATION"]
    cells = set(row.split())
    assert {"10.0.0.1", "192.168.5.9", "udp", "02:00:00:aa:bb:cc", "drop,dst_port", "8,9,4000", "42"} <= cells, row
    age, expires = row.split()[-2:]
    assert re.fullmatch(r"\d+s", age) and re.fullmatch(r"[23]m\d\ds", expires), row


def json_lines(*args):
    """The flows of a --json-lines listing, each line parsed on its own, and
    what the command wrote on stderr."""
    result = cli_here("flows", "--json-lines", *args)
    assert result.returncode == 0, result.stderr
    return [json.loads(line) for line in result.stdout.splitlines()], result.stderr


def sized_cache(flows, seed=3):
    """Two hash tables of 8192 entries holding about `flows` flows; the
    count of flows in its fuller table."""
    assert LIB.fcemu_reset_sized(2, 8192) == 0
    LIB.fcemu_traffic(flows, seed)
    tables = [_libfc.FC_GetFlows(*NO_FILTER[:-1], table).totalEntries for table in (1, 2)]
    return max(tables)


WRITER = """
import ctypes, itertools, os, sys, time, _libfc
lib = ctypes.CDLL(os.path.join(os.path.dirname(_libfc.__file__), "libfc.so"))
print("ready", flush=True)
for seed in itertools.count(1000):
    lib.fcemu_traffic(50, seed)
    _libfc.FC_RemoveFlows(0, 0, 0, 0, None, 5000 + seed % 64, 0, 0, 0, None, 0)
    time.sleep(0.005)
"""


@pytest.mark.same_on_every_build
def test_a_concurrent_writer_neither_duplicates_nor_hides_a_flow_present_throughout():
    assert sized_cache(6000, seed=5) > PAGE
    before = {flow.id for flow in libfc.flows()}
    env = child_env()
    writer = subprocess.Popen([sys.executable, "-c", WRITER], env=env, stdout=subprocess.PIPE, text=True)
    try:
        assert writer.stdout.readline() == "ready\n"
        ids = [flow["id"] for flow in json_lines()[0]]
    finally:
        writer.kill()
        writer.wait()
    after = {flow.id for flow in libfc.flows()}
    assert before != after, "the writer changed nothing"
    assert len(ids) == len(set(ids)), "a flow was listed twice"
    # Flow ids are never reused: an id present before and after was there throughout.
    assert before & after <= set(ids)


@pytest.mark.parametrize("options, key, largest_first, count", [
    (["--sort", "packets"], "packets", False, None),
    (["--sort", "port", "--reverse"], "port", True, None),
    (["--sort", "vni", "--limit", "9"], "vni", False, 9),
    (["--top", "7"], "packets", True, 7),
    (["--top", "5", "--sort", "id", "--reverse"], "id", False, 5),
])
def test_sort_and_top_order_like_a_sort_of_the_whole_listing(options, key, largest_first, count):
    LIB.fcemu_traffic(300, 11)
    everything, _ = json_lines()
    expected = sorted(everything, key=lambda flow: (flow[key], flow["id"]), reverse=largest_first)[:count]
    shown, err = json_lines(*options)
    assert [(flow[key], flow["id"]) for flow in shown] == [(flow[key], flow["id"]) for flow in expected]
    assert err == ("" if count is None else "(%d of %d matching flows shown)\n" % (count, len(everything)))


@pytest.mark.parametrize("options, holds", [
    (["--sort", "id"], True), (["--json", "--pretty"], True), (["--from", "{saved}", "--sort", "age"], True),
    (["--from", "{saved}", "--top", "3"], False), ([], False)])
def test_a_listing_that_holds_every_flow_holds_the_collector_off_until_it_ends(capsys, tmp_path, monkeypatch,
                                                                               options, holds):
    import gc

    from libfc.cli import flows

    LIB.fcemu_traffic(500, 3)
    saved = str(tmp_path / "saved.snap")
    assert cli_in_process(capsys, "flows", "--save", saved)[0] == 0
    collecting, listing = [], flows._listing
    monkeypatch.setattr(flows, "_listing", lambda *args: collecting.append(gc.isenabled()) or listing(*args))
    status, out, _ = cli_in_process(capsys, "flows", *[option.format(saved=saved) for option in options])
    assert status == 0 and out and collecting == [not holds] and gc.isenabled()


@pytest.mark.parametrize("form", [[], ["--json-lines"]])
def test_the_listing_streams_every_flow_once_and_limit_stops_the_walk(capsys, monkeypatch, form):
    assert sized_cache(10000) > 2 * PAGE  # several answers for each table
    query = _libfc.FC_GetFlows
    written = []  # how much of the listing was out at each query

    def counted(*arguments):
        written.append(len(sys.stdout.getvalue()))
        return query(*arguments)

    monkeypatch.setattr(_libfc, "FC_GetFlows", counted)
    monkeypatch.setattr(sys, "stdout", io.StringIO())
    assert libfc.cli.main(["flows", *form]) == 0
    assert len(written) > 20 and written[-1] > 0, "nothing was written before the walk's last query"
    rows = sys.stdout.getvalue().splitlines()[0 if form else 1:]
    ids = [json.loads(row)["id"] if form else int(row.split()[0]) for row in rows]
    assert len(ids) == len(set(ids)) == _libfc.FC_GetFlows(*NO_FILTER).totalEntries
    # A filtered walk splits by what the keys of the library's answers hold.
    tcp = {flow["id"] for flow in json_lines("--proto", "tcp")[0]}
    assert tcp and tcp == {flow["id"] for flow in json_lines()[0] if flow["proto"] == 6}
    monkeypatch.setattr(sys, "stdout", io.StringIO())
    del written[:]
    assert libfc.cli.main(["flows", "--limit", "10", *form]) == 0
    assert len(sys.stdout.getvalue().splitlines()) == 10 + (0 if form else 1)
    assert len(written) <= 5, "the walk went on after the tenth flow"
    assert capsys.readouterr().err.startswith("(10 of 1")


def test_what_the_walk_cannot_reach_is_a_warning_not_a_failure(capsys, monkeypatch):
    sized_cache(5000)
    monkeypatch.setattr(libfc._walk, "SPLITS", ())  # nothing to split a table by
    assert libfc.cli.main(["flows", "--json-lines"]) == 0
    out, err = capsys.readouterr()
    total = _libfc.FC_GetFlows(*NO_FILTER).totalEntries
    missing = total - len(out.splitlines())
    assert missing > 0
    assert err.startswith("libfc flows: warning: %d matching flows could not be read" % missing)


def test_flows_remove_removes_what_the_filter_matches_and_needs_all_for_everything():
    LIB.fcemu_traffic(120, 6)
    flows = cached_flows()
    udp = {i for i, proto in flows.items() if proto == 17}
    assert udp
    assert ok("flows", "remove", "--proto", "udp") == "removed %d flows\n" % len(udp)
    assert set(cached_flows()) == set(flows) - udp
    refused = cli("flows", "remove")
    assert refused.returncode == 2 and "--all" in refused.stderr and len(refused.stderr.splitlines()) == 1
    assert set(cached_flows()) == set(flows) - udp
    ok("flows", "remove", "--all")
    assert cached_flows() == {}
    empty = cli("flows")
    assert (empty.returncode, empty.stdout, empty.stderr) == (0, "", "(no flows match)\n")


# ---- stats, hashstats, inval ---------------------------------------------------------

def test_stats_shows_the_non_zero_counters_and_all_of_them_on_request(capsys):
    LIB.fcemu_traffic(80, 3)
    tree = libfc.stats()
    counters = dict(leaves(tree))
    assert any(counters.values()) and not all(counters.values())
    shown = json.loads(here(capsys, "stats", "--json"))
    # Every counter, zeros too, each under its name in snake_case.
    assert list(leaves(shown["counters"])) == [(".".join(map(snake_case, path.split("."))), value)
                                               for path, value in counters.items()]
    assert json.loads(here(capsys, "stats", "--json", "--all")) == shown
    text = here(capsys, "stats")
    assert "  nhits" in text and str(tree["lookup"]["nhits"]) in text.split()
    assert "fe_fail" not in text  # zero
    assert "fe_fail" in here(capsys, "stats", "--all")


def test_hashstats_draws_each_tables_bucket_histogram(capsys):
    LIB.fcemu_traffic(500, 8)
    tables = [list(table) for table in _libfc.FC_GetFlowCacheHashStats()]
    text = here(capsys, "hashstats")
    blocks = text.strip().split("\n\n")
    assert len(blocks) == len(tables) > 1
    for block, counts in zip(blocks, tables):
        bars = [line for line in block.splitlines() if "|" in line]
        assert [int(line.split()[-1]) for line in bars] == counts
        marks = [line.split("|")[1].count("#") for line in bars]
        assert max(marks) == 40 and marks[counts.index(max(counts))] == 40
        assert all((m > 0) == (c > 0) for m, c in zip(marks, counts))


@pytest.mark.parametrize("option, what", [("--port", "port"), ("--vdr", "VDR")])
def test_invalidate_acts_on_what_inval_lists_and_refuses_what_it_does_not_hold(capsys, option, what):
    LIB.fcemu_traffic(100, 5)
    table = _libfc.FC_GetInvalTableEntries()
    count, generation = len(table), table.globalConfGen  # read before the next call reuses the buffer
    flows = set(cached_flows())
    listing = json.loads(here(capsys, "inval", "--json"))
    assert (len(listing["entities"]), listing["generation"]) == (count, generation)
    unknown = next(i for i in range(12345, 99999) if i not in {e["id"] for e in listing["entities"]})
    status, out, err = cli_in_process(capsys, "invalidate", option, str(unknown))
    assert (status, out) == (1, "")
    assert err == "libfc invalidate: error: no %s %d in the invalidation table\n" % (what, unknown)
    assert _libfc.FC_GetInvalTableEntries().globalConfGen == generation and set(cached_flows()) == flows
    known = next(e["id"] for e in listing["entities"] if e["type_name"] == what.lower())
    assert here(capsys, "invalidate", option, str(known)) == "invalidated the flows tied to %s %d\n" % (what, known)
    assert _libfc.FC_GetInvalTableEntries().globalConfGen == generation + 1
    here(capsys, "invalidate", "--all")  # its count: the session's last command
    assert cached_flows() == {} and cli_in_process(capsys, "inval")[2].startswith("(global generation ")


# ---- config, enablement, emu -------------------------------------------------------

# Each command and what it prints; each one sees what the ones before it changed.
SESSION = [
    ("config set expr-time 60", "expr-time  60\n"),
    ("config get log-level", "log-level  0\n"),
    ("config get --json", '{"schema":1,"options":{"stats_level":1,"log_level":0,"expr_time":60,'
                          '"aging_interval":360,"disable_threshold":0}}\n'),
    ("port portset-0 12 egress", "portset-0 port 12: egress\n"),
    ("port portset-0 12 --json", '{"schema":1,"switch":"portset-0","port":"12","direction":%d,'
                                    '"direction_name":"egress"}\n' % _libfc.FC_PORT_ENABLE_DIR_EGRESS),
    ("host portset-0 mcast off", "portset-0 cache: enabled\nportset-0 multicast cache: disabled\n"),
    ("portset set portset-0 cache off --json",
     '{"schema":1,"portset":"portset-0","cache":"disabled","multicast_cache":"disabled"}\n'),
    ("portset status nowhere --json", '{"schema":1,"portset":"nowhere","cache":null,"multicast_cache":null}\n'),
    ("portset status nowhere", "nowhere cache: not set\nnowhere multicast cache: not set\n"),
    # The state in FC_EMU_DIR: after a reset the same traffic installs its flows again.
    ("emu reset", "flow cache reset: 16 tables of 8192 entries (state in {cache})\nswitch state store emptied\n"),
    ("emu traffic --flows 25 --seed 4", "installed 25 new flows; 0 did not fit (state in {cache})\n"),
    ("emu traffic --flows 25 --seed 4",
     "installed 0 new flows; 25 flows already cached; 0 did not fit (state in {cache})\n"),
    ("invalidate --all", "invalidated 25 flows\n"),
]


def test_config_enablement_and_emu_commands_print_what_they_did(capsys, cache, switch_store):
    LIB.fcemu_traffic(10, 1)
    for command, expected in SESSION:
        assert here(capsys, *command.split()) == expected.replace("{cache}", str(cache)), command
    assert cached_flows() == {}


# ---- snapshots: saved, read back, compared --------------------------------------------

def listing(*argv):
    """The flows a --json-lines listing prints, without the fields that
    move with the clock, and its stderr."""
    flows, err = json_lines(*argv)
    for flow in flows:
        del flow["age_s"], flow["expires_in_s"]
    return flows, err


@pytest.fixture
def saved(flow_cache, tmp_path, capsys):
    LIB.fcemu_traffic(150, 5)
    path = tmp_path / "cache.snap"
    status, out, err = cli_in_process(capsys, "flows", "--save", str(path))
    assert status == 0 and out == "" and err == "saved %d flows to %s\n" % (
        _libfc.FC_GetFlows(*NO_FILTER).totalEntries, path)
    assert list(tmp_path.iterdir()) == [path]
    return path


@pytest.mark.parametrize("options", [
    [],
    ["--port", "{port}"],
    ["--src", "{src}", "--proto", "tcp"],
    ["--v6", "--sort", "packets", "--limit", "7"],
    ["--top", "5", "--sort", "port", "--reverse"],
])
def test_a_snapshot_lists_as_the_live_cache_it_was_taken_from(saved, capsys, options):
    flow = next(iter(_libfc.FC_GetFlows(*NO_FILTER)))
    values = {"port": flow.fkey.portID, "src": _libfc.FC_FlowEntryIOC_get_srcip_entry(flow, flow.fkey.flags & 1)}
    options = [option.format(**values) for option in options]
    live = listing(*options)
    assert live[0], "the filter matched nothing"
    assert listing("--from", str(saved), *options) == live
    status, out, _ = cli_in_process(capsys, "flows", "--from", str(saved), "--json", *options)
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
        _snapshots.save(str(before))
        assert add_flow(new_entry(**dict(KNOWN, packets=250))) == 0
        _libfc.FC_RemoveFlows(0, 0, 0, port, None, 0, 0, 0, 0, None, 0)
        assert add_flow(new_entry(port=7, sip=0x0600000a, proto=6, packets=3)) == 0
        appeared = {f.flowId for f in _libfc.FC_GetFlows(*NO_FILTER)} - set(ports)
        _snapshots.save(str(after))
    return before, after, {"changed": {known}, "left": left, "appeared": appeared}


def changes(document):
    found = {}
    for flow in document["flows"]:
        found.setdefault(flow["change"], set()).add(flow["id"])
    return found


def test_diff_lists_what_appeared_left_and_changed_with_its_rate(two_snapshots, capsys):
    before, after, expected = two_snapshots
    status, out, err = cli_in_process(capsys, "diff", str(before), str(after), "--json")
    document = json.loads(out)
    assert status == 0 and changes(document) == expected and document["elapsed_s"] == 10
    changed = next(flow for flow in document["flows"] if flow["change"] == "changed")
    assert (changed["packets"], changed["delta"], changed["rate"]) == (260, 250, 25.0)
    appeared = next(flow for flow in document["flows"] if flow["change"] == "appeared")
    assert (appeared["delta"], appeared["rate"]) == (3, 0.3)
    counts = document["counts"]
    assert err == "1 appeared, %d left, 1 changed, %d unchanged over 10s\n" % (counts["left"], counts["unchanged"])
    status, out, err = cli_in_process(capsys, "diff", str(after), "-")
    assert status == 0 and out == "" and err.startswith("0 appeared, 0 left, 0 changed, ")
    status, out, _ = cli_in_process(capsys, "diff", str(after), "-", "--unchanged", "--json-lines")
    listed = [json.loads(line) for line in out.splitlines()]
    assert {flow["change"] for flow in listed} == {"unchanged"}
    assert len(listed) == counts["unchanged"] + 2 == _libfc.FC_GetFlows(*NO_FILTER).totalEntries


def held_diff(before, after, elapsed, unchanged):  # diff's comparison while it held every flow of both sides
    identity = lambda f: (f.id, f.port, f.vni, f.proto, f.src_text, f.dst_text, f.table)  # noqa: E731
    earlier, listed = {identity(flow): flow.packets for flow in before}, []
    for flow in after:
        old = earlier.pop(identity(flow), None)
        delta = flow.packets - (old or 0)
        change = "appeared" if old is None else "changed" if delta else "unchanged"
        listed.append((change, diff.Seen(*identity(flow), flow.packets), delta))
    listed += [("left", diff.Seen(*key, packets), 0) for key, packets in earlier.items()]
    counts = {change: [c for c, _, _ in listed].count(change) for change in diff.CHANGES}
    listed = [(c, s, d, d / elapsed) for c, s, d in listed if c != "unchanged" or unchanged]
    return sorted(listed, key=lambda item: (item[1].id, item[0])), counts


@pytest.mark.parametrize("unchanged", [False, True])
def test_diff_streaming_lists_what_holding_every_flow_listed(two_snapshots, unchanged):
    before, after, _ = two_snapshots
    for sides in [(before, after), (after, before), (before, "live")]:  # the live cache is what B saved
        flows = [list(_snapshots.source(str(side))) for side in sides]
        flows[1].sort(key=lambda flow: flow.id)  # a hash table's flows apart: still each found
        listed, counts = diff.compare(*flows, 10.0, unchanged)
        assert (list(listed), counts) == held_diff(*flows, 10.0, unchanged)
        sources = [_snapshots.source(str(side)) for side in sides]
        in_c, counted = diff.compare_in_c(*sources, 10.0, unchanged, libfc._flow.TEXT_WRITER)
        assert (list(in_c), counted) == (list(listed), counts)


def test_top_shows_the_rates_between_two_snapshots(two_snapshots, capsys, monkeypatch):
    before, after, _ = two_snapshots
    monkeypatch.setenv("COLUMNS", "200")
    monkeypatch.setenv("LINES", "50")
    status, out, _ = cli_in_process(capsys, "top", "--once", "--file", str(before), "--file", str(after))
    lines = out.splitlines()
    header = lines[3].split()
    rows = [dict(zip(header, line.split())) for line in lines[4:]]
    assert status == 0 and rows[0]["SOURCE"] == "10.0.0.5" and rows[0]["RATE"] == "25.0"
    assert rows[1]["SOURCE"] == "10.0.0.6" and rows[1]["RATE"] == "0.3"
    assert str(after) in lines[0]
    status, out, _ = cli_in_process(capsys, "top", "--once", "--file", str(after), "--group-by", "port",
                                    "--sort", "key")
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
    "text": (lambda p: p.write_text("id port\n1 2\n"), "{}: not a flow cache snapshot \\(not gzip-compressed\\)"),
    "other json": (lambda p: _rewrite(p, lambda lines: ['{"format": "other"}\n'] + lines[1:]),
                   "{}: not a flow cache snapshot"),
    "newer": (lambda p: _rewrite(p, lambda lines: [lines[0].replace('"version":1', '"version":7')] + lines[1:]),
              "{}: snapshot format version 7 is newer than this tool reads \\(1\\)"),
    "cut short": (lambda p: p.write_bytes(p.read_bytes()[:len(p.read_bytes()) // 2]),
                  "damaged snapshot {} line \\d+: cut short"),
    "bad length": (lambda p: _flip(p, 2), "damaged snapshot {} line \\d+: compressed data corrupt"),
    "no end line": (lambda p: _rewrite(p, lambda lines: lines[:-1]), "damaged snapshot {} line \\d+: it ends after"),
    "not a flow": (lambda p: _rewrite(p, lambda lines: lines[:2] + ["[1, 2]\n"] + lines[3:]),
                   "damaged snapshot {} line 3: not a JSON object"),
    "counted wrong": (lambda p: _rewrite(p, lambda lines: lines[:2] + lines[3:]),
                      "damaged snapshot {} line \\d+: its end line does not close it"),
    "missing": (lambda p: p.unlink(), "{}: No such file or directory"),
}


READERS = [["flows", "--from", "{}"], ["top", "--once", "--file", "{}"], ["diff", "{}", "live"]]


@pytest.mark.parametrize("damage, command", [(damage, READERS[i % len(READERS)]) for i, damage in enumerate(DAMAGE)])
def test_a_damaged_or_foreign_file_is_refused_in_one_line(saved, capsys, command, damage):
    spoil, message = DAMAGE[damage]
    spoil(saved)
    status, _, err = cli_in_process(capsys, *[part.format(saved) for part in command])
    assert status == 1 and err.count("\n") == 1, err
    assert re.match("libfc %s: error: %s" % (command[0], message.format(re.escape(str(saved)))), err), err


def test_a_failed_save_leaves_no_file(flow_cache, tmp_path, capsys, monkeypatch):
    LIB.fcemu_traffic(50, 1)
    path = tmp_path / "cache.snap"

    real = snapshot._cache.flows

    def failing():
        yield from list(real())[:10]
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(snapshot._cache, "flows", failing)
    status, _, err = cli_in_process(capsys, "flows", "--save", str(path))
    assert status == 1 and "No space left on device" in err
    assert list(tmp_path.iterdir()) == []


# ---- refusals and failures -----------------------------------------------------------

# The refusals of the filter values themselves are libfc.flows' (test_walk.py).
# A "?" in an argument stands for a byte that is not UTF-8.
@pytest.mark.parametrize("args, command, named", [
    ([], "libfc", "COMMAND"),
    (["flows", "--port", "x"], "libfc flows", "--port"),
    (["flows", "--port", "4294967296"], "libfc flows", "4294967296"),
    (["flows", "--src", "10.0.0.300"], "libfc flows", "10.0.0.300"),
    (["flows", "--proto", "carrier-pigeon"], "libfc flows", "carrier-pigeon"),
    (["flows", "--limit", "0"], "libfc flows", "--limit"),
    (["flows", "remove", "--vlan", "5000"], "libfc flows remove", "--vlan 5000 is outside"),
    (["flows", "--reverse"], "libfc flows", "--reverse"),
    (["flows", "--top", "3", "--sort", "size"], "libfc flows", "size"),
    (["invalidate"], "libfc invalidate", "--port"),
    (["config", "set", "expr-time", "1000"], "libfc config set", "expr-time value 1000 is outside"),  # the library's
    (["config", "set", "speed", "3"], "libfc config set", "speed"),
    (["config", "get", "speed"], "libfc config get", "speed"),
    (["port", "portset-0", "5", "sideways"], "libfc port", "sideways"),
    (["host", "portset-0", "cache", "maybe"], "libfc host", "maybe"),
    (["emu", "traffic", "--flows", "-3"], "libfc emu traffic", "--flows"),
    (["emu", "traffic", "--flows", "1000001"], "libfc emu traffic", "--flows"),  # more than it does at once
    (["emu", "traffic", "--flows", "4294967295"], "libfc emu traffic", "--flows"),
    (["dvs", "ports"], "libfc dvs ports", "switch"),
    (["flows", "--json-lines", "--pretty"], "libfc flows", "--pretty indents the --json document"),
    (["stats", "--count", "3"], "libfc stats", "--count needs --interval"),
    (["stats", "--json-lines"], "libfc stats", "--json-lines needs --interval"),
    (["stats", "--interval", "1", "--json"], "libfc stats", "use --json-lines"),
    (["stats", "--interval", "0"], "libfc stats", "not a number of seconds"),
    (["flows", "--watch", "nan"], "libfc flows", "not a number of seconds"),
    (["exporter", "--listen", "9477"], "libfc exporter", "not HOST:PORT"),
    (["flows", "--save", "x", "--proto", "tcp"], "libfc flows", "--save writes the whole cache: it takes no filter"),
    (["top", "--once", "--file", "a", "--file", "b", "--file", "c"], "libfc top", "at most two snapshots"),
    (["top", "--once", "--sort", "share"], "libfc top", "--sort share: not a column"),
    (["top"], "libfc top", "the full-screen view needs a terminal: --once prints one frame"),
    (["port", "s?", "1", "ingress"], "libfc port", "\\xff"),
    (["flows", "--proto", "?"], "libfc flows", "\\xff"),
    (["dvs", "host-props", "sw", "n?"], "libfc dvs host-props", "\\xff"),
])
def test_bad_input_gets_one_line_naming_it_and_status_2(capsys, switch_store, args, command, named):
    status, out, err = cli_in_process(capsys, *(os.fsdecode(arg.encode().replace(b"?", b"\xff")) for arg in args))
    assert (status, out) == (2, ""), err
    assert len(err.splitlines()) == 1 and err.startswith(command + ": error: ") and named in err, err
    assert "FC_" not in err and "DVS" not in err and "\\udc" not in err


@pytest.mark.parametrize("output, status", [("closed", 141), ("reader gone", 141), ("/dev/full", 1)])
@pytest.mark.parametrize("words", ["flows", "dvs switches"])  # one output path for all
def test_output_nobody_can_read_ends_the_same_way_for_every_command(switch_store, output, status, words):
    LIB.fcemu_traffic(300, 1)
    assert LIB_FAB.fabemu_populate(4, 2, 1) == 0
    if output == "reader gone":
        read_end, stdout = os.pipe()
        os.close(read_end)
    else:
        stdout = os.open("/dev/full", os.O_WRONLY)
    close_stdout = (lambda: os.close(1)) if output == "closed" else None
    env = child_env()
    try:
        result = subprocess.run([sys.executable, "-m", "libfc", *words.split()], env=env, stdout=stdout,
                                stderr=subprocess.PIPE, text=True, timeout=120, preexec_fn=close_stdout)
    finally:
        os.close(stdout)
    assert result.returncode == status, result.stderr
    if status == 141:  # quietly, as for a program SIGPIPE stopped
        assert result.stderr == ""
    else:
        assert result.stderr == "libfc %s: error: No space left on device\n" % words


class InterruptedStderr(io.StringIO):
    """Standard error that a Ctrl-C hits while the first text is written."""

    def write(self, text):
        if not self.interrupted:
            self.interrupted = True
            raise KeyboardInterrupt
        return super().write(text)

    interrupted = False


# How each command fails: the library abandons a call (with an exception of
# that kind, or None: with no exception set), or, without a function, the
# state directory cannot be made.
@pytest.mark.parametrize("words, rest, function, kind, status", [
    ("stats", [], "FC_GetFlowCacheStats", OSError, 1),
    ("stats", [], "FC_GetFlowCacheStats", RuntimeError, 1),
    ("stats", [], "FC_GetFlowCacheStats", ValueError, 2),
    ("stats", [], "FC_GetFlowCacheStats", None, 1),
    ("inval", [], "FC_GetInvalTableEntries", MemoryError, 1),
    ("emu traffic", [], None, None, 1),
    ("emu check", [], None, None, 1),
])
def test_a_failure_is_one_line_and_a_ctrl_c_while_it_is_reported_ends_with_130(capsys, monkeypatch, tmp_path, words,
                                                                                rest, function, kind, status):
    def fail():
        if function:
            LIB.fcemu_fail_next(function.encode(), 3, id(kind) if kind else None, b"device gone")
        else:
            (tmp_path / "file").write_text("")
            monkeypatch.setenv("FC_EMU_DIR", str(tmp_path / "file" / "state"))

    fail()
    code, out, err = cli_in_process(capsys, *words.split(), *rest)
    assert code == status and out == ""
    expected = "state directory" if not function else "device gone" if kind else "abandoned"
    assert err.startswith("libfc %s: error: " % words) and expected in err and len(err.splitlines()) == 1, err
    fail()
    stderr = InterruptedStderr()
    monkeypatch.setattr(sys, "stderr", stderr)
    assert libfc.cli.main([*words.split(), *rest]) == 130 and stderr.interrupted


def test_an_unexpected_failure_is_one_line_unless_debugging(capsys, monkeypatch):
    def broken(args):
        raise TypeError("no such thing")

    monkeypatch.setattr(libfc.cli.stats, "show", broken)
    status, out, err = cli_in_process(capsys, "stats")
    assert (status, out) == (1, "")
    assert err == "libfc stats: error: unexpected TypeError: no such thing (LIBFC_DEBUG=1 shows where)\n"
    monkeypatch.setenv("LIBFC_DEBUG", "1")
    with pytest.raises(TypeError):
        libfc.cli.main(["stats"])


class Terminal(io.StringIO):
    def isatty(self):
        return True


@pytest.mark.parametrize("stream, shown", [(Terminal, True), (io.StringIO, False)])
def test_a_slow_dump_shows_progress_on_a_terminal_only(capsys, monkeypatch, stream, shown):
    LIB.fcemu_traffic(40, 1)
    monkeypatch.setattr(libfc.cli._output.Progress, "delay", 0.0)  # every dump counts as slow
    monkeypatch.setattr(libfc.cli._output.Progress, "interval", 0.0)
    err = stream()
    monkeypatch.setattr(sys, "stderr", err)
    code, out, _ = cli_in_process(capsys, "flows", "--limit", "30")
    assert code == 0 and len(out.splitlines()) == 31
    footer = "(30 of 40 matching flows shown)\n"
    if shown:
        assert "\rreading flows 30/40" in err.getvalue() and err.getvalue().endswith("\r\033[K" + footer)
    else:
        assert err.getvalue() == footer

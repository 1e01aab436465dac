"""The cache's metrics: the Prometheus families that stats --prometheus and
the exporter share, read back with prometheus_client's parser; rates of
stats --interval and flows --watch from reads with a clock the test drives;
the exporter over HTTP while the library fails under it; and the textfile
written whole or not at all."""

import ctypes
import json
import os
import sys
import urllib.error
import urllib.request

import pytest
from prometheus_client.parser import text_string_to_metric_families

import _libfc
import libfc
import libfc._cache
from _helpers import cli_in_process
from conftest import fcemu_library
from libfc import _metrics
from libfc.cli import _watch, build_parser, exporter, flows, stats
from test_builtin_libfc import add_flow, new_entry

LIB = fcemu_library()
LIB.fcemu_fail_next.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_char_p]
TABLES, ENTRIES = 2, 64


@pytest.fixture(autouse=True)
def cache(flow_cache):
    assert LIB.fcemu_reset_sized(TABLES, ENTRIES) == 0
    yield flow_cache
    LIB.fcemu_fail_next(None, 0, None, None)


def samples_of(text):
    """{(sample name, sorted labels): value} of an exposition."""
    return {(sample.name, tuple(sorted(sample.labels.items()))): sample.value
            for family in text_string_to_metric_families(text) for sample in family.samples}


def value(samples, name, **labels):
    return samples[(name, tuple(sorted(labels.items())))]


def damage_state_file(directory):
    with open(directory / "flowcache.state", "r+b") as state:
        state.write(b"\xff" * 64)


# ---- the families ----------------------------------------------------------------

def test_the_name_table_covers_every_counter_of_the_record_once():
    paths = [path for path, _ in _metrics.leaves(libfc.stats())]
    named = [path for path, _ in _metrics.COUNTERS]
    assert named == paths  # no counter falls back to a derived name, none is named twice
    names = [name for _, name in _metrics.COUNTERS]
    assert len(set(names)) == len(names) == 632 // 8
    assert all(name.replace("_", "").isalnum() and name == name.lower() for name in names)


def test_stats_prometheus_shows_every_counter_the_tables_and_the_options(capsys):
    LIB.fcemu_traffic(90, 3)
    status, out, err = cli_in_process(capsys, "stats", "--prometheus")
    assert (status, err) == (0, "")
    samples = samples_of(out)
    assert value(samples, "libfc_up") == 1
    counters = dict(_metrics.leaves(libfc.stats()))
    assert counters["lookup.nhits"] > 0 and counters["lookup.alloc.fe"] == 90
    for path, count in counters.items():
        assert value(samples, "libfc_%s_total" % _metrics.counter_name(path)) == count, path
    assert value(samples, "libfc_lookup_hits_total") == counters["lookup.nhits"]
    total = _libfc.FC_GetFlows(0, 0, 0, 0, None, 0, 0, 0, 0, None, 0).totalEntries
    assert value(samples, "libfc_flows") == total > 0
    assert value(samples, "libfc_flows_capacity") == TABLES * ENTRIES
    per_table = [value(samples, "libfc_table_flows", table=str(t)) for t in range(1, TABLES + 1)]
    assert sum(per_table) == total
    for t, held in enumerate(per_table, 1):
        assert value(samples, "libfc_table_fill_ratio", table=str(t)) == pytest.approx(held / ENTRIES)
        assert value(samples, "libfc_table_capacity", table=str(t)) == ENTRIES
    options = next(labels for (name, labels) in samples if name == "libfc_options_info")
    assert dict(options)["expr_time"] == str(_libfc.FC_IOCGetConfigOption(_libfc.FC_IOC_EXPR_TIME))


# ---- rates -----------------------------------------------------------------------

@pytest.mark.parametrize("before, after, elapsed, expected", [
    ({"hits": 10, "misses": 4}, {"hits": 30, "misses": 4}, 2.0, {"hits": 10.0, "misses": 0.0}),
    ({"hits": 500}, {"hits": 40}, 4.0, {"hits": 10.0}),  # reset in between: counts since the reset
    ({}, {"hits": 6}, 0.5, {"hits": 12.0}),  # a counter the first read did not have
])
def test_rates_per_second_between_two_reads(before, after, elapsed, expected):
    assert _watch.rates(before, after, elapsed) == expected


class Clock:
    """A monotonic clock that moves only when the watch sleeps or a read
    takes time."""

    def __init__(self):
        self.now, self.slept = 100.0, []

    def __call__(self):
        return self.now

    def sleep(self, seconds):
        self.slept.append(seconds)
        self.now += seconds


def tree_with(hits, fe_fail):
    tree = libfc.stats()
    tree["lookup"]["nhits"], tree["lookup"]["alloc"]["fe_fail"] = hits, fe_fail
    return tree


def _json_lines(text):
    lines = [json.loads(line) for line in text.splitlines()]
    return [(line.get("counters") or line["rates"])["lookup"]["nhits"] for line in lines], lines


def _table(text):
    blocks = text.split("\n\n")
    return [float(next((line.split()[-1] for line in block.splitlines() if "lookup.nhits" in line), 0))
            for block in blocks], blocks


def _prometheus(text):
    blocks = [samples_of(block) for block in text.split("\n\n")]
    return [value(blocks[0], "libfc_lookup_hits_total")] + [
        value(block, "libfc_lookup_hits_per_second") for block in blocks[1:]], blocks


@pytest.mark.parametrize("form, option", [(_json_lines, "--json-lines"), (_table, None), (_prometheus, "--prometheus")])
def test_stats_interval_prints_totals_then_measured_rates(monkeypatch, capsys, form, option):
    # The second read takes longer than the interval: the third starts late
    # and the fourth on time again.
    reads = iter([(tree_with(1000, 0), 0), (tree_with(1300, 7), 3), (tree_with(1300, 7), 0),
                  (tree_with(1400, 9), 0)])
    clock = Clock()

    def slow_read():
        tree, duration = next(reads)
        clock.now += duration
        return tree

    monkeypatch.setattr(libfc._cache, "stats", slow_read)
    argv = ["stats", "--interval", "2", "--count", "4"] + ([option] if option else [])
    args = build_parser().parse_args(argv)
    assert stats.watch(args, sys.stdout, clock=clock, sleep=clock.sleep, wall=lambda: 5.0) == 0
    hits, blocks = form(capsys.readouterr().out)
    # Each rate is over the time measured between the reads' starts.
    assert clock.slept == [2.0, 0.0, 1.0]
    assert hits == [1000, 300 / 2.0, 0.0, 100 / 1.0]
    if form is _json_lines:
        assert [line["interval_s"] for line in blocks] == [None, 2.0, 3.0, 1.0]
        assert blocks[1]["rates"]["lookup"]["alloc"]["fe_fail"] == 3.5
        assert blocks[2]["rates"]["actions"]["decap"]["from_nested_tn"] == 0 and blocks[0]["time"] == 5.0
    if form is _table:
        assert "lookup.alloc.fe_fail" in blocks[1] and "every counter unchanged" in blocks[2]


def test_flows_watch_lists_each_flows_packet_rate_by_id(monkeypatch, capsys):
    assert add_flow(new_entry(port=7, packets=10)) == 0
    assert add_flow(new_entry(port=8, packets=5)) == 0
    clock = Clock()
    rounds = iter([lambda: assert_ok(add_flow(new_entry(port=7, packets=30))),
                   lambda: assert_ok(add_flow(new_entry(port=9, packets=1)))])

    def sleep(seconds):
        clock.sleep(seconds)
        try:
            next(rounds)()
        except StopIteration:
            raise KeyboardInterrupt from None

    args = build_parser().parse_args(["flows", "--watch", "4", "--json-lines"])
    with pytest.raises(KeyboardInterrupt):
        flows.watch(args, clock=clock, sleep=sleep)
    listed = [json.loads(line) for line in capsys.readouterr().out.splitlines()]
    rates = [{flow["port"]: flow["packets_per_second"] for flow in listed[:2]},
             {flow["port"]: flow["packets_per_second"] for flow in listed[2:4]},
             {flow["port"]: flow["packets_per_second"] for flow in listed[4:]}]
    assert rates == [{7: None, 8: None}, {7: 30 / 4, 8: 0.0}, {7: 0.0, 8: 0.0, 9: None}]


def assert_ok(status):
    assert status == 0


@pytest.mark.parametrize("argv", [["stats", "--interval", "5", "--json-lines"], ["flows", "--watch", "5"]])
def test_ctrl_c_ends_a_watch_with_the_interrupted_status(monkeypatch, capsys, argv):
    LIB.fcemu_traffic(5, 1)

    def interrupted(seconds):
        raise KeyboardInterrupt

    monkeypatch.setattr("time.sleep", interrupted)
    status, out, err = cli_in_process(capsys, *argv)
    assert (status, err) == (130, "") and out.endswith("\n")  # the first read was written whole


@pytest.mark.parametrize("argv, message", [
    (["stats", "--count", "3"], "--count needs --interval"),
    (["stats", "--json-lines"], "--json-lines needs --interval"),
    (["stats", "--interval", "1", "--json"], "use --json-lines"),
    (["stats", "--interval", "0"], "not a number of seconds"),
    (["flows", "--watch", "nan"], "not a number of seconds"),
    (["exporter", "--listen", "9477"], "not HOST:PORT"),
])
def test_watch_and_listen_options_refuse_bad_values(capsys, argv, message):
    status, out, err = cli_in_process(capsys, *argv)
    assert (status, out) == (2, "") and message in err


# ---- the exporter ----------------------------------------------------------------

def scrape(server, path="/metrics"):
    with urllib.request.urlopen("http://127.0.0.1:%d%s" % (server.server_port, path), timeout=10) as answer:
        return samples_of(answer.read().decode())


def fail_hash_stats(directory):
    LIB.fcemu_fail_next(b"FC_GetFlowCacheHashStats", 3, id(OSError), b"device gone")


@pytest.mark.python_only
@pytest.mark.parametrize("fail, reason", [(damage_state_file, "not a flow cache state file"),
                                          (fail_hash_stats, "device gone")])
def test_the_exporter_reads_at_each_scrape_and_keeps_serving_when_the_library_fails(cache, fail, reason):
    server = exporter.start("127.0.0.1", 0)
    try:
        LIB.fcemu_traffic(40, 2)
        first = scrape(server)
        assert value(first, "libfc_up") == 1 and value(first, "libfc_flow_entry_allocations_total") == 40
        LIB.fcemu_traffic(60, 3)  # read at the scrape, not cached from the one before
        assert value(scrape(server), "libfc_flow_entry_allocations_total") > 40
        fail(cache)
        down = scrape(server)
        assert value(down, "libfc_up") == 0 and not any(name.endswith("_total") for name, _ in down)
        error = dict(next(labels for name, labels in down if name == "libfc_error_info"))["error"]
        assert reason in error
        assert LIB.fcemu_reset_sized(TABLES, ENTRIES) == 0
        assert value(scrape(server), "libfc_up") == 1  # the same server, back up
        with pytest.raises(urllib.error.HTTPError) as refused:
            scrape(server, "/other")
        assert refused.value.code == 404
    finally:
        server.shutdown()
        server.server_close()


# ---- the textfile ----------------------------------------------------------------

def leftovers(path):
    return sorted(name for name in os.listdir(path.parent) if name != path.name)


def test_prometheus_file_holds_what_stats_prometheus_prints(tmp_path, capsys):
    LIB.fcemu_traffic(30, 4)
    target = tmp_path / "libfc.prom"
    target.write_text("old\n")
    target.chmod(0o644)
    assert cli_in_process(capsys, "stats", "--prometheus-file", str(target)) == (0, "", "")
    status, printed, _ = cli_in_process(capsys, "stats", "--prometheus")
    assert samples_of(target.read_text()) == samples_of(printed)
    assert (target.stat().st_mode & 0o777, leftovers(target)) == (0o644, [])


def refuse_rename(monkeypatch, directory):
    def replace(source, destination):
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(os, "replace", replace)


@pytest.mark.parametrize("fail, message", [
    (lambda monkeypatch, directory: damage_state_file(directory), "not a flow cache state file"),
    (refuse_rename, "No space left on device"),
])
def test_a_failed_prometheus_file_write_leaves_the_old_file(monkeypatch, capsys, tmp_path, cache, fail, message):
    target = tmp_path / "libfc.prom"
    target.write_text("# the last good write\n")
    fail(monkeypatch, cache)
    status, out, err = cli_in_process(capsys, "stats", "--prometheus-file", str(target))
    assert status == 1 and message in err
    assert target.read_text() == "# the last good write\n" and leftovers(target) == []

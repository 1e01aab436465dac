"""The cache's metrics: the Prometheus families that stats --prometheus and
the exporter share, read back with prometheus_client's parser; rates of
stats --interval and flows --watch from reads with a clock the test drives;
the exporter over HTTP while the library fails under it; and the textfile
written whole or not at all."""

import itertools
import json
import os
import re
import sys
import threading
import urllib.error
import urllib.request

import pytest
from prometheus_client.parser import text_string_to_metric_families

import _libfc
import libfc
import libfc._cache
from _helpers import builtin_library, cli_in_process, racing
from libfc import _metrics
from libfc.cli import build_parser, exporter, flows, stats
from test_builtin_libfc import add_flow, new_entry

LIB = builtin_library("libfc.so")
TABLES, ENTRIES = 2, 64
# Python over library calls other modules test natively: the plain pass only.
pytestmark = pytest.mark.python_only


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

def test_stats_prometheus_shows_every_counter_once_the_tables_and_the_options(capsys):
    LIB.fcemu_traffic(90, 3)
    status, out, err = cli_in_process(capsys, "stats", "--prometheus")
    assert (status, err) == (0, "")
    samples = samples_of(out)
    assert value(samples, "libfc_up") == 1
    counters = dict(_metrics.leaves(libfc.stats()))
    assert counters["lookup.nhits"] > 0 and counters["lookup.alloc.fe"] == 90
    # The name table covers every counter of the record once: none falls
    # back to a derived name, no name is given twice.
    assert [path for path, _ in _metrics.COUNTERS] == list(counters)
    series = [_metrics.counter_series(path) for path, _ in _metrics.COUNTERS]
    assert len({(name, tuple(labels.items())) for name, labels in series}) == len(series) == 632 // 8
    assert all(name.replace("_", "").isalnum() and name == name.lower() for name, _ in series)
    for path, count in counters.items():
        name, labels = _metrics.counter_series(path)
        assert value(samples, "libfc_%s_total" % name, **labels) == count, path
    # The allocation failures are one family, a series per kind of object.
    kinds = {labels["kind"] for name, labels in series if name == "allocation_failures"}
    assert kinds == {"flow_entry", "action_entity", "vdl2_encap_data", "vdr_data"}
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

class Clock:
    """A monotonic clock that moves only when the watch sleeps or a read takes time."""

    def __init__(self):
        self.now, self.slept = 100.0, []

    def __call__(self):
        return self.now

    def sleep(self, seconds):
        self.slept.append(seconds)
        self.now += seconds


# The lookup hits of each read in an output form: the total, then rates.
HITS = {
    "--json-lines": lambda text: [(doc.get("counters") or doc["rates"])["lookup"]["nhits"]
                                  for doc in map(json.loads, text.splitlines())],
    "--prometheus": lambda text: [next(v for (name, _), v in samples_of(block).items()
                                       if name.startswith("libfc_lookup_hits_")) for block in text.split("\n\n")],
}


@pytest.mark.parametrize("form", HITS)
def test_stats_interval_prints_totals_then_rates_over_the_measured_time(monkeypatch, capsys, form):
    # The second read outlasts the interval, so the third starts late and the
    # fourth on time again; the cache is reset before the fourth.
    clock = Clock()
    reads = iter([(1000, 0), (1300, 3), (1300, 0), (80, 0)])

    def read():
        tree = libfc.stats()
        tree["lookup"]["nhits"], duration = next(reads)
        clock.now += duration
        return tree

    monkeypatch.setattr(libfc._cache, "stats", read)
    args = build_parser().parse_args(["stats", "--interval", "2", "--count", "4", form])
    assert stats.watch(args, sys.stdout, clock=clock, sleep=clock.sleep) == 0
    assert clock.slept == [2.0, 0.0, 1.0]
    assert HITS[form](capsys.readouterr().out) == [1000, 300 / 2, 0.0, 80 / 1]


def rates_in_table(text):
    """(port, packets per second or None) of each row of flows --watch's tables."""
    header = re.split(r" {2,}", text.splitlines()[0].strip())  # some headers are two words
    port, rate = header.index("PORT"), header.index("PKTS/S")
    rows = [line.split() for line in text.splitlines() if line.strip()[:1].isdigit()]
    return [(int(row[port]), None if row[rate] == "-" else float(row[rate])) for row in rows]


@pytest.mark.parametrize("in_c", [True, False], ids=["c", "python"])
@pytest.mark.parametrize("form, order", [([], [7, 8]), (["--json-lines"], [7, 8]), (["--json"], [7, 8]),
                                         (["--sort", "port", "--reverse"], [8, 7])])
def test_flows_watch_lists_each_flows_packet_rate_by_id_until_ctrl_c(capsys, monkeypatch, form, order, in_c):
    assert add_flow(new_entry(port=7, packets=10)) == add_flow(new_entry(port=8, packets=5)) == 0
    clock = Clock()

    def sleep(seconds):
        if clock.slept:
            raise KeyboardInterrupt
        clock.sleep(seconds)
        assert add_flow(new_entry(port=7, packets=20)) == 0  # added to the flow's count

    monkeypatch.setattr("time.monotonic", clock)
    monkeypatch.setattr("time.sleep", sleep)
    if not in_c:  # the flows made in Python, their rates worked out there
        monkeypatch.setattr(flows, "TEXT_WRITER", None)
    status, out, err = cli_in_process(capsys, "flows", "--watch", "3", *form)
    assert (status, err) == (130, "")  # the interrupted status, and each listing written whole
    if form[:1] == ["--json"]:
        listed = [(f["port"], f["packets_per_second"]) for line in out.split("\n") if line
                  for f in json.loads(line)["flows"]]
    elif "--json-lines" in form:
        listed = [(doc["port"], doc["packets_per_second"]) for doc in map(json.loads, out.splitlines())]
    else:
        listed = rates_in_table(out)
    rates = {7: 20 / 3 if form[:1] in (["--json"], ["--json-lines"]) else round(20 / 3, 1), 8: 0.0}
    assert listed == [(port, None) for port in order] + [(port, rates[port]) for port in order]


# ---- the exporter ----------------------------------------------------------------

def scrape(server, path="/metrics"):
    with urllib.request.urlopen("http://127.0.0.1:%d%s" % (server.server_port, path), timeout=10) as answer:
        return samples_of(answer.read().decode())


def test_the_exporter_reads_at_each_scrape_and_keeps_serving_when_the_library_fails():
    server = exporter.start("127.0.0.1", 0)
    try:
        LIB.fcemu_traffic(40, 2)
        first = scrape(server)
        assert value(first, "libfc_up") == 1 and value(first, "libfc_flow_entry_allocations_total") == 40
        LIB.fcemu_traffic(60, 3)  # read at the scrape, not cached from the one before
        assert value(scrape(server), "libfc_flow_entry_allocations_total") > 40
        # The counters read, then the tables' read fails: none of it is served.
        LIB.fcemu_fail_next(b"FC_GetFlowCacheHashStats", 3, id(OSError), b"device gone")
        down = scrape(server)
        assert value(down, "libfc_up") == 0 and not any(name.endswith("_total") for name, _ in down)
        error = dict(next(labels for name, labels in down if name == "libfc_error_info"))["error"]
        assert "device gone" in error
        assert value(scrape(server), "libfc_up") == 1  # the same server, back up
        with pytest.raises(urllib.error.HTTPError) as refused:
            scrape(server, "/other")
        assert refused.value.code == 404
    finally:
        server.shutdown()
        server.server_close()


def test_counters_read_from_several_threads_are_each_of_one_moment():
    # Every caller shares the library's result buffer, and the exporter reads
    # it in a thread per scrape: a read that another thread's call rewrote
    # halfway mixes two moments (fewer flows allocated than freed).
    torn = []

    def reader():
        for _ in range(3000):
            lookup = libfc.stats()["lookup"]
            if lookup["alloc"]["fe"] < lookup["free"]["fe"]:
                torn.append(lookup)

    readers = [threading.Thread(target=reader) for _ in range(2)]
    with racing(readers):
        for seed in itertools.takewhile(lambda _: any(t.is_alive() for t in readers), itertools.count()):
            LIB.fcemu_traffic(100, seed)
            _libfc.FC_RemoveFlows(0, 0, 0, 0, None, 0, 0, 0, 0, None, 0)
    assert not torn


# ---- the textfile ----------------------------------------------------------------

def refuse_rename(monkeypatch, directory):
    def replace(source, destination):
        raise OSError(28, "No space left on device")

    monkeypatch.setattr(os, "replace", replace)


@pytest.mark.parametrize("fail, message", [
    (None, None),
    pytest.param(lambda monkeypatch, directory: damage_state_file(directory), "not a flow cache state file",
                 marks=pytest.mark.writes_state_file),
    (refuse_rename, "No space left on device"),
])
def test_the_prometheus_file_is_replaced_whole_or_left_as_it_was(monkeypatch, capsys, tmp_path, cache, fail, message):
    LIB.fcemu_traffic(30, 4)
    target = tmp_path / "libfc.prom"
    target.write_text("# the last good write\n")
    if fail:
        fail(monkeypatch, cache)
    status, out, err = cli_in_process(capsys, "stats", "--prometheus-file", str(target))
    # No temporary file is left behind (the new file's mode: test_cli_files.py).
    assert os.listdir(tmp_path) == ["libfc.prom"]
    if fail is None:
        assert (status, out, err) == (0, "", "")
        assert samples_of(target.read_text()) == samples_of(cli_in_process(capsys, "stats", "--prometheus")[1])
    else:
        assert status == 1 and message in err and target.read_text() == "# the last good write\n"

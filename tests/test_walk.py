"""The whole-cache walk against a model of the library's query: every flow
exactly once, however the cache must be split, also while it changes."""

import array
import collections
import gc
import ipaddress
import os
import random
import threading
import weakref

import pytest

import _libfc
import libfc
from _helpers import builtin_library, racing
from _libfc_fields import answer_copy
from libfc import _walk
from libfc._flow import TEXT_WRITER, Flow, _decode_rows
from libfc._walk import FIELDS, Walk

PAGE = 16


class ModelCache:
    """Exact-match queries with zero as the wildcard, at most PAGE flows per
    answer, totalEntries counting every match; `between` runs before each
    query (a concurrent writer)."""

    def __init__(self, flows, tables, ports, between=None):
        self.flows = {flow.id: flow for flow in flows}
        self.table_count, self.ports, self.between = tables, ports, between
        self.queries = self.version = 0
        self.answer = None

    def query(self, *arguments):
        self.queries += 1
        if self.between:
            self.between(self)
            self.version += 1
        wanted = dict(zip(FIELDS, arguments))
        matches = [flow for flow in self.flows.values() if _matches(flow, wanted)]
        if self.answer is not None:
            self.answer.dead = True
        self.answer = Answer(matches[:PAGE])
        self.answer.totalEntries = len(matches)
        return self.answer

    def walk(self, sized=False, **criteria):
        # The library's value ranges, cut to what the model's flows use.
        splits = [("switchPort", "port", lambda: self.ports), ("proto", "proto", lambda: range(1, 20)),
                  ("vlanid", "vlan", lambda: range(1, 5)), ("isV6", "ipv6", lambda: (1,))]
        return Walk(criteria, query=self.query, tables=lambda: range(1, self.table_count + 1),
                    splits=splits, decode=lambda answer, now: list(answer), changes=lambda: self.version,
                    table_sizes=self.table_sizes if sized else dict)

    def table_sizes(self):
        return collections.Counter(flow.table for flow in self.flows.values())


class Answer(list):
    """A query answer that, like the library's buffer, must not be read
    once the next query has been made."""
    totalEntries = 0
    dead = False

    def _alive(self):
        assert not self.dead, "an answer was read after the next query"

    def __len__(self):
        self._alive()
        return super().__len__()

    def __iter__(self):
        self._alive()
        return super().__iter__()


def _matches(flow, wanted):
    checks = (("tid", flow.table), ("switchPort", flow.port), ("proto", flow.proto), ("vlanid", flow.vlan),
              ("vni", flow.vni))
    if wanted["isV6"] and not flow.ipv6:
        return False
    return all(wanted[name] in (0, None) or wanted[name] == value for name, value in checks)


def _flow(number, table, port, proto, vlan=0, ipv6=False, vni=0):
    return Flow(id=number, flags=1, table=table, port=port, vni=vni, ipv6=ipv6, src=None, dst=None,
                proto=proto, ether=0x0800, vlan=vlan, src_mac="", dst_mac="", inner_dst_mac="",
                entities=[], packets=number, age_s=0, expires_in_s=60)


def _cache(count, tables, ports, known_ports=None, seed=0, zero_share=0.0, between=None):
    rng = random.Random(seed)
    flows = []
    for number in range(1, count + 1):
        proto = 0 if rng.random() < zero_share else rng.choice((6, 17, 1))
        vlan = 0 if rng.random() < zero_share else rng.randrange(1, 4)
        flows.append(_flow(number, rng.randrange(1, tables + 1), rng.choice(ports), proto, vlan,
                           ipv6=rng.random() < 0.5))
    return ModelCache(flows, tables, known_ports if known_ports is not None else ports, between)


@pytest.mark.parametrize("sized", [False, True], ids=["table sizes unknown", "table sizes known"])
@pytest.mark.parametrize("count, tables, ports, known, zero_share, expect_split", [
    (PAGE, 1, [5], None, 0.0, False),               # one answer holds it all
    (3 * PAGE, 4, [5], None, 0.0, True),            # split by table only
    (6 * PAGE, 1, [5, 6, 7], None, 0.0, True),      # one table, split by port
    (20 * PAGE, 2, [5, 6], None, 0.0, True),        # port, then protocol, then VLAN
    (10 * PAGE, 2, [5, 6, 7], [5], 0.0, True),      # ports the invalidation table does not know
    (8 * PAGE, 2, [5, 6, 7], None, 0.1, True),      # zero values: rests to read
])
def test_every_flow_exactly_once(count, tables, ports, known, zero_share, expect_split, sized):
    cache = _cache(count, tables, ports, known, zero_share=zero_share)
    walk = cache.walk(sized)
    ids = [flow.id for flow in walk]
    assert len(ids) == len(set(ids)), "a flow was listed twice"
    assert set(ids) == set(cache.flows), "flows were missed"
    assert walk.unreachable == 0 and (walk.parts > 1) == expect_split
    if known is None and not zero_share:  # no rest to sift: only the answers handed out are decoded
        assert walk.decoded == len(ids)


# Zero values and unknown ports are the wildcard: in a big table they can
# only be sifted out of answers that also hold everything else; flows with
# the same value of every split cannot be told apart at all.
@pytest.mark.parametrize("make, exact", [
    (lambda: _cache(60 * PAGE, 1, [5, 6, 7], [5], zero_share=0.3), False),
    (lambda: ModelCache([_flow(n, 1, 5, 6, vlan=1) for n in range(1, 3 * PAGE + 1)], 1, [5]), True),
], ids=["wildcards", "no split separates"])
def test_what_no_filter_can_reach_is_counted_not_invented(make, exact):
    cache = make()
    walk = cache.walk()
    ids = [flow.id for flow in walk]
    assert len(ids) == len(set(ids)) and set(ids) <= set(cache.flows)
    missing = len(cache.flows) - len(ids)
    assert missing > 0
    assert abs(walk.unreachable - missing) <= (0 if exact else missing // 4), "the count of unreachable flows is off"


def test_limit_stops_the_walk_early():
    cache = _cache(50 * PAGE, 4, [5, 6])
    walk = cache.walk()
    assert len([next(walk) for _ in range(3)]) == 3 and cache.queries < 10
    assert walk.decoded <= PAGE, "the walk decoded answers it did not hand out yet"


@pytest.mark.parametrize("known", [None, [5]])
def test_concurrent_writers_never_duplicate_and_never_lose_a_stable_flow(known):
    rng = random.Random(7)
    stable = _cache(30 * PAGE, 3, [5, 6, 7], known, seed=1)
    stable_ids = set(stable.flows)
    next_id = [10 ** 6]

    def churn(cache):
        # Add two flows and remove one added earlier (never a stable one).
        for _ in range(2):
            next_id[0] += 1
            cache.flows[next_id[0]] = _flow(next_id[0], rng.randrange(1, 4), rng.choice([5, 6, 7]),
                                            rng.choice((6, 17)), rng.randrange(1, 4))
        transient = [i for i in cache.flows if i not in stable_ids]
        if transient:
            del cache.flows[rng.choice(transient)]

    stable.between = churn
    ids = [flow.id for flow in stable.walk()]
    assert len(ids) == len(set(ids)) and stable_ids <= set(ids)


@pytest.mark.parametrize("sized", [False, True])
@pytest.mark.parametrize("rest", ["unknown port", "zero protocol"])
def test_a_young_stable_flow_of_a_rest_survives_churn(rest, sized):
    # A stable flow whose split value cannot be asked for, placed after
    # everything the part's answers show: only the part's rest can hold it,
    # and churn elsewhere makes the counts useless for telling it exists.
    rng = random.Random(3)
    flows = [_flow(n, 1, rng.choice([5, 6]), rng.randrange(1, 20), rng.randrange(1, 5)) for n in range(1, 6 * PAGE)]
    hidden = _flow(6 * PAGE, 1, 9 if rest == "unknown port" else 5, 0 if rest == "zero protocol" else 6, 1)
    cache = ModelCache(flows + [hidden], 1, [5, 6])
    next_id = [10 ** 6]

    def churn(cache):
        # One flow in, one flow out, in another table: the part's total
        # stays put while the cache's counters move.
        next_id[0] += 1
        cache.flows[next_id[0]] = _flow(next_id[0], 2, 5, 6, 1)
        transient = [i for i in cache.flows if i >= 10 ** 6 and i != next_id[0]]
        if transient:
            del cache.flows[transient[0]]

    cache.between = churn
    cache.table_count = 2
    walk = cache.walk(sized)
    ids = [flow.id for flow in walk]
    assert len(ids) == len(set(ids)) and hidden.id in ids and walk.unreachable == 0


# ---- libfc.flows() on the built-in cache --------------------------------------

def _spelled(flow, keyword):
    """A filter value that selects `flow`, spelt as a script would."""
    return {
        "port": flow.port, "vni": flow.vni, "proto": flow.proto, "ether": flow.ether, "vlan": flow.vlan,
        "table": flow.table, "v6": flow.ipv6, "src": str(flow.src), "dst": flow.dst,
        "dmac": flow.dst_mac.upper().replace(":", "-"), "inner_dmac": flow.inner_dst_mac,
    }[keyword]


def _selects(flow, keyword, value):
    if keyword in ("src", "dst"):
        return getattr(flow, keyword).packed[-4:] == ipaddress.ip_address(value).packed[-4:]
    if keyword == "v6":
        return flow.ipv6 or not value
    attribute = {"dmac": "dst_mac", "inner_dmac": "inner_dst_mac", "ipv6": "ipv6"}.get(keyword, keyword)
    wanted = value.lower().replace("-", ":") if isinstance(value, str) else value
    return getattr(flow, attribute) == wanted


@pytest.mark.parametrize("keyword", ["port", "vni", "proto", "ether", "vlan", "table", "v6", "src", "dst", "dmac",
                                     "inner_dmac"])
def test_each_keyword_of_libfc_flows_selects_the_matching_flows(flow_cache, keyword):
    builtin_library("libfc.so").fcemu_traffic(400, 9)
    everything = list(libfc.flows())
    chosen = next(flow for flow in everything[len(everything) // 2:]
                  if _spelled(flow, keyword) not in (0, False, "00:00:00:00:00:00"))
    value = _spelled(chosen, keyword)
    listed = {flow.id for flow in libfc.flows(**{keyword: value})}
    assert chosen.id in listed and listed == {flow.id for flow in everything if _selects(flow, keyword, value)}


def test_walks_in_two_threads_each_list_only_their_own_flows(flow_cache):
    # The library's answer is one buffer for every caller: a walk that read
    # another thread's answer would list that thread's flows.
    builtin_library("libfc.so").fcemu_traffic(3000, 1)
    wrong = []

    def walk(proto):
        for _ in range(20):
            wrong.extend(flow.proto for flow in libfc.flows(proto=proto) if flow.proto != proto)

    with racing([threading.Thread(target=walk, args=(proto,)) for proto in (6, 17)]):
        pass
    assert wrong == []


def test_pages_rendered_beside_come_in_order_one_answer_ahead_at_most_and_raise_at_their_page(flow_cache, monkeypatch):
    # One table of five answers' worth: split by port, rests and all.
    library = builtin_library("libfc.so")
    assert library.fcemu_reset_sized(1, 8192) == 0 and library.fcemu_traffic(5000, 13) == 5000
    from _libfc_fields import top_page
    for turns in ("IN_TURN_AFTER_A_LOSS", "IN_TURN_AFTER_A_MISS"):  # every page beside, however it went
        monkeypatch.setattr(_walk, turns, 0)

    def read(beside, fail_at=None):
        monkeypatch.setattr(_walk, "RENDER_BESIDE", beside)
        walk, pages, parts = Walk(), [], []

        def learn(key):  # known_actions stays empty: each page asks for its keys
            if len(pages) == fail_at:
                raise LookupError(len(pages))
            return len(key)
        for count, columns in walk.pages(lambda *page: top_page(_decode_rows, *page, 0, {}, learn, False)):
            pages.append((count, columns))
            parts.append(walk.parts)
        return pages, parts + [walk.parts]
    pages, parts = read(False)
    ids = array.array("Q", b"".join(columns[0] for _, columns in pages))
    assert sorted(ids) == sorted(flow.id for flow in libfc.flows()) and len(pages) > 3
    # A page comes out once the next answer is read, not before nor later.
    assert read(True) == (pages, parts[1:] + parts[-1:])
    for beside in (False, True):
        with pytest.raises(LookupError, match="^2$"):
            read(beside, fail_at=2)


@pytest.mark.parametrize("beside", [False, True])
def test_a_walk_read_by_pages_is_gone_once_dropped_without_the_collector(flow_cache, monkeypatch, beside):
    library = builtin_library("libfc.so")
    assert library.fcemu_reset_sized(1, 8192) == 0 and library.fcemu_traffic(5000, 13) == 5000
    monkeypatch.setattr(_walk, "RENDER_BESIDE", beside)
    walk = Walk()
    gone = weakref.ref(walk)
    enabled = gc.isenabled()
    gc.disable()
    try:
        assert sum(count for count, _ in walk.pages(lambda *page: TEXT_WRITER.json_lines(*page, "{"))) == 5000
        del walk
        assert gone() is None
    finally:
        if enabled:
            gc.enable()


# Forking beside the worker thread is the point: 3.12 on warns of it.
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_a_child_of_fork_refuses_its_parents_pending_page_and_renders_its_own(flow_cache):
    builtin_library("libfc.so").fcemu_traffic(3000, 5)
    writer = TEXT_WRITER
    answer = _libfc.FC_GetFlows(0, 0, "\x00", 0, None, 0, 0, 0, 0, None, 0)
    expected = writer.json_lines(answer, 1, (), "{")
    pending = writer.json_lines(answer_copy(_decode_rows, answer, (), True), 1, (), "{")
    read, write = os.pipe()
    if (child := os.fork()) == 0:
        try:
            with pytest.raises(RuntimeError, match="forked"):
                pending.result()
            again = writer.json_lines(answer_copy(_decode_rows, answer, (), True), 1, (), "{").result()
            os.write(write, b"1" if again == expected else b"0")
        finally:
            os._exit(0)
    os.waitpid(child, 0)
    assert os.read(read, 1) == b"1" and pending.result() == expected


@pytest.mark.parametrize("filter, named", [
    ({"vlan": 4096}, "vlan 4096 is outside 0..4095"),
    ({"vni": 2 ** 24}, "vni 16777216 is outside"),
    ({"proto": -1}, "proto -1 is outside"),
    ({"src": "10.0.0.1", "dst": "::1"}, "different address families"),
    ({"v6": True, "dst": ipaddress.ip_address("10.0.0.1")}, "v6 with an IPv4 address"),
    ({"dmac": "00:11:22"}, "dmac: not a hardware address"),
])
def test_libfc_flows_refuses_a_filter_before_reading_anything(filter, named):
    with pytest.raises(ValueError, match=named):
        libfc.flows(**filter)

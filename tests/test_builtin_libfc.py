"""The built-in libfc.so, driven through ctypes once _libfc has loaded it:
flow queries and filters, counters, expiry, invalidation, options and
enablement, and the refusals it raises through the module's trap."""

import ctypes
import functools
import ipaddress
import os
import pathlib
import runpy
import struct
import subprocess
import threading
import time

import pytest

import _libfc
import libfc  # noqa: F401  (the record classes _libfc's results come back as)
from _helpers import builtin_library, poke
from libfc import _cache, _emulator, _metrics
from libfc._emulator import FLOW_CACHE, PROTOTYPES, VALUES, TrafficResult
from libfc._metrics import leaves

LIB = builtin_library("libfc.so")
for _name in ["FC_GetPortsetStatus", "FC_GetPortsetMcastStatus", "FC_GetFlowCacheEnabled"]:
    getattr(LIB, _name).restype = ctypes.c_char_p
LIB.FC_IOCGetConfigOption.restype = ctypes.c_uint32


FLOWKEY_IPV6, MAX_FLOWS_IOC, FLOW_CELLS, PORTS_PER_ENTITY = 1, 2048, 18, 4096
ACTION = {"DROP": 5, "DST_PORT": 7, "VDR_ROUTE": 20, "ENCAP_VXLAN": 26}
PORTID, VDRID = 2, 1
EXPR_TIME = 2


def counters(stats):
    """The counters of an FC_CacheStats (the cache's or a flow's) by their
    path under the top group: "nhits", "alloc.fe", "encap.completed"."""
    return {path.partition(".")[2]: value for path, value in leaves(stats.to_dict())}


def low_word(text):
    """An address criterion as the filter compares it: the address's last
    four bytes, as stored (network order in memory)."""
    return int.from_bytes(ipaddress.ip_address(text).packed[-4:], "little")


def vdr_id(entity):
    vdr = entity.clientData.vdrData
    return _libfc.FC_VDRActionData_get_instance(vdr, vdr.curInst).vdrId


class Flow:
    """What a query reported of one flow, read through the record classes
    (the result buffer itself is the library's only until its next query)."""

    def __init__(self, entry):
        key = entry.fkey
        self.ipv6 = bool(key.flags & FLOWKEY_IPV6)
        self.flags, self.flow_id, self.tid = entry.fcFlags, entry.flowId, entry.tblId
        self.port, self.vni, self.proto, self.daddr = key.portID, key.vni, key.proto, key.l2Key.daddr
        self.innerdaddr = key.inner.l2Key.daddr
        self.sip = low_word(_libfc.FC_FlowEntryIOC_get_srcip_entry(entry, self.ipv6))
        self.dip = low_word(_libfc.FC_FlowEntryIOC_get_dstip_entry(entry, self.ipv6))
        self.pkt_count, self.expr_time, self.created = entry.pktCount, entry.exprTime, entry.created
        self.conf_gen, self.num_entities = entry.confGen, entry.numActionEntities
        self.stats = counters(entry.stats)
        self.source_entity = (entry.sPortEntity.ikey.val.portId, entry.sPortEntity.refCount)
        self.dest_entity = (entry.dportEntity.ikey.val.portId, entry.dportEntity.refCount)
        self.entities = [{"actions": e.actionsBitMap, "ports": list(e), "vdr": vdr_id(e),
                          "client": bytes(e.clientData), "repl": bytes(e.replData)} for e in entry]

    def dports(self, i):
        return self.entities[i]["ports"]


FILTER_FIELDS = ["sip", "dip", "isV6", "switchPort", "daddr", "vni", "ether", "vlanid", "proto", "innerdaddr", "tid"]


def filter_args(**criteria):
    return [criteria.get(field, None if field in ("daddr", "innerdaddr") else 0) for field in FILTER_FIELDS]


class Result:
    """A query's counts and its flows."""

    def __init__(self, flows):
        self.total, self.num = flows.totalEntries, flows.numEntries
        self.entries = [Flow(entry) for entry in flows]


def get_flows(**criteria):
    return Result(_libfc.FC_GetFlows(*filter_args(**criteria)))


def all_flows():
    return get_flows().entries


def remove_flows(**criteria):
    _libfc.FC_RemoveFlows(*filter_args(**criteria))


def stats():
    return counters(_libfc.FC_GetFlowCacheStats())


def hash_stats():
    result = _libfc.FC_GetFlowCacheHashStats()
    tables = [{"evicts": t.nEvictsTotal, "evicts_max": t.nEvictsMax, "state": t.fcState, "lengths": list(t)}
              for t in result]
    return result.maxEntries, tables


def inval_table():
    result = _libfc.FC_GetInvalTableEntries()
    table = {(e.ikey.type, e.ikey.val.portId): {"refs": e.refCount, "gen": e.confGen,
                                                "unicast": e.sPortStats.pktsInUnicast,
                                                "multicast": e.sPortStats.pktsInMulticast} for e in result}
    return result.globalConfGen, table


def traffic_report(flows, seed, batch=50_000):
    """The traffic in batches (one call installs at most 65536 flows), with
    what became of its flows summed."""
    total, result = TrafficResult(), TrafficResult()
    for first in range(0, flows, batch):
        count = min(batch, flows - first)
        status = (LIB.fcemu_traffic_report(count, seed, ctypes.byref(result)) if first == 0 else
                  LIB.fcemu_traffic_report_from(first, count, seed, ctypes.byref(result)))
        assert status == 0, LIB.fcemu_last_error()
        for name, _ in TrafficResult._fields_:
            setattr(total, name, getattr(total, name) + getattr(result, name))
    return total


def check():
    report = ctypes.create_string_buffer(8192)
    problems = LIB.fcemu_check(report, len(report))
    return problems, report.value.decode()


def new_entry(port=7, sip=0x0100000a, dip=0x0200000a, daddr=b"\x02\x00\x00\x00\x00\x02", proto=6,
              actions=(1 << ACTION["DST_PORT"]), dports=(8,), packets=1, created=0, entities=1):
    """A flow entry as the datapath hands it in."""
    entity = {"actionsBitMap": actions, "dstPortsNum": len(dports),
              "dport": list(dports) + [0] * (PORTS_PER_ENTITY - len(dports))}
    return libfc.FC_FlowEntryIOC.from_dict({
        "fkey": {"portID": port, "proto": proto, "l2Key": {"daddr": daddr, "etype": 0x0800},
                 "ipKey": {"ipv4Key": {"sip": sip, "dip": dip}}},
        "pktCount": packets, "created": created, "numActionEntities": entities,
        "actionEntity": [entity] + [{}] * 3})


def add_flow(entry):
    data = bytearray(bytes(entry))
    return LIB.fcemu_add_flow((ctypes.c_char * len(data)).from_buffer(data))


def refused_with(name, *args):
    """The message of the ValueError the library raises through the module's trap."""
    with pytest.raises(ValueError) as info:
        getattr(_libfc, name)(*[a.decode() if isinstance(a, bytes) else a for a in args])
    return str(info.value)


pytestmark = pytest.mark.usefixtures("flow_cache")  # a private, empty flow cache for every test


# ---- The library as a file --------------------------------------------------

def test_only_the_interface_is_exported_and_the_module_finds_the_library_beside_it():
    defined = subprocess.run(["nm", "-D", "--defined-only", LIB._name], capture_output=True, text=True).stdout
    names = {line.split()[-1] for line in defined.splitlines() if line.split()[-2] in "TtDdBbRr"}
    assert {n for n in names if not n.startswith("_")} == {
        "FC_GetFlows", "FC_RemoveFlows", "FC_GetFlowCacheStats", "FC_GetFlowCacheHashStats",
        "FC_GetInvalTableEntries", "FC_InvalidateFCFlowEntry", "FC_InvalidateFlowsIoctl",
        "FC_IOCSetConfigOption", "FC_IOCGetConfigOption", "FC_SetPortProp", "FC_SetHostProp",
        "FC_GetPortsetStatus", "FC_GetPortsetMcastStatus", "FC_GetFlowCacheEnabled"} | set(PROTOTYPES[FLOW_CACHE]) | set(VALUES[FLOW_CACHE])
    dynamic = subprocess.run(["readelf", "-d", _libfc.__file__], capture_output=True, text=True).stdout
    assert "[libfc.so]" in dynamic and "$ORIGIN" in dynamic


# ---- Queries ------------------------------------------------------------------

def test_criteria_combine_and_zero_values_are_wildcards():
    LIB.fcemu_traffic(400, 12)
    flows = all_flows()
    sample = flows[5]
    expected = {f.flow_id for f in flows if f.port == sample.port and f.proto == sample.proto}
    assert {e.flow_id for e in get_flows(switchPort=sample.port, proto=sample.proto).entries} == expected
    everything = {f.flow_id for f in flows}
    for wildcard in [{}, {"daddr": ""}, {"daddr": "00:00:00:00:00:00"}, {"innerdaddr": "0-0-0-0-0-0"}]:
        assert {e.flow_id for e in get_flows(**wildcard).entries} == everything
    # Addresses may be spelt in capitals, with dashes or single digits.
    spelt = sample.daddr.upper().replace(":", "-")
    assert sample.flow_id in {e.flow_id for e in get_flows(daddr=spelt).entries}


def test_flows_come_back_oldest_first_and_the_buffer_holds_at_most_the_ioc_limit():
    installed = LIB.fcemu_traffic(2200, 3)
    result = get_flows()
    assert result.total == stats()["alloc.fe"] - stats()["free.fe"] > MAX_FLOWS_IOC
    assert result.num == MAX_FLOWS_IOC
    ids = [flow.flow_id for flow in result.entries]
    # Each table alone fits in a buffer: together they show every flow.
    every = sorted(f.flow_id for tid in range(1, 17) for f in get_flows(tid=tid).entries)
    assert len(every) == result.total and ids == every[:MAX_FLOWS_IOC] and installed >= result.total


@pytest.mark.same_on_every_build
def test_an_entry_reads_the_same_whatever_the_answers_before_it_held():
    # The answer's block is reused: what an earlier, larger answer rendered
    # into an entry must not show through a later one.
    LIB.fcemu_traffic(600, 5)

    def images(**criteria):
        images = {}
        for entry in _libfc.FC_GetFlows(*filter_args(**criteria)):
            entry.exprTime = 0  # seconds left: moves with the clock between answers
            images[entry.flowId] = bytes(entry)
        return images

    alone = {}
    for port in sorted({flow.port for flow in all_flows()}):
        images()  # every flow, in install order, into the block first
        alone.update(images(switchPort=port))
    assert alone == images()


def test_remove_flows_removes_the_matching_flows_only():
    LIB.fcemu_traffic(300, 4)
    flows = all_flows()
    port = flows[0].port
    remove_flows(switchPort=port)
    left = all_flows()
    assert {f.flow_id for f in left} == {f.flow_id for f in flows if f.port != port}
    remove_flows()
    assert get_flows().total == 0
    assert stats()["free.fe"] == stats()["alloc.fe"] == len(flows)


# ---- Installing flows and their counters ----------------------------------------

def test_an_installed_flow_reports_what_it_was_given_and_the_counters_follow_it():
    before = time.time() * 1000
    actions = sum(1 << ACTION[name] for name in ("DST_PORT", "ENCAP_VXLAN", "VDR_ROUTE"))
    flow = dict(port=21, dports=(30, 31, 32), actions=actions)
    assert add_flow(new_entry(packets=5, **flow)) == 0
    (entry,) = all_flows()
    assert (entry.port, entry.sip, entry.dip, entry.daddr, entry.proto) == (21, 0x0100000a, 0x0200000a, "02:00:00:00:00:02", 6)
    assert entry.dports(0) == [30, 31, 32] and entry.num_entities == 1
    assert entry.flags & 1 and entry.flags & 4          # in use, several destinations
    assert 1 <= entry.tid <= 16 and entry.pkt_count == 5
    assert before - 5 <= entry.created <= time.time() * 1000 + 5
    assert entry.conf_gen == inval_table()[0] and 179 <= entry.expr_time <= 180
    assert entry.source_entity == (21, 1) and entry.dest_entity == (30, 1)
    assert (entry.stats["nmisses"], entry.stats["nhits"], entry.stats["encap.completed"]) == (1, 4, 5)
    counted = {"nmisses": 1, "nhits": 4, "alloc.fe": 1, "alloc.actionEntity": 1, "alloc.vdrData": 1,
               "vdr.completedV4": 5, "encap.completed": 5}
    assert {name: value for name, value in stats().items() if name in counted} == counted
    add_flow(new_entry(packets=3, **flow))      # the same key: a hit
    (entry,) = all_flows()
    assert (entry.pkt_count, entry.stats["nhits"], stats()["nhits"], stats()["alloc.fe"]) == (8, 7, 7, 1)
    remove_flows()
    freed = stats()
    assert (freed["free.fe"], freed["free.actionEntity"], freed["free.vdrData"]) == (1, 1, 1)


def test_traffic_is_deterministic_and_its_counters_add_up():
    first = LIB.fcemu_traffic(500, 9)
    keys = [(f.port, f.sip, f.dip, f.proto) for f in all_flows()]
    s = stats()
    assert s["alloc.fe"] == first and s["nmisses"] == first and s["alloc.fe"] - s["free.fe"] == len(keys)
    assert s["encap.completed"] > 0 and s["vdr.completedV4"] > 0 and s["drop.completed"] > 0 and s["multi_dest"] > 0
    assert LIB.fcemu_traffic(500, 9) <= first - len(keys) + 1     # the same flows again mostly hit
    assert stats()["nhits"] > s["nhits"]
    LIB.fcemu_reset()
    assert LIB.fcemu_traffic(500, 9) == first
    assert [(f.port, f.sip, f.dip, f.proto) for f in all_flows()] == keys
    kinds = {(f.ipv6, f.vni != 0, f.innerdaddr != "00:00:00:00:00:00") for f in all_flows()}
    assert {(False, False, False), (True, True, True), (False, True, True)} <= kinds


def test_hash_statistics_count_buckets_and_evictions():
    # Enough flows to fill the tables and overflow a few buckets before that.
    assert LIB.fcemu_reset_sized(4, 1024) == 0
    report = traffic_report(10_000, 5)
    most, tables = hash_stats()
    assert most == len(tables) == 4
    flows = get_flows().total
    assert all(sum(t["lengths"]) == 512 for t in tables)
    assert sum(length * count for t in tables for length, count in enumerate(t["lengths"])) == flows
    assert report.evicted > 0
    assert sum(t["evicts"] for t in tables) == report.evicted == stats()["free.fe"] == report.installed - flows
    assert all(t["evicts_max"] <= t["evicts"] and t["state"] == 0 for t in tables)


def test_a_full_table_refuses_new_flows_and_says_why():
    assert LIB.fcemu_reset_sized(2, 16) == 0
    report = traffic_report(300, 6)
    assert report.installed - report.evicted == get_flows().total == 32
    assert report.table_full == stats()["alloc.fe_fail"] > 0 and report.inval_full == report.port_disabled == 0
    assert report.installed + report.hits + report.table_full == 300
    assert add_flow(new_entry(port=99999)) == -1
    assert stats()["alloc.fe_fail"] == report.table_full + 1


def test_traffic_without_room_for_its_ports_installs_nothing_and_says_why():
    assert LIB.fcemu_reset_sized(2, 16) == 0
    for port in range(1023):  # all but one of the 1024 port records
        LIB.FC_SetPortProp(b"filler", str(port).encode(), 1)
    assert LIB.fcemu_traffic_report(10, 1, ctypes.byref(TrafficResult())) == -1
    assert LIB.fcemu_last_error() == b"no room for the traffic's ports"
    assert get_flows().total == 0


@pytest.mark.parametrize("tables, entries, accepted", [
    (1, 16, True), (1024, 2048, True), (128, 8192, True),
    (0, 64, False), (1025, 16, False), (4, 15, False), (4, 8193, False), (512, 8192, False)])
def test_cache_sizes_outside_the_limits_are_refused_and_change_nothing(tables, entries, accepted):
    LIB.fcemu_traffic(20, 1)
    assert LIB.fcemu_reset_sized(tables, entries) == (0 if accepted else -2)
    most, hashed = hash_stats()
    if accepted:
        assert (most, get_flows().total) == (tables, 0) and sum(hashed[-1]["lengths"]) == entries // 2
    else:
        assert (most, get_flows().total) == (16, 20)


@pytest.mark.parametrize("change", ["entities", "dports", "key_flags"])
def test_a_malformed_flow_is_refused_and_changes_nothing(change):
    entry = new_entry()
    if change == "entities":
        entry.numActionEntities = 5
    elif change == "dports":
        entry[0].dstPortsNum = PORTS_PER_ENTITY + 1
    else:
        entry.fkey.flags = 2
    assert add_flow(entry) == -1
    assert get_flows().total == 0 and stats()["alloc.fe"] == 0


# ---- Expiry ----------------------------------------------------------------------

def test_idle_flows_expire_after_the_configured_time():
    now = int(time.time() * 1000)
    add_flow(new_entry(port=1, created=now - 200_000))
    add_flow(new_entry(port=2, created=now - 10_000))
    (left,) = all_flows()
    assert left.port == 2 and 169 <= left.expr_time <= 171
    assert stats()["free.fe"] == 1
    LIB.FC_IOCSetConfigOption(EXPR_TIME, 5)
    assert get_flows().total == 0


# ---- Invalidation ----------------------------------------------------------------

def test_the_invalidation_table_counts_the_references_of_cached_flows():
    LIB.fcemu_traffic(300, 7)
    refs = {}
    for f in all_flows():
        keys = [(PORTID, f.port)] + [(PORTID, f.dports(i)[0]) for i in range(f.num_entities) if f.dports(i)][:1]
        routed = [e for e in f.entities if e["actions"] >> ACTION["VDR_ROUTE"] & 1]
        keys += [(VDRID, e["vdr"]) for e in routed[:1]]
        for key in keys:
            refs[key] = refs.get(key, 0) + 1
    generation, table = inval_table()
    assert {key: e["refs"] for key, e in table.items()} == refs
    assert sum(e["unicast"] + e["multicast"] for e in table.values()) > 0


@pytest.mark.parametrize("kind", [PORTID, VDRID])
def test_invalidating_a_key_drops_its_flows_and_bumps_the_generations(kind):
    LIB.fcemu_traffic(300, 8)
    generation, table = inval_table()
    key = max((k for k in table if k[0] == kind), key=lambda k: table[k]["refs"])
    LIB.FC_InvalidateFCFlowEntry(key[1], kind)
    new_generation, new_table = inval_table()
    assert new_generation == generation + 1
    assert new_table[key]["refs"] == 0 and new_table[key]["gen"] == new_generation
    assert stats()["free.fe"] == table[key]["refs"]
    if kind == PORTID:
        assert not [f for f in all_flows() if f.port == key[1] or key[1] in f.dports(0)[:1]]


def test_invalidating_every_flow_returns_their_number():
    installed = LIB.fcemu_traffic(200, 10)
    generation, _ = inval_table()
    assert LIB.FC_InvalidateFlowsIoctl() == installed
    new_generation, table = inval_table()
    assert new_generation == generation + 1 and get_flows().total == 0
    assert all(e["refs"] == 0 and e["gen"] == new_generation for e in table.values())
    add_flow(new_entry())
    assert all_flows()[0].conf_gen == new_generation


# ---- Options and enablement -------------------------------------------------------------

OPTIONS = [  # type, default, lowest, highest
    (0, 1, 0, 2), (1, 0, 0, 7), (2, 180, 5, 360), (3, 360, 5, 86400), (4, 0, 0, 120)]


@pytest.mark.parametrize("kind, default, lowest, highest", OPTIONS)
def test_options_keep_values_within_their_limits(kind, default, lowest, highest):
    assert LIB.FC_IOCGetConfigOption(kind) == default
    for value in (lowest, highest):
        LIB.FC_IOCSetConfigOption(kind, value)
        assert LIB.FC_IOCGetConfigOption(kind) == value
    for bad in [highest + 1] + ([lowest - 1] if lowest else []):
        assert str(bad) in refused_with("FC_IOCSetConfigOption", kind, bad)
        assert LIB.FC_IOCGetConfigOption(kind) == highest
    LIB.fcemu_reset()
    assert LIB.FC_IOCGetConfigOption(kind) == default


def test_portset_and_port_enablement_is_kept_and_reported():
    # Through the module: the setters return None, the texts come back as str, NULL as None.
    status = lambda name: (_libfc.FC_GetPortsetStatus(name), _libfc.FC_GetPortsetMcastStatus(name))
    assert status("portset-9") == (None, None)
    assert _libfc.FC_SetHostProp("portset-9", "com.quorix.net.portset.fc.mcast.enabled", 1) is None
    assert status("portset-9") == ("enabled", "enabled")
    assert _libfc.FC_GetFlowCacheEnabled("portset-9", "12") == "enabled"
    for direction, text in [(0, "disabled"), (1, "ingress"), (2, "egress"), (3, "enabled")]:
        assert _libfc.FC_SetPortProp("portset-9", "12", direction) is None
        assert _libfc.FC_GetFlowCacheEnabled("portset-9", "12") == text
    _libfc.FC_SetHostProp("portset-9", "com.quorix.net.portset.fc.enabled", 0)
    assert status("portset-9") == ("disabled", "enabled")
    assert _libfc.FC_GetFlowCacheEnabled("portset-9", "12") == "disabled"
    assert _libfc.FC_GetFlowCacheEnabled("portset-8", "12") is None


def test_flows_arriving_on_a_port_without_ingress_caching_are_not_cached():
    LIB.FC_SetPortProp(b"portset-0", b"77", 2)
    assert add_flow(new_entry(port=77)) == -1
    assert add_flow(new_entry(port=78)) == 0
    assert stats()["unsupported"] == 1


# ---- Refusals through the trap --------------------------------------------------------------

@pytest.mark.parametrize("call, args, named", [
    ("FC_GetFlows", filter_args(daddr="02:00:00:zz:00:01"), "02:00:00:zz:00:01"),
    ("FC_GetFlows", filter_args(innerdaddr="02:00:00:00:01"), "02:00:00:00:01"),
    ("FC_RemoveFlows", filter_args(daddr="02:00:00:00:00:01:02"), "02:00:00:00:00:01:02"),
    ("FC_IOCSetConfigOption", [9, 1], "9"),
    ("FC_IOCGetConfigOption", [-1], "-1"),
    ("FC_InvalidateFCFlowEntry", [5, 7], "7"),
    ("FC_SetPortProp", [b"portset-0", b"3", 4], "4"),
    ("FC_SetHostProp", [b"portset-0", b"com.quorix.net.port.fc.enabled", 1], "com.quorix.net.port.fc.enabled"),
])
def test_bad_input_is_refused_with_value_error_naming_it_and_changes_nothing(call, args, named):
    LIB.fcemu_traffic(50, 1)
    before = (get_flows().total, inval_table()[0], [LIB.FC_IOCGetConfigOption(k) for k in range(5)])
    assert named in refused_with(call, *args)
    assert (get_flows().total, inval_table()[0], [LIB.FC_IOCGetConfigOption(k) for k in range(5)]) == before
    assert LIB.FC_GetPortsetStatus(b"portset-0") == b"enabled"


def test_an_unusable_state_directory_is_reported_as_os_error(monkeypatch, tmp_path):
    blocked = tmp_path / "not-a-directory"
    blocked.write_text("")
    monkeypatch.setenv("FC_EMU_DIR", str(blocked / "fcemu"))
    with pytest.raises(OSError, match="state directory"):
        _libfc.FC_GetFlowCacheStats()
    assert LIB.fcemu_reset() == -1 and LIB.fcemu_traffic(5, 1) == -1


# ---- A cache of real size, kept compact -------------------------------------------------

@pytest.mark.parametrize("ports, data_words, accepted", [
    (FLOW_CELLS - 1, 0, True), (FLOW_CELLS, 0, False), (1, FLOW_CELLS - 2, True), (1, FLOW_CELLS - 1, False)])
def test_a_flow_that_needs_more_than_a_record_keeps_is_refused(ports, data_words, accepted):
    entry = new_entry(dports=tuple(range(100, 100 + ports)))
    poke(entry[0].clientData, 0, b"".join(struct.pack("<I", 0x01010101 * (i + 1)) for i in range(data_words)))
    assert add_flow(entry) == (0 if accepted else -1)
    assert get_flows().total == stats()["alloc.fe"] == int(accepted)
    if accepted:
        (flow,) = all_flows()
        assert flow.entities == Flow(entry).entities


def test_every_action_entity_comes_back_as_it_was_installed():
    entry = new_entry(entities=4, dports=(5,))
    for e, entity in enumerate(entry):
        entity.actionsBitMap = 1 << ACTION["DST_PORT"] | 1 << (8 + e)
        poke(entity.clientData, 69 * e, bytes([0x11 * (e + 1)]))        # somewhere in the client data
        poke(entity.replData, 0, struct.pack("<I", e))                 # replication request
        poke(entity.dport, 0, struct.pack("<2I", 40 + e, 50 + e))
        entity.dstPortsNum = 1 + e % 2
    assert add_flow(entry) == 0
    (flow,) = all_flows()
    assert flow.entities == Flow(entry).entities and flow.num_entities == 4
    assert [e["ports"] for e in flow.entities] == [[40], [41, 51], [42], [43, 53]]


@pytest.mark.same_on_every_build
def test_a_hundred_thousand_flows_install_query_and_check_quickly():
    started = time.monotonic()
    report = traffic_report(100_000, 2)
    assert report.installed == 100_000 and report.table_full == report.inval_full == 0
    result = get_flows()
    assert result.total == 100_000 - report.evicted and result.num == MAX_FLOWS_IOC
    _, tables = hash_stats()
    third = sum(length * count for length, count in enumerate(tables[2]["lengths"]))
    assert get_flows(tid=3).total == third > 0
    remove_flows(proto=17)  # what removed flows held goes back: records, chain places, counts, references
    assert check()[0] == 0 and 0 < get_flows().total < result.total
    assert time.monotonic() - started < 30


@pytest.mark.skipif(not os.environ.get("LIBFC_SLOW"), reason="a million flows: set LIBFC_SLOW=1")
def test_a_million_flows_fit_in_a_state_file_well_under_400_mb(flow_cache):
    assert LIB.fcemu_reset_sized(128, 8192) == 0
    report = traffic_report(1_000_000, 3)
    assert report.installed == 1_000_000 and get_flows().total == 1_000_000 - report.evicted
    assert (flow_cache / "flowcache.state").stat().st_size < 300 * 1024 * 1024
    assert check()[0] == 0


# ---- Consistency: the check and the repair after a dead writer ------------------------------

HEADER_SIZE = 96        # the state file's header; the writer mark and the flow count follow it


def poke_state_word(directory, offset, value):
    with open(directory / "flowcache.state", "r+b") as state:
        state.seek(offset)
        state.write(struct.pack("<I", value))


@pytest.mark.writes_state_file
def test_the_check_reports_damage_and_a_dead_writer_s_mark_gets_it_repaired(flow_cache, capsys):
    from libfc import cli
    LIB.fcemu_traffic(300, 3)
    flows = get_flows().total
    assert check() == (0, f"consistent: {flows} flows in 16 tables of 8192 entries; "
                          "0 interrupted changes repaired so far\n")
    poke_state_word(flow_cache, HEADER_SIZE + 4, flows + 5)
    problems, text = check()
    assert problems == 1 and f"counts {flows + 5} flows" in text
    assert cli.main(["emu", "check"]) == 1 and f"counts {flows + 5} flows" in capsys.readouterr().out
    poke_state_word(flow_cache, HEADER_SIZE, 1)         # as a writer killed in the middle of a change leaves it
    problems, text = check()
    assert problems == 0 and "1 interrupted changes repaired" in text
    assert get_flows().total == flows and cli.main(["emu", "check"]) == 0


def test_writers_killed_at_random_points_leave_a_state_the_next_process_repairs(flow_cache):
    campaign = runpy.run_path(str(pathlib.Path(__file__).parent.parent / "scripts" / "crash_campaign.py"))["campaign"]
    summary = campaign(12, seed=5, build=os.path.dirname(_libfc.__file__), directory=str(flow_cache),
                                longest_delay=0.15)
    assert summary["failures"] == [] and summary["rounds"] == 12
    assert summary["repaired"] >= 6         # most kills land inside a change


def test_with_a_real_library_a_table_holds_its_buckets_full(monkeypatch):
    """A real library exports no flows-per-bucket figure: capacity is then
    what the buckets the hash statistics count hold at most."""
    assert LIB.fcemu_reset_sized(4, 1024) == 0
    monkeypatch.setattr(_emulator, "beside_module", lambda name: ctypes.CDLL(None))  # has no fcemu_ symbol
    monkeypatch.setattr(_emulator, "flows_per_bucket", functools.lru_cache(_emulator.flows_per_bucket.__wrapped__))
    buckets = [sum(table["bucket_lengths"]) for table in _cache.hash_stats()["tables"]]
    capacities = [table["capacity"] for table in _metrics.tables(_cache.hash_stats())]
    assert capacities == [count * _libfc.FC_MAX_ENTRIES_PER_CACHE_BUCKET for count in buckets] and buckets[0] > 0


def test_the_last_error_is_each_threads_own():
    failures = {}

    def fail(tables):
        assert LIB.fcemu_reset_sized(tables, 64) == -2
        failures[tables] = LIB.fcemu_last_error()

    fail(0)
    other = threading.Thread(target=fail, args=(1025,))
    other.start()
    other.join()
    assert LIB.fcemu_last_error() == failures[0] != failures[1025]

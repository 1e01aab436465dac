"""The built-in libfc.so, driven through ctypes once _libfc has loaded it:
flow queries and filters, counters, expiry, invalidation, options and
enablement, and the refusals it raises through the module's trap."""

import ctypes
import os
import pathlib
import struct
import subprocess
import tempfile
import time

import pytest

import _libfc
from _helpers import builtin_library

LIB = builtin_library("libfc.so")
for _name in ["FC_GetFlows", "FC_GetFlowCacheStats", "FC_GetFlowCacheHashStats", "FC_GetInvalTableEntries"]:
    getattr(LIB, _name).restype = ctypes.c_void_p
for _name in ["FC_GetPortsetStatus", "FC_GetPortsetMcastStatus", "FC_GetFlowCacheEnabled"]:
    getattr(LIB, _name).restype = ctypes.c_char_p
LIB.FC_IOCGetConfigOption.restype = ctypes.c_uint32

ENTRY_SIZE, ENTITY_SIZE, ENTITY_AT, INVAL_SIZE = 67670, 16689, 914, 72
FLOWKEY_IPV6, MAX_FLOWS_IOC, CACHE_FLOWS = 1, 2048, 4096
ACTION = {"DROP": 5, "DST_PORT": 7, "VDR_ROUTE": 20, "ENCAP_VXLAN": 26}
PORTID, VDRID = 2, 1
EXPR_TIME = 2

# Offsets inside a flow entry and inside FC_CacheStats.
KEY = 12
STAT = {"nhits": 48, "nmisses": 56, "failed": 0, "unsupported": 8, "multi_dest": 112,
        "alloc.fe": 160, "alloc.actionEntity": 168, "alloc.vdl2EncapData": 176, "alloc.vdrData": 184,
        "alloc.fe_fail": 192, "free.fe": 224, "free.actionEntity": 232, "free.vdl2EncapData": 240,
        "free.vdrData": 248, "encap.completed": 256 + 64 + 8, "vdr.completedV4": 256 + 200,
        "drop.completed": 256 + 248}


def u(data, offset, fmt="<I"):
    return struct.unpack_from(fmt, data, offset)[0]


def mac(data, offset):
    return ":".join(f"{b:02x}" for b in data[offset:offset + 6])


class Entry:
    """A flow entry image read from a query result."""

    def __init__(self, data):
        self.data = data

    flags = property(lambda self: u(self.data, 0, "<i"))
    flow_id = property(lambda self: u(self.data, 4, "<Q"))
    port = property(lambda self: u(self.data, KEY))
    vni = property(lambda self: u(self.data, KEY + 4))
    daddr = property(lambda self: mac(self.data, KEY + 14))
    ether = property(lambda self: u(self.data, KEY + 20, "<H"))
    vlanid = property(lambda self: u(self.data, KEY + 22, "<H"))
    ipv6 = property(lambda self: bool(self.data[KEY + 24] & FLOWKEY_IPV6))
    proto = property(lambda self: self.data[KEY + 25])
    innerdaddr = property(lambda self: mac(self.data, KEY + 34))
    sip = property(lambda self: u(self.data, KEY + 44 + (12 if self.ipv6 else 0)))
    dip = property(lambda self: u(self.data, KEY + 44 + (28 if self.ipv6 else 4)))
    pkt_count = property(lambda self: u(self.data, 720, "<Q"))
    expr_time = property(lambda self: u(self.data, 736))
    created = property(lambda self: u(self.data, 740, "<Q"))
    conf_gen = property(lambda self: u(self.data, 748, "<Q"))
    tid = property(lambda self: u(self.data, 756, "<Q"))
    num_entities = property(lambda self: u(self.data, 912, "<H"))

    def stat(self, name):
        return u(self.data, 88 + STAT[name], "<Q")

    def entity(self, i):
        return self.data[ENTITY_AT + i * ENTITY_SIZE:ENTITY_AT + (i + 1) * ENTITY_SIZE]

    def dports(self, i):
        entity = self.entity(i)
        return list(struct.unpack_from(f"<{u(entity, 16685)}I", entity, 301))

    def entity_record(self, offset):
        return self.data[offset:offset + INVAL_SIZE]

    def filter_value(self, field):
        return {"sip": self.sip, "dip": self.dip, "isV6": int(self.ipv6), "switchPort": self.port,
                "daddr": self.daddr, "vni": self.vni, "ether": self.ether, "vlanid": self.vlanid,
                "proto": self.proto, "innerdaddr": self.innerdaddr, "tid": self.tid}[field]


FILTER_FIELDS = ["sip", "dip", "isV6", "switchPort", "daddr", "vni", "ether", "vlanid", "proto", "innerdaddr", "tid"]


def filter_args(**criteria):
    args = []
    for field in FILTER_FIELDS:
        value = criteria.get(field, None if field in ("daddr", "innerdaddr") else 0)
        args.append(value.encode() if isinstance(value, str) else value)
    return args


class Result:
    """A query result buffer: header counts and entries read on demand."""

    def __init__(self, address):
        self.address = address
        self.total, self.num = struct.unpack("<II", ctypes.string_at(address, 8))

    def entry(self, i):
        assert 0 <= i < self.num
        return Entry(ctypes.string_at(self.address + 8 + i * ENTRY_SIZE, ENTRY_SIZE))

    def entries(self):
        return [self.entry(i) for i in range(self.num)]


def get_flows(**criteria):
    return Result(LIB.FC_GetFlows(*filter_args(**criteria)))


def all_flows():
    return get_flows().entries()


def stats():
    data = ctypes.string_at(LIB.FC_GetFlowCacheStats(), 632)
    return {name: u(data, offset, "<Q") for name, offset in STAT.items()}


def hash_stats():
    address = LIB.FC_GetFlowCacheHashStats()
    entries, most = struct.unpack("<HH", ctypes.string_at(address, 4))
    tables = []
    for i in range(entries):
        data = ctypes.string_at(address + 4 + 60 * i, 60)
        hits_max, hits_id, evicts_max, evicts_id, evicts, state = struct.unpack_from("<5IB", data)
        tables.append({"evicts": evicts, "evicts_max": evicts_max, "state": state,
                       "lengths": list(struct.unpack_from("<9I", data, 24))})
    return most, tables


def inval_table():
    address = LIB.FC_GetInvalTableEntries()
    generation, count = struct.unpack("<QI", ctypes.string_at(address, 12))
    table = {}
    for i in range(count):
        data = ctypes.string_at(address + 12 + INVAL_SIZE * i, INVAL_SIZE)
        key = (data[12], u(data, 8))
        table[key] = {"refs": u(data, 48, "<Q"), "gen": u(data, 56, "<Q"), "unicast": u(data, 16, "<Q"),
                      "multicast": u(data, 32, "<Q")}
    return generation, table


def new_entry(port=7, sip=0x0100000a, dip=0x0200000a, daddr=b"\x00\x50\x56\x00\x00\x02", proto=6,
              actions=(1 << ACTION["DST_PORT"]), dports=(8,), packets=1, created=0, entities=1):
    """A flow entry as the datapath hands it in."""
    data = bytearray(ENTRY_SIZE)
    struct.pack_into("<II", data, KEY, port, 0)
    data[KEY + 14:KEY + 20] = daddr
    struct.pack_into("<H", data, KEY + 20, 0x0800)
    data[KEY + 25] = proto
    struct.pack_into("<II", data, KEY + 44, sip, dip)
    struct.pack_into("<Q", data, 720, packets)
    struct.pack_into("<Q", data, 740, created)
    struct.pack_into("<H", data, 912, entities)
    struct.pack_into("<Q", data, ENTITY_AT, actions)
    struct.pack_into(f"<{len(dports)}I", data, ENTITY_AT + 301, *dports)
    struct.pack_into("<I", data, ENTITY_AT + 16685, len(dports))
    return data


def add_flow(data):
    return LIB.fcemu_add_flow((ctypes.c_char * len(data)).from_buffer(data))


def refused_with(name, *args):
    """The message of the ValueError the library raises through the module's trap."""
    with pytest.raises(ValueError) as info:
        getattr(_libfc, name)(*[a.decode() if isinstance(a, bytes) else a for a in args])
    return str(info.value)


@pytest.fixture(autouse=True)
def cache(monkeypatch):
    """A private, empty flow cache for every test.  It lives in memory where
    it can: freeing a disk file's blocks costs seconds on some disks."""
    parent = "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None
    with tempfile.TemporaryDirectory(prefix="fcemu-test-", dir=parent) as directory:
        monkeypatch.setenv("FC_EMU_DIR", directory)
        assert LIB.fcemu_reset() == 0
        yield pathlib.Path(directory)


# ---- The library as a file --------------------------------------------------

def test_only_the_interface_is_exported_and_the_module_finds_the_library_beside_it():
    defined = subprocess.run(["nm", "-D", "--defined-only", LIB._name], capture_output=True, text=True).stdout
    names = {line.split()[-1] for line in defined.splitlines() if line.split()[-2] in "TtDdBbRr"}
    assert {n for n in names if not n.startswith("_")} == {
        "FC_GetFlows", "FC_RemoveFlows", "FC_GetFlowCacheStats", "FC_GetFlowCacheHashStats",
        "FC_GetInvalTableEntries", "FC_InvalidateFCFlowEntry", "FC_InvalidateFlowsIoctl",
        "FC_IOCSetConfigOption", "FC_IOCGetConfigOption", "FC_SetPortProp", "FC_SetHostProp",
        "FC_GetPortsetStatus", "FC_GetPortsetMcastStatus", "FC_GetFlowCacheEnabled",
        "fcemu_reset", "fcemu_add_flow", "fcemu_traffic", "fcemu_traffic_from", "fcemu_fail_next",
            "fcemu_last_error", "fcemu_state_dir"}
    dynamic = subprocess.run(["readelf", "-d", _libfc.__file__], capture_output=True, text=True).stdout
    assert "[libfc.so]" in dynamic and "$ORIGIN" in dynamic


# ---- Queries ------------------------------------------------------------------

@pytest.mark.parametrize("field", FILTER_FIELDS)
def test_each_filter_value_selects_exactly_the_matching_flows(field):
    assert LIB.fcemu_traffic(400, 11) > 390
    flows = all_flows()
    values = [f.filter_value(field) for f in flows if f.filter_value(field) not in (0, "00:00:00:00:00:00")]
    wanted = values[len(values) // 3]
    expected = {f.flow_id for f in flows if f.filter_value(field) == wanted}
    got = get_flows(**{field: wanted})
    assert {e.flow_id for e in got.entries()} == expected
    assert got.total == got.num == len(expected) < len(flows)


def test_criteria_combine_and_zero_values_are_wildcards():
    LIB.fcemu_traffic(400, 12)
    flows = all_flows()
    sample = flows[5]
    expected = {f.flow_id for f in flows if f.port == sample.port and f.proto == sample.proto}
    assert {e.flow_id for e in get_flows(switchPort=sample.port, proto=sample.proto).entries()} == expected
    everything = {f.flow_id for f in flows}
    for wildcard in [{}, {"daddr": ""}, {"daddr": "00:00:00:00:00:00"}, {"innerdaddr": "0-0-0-0-0-0"}]:
        assert {e.flow_id for e in get_flows(**wildcard).entries()} == everything
    # Addresses may be spelt in capitals, with dashes or single digits.
    spelt = sample.daddr.upper().replace(":", "-")
    assert sample.flow_id in {e.flow_id for e in get_flows(daddr=spelt).entries()}


def test_flows_come_back_oldest_first_and_the_buffer_holds_at_most_the_ioc_limit():
    installed = LIB.fcemu_traffic(2200, 3)
    result = get_flows()
    assert result.total == stats()["alloc.fe"] - stats()["free.fe"] > MAX_FLOWS_IOC
    assert result.num == MAX_FLOWS_IOC
    ids = [result.entry(i).flow_id for i in (0, 1, MAX_FLOWS_IOC - 1)]
    assert ids == sorted(ids) and installed >= result.total


def test_remove_flows_removes_the_matching_flows_only():
    LIB.fcemu_traffic(300, 4)
    flows = all_flows()
    port = flows[0].port
    LIB.FC_RemoveFlows(*filter_args(switchPort=port))
    left = all_flows()
    assert {f.flow_id for f in left} == {f.flow_id for f in flows if f.port != port}
    LIB.FC_RemoveFlows(*filter_args())
    assert get_flows().total == 0
    assert stats()["free.fe"] == stats()["alloc.fe"] == len(flows)


# ---- Installing flows and their counters ----------------------------------------

def test_an_installed_flow_reports_what_it_was_given_and_what_the_cache_added():
    before = time.time() * 1000
    encap = (1 << ACTION["DST_PORT"]) | (1 << ACTION["ENCAP_VXLAN"])
    assert add_flow(new_entry(port=21, dports=(30, 31, 32), actions=encap, packets=5)) == 0
    (entry,) = all_flows()
    assert (entry.port, entry.sip, entry.dip, entry.daddr, entry.proto) == (21, 0x0100000a, 0x0200000a, "00:50:56:00:00:02", 6)
    assert entry.dports(0) == [30, 31, 32] and entry.num_entities == 1
    assert entry.flags & 1 and entry.flags & 4          # in use, several destinations
    assert 1 <= entry.tid <= 4 and entry.pkt_count == 5
    assert before - 5 <= entry.created <= time.time() * 1000 + 5
    assert entry.conf_gen == inval_table()[0] and 179 <= entry.expr_time <= 180
    assert u(entry.entity_record(836), 8) == 21 and u(entry.entity_record(764), 8) == 30
    assert (entry.stat("nmisses"), entry.stat("nhits"), entry.stat("encap.completed")) == (1, 4, 5)


def test_counters_follow_misses_hits_allocations_and_frees():
    routed = (1 << ACTION["DST_PORT"]) | (1 << ACTION["VDR_ROUTE"])
    add_flow(new_entry(packets=5, actions=routed))
    after_install = stats()
    assert {k: after_install[k] for k in ("nmisses", "nhits", "alloc.fe", "alloc.actionEntity", "alloc.vdrData",
                                          "vdr.completedV4")} == {
        "nmisses": 1, "nhits": 4, "alloc.fe": 1, "alloc.actionEntity": 1, "alloc.vdrData": 1, "vdr.completedV4": 5}
    add_flow(new_entry(packets=3, actions=routed))      # the same key: a hit
    (entry,) = all_flows()
    assert (entry.pkt_count, entry.stat("nhits"), stats()["nhits"], stats()["alloc.fe"]) == (8, 7, 7, 1)
    LIB.FC_RemoveFlows(*filter_args())
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
    LIB.fcemu_traffic(3000, 5)
    most, tables = hash_stats()
    assert most == len(tables) == 4
    flows = get_flows().total
    assert all(sum(t["lengths"]) == 256 for t in tables)
    assert sum(length * count for t in tables for length, count in enumerate(t["lengths"])) == flows
    assert sum(t["evicts"] for t in tables) == stats()["free.fe"] == 3000 - flows > 0
    assert all(t["evicts_max"] <= t["evicts"] and t["state"] == 0 for t in tables)


@pytest.mark.parametrize("change", ["entities", "dports", "key_flags"])
def test_a_malformed_flow_is_refused_and_changes_nothing(change):
    data = new_entry()
    if change == "entities":
        struct.pack_into("<H", data, 912, 5)
    elif change == "dports":
        struct.pack_into("<I", data, ENTITY_AT + 16685, 4097)
    else:
        data[KEY + 24] = 2
    assert add_flow(data) == -1
    assert get_flows().total == 0 and stats()["alloc.fe"] == 0


def test_a_full_cache_refuses_new_flows_and_counts_the_failures():
    installed = LIB.fcemu_traffic(CACHE_FLOWS + 300, 6)
    assert get_flows().total == CACHE_FLOWS and installed >= CACHE_FLOWS
    assert add_flow(new_entry(port=99999)) == -1
    assert stats()["alloc.fe_fail"] >= 1


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
        routed = [f.entity(i) for i in range(f.num_entities) if u(f.entity(i), 0, "<Q") >> ACTION["VDR_ROUTE"] & 1]
        keys += [(VDRID, u(e, 8 + 171 + 14 + 4)) for e in routed[:1]]
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
    status = lambda name: (LIB.FC_GetPortsetStatus(name), LIB.FC_GetPortsetMcastStatus(name))
    assert status(b"DvsPortset-9") == (None, None)
    LIB.FC_SetHostProp(b"DvsPortset-9", b"com.quorix.net.portset.fc.mcast.enabled", 1)
    assert status(b"DvsPortset-9") == (b"enabled", b"enabled")
    assert LIB.FC_GetFlowCacheEnabled(b"DvsPortset-9", b"12") == b"enabled"
    for direction, text in [(0, b"disabled"), (1, b"ingress"), (2, b"egress"), (3, b"enabled")]:
        LIB.FC_SetPortProp(b"DvsPortset-9", b"12", direction)
        assert LIB.FC_GetFlowCacheEnabled(b"DvsPortset-9", b"12") == text
    LIB.FC_SetHostProp(b"DvsPortset-9", b"com.quorix.net.portset.fc.enabled", 0)
    assert status(b"DvsPortset-9") == (b"disabled", b"enabled")
    assert LIB.FC_GetFlowCacheEnabled(b"DvsPortset-9", b"12") == b"disabled"
    assert LIB.FC_GetFlowCacheEnabled(b"DvsPortset-8", b"12") is None


def test_flows_arriving_on_a_port_without_ingress_caching_are_not_cached():
    LIB.FC_SetPortProp(b"DvsPortset-0", b"77", 2)
    assert add_flow(new_entry(port=77)) == -1
    assert add_flow(new_entry(port=78)) == 0
    assert stats()["unsupported"] == 1


# ---- Refusals through the trap --------------------------------------------------------------

@pytest.mark.parametrize("call, args, named", [
    ("FC_GetFlows", filter_args(daddr="00:50:56:zz:00:01"), "00:50:56:zz:00:01"),
    ("FC_GetFlows", filter_args(innerdaddr="00:50:56:00:01"), "00:50:56:00:01"),
    ("FC_RemoveFlows", filter_args(daddr="00:50:56:00:00:01:02"), "00:50:56:00:00:01:02"),
    ("FC_IOCSetConfigOption", [9, 1], "9"),
    ("FC_IOCGetConfigOption", [-1], "-1"),
    ("FC_InvalidateFCFlowEntry", [5, 7], "7"),
    ("FC_SetPortProp", [b"DvsPortset-0", b"3", 4], "4"),
    ("FC_SetHostProp", [b"DvsPortset-0", b"com.quorix.net.port.fc.enabled", 1], "com.quorix.net.port.fc.enabled"),
])
def test_bad_input_is_refused_with_value_error_naming_it_and_changes_nothing(call, args, named):
    LIB.fcemu_traffic(50, 1)
    before = (get_flows().total, inval_table()[0], [LIB.FC_IOCGetConfigOption(k) for k in range(5)])
    assert named in refused_with(call, *args)
    assert (get_flows().total, inval_table()[0], [LIB.FC_IOCGetConfigOption(k) for k in range(5)]) == before
    assert LIB.FC_GetPortsetStatus(b"DvsPortset-0") == b"enabled"


def test_an_unusable_state_directory_is_reported_as_os_error(monkeypatch, tmp_path):
    blocked = tmp_path / "not-a-directory"
    blocked.write_text("")
    monkeypatch.setenv("FC_EMU_DIR", str(blocked / "fcemu"))
    with pytest.raises(OSError, match="state directory"):
        _libfc.FC_GetFlowCacheStats()
    assert LIB.fcemu_reset() == -1 and LIB.fcemu_traffic(5, 1) == -1

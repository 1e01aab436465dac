"""The record operations measured side by side: the same records made once
per implementation, and one row per operation with the statement each
implementation runs for it.

Columns: the do-nothing extension function called with the bare call's
arguments, _libfc's functions on a bare pointer object, the companion
package's attributes, then the peers."""

import ctypes

import _libfc
import _swigtest
import bench_cffi_api
import bench_nanobind
import bench_pybind11
import cffi_records
import ctypes_records
import libfc

# Column title -> the suffix of that column's objects in the statements.
COLUMNS = {"noop": "bare", "_libfc": "bare", "libfc": "comp", "ctypes": "ct", "cffi ABI": "abi",
           "cffi API": "api", "pybind11": "pb", "nanobind": "nb"}
ATTRIBUTE_COLUMNS = ["libfc", "ctypes", "cffi ABI", "cffi API", "pybind11", "nanobind"]

SMALL, LARGE = 7, 123_456_789_012
MAC = bytes.fromhex("001a2b3c4d5e")


class Row:
    """One operation: the statement per column, and the ratios to report as
    (numerator column, denominator column, target or None, 'max'/'min')."""

    def __init__(self, label, stmts, ratios):
        self.label = label
        self.stmts = stmts
        self.ratios = ratios


def _records(env):
    """Fills env with each implementation's records, set up alike."""
    abi = cffi_records.abi_ffi()
    api = bench_cffi_api.ffi
    makers = {
        "bare": lambda name: getattr(_libfc, "new_" + name)(),
        "comp": lambda name: getattr(libfc, name)(),
        "ct": lambda name: getattr(ctypes_records, name)(),
        "abi": lambda name: abi.new(name + " *"),
        "api": lambda name: api.new(name + " *"),
        "pb": lambda name: getattr(bench_pybind11, name)(),
        "nb": lambda name: getattr(bench_nanobind, name)(),
    }
    for suffix, make in makers.items():
        stats = make("hyp_FabPortStatistics")
        header = make("hyp_IPv4Hdr")
        key = make("FC_FlowKey")
        entry = make("FC_FlowEntryIOC")
        env["stats_" + suffix], env["ip_" + suffix], env["key_" + suffix], env["entry_" + suffix] = (
            stats, header, key, entry)
        if suffix == "bare":
            _libfc.hyp_FabPortStatistics_pktsInUnicast_set(stats, SMALL)
            _libfc.hyp_FabPortStatistics_bytesInUnicast_set(stats, LARGE)
            _libfc.hyp_IPv4Hdr_totalLength_set(header, 1500)
            _libfc.hyp_IPv4Hdr_version_set(header, 4)
            env["l2_bare"] = _libfc.FC_FlowKey_l2Key_get(key)
        else:
            stats.pktsInUnicast, stats.bytesInUnicast = SMALL, LARGE
            header.totalLength, header.version = 1500, 4
            env["l2_" + suffix] = key.l2Key
    env.update(abi=abi, api=api)
    # What each implementation takes as a hardware address.
    env["mac_bare"] = libfc.mac(MAC.hex(":")).this
    env["mac_comp"] = libfc.mac(MAC.hex(":"))
    env["mac_ct"] = (ctypes.c_uint8 * 6)(*MAC)
    env["mac_abi"] = abi.new("unsigned char[6]", list(MAC))
    env["mac_api"] = api.new("unsigned char[6]", list(MAC))
    env["mac_pb"] = env["mac_nb"] = MAC
    # Classes for construction + drop.
    for name in ("FC_FlowKey", "FC_FlowEntryIOC"):
        env["new_" + name] = getattr(_libfc, "new_" + name)
        for suffix, module in (("comp", libfc), ("ct", ctypes_records), ("pb", bench_pybind11),
                               ("nb", bench_nanobind)):
            env[name + "_" + suffix] = getattr(module, name)


def _functions(env):
    env["noop"] = _swigtest.swigtest_do_nothing
    for record, field in (("hyp_FabPortStatistics", "pktsInUnicast"), ("hyp_FabPortStatistics", "bytesInUnicast"),
                          ("hyp_IPv4Hdr", "totalLength"), ("hyp_IPv4Hdr", "version"), ("hyp_IPv4Hdr", "ttl"),
                          ("FC_l2Key", "daddr"), ("FC_FlowEntryIOC", "fkey")):
        for way in ("get", "set"):
            name = "%s_%s_%s" % (record, field, way)
            if hasattr(_libfc, name):
                env[name] = getattr(_libfc, name)


def make_env():
    env = {}
    _records(env)
    _functions(env)
    return env


def _attributes(template, **overrides):
    """The statement for every attribute column from one template naming the
    column's object by {s} (its suffix)."""
    stmts = {column: template.format(s=COLUMNS[column]) for column in ATTRIBUTE_COLUMNS}
    stmts.update(overrides)
    return stmts


def _refused(stmt):
    return "try:\n    %s\nexcept (TypeError, OverflowError, ValueError):\n    pass" % stmt


GETTER = [("_libfc", "noop", 1.15, "max"), ("libfc", "ctypes", 1.0, "max")]
SETTER = [("_libfc", "noop", 1.25, "max"), ("libfc", "ctypes", 1.0, "max")]
CONSTRUCT = [("_libfc", "ctypes", 1.5, "max"), ("libfc", "ctypes", 1.0, "max"), ("libfc", "nanobind", 1.3, "max")]
REFUSED = [("_libfc", "noop", 4.0, "max"), ("libfc", "ctypes", None, "max")]


def rows():
    mac_text = "{0}.buffer(l2_{0}.daddr)[:].hex(':')"
    mac_copy = "{0}.memmove(l2_{0}.daddr, mac_{0}, 6)"
    return [
        Row("u64 get (small int)", dict(
            noop="noop(stats_bare)", _libfc="hyp_FabPortStatistics_pktsInUnicast_get(stats_bare)",
            **_attributes("stats_{s}.pktsInUnicast")), GETTER),
        Row("u64 get (new int)", dict(
            noop="noop(stats_bare)", _libfc="hyp_FabPortStatistics_bytesInUnicast_get(stats_bare)",
            **_attributes("stats_{s}.bytesInUnicast")), GETTER),
        Row("u64 set", dict(
            noop="noop(stats_bare, 7)", _libfc="hyp_FabPortStatistics_pktsInUnicast_set(stats_bare, 7)",
            **_attributes("stats_{s}.pktsInUnicast = 7")), SETTER),
        Row("u16 get, packed record", dict(
            noop="noop(ip_bare)", _libfc="hyp_IPv4Hdr_totalLength_get(ip_bare)",
            **_attributes("ip_{s}.totalLength")), GETTER),
        Row("u16 set, packed record", dict(
            noop="noop(ip_bare, 1500)", _libfc="hyp_IPv4Hdr_totalLength_set(ip_bare, 1500)",
            **_attributes("ip_{s}.totalLength = 1500")), SETTER),
        Row("bit-field get", dict(
            noop="noop(ip_bare)", _libfc="hyp_IPv4Hdr_version_get(ip_bare)",
            **_attributes("ip_{s}.version")), GETTER),
        Row("bit-field set", dict(
            noop="noop(ip_bare, 4)", _libfc="hyp_IPv4Hdr_version_set(ip_bare, 4)",
            **_attributes("ip_{s}.version = 4")), SETTER),
        Row("hw address get (text)", dict(
            noop="noop(l2_bare)", _libfc="FC_l2Key_daddr_get(l2_bare)",
            **_attributes("l2_{s}.daddr", ctypes="bytes(l2_ct.daddr).hex(':')",
                          **{"cffi ABI": mac_text.format("abi"), "cffi API": mac_text.format("api")})), GETTER),
        Row("hw address set", dict(
            noop="noop(l2_bare, mac_bare)", _libfc="FC_l2Key_daddr_set(l2_bare, mac_bare)",
            **_attributes("l2_{s}.daddr = mac_{s}",
                          **{"cffi ABI": mac_copy.format("abi"), "cffi API": mac_copy.format("api")})), SETTER),
        Row("nested record view", dict(
            noop="noop(entry_bare)", _libfc="FC_FlowEntryIOC_fkey_get(entry_bare)",
            **_attributes("entry_{s}.fkey")), GETTER),
        Row("new FC_FlowKey + drop", dict(
            noop="noop()", _libfc="new_FC_FlowKey()",
            **_attributes("FC_FlowKey_{s}()", **{"cffi ABI": "abi.new('FC_FlowKey *')",
                                                 "cffi API": "api.new('FC_FlowKey *')"})), CONSTRUCT),
        Row("new FC_FlowEntryIOC + drop", dict(
            noop="noop()", _libfc="new_FC_FlowEntryIOC()",
            **_attributes("FC_FlowEntryIOC_{s}()", **{"cffi ABI": "abi.new('FC_FlowEntryIOC *')",
                                                      "cffi API": "api.new('FC_FlowEntryIOC *')"})), CONSTRUCT),
        Row("refused value: str for u64", dict(
            noop="noop(stats_bare, 'x')", _libfc=_refused("hyp_FabPortStatistics_pktsInUnicast_set(stats_bare, 'x')"),
            **_attributes(_refused("stats_{s}.pktsInUnicast = 'x'"))), REFUSED),
        # ctypes stores 256 in a one-byte field as 0 without a word, so it has
        # no refusal to time here.
        Row("refused value: 256 for u8", dict(
            noop="noop(ip_bare, 256)", _libfc=_refused("hyp_IPv4Hdr_ttl_set(ip_bare, 256)"),
            **_attributes(_refused("ip_{s}.ttl = 256"), ctypes=None)),
            [("_libfc", "noop", 4.0, "max"), ("libfc", "cffi API", None, "max")]),
    ]

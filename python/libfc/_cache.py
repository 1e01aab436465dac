"""The flow cache read as plain Python values: the cached flows as ``Flow``
objects, read lazily over the whole cache, and the counters, hash tables
and invalidation table as JSON-ready dicts and lists (the shape the
command line's --json prints).  The one place each kind of record is
decoded; the command line is built on these functions."""

import _libfc

from . import _addresses
from ._locking import FLOW_CACHE, holding
from ._record import _Record

# The exporter answers each scrape in a thread of its own, and any caller
# may use threads: the readers of the library's result buffers hold its lock.
_locked = holding(FLOW_CACHE)

# Typing names are quoted and imported only by type checkers, as in _record.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from ipaddress import IPv4Address, IPv6Address
    from typing import Any, Callable, Dict, List, Optional, TypedDict, Union

    from typing_extensions import Unpack

    from ._walk import Walk

    # The keywords of FILTERS as flows() takes them, for type checkers.
    class FlowFilter(TypedDict, total=False):
        src: Union[IPv4Address, IPv6Address, str, None]
        dst: Union[IPv4Address, IPv6Address, str, None]
        v6: Optional[bool]
        port: Optional[int]
        dmac: Union[str, bytes, None]
        vni: Optional[int]
        ether: Optional[int]
        vlan: Optional[int]
        proto: Optional[int]
        inner_dmac: Union[str, bytes, None]
        table: Optional[int]

    class HashTable(TypedDict):
        state: str
        hits_max: int
        hits_max_bucket: int
        evicts_max: int
        evicts_max_bucket: int
        evicts_total: int
        bucket_lengths: List[int]

    class HashStats(TypedDict):
        max_tables: int
        tables: List[HashTable]

    InvalEntity = TypedDict("InvalEntity", {
        "type": str, "id": int, "refs": int, "generation": int, "flags": int, "dir": int,
        "unicast_packets": int, "unicast_bytes": int, "multicast_packets": int, "multicast_bytes": int,
    })

    class InvalTable(TypedDict):
        generation: int
        entities: List[InvalEntity]

# The package imports this module; the walk and ipaddress are imported at
# the first call instead, so importing the package stays cheap.

# Filter keywords: the FC_GetFlows criterion each sets and the largest value
# it takes (None for the ones that are not numbers).  Zero, or a MAC of
# zeros, matches every flow, as leaving the keyword out does.
FILTERS = {
    "src": ("sip", None),
    "dst": ("dip", None),
    "v6": ("isV6", None),
    "port": ("switchPort", 2 ** 32 - 1),
    "dmac": ("daddr", None),
    "vni": ("vni", 2 ** 24 - 1),
    "ether": ("ether", 2 ** 16 - 1),
    "vlan": ("vlanid", 4095),
    "proto": ("proto", 255),
    "inner_dmac": ("innerdaddr", None),
    "table": ("tid", 2 ** 32 - 1),
}


def criteria(spell: "Callable[[str], str]" = str, **filter: "Any") -> "Dict[str, Any]":
    """The FC_GetFlows criteria (names of ``_walk.FIELDS``) of a filter, or
    ValueError naming the keyword as ``spell`` writes it."""
    result: "Dict[str, Any]" = {}
    for keyword, value in filter.items():
        if keyword not in FILTERS:
            raise TypeError("unknown flow filter %r (one of %s)" % (keyword, ", ".join(FILTERS)))
        field, most = FILTERS[keyword]
        if value is None:
            continue
        if most is not None:
            if isinstance(value, bool) or not isinstance(value, int):
                raise TypeError("%s takes an int, not %s" % (spell(keyword), type(value).__name__))
            if not 0 <= value <= most:
                raise ValueError("%s %d is outside 0..%d" % (spell(keyword), value, most))
            result[field] = value
        elif keyword in ("dmac", "inner_dmac"):
            result[field] = _mac_text(value, spell(keyword))
        elif keyword == "v6":
            result[field] = 1 if value else 0
    addresses = {}
    for keyword in ("src", "dst"):
        if filter.get(keyword) is not None:
            addresses[keyword] = _address(filter[keyword], spell(keyword))
    versions = {address.version for address in addresses.values()}
    if len(versions) > 1:
        raise ValueError("%s and %s are of different address families" % (spell("src"), spell("dst")))
    if filter.get("v6") and versions == {4}:
        raise ValueError("%s with an IPv4 address" % spell("v6"))
    if versions == {6}:
        result["isV6"] = 1
    for keyword, address in addresses.items():
        result[FILTERS[keyword][0]] = _addresses.key_word(address.packed)
    return result


def _address(value: "Any", name: str) -> "Any":
    import ipaddress

    try:
        return ipaddress.ip_address(value)
    except ValueError:
        raise ValueError("%s: not an IP address: %r" % (name, value)) from None


def _mac_text(value: "Any", name: str) -> "Optional[str]":
    """A MAC as the queries take it, or None (every flow) for an empty or
    all-zero one."""
    if value in ("", b""):
        return None
    try:
        octets = bytes(value) if isinstance(value, (bytes, bytearray)) else _addresses.mac_bytes(value)
    except (ValueError, TypeError):
        raise ValueError("%s: not a hardware address: %r (like 02:00:00:aa:bb:cc)" % (name, value)) from None
    if len(octets) != 6:
        raise ValueError("%s: a hardware address has 6 bytes, not %d" % (name, len(octets)))
    return ":".join("%02x" % octet for octet in octets) if any(octets) else None


def query_arguments(spell: "Callable[[str], str]" = str, **filter: "Any") -> "List[Any]":
    """The eleven FC_GetFlows (and FC_RemoveFlows) arguments of a filter."""
    from . import _walk

    chosen = criteria(spell, **filter)
    return [chosen.get(name, _walk.WILDCARD[name]) for name in _walk.FIELDS]


def flows(**filter: "Unpack[FlowFilter]") -> "Walk":
    """Every cached flow that matches the filter, as ``Flow`` objects, read
    lazily one query's worth at a time.  Keywords: ``src``, ``dst``
    (``ipaddress`` objects or text), ``v6``, ``port``, ``dmac``, ``vni``,
    ``ether``, ``vlan``, ``proto``, ``inner_dmac`` (MAC text) and ``table``;
    every given one must match.  The result is a ``Walk``: after the
    iteration its ``total`` tells how many flows matched when it began and
    ``unreachable`` how many it could not reach."""
    return walk(criteria(**filter))


def walk(chosen: "Dict[str, Any]") -> "Walk":
    """The walk over the flows that match criteria made by ``criteria``."""
    from . import _walk

    return _walk.Walk(chosen)


def counter_tree(record: "_Record") -> "Dict[str, Any]":
    """The counters of a counter block as a dict, nested blocks as nested
    dicts, both in declaration order (the order of the class's fields)."""
    tree: "Dict[str, Any]" = {}
    for name, value in vars(type(record)).items():
        if not isinstance(value, property) or name == "thisown":
            continue
        field = getattr(record, name)
        if isinstance(field, int):
            tree[name] = field
        elif isinstance(field, _Record):
            tree[name] = counter_tree(field)
    return tree


@_locked
def stats() -> "Dict[str, Any]":
    """The cache's counters (FC_GetFlowCacheStats) as nested dicts of ints,
    in declaration order; empty when the library has none."""
    record = _libfc.FC_GetFlowCacheStats()
    return counter_tree(record) if record is not None else {}


# The cache's configuration options: snake_case name and the constant the
# library knows each by, in FC_ConfigOptionTypeIOC order.
OPTION_CONSTANTS = {
    "stats_level": "FC_IOC_STATS_LEVEL",
    "log_level": "FC_IOC_LOG_LEVEL",
    "expr_time": "FC_IOC_EXPR_TIME",
    "aging_interval": "FC_IOC_AGING_INTERVAL",
    "disable_threshold": "FC_IOC_DISABLE_THRESHOLD",
}


def options() -> "Dict[str, int]":
    """Every configuration option's value (FC_IOCGetConfigOption), by name."""
    return {name: _libfc.FC_IOCGetConfigOption(getattr(_libfc, constant))
            for name, constant in OPTION_CONSTANTS.items()}


def _state_name(state: int) -> str:
    return {_libfc.FC_STATE_ENABLED: "enabled", _libfc.FC_STATE_DISABLED: "disabled"}.get(state, "state %d" % state)


@_locked
def hash_stats() -> "HashStats":
    """The hash tables (FC_GetFlowCacheHashStats): ``max_tables`` and, per
    table, its state, hit and eviction maxima and ``bucket_lengths``, the
    count of buckets of each length."""
    record = _libfc.FC_GetFlowCacheHashStats()
    if record is None:
        return {"max_tables": 0, "tables": []}
    tables: "List[HashTable]" = []
    for table in record:  # copies: the buffer is the library's
        tables.append({
            "state": _state_name(table.fcState),
            "hits_max": table.nHitsMax, "hits_max_bucket": table.nHitsMaxBcktId,
            "evicts_max": table.nEvictsMax, "evicts_max_bucket": table.nEvictsMaxBcktId,
            "evicts_total": table.nEvictsTotal,
            "bucket_lengths": list(table),
        })
    return {"max_tables": record.maxEntries, "tables": tables}


INVAL_KEY_TYPES = {
    _libfc.FC_INVAL_HASH_KEY_TYPE_INVALID: "invalid",
    _libfc.FC_INVAL_HASH_KEY_TYPE_VDRID: "vdr",
    _libfc.FC_INVAL_HASH_KEY_TYPE_PORTID: "port",
}


@_locked
def inval_entries() -> "InvalTable":
    """The invalidation table (FC_GetInvalTableEntries): the global
    ``generation`` and one dict per entity: key ``type`` and ``id``,
    references, generation, flags, direction and port traffic."""
    table = _libfc.FC_GetInvalTableEntries()
    if table is None:
        return {"generation": 0, "entities": []}
    entities: "List[InvalEntity]" = []
    for entity in table:
        key = entity.ikey
        traffic = entity.sPortStats
        entities.append({
            "type": INVAL_KEY_TYPES.get(key.type, "type %d" % key.type),
            "id": key.val.vdrId,  # vdrId and portId share the value
            "refs": entity.refCount,
            "generation": entity.confGen,
            "flags": entity.flags,
            "dir": entity.dir,
            "unicast_packets": traffic.pktsInUnicast,
            "unicast_bytes": traffic.bytesInUnicast,
            "multicast_packets": traffic.pktsInMulticast,
            "multicast_bytes": traffic.bytesInMulticast,
        })
    return {"generation": table.globalConfGen, "entities": entities}


__all__ = ["flows", "hash_stats", "inval_entries", "stats"]

"""One cached flow as a plain Python object, decoded from a flow entry of a
query answer; the one place that knows how an entry reads as a flow."""

import ipaddress
import socket
import time
from json.encoder import encode_basestring_ascii

import _libfc
from _libfc_fields import flow_object as _flow_object

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Callable, ClassVar, Dict, List, Optional, Tuple, Union

    _Address = Union[ipaddress.IPv4Address, ipaddress.IPv6Address]
    # One action entity: its action names and its destination ports.
    _Entity = Tuple[List[str], List[int]]


def _action_names():
    """Bit n of an action bit map stands for the FC_ACTION_* constant n."""
    names = {}
    for name, value in vars(_libfc).items():
        if name.startswith("FC_ACTION_") and isinstance(value, int) and name != "FC_ACTION_MAX":
            names[value] = name[len("FC_ACTION_"):].lower()
    return names


ACTION_NAMES = _action_names()

# Names of the protocol and ether type numbers a flow key holds; a number
# without a name is shown as a number only.
PROTOCOL_NAMES = {1: "icmp", 2: "igmp", 6: "tcp", 17: "udp", 47: "gre", 50: "esp", 58: "icmpv6", 132: "sctp"}
ETHER_TYPE_NAMES = {0x0800: "ipv4", 0x0806: "arp", 0x8100: "vlan", 0x86DD: "ipv6", 0x8847: "mpls", 0x88CC: "lldp"}
# The same names as JSON values, for json_text(), whose every text is a
# JSON string as json.dumps spells it (the C encoder's, quotes included).
_json_string = encode_basestring_ascii
_PROTOCOL_JSON = {number: _json_string(name) for number, name in PROTOCOL_NAMES.items()}
_ETHER_TYPE_JSON = {number: _json_string(name) for number, name in ETHER_TYPE_NAMES.items()}
_ntop, _pton, _AF_INET, _AF_INET6 = socket.inet_ntop, socket.inet_pton, socket.AF_INET, socket.AF_INET6


_names_of_map: "Dict[int, Tuple[str, ...]]" = {}


def action_names(bit_map: int) -> "List[str]":
    """The action names of a bit map, lowest bit first (a fresh list; the
    few bit maps a cache uses are worked out once)."""
    names = _names_of_map.get(bit_map)
    if names is None:
        names = tuple(ACTION_NAMES.get(bit, "bit%d" % bit) for bit in range(64) if bit_map >> bit & 1)
        if len(_names_of_map) < 4096:
            _names_of_map[bit_map] = names
    return list(names)


# A flow's fields, each once, in the order of its JSON object (docs/json.md,
# and each flow line of a snapshot): the key, the Flow attribute it is made
# of, and its form. The names of a number stand beside it under the same
# key with "_name" added. Flow's fields, json_text(), as_dict() and the
# snapshot reader's checks and Flows are made from it.
JSON_FIELDS = (
    ("id", "id", "number"), ("flags", "flags", "number"), ("table", "table", "number"),
    ("port", "port", "number"), ("vni", "vni", "number"), ("ipv6", "ipv6", "bool"), ("src", "src", "address"),
    ("dst", "dst", "address"), ("proto", "proto", "number"), ("proto_name", "proto", "protocol name"),
    ("ether_type", "ether", "number"), ("ether_type_name", "ether", "ether type name"), ("vlan", "vlan", "number"),
    ("src_mac", "src_mac", "text"), ("dst_mac", "dst_mac", "text"), ("inner_dst_mac", "inner_dst_mac", "text"),
    ("entities", "entities", "entities"), ("packets", "packets", "number"), ("age_s", "age_s", "number"),
    ("expires_in_s", "expires_in_s", "number"),
)
# The keys of an entity's object, and of the rate `flows --watch` adds last.
ENTITY_KEYS = ("actions", "dst_ports")
RATE_KEY = "packets_per_second"
# Every key of a JSON line, in the order the C writer of lines takes them.
TEXT_KEYS = tuple(key for key, _, _ in JSON_FIELDS) + ENTITY_KEYS + (RATE_KEY,)
# The forms that name a number and hold nothing of their own.
NAME_FORMS = {"protocol name": PROTOCOL_NAMES, "ether type name": ETHER_TYPE_NAMES}

# Each form as json_text() spells it (a %-format and the expression of its
# value, of a Flow `f`) and as_dict() gives it.
_JSON_FORMS = {
    "number": ("%d", "f.{0}"),
    "bool": ("%s", '"true" if f.{0} else "false"'),
    "address": ("%s", "_json_string(f.{0}_text)"),
    "text": ("%s", "_json_string(f.{0})"),
    "protocol name": ("%s", '_PROTOCOL_JSON.get(f.{0}, "null")'),
    "ether type name": ("%s", '_ETHER_TYPE_JSON.get(f.{0}, "null")'),
    "entities": ("[%s]", "_entities_json(f.{0})"),
}
_PLAIN_FORMS = {
    "number": "f.{0}", "bool": "f.{0}", "text": "f.{0}", "address": "f.{0}_text",
    "protocol name": "PROTOCOL_NAMES.get(f.{0})", "ether type name": "ETHER_TYPE_NAMES.get(f.{0})",
    "entities": '[{{%r: names, %r: ports}} for names, ports in f.{0}]' % ENTITY_KEYS,
}


def _entities_json(entities: "List[_Entity]") -> str:
    return ",".join(_ENTITY_JSON % (",".join(map(_json_string, names)), ",".join(map(str, ports)))
                    for names, ports in entities)


_ENTITY_JSON = '{"%s":[%%s],"%s":[%%s]}' % ENTITY_KEYS


def _made_of_fields(name: str, body: str) -> "Callable[[Flow], Any]":
    """A function of a Flow `f` returning body, written out once from
    JSON_FIELDS: a listing of a million flows cannot afford a call per
    field."""
    namespace = {"_json_string": _json_string, "_PROTOCOL_JSON": _PROTOCOL_JSON,
                 "_ETHER_TYPE_JSON": _ETHER_TYPE_JSON, "_entities_json": _entities_json,
                 "PROTOCOL_NAMES": PROTOCOL_NAMES, "ETHER_TYPE_NAMES": ETHER_TYPE_NAMES}
    exec("def %s(f):\n    return %s\n" % (name, body), namespace)
    return namespace[name]  # type: ignore[no-any-return]


_json_text = _made_of_fields("json_text", "%r %% (%s)" % (
    "{%s}" % ",".join('"%s":%s' % (key, _JSON_FORMS[form][0]) for key, _, form in JSON_FIELDS),
    ", ".join(_JSON_FORMS[form][1].format(attribute) for _, attribute, form in JSON_FIELDS)))
_as_dict = _made_of_fields("as_dict", "{%s}" % ", ".join(
    "%r: %s" % (key, _PLAIN_FORMS[form].format(attribute)) for key, attribute, form in JSON_FIELDS))


def _address_text(address: "Union[str, bytes, _Address]") -> str:
    """An address as the flow listings have always spelt it (the C library's
    inet_ntop), which is also several times quicker than str() of an
    ipaddress object."""
    if isinstance(address, str):
        return address
    if type(address) is bytes:
        return _ntop(_AF_INET if len(address) == 4 else _AF_INET6, address)
    return _ntop(_AF_INET if address.version == 4 else _AF_INET6, address.packed)


def _address_bytes(address: "Union[str, bytes, _Address]") -> bytes:
    """An address as its bytes, whatever form a flow holds it in (a
    snapshot's text, the walk's bytes, an ipaddress object)."""
    if type(address) is bytes:
        return address
    if isinstance(address, str):
        return _pton(_AF_INET6 if ":" in address else _AF_INET, address)
    return address.packed


# The attributes of a Flow made when first read keep what they are made from
# in a field of their own.
_KEPT_AS = {"src": "_source", "dst": "_destination", "entities": "_entities"}


class Flow(_flow_object):
    """A cached flow: its id, key, actions, counters and timers.

    ``src`` and ``dst`` are ``ipaddress`` objects (given as such or as
    text, parsed when first read: listings that print them need only the
    text), MACs are text, ``entities`` holds one ``(action names,
    destination ports)`` pair per action entity, ``age_s`` counts seconds
    since the flow was installed and ``expires_in_s`` the seconds left
    before it expires when idle.  A decoded flow holds its entry's values
    and makes each attribute when first read (its addresses from packed
    bytes, its entities from one compact row of bytes): most flows of a
    walk are never asked for most of them."""

    # In the constructor's order, which is the JSON object's.
    FIELDS = tuple(dict.fromkeys(attribute for _, attribute, form in JSON_FIELDS if form not in NAME_FORMS))
    __slots__ = ()

    id: int
    flags: int
    table: int
    port: int
    vni: int
    ipv6: bool
    _source: "Union[str, bytes, _Address]"
    _destination: "Union[str, bytes, _Address]"
    proto: int
    ether: int
    vlan: int
    src_mac: str
    dst_mac: str
    inner_dst_mac: str
    _entities: "Union[bytes, List[_Entity]]"
    packets: int
    age_s: int
    expires_in_s: int

    def __init__(self, id: int, flags: int, table: int, port: int, vni: int, ipv6: bool,
                 src: "Union[str, _Address]", dst: "Union[str, _Address]", proto: int, ether: int, vlan: int,
                 src_mac: str, dst_mac: str, inner_dst_mac: str, entities: "List[_Entity]", packets: int,
                 age_s: int, expires_in_s: int) -> None:
        # Spelt out: the walk makes one per cached flow.
        self.id, self.flags, self.table, self.port, self.vni, self.ipv6 = id, flags, table, port, vni, ipv6
        self._source, self._destination, self.proto, self.ether, self.vlan = src, dst, proto, ether, vlan
        self.src_mac, self.dst_mac, self.inner_dst_mac, self._entities = src_mac, dst_mac, inner_dst_mac, entities
        self.packets, self.age_s, self.expires_in_s = packets, age_s, expires_in_s

    @property
    def _src(self) -> "Union[str, _Address]":
        """The source address as given (text stays text until ``src`` is read)."""
        if type(self._source) is bytes:
            self._source = _packed_address(self._source)
        return self._source  # type: ignore[return-value]

    @property
    def _dst(self) -> "Union[str, _Address]":
        if type(self._destination) is bytes:
            self._destination = _packed_address(self._destination)
        return self._destination  # type: ignore[return-value]

    @property
    def src(self) -> "_Address":
        if isinstance(self._src, str):
            self._source = ipaddress.ip_address(self._source)
        return self._source  # type: ignore[return-value]

    @property
    def dst(self) -> "_Address":
        if isinstance(self._dst, str):
            self._destination = ipaddress.ip_address(self._destination)
        return self._destination  # type: ignore[return-value]

    @property
    def entities(self) -> "List[_Entity]":
        if type(self._entities) is bytes:
            self._entities = _entity_pairs(self._entities)
        return self._entities  # type: ignore[return-value]

    @entities.setter
    def entities(self, value: "List[_Entity]") -> None:
        self._entities = value

    @property
    def src_text(self) -> str:
        return _address_text(self._source)

    @property
    def dst_text(self) -> str:
        return _address_text(self._destination)

    def json_text(self) -> str:
        """The flow as one compact JSON object, equal to ``as_dict()`` once
        parsed.  Written out directly: a listing of a million flows spends
        more time in a general JSON encoder than in reading the cache.  The
        texts (addresses, MACs, action names) are ones the decoders made or
        a snapshot's reader checked, and go through JSON's string encoder
        all the same: a Flow made by hand cannot forge a line."""
        return _json_text(self)  # type: ignore[no-any-return]

    @property
    def actions(self) -> "List[str]":
        """Every action name of the flow, entity by entity, without repeats."""
        seen: "List[str]" = []
        for names, _ in self.entities:
            seen.extend(name for name in names if name not in seen)
        return seen

    @property
    def dst_ports(self) -> "List[int]":
        return [port for _, ports in self.entities for port in ports]

    def as_dict(self) -> "Dict[str, Any]":
        """Plain values only (addresses as text), for JSON; the lists are
        the flow's own."""
        return _as_dict(self)  # type: ignore[no-any-return]

    def __reduce__(self) -> "Tuple[Any, Tuple[Any, ...]]":
        # What each field holds as it is (packed parts stay packed).
        return type(self), tuple(getattr(self, _KEPT_AS.get(name, name)) for name in self.FIELDS)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Flow):
            return NotImplemented
        return all(getattr(self, name) == getattr(other, name) for name in self.FIELDS)

    __hash__: "ClassVar[None]" = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return "Flow(id=%d, port=%d, %s -> %s, proto=%d, packets=%d)" % (
            self.id, self.port, self.src, self.dst, self.proto, self.packets)


def decode(entry, now_ms):
    key = entry.fkey
    is_v6 = bool(key.flags & _libfc.FC_FLOWKEY_IPV6)
    l2 = key.l2Key
    created = entry.created
    return Flow(
        id=entry.flowId,
        flags=entry.fcFlags,
        table=entry.tblId,
        port=key.portID,
        vni=key.vni,
        ipv6=is_v6,
        src=_libfc.FC_FlowEntryIOC_get_srcip_entry(entry, is_v6),
        dst=_libfc.FC_FlowEntryIOC_get_dstip_entry(entry, is_v6),
        proto=key.proto,
        ether=l2.etype,
        vlan=l2.vlanid,
        src_mac=l2.saddr,
        dst_mac=l2.daddr,
        inner_dst_mac=key.inner.l2Key.daddr,
        entities=[(action_names(entity.actionsBitMap), list(entity)) for entity in entry],
        packets=entry.pktCount,
        age_s=max(now_ms - created, 0) // 1000 if created else 0,
        expires_in_s=entry.exprTime,
    )


def _bulk_decoder():
    """The C decoder of whole answers into Flow objects holding the entries'
    values; None when this interpreter's ipaddress classes cannot be made so."""
    from _libfc_fields import flow_rows

    names = tuple(ACTION_NAMES.get(bit, "bit%d" % bit) for bit in range(64))
    try:
        return flow_rows(Flow, names, _libfc.FC_MAX_CACHE_FLOWS_IOC)
    except TypeError:
        return None


_decode_rows = _bulk_decoder()
# What a decoded flow keeps packed, made into what it stands for (only the C
# decoder makes flows with packed parts).
_packed_address = _decode_rows.address if _decode_rows is not None else ipaddress.ip_address
_entity_pairs = _decode_rows.entities if _decode_rows is not None else None


def _text_writer(rates=None):
    """The C writer of whole answers as text (JSON lines, the flows
    listing's rows), for listings that print flows without holding them,
    each flow's rate beside it when given rates (a flow_rates); None
    without the C decoder."""
    if _decode_rows is None:
        return None
    from _libfc_fields import flow_text

    try:
        return flow_text(_decode_rows, PROTOCOL_NAMES, ETHER_TYPE_NAMES, TEXT_KEYS, rates)
    except ValueError:
        return None


TEXT_WRITER = _text_writer()


def decode_page(answer, now_ms=None):
    """Every entry of a query answer, decoded now: the library reuses the
    answer's buffer at its next query.  The walk and the package decode
    answers through this one function only.

    An answer stating more entries than a query answer holds is refused with
    ValueError; anything but an answer of this module (another library's
    buffer type, a list of entries) is decoded entry by entry."""
    if now_ms is None:
        now_ms = int(time.time() * 1000)
    if _decode_rows is not None:
        try:
            return _decode_rows(answer, now_ms)
        except TypeError:
            pass
    return [decode(entry, now_ms) for entry in answer]


# The key values a whole-cache walk splits a query by, in the order
# answer_keys gives them.
KEY_ATTRIBUTES = ("port", "proto", "vlan", "ipv6")


def answer_keys(answer):
    """(port, proto, vlan, ipv6) of every entry of a query answer, read
    without decoding the rest of the entry."""
    ipv6 = _libfc.FC_FLOWKEY_IPV6
    keys = []
    for entry in answer:
        key = entry.fkey
        keys.append((key.portID, key.proto, key.l2Key.vlanid, 1 if key.flags & ipv6 else 0))
    return keys

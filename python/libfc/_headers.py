"""Packet header records in the values a packet means: ``record.net`` reads
and writes the network-order fields as host-order numbers, ``to_scapy()``
and ``from_scapy()`` convert to and from scapy layers.

The records themselves are byte images read as they lie (an IPv4
``totalLength`` of 20 reads 5120 on this little-endian host); the view does
the swapping. Multi-byte fields and bit-fields that fill whole bytes are
swapped at their width, single bytes and bit-fields within a byte pass
through, hardware addresses read as text (as the records read them), IP
addresses and other byte arrays as ``bytes``. A few headers
add the values their records split or carry without accessor (the VLAN ID,
the IPv6 traffic class and flow label, the IPv4 type of service, flags and
fragment offset, the TCP flags, the GRE flags). The generic IPv6 extension
header reads as a routing or a fragment header through ``.routing`` and
``.fragment``. What follows a header in a packet (Geneve options, GRE's
optional words) is read from the packet's bytes by ``options_from`` and
given back by ``to_scapy(options)`` (``_packet_options``).

scapy is optional: it is imported by the first conversion, never by
importing the package (``pip install 'libfc-binding[scapy]'``).

``EXTRA_BASES`` maps a record name to the mixins its generated class takes
before ``_Record``."""

# ctypes and scapy are imported where used: importing the package stays cheap.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple, Type, TypeVar, Union

    _H = TypeVar("_H", bound="PacketHeader")

from ._packet_options import GeneveOption, GREOptions, header_tail, read_geneve_options, write_geneve_options

# Field kinds of the layout tuples of _libfc_fields (FieldKind in runtime/record_fields.hpp).
from _libfc_fields import kinds as _kinds

_INTEGER, _BITFIELD, _ARRAY, _HWADDR = map(_kinds.index, ("Integer", "BitField", "Array", "HwAddr"))


def _swap(value: int, width: int) -> int:
    """The value with its ``width`` low bytes in the other order (its own inverse)."""
    return int.from_bytes(value.to_bytes(width, "little"), "big")


def _address(record: "Any") -> int:
    return int(record.this)


def _check_value(record: "Any", name: str, value: "Any", bits: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s.net.%s takes an int, not %s" % (type(record).__name__, name, type(value).__name__))
    if not 0 <= value < 1 << bits:
        raise OverflowError("%s.net.%s takes 0..%d, not %d" % (type(record).__name__, name, (1 << bits) - 1, value))
    return value


# --- the view's fields -----------------------------------------------------
# Each maker returns (getter, setter) over the record, for one property of
# the view class.

def _swapped_field(name: str, width: int) -> "Tuple[Callable, Callable]":
    def get(record: "Any") -> int:
        return _swap(getattr(record, name), width)

    def set(record: "Any", value: "Any") -> None:
        setattr(record, name, _swap(_check_value(record, name, value, 8 * width), width))

    return get, set


def _plain_field(name: str) -> "Tuple[Callable, Callable]":
    def get(record: "Any") -> "Any":
        return getattr(record, name)

    def set(record: "Any", value: "Any") -> None:
        setattr(record, name, value)

    return get, set


def _bytes_field(name: str, offset: int, count: int) -> "Tuple[Callable, Callable]":
    """A byte array (an address) as bytes, written from exactly as many."""
    def get(record: "Any") -> bytes:
        import ctypes

        return ctypes.string_at(_address(record) + offset, count)

    def set(record: "Any", value: "Any") -> None:
        image = memoryview(value).tobytes()
        if len(image) != count:
            raise ValueError("%s.net.%s takes %d bytes, not %d" % (type(record).__name__, name, count, len(image)))
        import ctypes

        ctypes.memmove(_address(record) + offset, image, count)

    return get, set


def _carried_field(name: str, offset: int, width: int, shift: int = 0,
                   bits: int = 0) -> "Tuple[Callable, Callable]":
    """Bytes the record carries without accessor, as one network-order
    number; with ``bits``, the ``bits`` of it from bit ``shift`` up (the
    rest of the number is left as it is)."""
    bits = bits or 8 * width
    mask = (1 << bits) - 1

    def word(record: "Any") -> int:
        import ctypes

        return int.from_bytes(ctypes.string_at(_address(record) + offset, width), "big")

    def get(record: "Any") -> int:
        return word(record) >> shift & mask

    def set(record: "Any", value: "Any") -> None:
        value = _check_value(record, name, value, bits) << shift | word(record) & ~(mask << shift)
        import ctypes

        ctypes.memmove(_address(record) + offset, value.to_bytes(width, "big"), width)

    return get, set


def _joined_field(name: str, high: str, high_bits: int, low: str, low_bits: int,
                  low_width: int = 1) -> "Tuple[Callable, Callable]":
    """A value the record splits in two fields: ``high`` holds the upper
    ``high_bits``, ``low`` the lower ``low_bits`` (a network-order field of
    ``low_width`` bytes when wider than one)."""
    mask = (1 << low_bits) - 1

    def get(record: "Any") -> int:
        low_value = getattr(record, low)
        if low_width > 1:
            low_value = _swap(low_value, low_width)
        return getattr(record, high) << low_bits | low_value

    def set(record: "Any", value: "Any") -> None:
        _check_value(record, name, value, low_bits + high_bits)
        low_value = value & mask
        setattr(record, high, value >> low_bits)
        setattr(record, low, _swap(low_value, low_width) if low_width > 1 else low_value)

    return get, set


# Values a record splits or carries without accessor, by record name. The
# IPv4 fragment word holds three flag bits above a 13-bit offset.
_EXTRA_FIELDS = {
    "hyp_VLANHdr": {"vlanID": lambda: _joined_field("vlanID", "vlanIDHigh", 4, "vlanIDLow", 8)},
    "hyp_IPv6Hdr": {"trafficClass": lambda: _joined_field("trafficClass", "trafficClassHigh", 4, "trafficClassLow", 4),
                    "flowLabel": lambda: _joined_field("flowLabel", "flowLabelHigh", 4, "flowLabelLow", 16, 2)},
    "hyp_IPv4Hdr": {"tos": lambda: _carried_field("tos", 1, 1),
                    "flags": lambda: _carried_field("flags", 6, 2, 13, 3),
                    "fragOffset": lambda: _carried_field("fragOffset", 6, 2, 0, 13)},
    "hyp_TCPHdr": {"flags": lambda: _carried_field("flags", 13, 1)},
    "hyp_GREHdr": {"flags": lambda: _carried_field("flags", 0, 2)},
}


def _view_field(name: str, layout: "Tuple[int, ...]") -> "Optional[Tuple[Callable, Callable]]":
    """The view's reading of a field of the record, from its layout tuple
    (kind, conversion, record type, value type, offset, size, count, bit,
    bits); None for fields the view leaves out (nested headers, the open
    arrays that mark where a variable part starts)."""
    kind, _, _, _, offset, size, count, bit, bits = layout
    if kind == _INTEGER:
        return _swapped_field(name, size) if size > 1 else _plain_field(name)
    if kind == _BITFIELD:
        # A bit-field filling whole bytes is a network-order number of them.
        if bits > 8 and bits % 8 == 0 and bit % 8 == 0:
            return _swapped_field(name, bits // 8)
        return _plain_field(name)
    if kind == _ARRAY and size == 1 and count > 0:
        return _bytes_field(name, offset, count)
    if kind == _HWADDR:
        return _plain_field(name)
    return None


class NetView:
    """A record's network-order fields as host-order numbers, read and
    written in place (the record's own attributes read the bytes as they
    lie)."""

    __slots__ = ("_record",)
    _fields_: "Tuple[str, ...]" = ()
    _attribute_ = "net"  # the record's attribute that gives this view

    def __init__(self, record: "Any") -> None:
        object.__setattr__(self, "_record", record)

    def __repr__(self) -> str:
        shown = ", ".join("%s=%r" % (name, getattr(self, name)) for name in self._fields_)
        return "%s.%s(%s)" % (type(self._record).__name__, self._attribute_, shown)

    def __dir__(self) -> "Any":
        return list(self._fields_)


def _view_class(record_class: type) -> type:
    """The view class of a record class, made from its field descriptors."""
    from _libfc_fields import field as field_type

    properties: "Dict[str, Any]" = {}
    for name, descriptor in vars(record_class).items():
        if isinstance(descriptor, field_type):
            made = _view_field(name, descriptor.layout)
            if made is not None:
                properties[name] = made
    for name, maker in _EXTRA_FIELDS.get(record_class.__name__, {}).items():
        properties[name] = maker()
    namespace: "Dict[str, Any]" = {"__slots__": (), "_fields_": tuple(properties)}
    for name, (get, set) in properties.items():
        namespace[name] = property(lambda view, get=get: get(view._record),
                                   lambda view, value, set=set: set(view._record, value))
    return type(record_class.__name__ + "NetView", (NetView,), namespace)


class _CarriedBits:
    """A view field over bytes the record carries without accessor: the
    ``bits`` from bit ``shift`` up of the network-order number of ``width``
    bytes at ``offset`` (all of them unless ``bits`` is given)."""

    __slots__ = ("where", "get", "set")

    def __init__(self, offset: int, width: int, shift: int = 0, bits: int = 0) -> None:
        self.where = (offset, width, shift, bits)

    def __set_name__(self, owner: type, name: str) -> None:
        self.get, self.set = _carried_field(name, *self.where)

    def __get__(self, view: "Any", owner: "Optional[type]" = None) -> int:
        if view is None:
            return self  # type: ignore[return-value]  # read from the class (help, inspection)
        return self.get(view._record)  # type: ignore[no-any-return]

    def __set__(self, view: "Any", value: int) -> None:
        self.set(view._record, value)


class _ExtensionView(NetView):
    """The host-order fields of one kind of IPv6 extension header, over the
    generic record's bytes; ``to_scapy()`` makes that kind's layer."""

    __slots__ = ()
    _protocol_ = 0  # the next-header number that names this kind

    def __init_subclass__(cls) -> None:
        cls._fields_ = tuple(name for name, value in vars(cls).items() if isinstance(value, _CarriedBits))

    def to_scapy(self) -> "Any":
        return self._record.to_scapy(self._protocol_)


class RoutingView(_ExtensionView):
    __doc__ = _ExtensionView.__doc__
    __slots__ = ()
    _attribute_, _protocol_ = "routing", 43
    nextHeader = _CarriedBits(0, 1)
    hdrExtLength = _CarriedBits(1, 1)
    routingType = _CarriedBits(2, 1)
    segmentsLeft = _CarriedBits(3, 1)
    typeData = _CarriedBits(4, 4)


class FragmentView(_ExtensionView):
    __doc__ = _ExtensionView.__doc__
    __slots__ = ()
    _attribute_, _protocol_ = "fragment", 44
    nextHeader = _CarriedBits(0, 1)
    reserved = _CarriedBits(1, 1)
    # The offset counts 8-byte units, above two reserved bits and the M flag.
    fragOffset = _CarriedBits(2, 2, 3, 13)
    reserved2 = _CarriedBits(2, 2, 1, 2)
    moreFragments = _CarriedBits(2, 2, 0, 1)
    identification = _CarriedBits(4, 4)


# --- scapy ---------------------------------------------------------------------

def _scapy_class(record: str, path: str) -> type:
    """A scapy class named "module:Class", or ImportError saying how to get scapy."""
    module, name = path.split(":")
    try:
        import importlib
        import logging

        # scapy warns about the host's missing tools on import; not our business here.
        logging.getLogger("scapy.runtime").setLevel(logging.ERROR)
        return getattr(importlib.import_module(module), name)
    except ImportError as error:
        raise ImportError("%s: the scapy conversions need scapy, which is not installed "
                          "(pip install 'libfc-binding[scapy]'): %s" % (record, error)) from None


def _parse(layer_class: type, image: bytes) -> "Any":
    """The layer scapy reads from a header's bytes, without payload. Layers
    that go on past the record (the ICMP identifier and sequence, a GRE key)
    are read with zeros after it."""
    import struct

    try:
        layer = layer_class(image)
    except struct.error:
        layer = layer_class(image + bytes(64))
    layer.remove_payload()
    return layer


class PacketHeader:
    """Mixed into the generated class of every packet header record."""

    __slots__ = ()

    # "module:Class" of the scapy layers from_scapy accepts; the first is the
    # one to_scapy makes. Empty for headers scapy does not know.
    _scapy_layers_: "Tuple[str, ...]" = ()

    @property
    def net(self) -> "Any":
        """This header's fields in host order, read and written in place."""
        cls = type(self)
        view = cls.__dict__.get("_net_view_")
        if view is None:
            view = _view_class(cls)
            cls._net_view_ = view  # type: ignore[attr-defined]
        return view(self)

    def _to_scapy_class(self) -> type:
        if not self._scapy_layers_:
            raise NotImplementedError("%s: scapy has no layer for this header" % type(self).__name__)
        return _scapy_class(type(self).__name__, self._scapy_layers_[0])

    def to_scapy(self) -> "Any":
        """The scapy layer of this header alone (no payload), read from its bytes."""
        return _parse(self._to_scapy_class(), bytes(self))  # type: ignore[call-overload]

    @classmethod
    def _layer_of(cls, packet: "Any") -> "Any":
        """The first layer of the packet that is one of this header's."""
        if not cls._scapy_layers_:
            raise NotImplementedError("%s: scapy has no layer for this header" % cls.__name__)
        accepted = tuple(_scapy_class(cls.__name__, path) for path in cls._scapy_layers_)
        packet_class = _scapy_class(cls.__name__, "scapy.packet:Packet")
        if not isinstance(packet, packet_class):
            raise TypeError("%s.from_scapy takes a scapy packet, not %s" % (cls.__name__, type(packet).__name__))
        for layer in packet.iterpayloads():
            if isinstance(layer, accepted):
                return layer
        raise TypeError("%s.from_scapy: no %s layer in %s" % (
            cls.__name__, " or ".join(c.__name__ for c in accepted), packet.summary()))

    @classmethod
    def from_scapy(cls: "Type[_H]", packet: "Any") -> "_H":
        """A new record holding the header of the packet's first layer of
        this kind (its first bytes as scapy builds them, with lengths and
        checksums filled in)."""
        return cls._from_layer(packet)[0]

    @classmethod
    def _from_layer(cls: "Type[_H]", packet: "Any") -> "Tuple[_H, bytes]":
        """The record of the packet's layer and the layer's bytes, which go
        on past the record where the header does (options, payload)."""
        layer = cls._layer_of(packet)
        image = bytes(layer)
        size = cls._size_  # type: ignore[attr-defined]
        if len(image) < size:
            raise ValueError("%s.from_scapy: the %s layer has %d bytes, the header %d" % (
                cls.__name__, type(layer).__name__, len(image), size))
        return cls.from_bytes(image[:size]), image  # type: ignore[attr-defined]


class _ICMPHeader(PacketHeader):
    """ICMP and ICMPv6 share the record: to_scapy(v6=True) makes the ICMPv6
    layer of the message type."""

    __slots__ = ()

    def to_scapy(self, v6: bool = False) -> "Any":
        if not v6:
            return PacketHeader.to_scapy(self)
        types = _scapy_class(type(self).__name__, "scapy.layers.inet6:icmp6typescls")
        unknown = _scapy_class(type(self).__name__, "scapy.layers.inet6:ICMPv6Unknown")
        return _parse(types.get(self.type, unknown), bytes(self))  # type: ignore[attr-defined,call-overload]


class _MLDHeader(PacketHeader):
    """Queries, reports and done messages share the MLD record: to_scapy
    makes the layer of the message type (a query for other types)."""

    __slots__ = ()

    def _to_scapy_class(self) -> type:
        types = _scapy_class(type(self).__name__, "scapy.layers.inet6:icmp6typescls")
        chosen = types.get(self.type)  # type: ignore[attr-defined]
        if chosen is None or "scapy.layers.inet6:" + chosen.__name__ not in self._scapy_layers_:
            return PacketHeader._to_scapy_class(self)
        return chosen


# The scapy layer of each extension header the record stands for, by the
# next-header number that names it.
_EXTENSION_LAYERS = {0: "IPv6ExtHdrHopByHop", 43: "IPv6ExtHdrRouting", 44: "IPv6ExtHdrFragment",
                     60: "IPv6ExtHdrDestOpt"}


class _ExtensionHeader(PacketHeader):
    """The generic IPv6 extension header: which one it is, the header before
    it says, so ``routing`` and ``fragment`` read it as one kind, and
    to_scapy takes the kind as a scapy class or the next-header number that
    names it (hop-by-hop options unless told)."""

    __slots__ = ()

    @property
    def routing(self) -> RoutingView:
        """This header's fields as a routing header's, in host order."""
        return RoutingView(self)

    @property
    def fragment(self) -> FragmentView:
        """This header's fields as a fragment header's, in host order."""
        return FragmentView(self)

    def to_scapy(self, layer: "Union[None, type, int]" = None) -> "Any":
        if isinstance(layer, int):
            if layer not in _EXTENSION_LAYERS:
                raise ValueError("%s.to_scapy: next header %d is none of %s" % (
                    type(self).__name__, layer, ", ".join(map(str, _EXTENSION_LAYERS))))
            layer = _scapy_class(type(self).__name__, _INET6 + _EXTENSION_LAYERS[layer])
        return _parse(layer or self._to_scapy_class(), bytes(self))  # type: ignore[call-overload]


class _HeaderStack(PacketHeader):
    """An outer header stack (Ethernet, IP, UDP, tunnel header) as one record:
    to_scapy stacks the layers of its headers, from_scapy takes a packet with
    those layers from the Ethernet header on."""

    __slots__ = ()

    # (field, "module:Class" of its scapy layer), outermost first.
    _stack_: "Tuple[Tuple[str, str], ...]" = ()

    def to_scapy(self) -> "Any":
        packet = None
        for field, _ in self._stack_:
            layer = getattr(self, field).to_scapy()
            packet = layer if packet is None else packet / layer
        return packet

    @classmethod
    def _layer_of(cls, packet: "Any") -> "Any":
        outer = super()._layer_of(packet)
        layer = outer
        raw = _scapy_class(cls.__name__, "scapy.packet:Raw")
        for position, (_, path) in enumerate(cls._stack_):
            wanted = _scapy_class(cls.__name__, path)
            # A tunnel header on a port scapy does not bind comes as bytes.
            last = position == len(cls._stack_) - 1
            if not isinstance(layer, wanted) and not (last and isinstance(layer, raw)):
                raise TypeError("%s.from_scapy: %s where the %s layer should be, in %s" % (
                    cls.__name__, type(layer).__name__, wanted.__name__, packet.summary()))
            layer = layer.payload
        return outer


class _GREHeader(PacketHeader):
    """GRE: the checksum, key and sequence words its flags ask for follow
    the record in a packet. ``options_from`` reads them from the packet's
    bytes as ``Options``, ``to_scapy(options)`` puts them back after the
    header."""

    __slots__ = ()
    Options = GREOptions

    def options_from(self, buffer: "Any") -> "GREOptions":
        """The optional words in ``buffer``, the packet's bytes from this
        header on (ValueError when they are cut short)."""
        flags = self.net.flags
        return GREOptions.read(flags, header_tail(self, buffer, GREOptions.size(flags)))

    @classmethod
    def options_from_scapy(cls, packet: "Any") -> "GREOptions":
        """The optional words of the packet's first GRE header."""
        record, image = cls._from_layer(packet)
        return record.options_from(image)

    def to_scapy(self, options: "Optional[GREOptions]" = None) -> "Any":
        """The GRE layer with the optional words given (exactly those the
        flags ask for), or read as zeros without them."""
        if options is None:
            return PacketHeader.to_scapy(self)
        return _parse(self._to_scapy_class(),
                      bytes(self) + options.write(self, self.net.flags))  # type: ignore[call-overload]


class _GeneveHeader(PacketHeader):
    """Geneve: ``optionsLength`` words of options follow the record in a
    packet. ``options_from`` reads them from the packet's bytes as a list of
    ``Option``, ``to_scapy(options)`` puts them back after the header."""

    __slots__ = ()
    Option = GeneveOption

    def options_from(self, buffer: "Any") -> "List[GeneveOption]":
        """The options in ``buffer``, the packet's bytes from this header on
        (ValueError when a length points past them)."""
        return read_geneve_options(header_tail(self, buffer, 4 * self.optionsLength))  # type: ignore[attr-defined]

    @classmethod
    def options_from_scapy(cls, packet: "Any") -> "List[GeneveOption]":
        """The options of the packet's first Geneve header."""
        record, image = cls._from_layer(packet)
        return record.options_from(image)

    def to_scapy(self, options: "Optional[Sequence[GeneveOption]]" = None) -> "Any":
        """The GENEVE layer with the options given (as many words as
        optionsLength says), or with none without them."""
        if options is None:
            return PacketHeader.to_scapy(self)
        return _parse(self._to_scapy_class(),
                      bytes(self) + write_geneve_options(self, options))  # type: ignore[call-overload]


class _GeneveOptionHeader(PacketHeader):
    """A Geneve option's fixed part; from_scapy also finds the options a
    GENEVE layer holds in its ``options`` field rather than as payload."""

    __slots__ = ()

    @classmethod
    def _layer_of(cls, packet: "Any") -> "Any":
        geneve: "Any" = _scapy_class(cls.__name__, _GENEVE + "GENEVE")
        # Anything but a packet has no payloads here and is refused below.
        for layer in packet.iterpayloads() if hasattr(packet, "iterpayloads") else ():
            if isinstance(layer, geneve) and layer.options:
                return layer.options[0]
        return super()._layer_of(packet)


def _header(record: str, *layers: str, base: type = PacketHeader, **extra: "Any") -> type:
    namespace = {"__slots__": (), "_scapy_layers_": layers, "__doc__": base.__doc__}
    namespace.update(extra)
    return type(record + "Mixin", (base,), namespace)


_L2, _INET, _INET6, _IGMP = "scapy.layers.l2:", "scapy.layers.inet:", "scapy.layers.inet6:", "scapy.layers.igmp:"
_GENEVE = "scapy.contrib.geneve:"


def _stack(record: str, ip: str, tunnel_field: str, tunnel: str) -> type:
    fields = (("ethHdr", _L2 + "Ether"), ("ipHdr", ip), ("udpHdr", _INET + "UDP"), (tunnel_field, tunnel))
    return _header(record, _L2 + "Ether", base=_HeaderStack, _stack_=fields)


_MIXINS = [
    _header("hyp_EthHdr", _L2 + "Ether"),
    _header("hyp_VLANHdr", _L2 + "Dot1Q"),
    _header("hyp_ArpHdr", _L2 + "ARP"),
    _header("hyp_IPv4Hdr", _INET + "IP"),
    _header("hyp_IPv6Hdr", _INET6 + "IPv6"),
    _header("hyp_IPv6ExtHdr", _INET6 + "IPv6ExtHdrHopByHop", _INET6 + "IPv6ExtHdrDestOpt",
            _INET6 + "IPv6ExtHdrRouting", _INET6 + "IPv6ExtHdrFragment", base=_ExtensionHeader),
    _header("hyp_ICMPHdr", _INET + "ICMP", _INET6 + "_ICMPv6", base=_ICMPHeader),
    _header("hyp_IGMPHdr", _IGMP + "IGMP"),
    _header("hyp_IGMPv3QueryHdr", _IGMP + "IGMPv3_MQ"),
    _header("hyp_IGMPv3GrpRecord", _IGMP + "IGMPv3_MR_Group"),
    _header("hyp_IGMPv3ReportHdr", _IGMP + "IGMPv3_MR"),
    _header("hyp_MLDHdr", _INET6 + "ICMPv6MLQuery", _INET6 + "ICMPv6MLReport", _INET6 + "ICMPv6MLDone",
            base=_MLDHeader),
    _header("hyp_MLDv2QueryHdr", _INET6 + "ICMPv6MLQuery2"),
    _header("hyp_MLDv2GrpRecord", _INET6 + "ICMPv6MLDMultAddrRec"),
    _header("hyp_MLDv2ReportHdr", _INET6 + "ICMPv6MLReport2"),
    _header("hyp_PIMHdr", "scapy.contrib.pim:PIMv2Hdr"),
    _header("hyp_UDPHdr", _INET + "UDP"),
    _header("hyp_TCPHdr", _INET + "TCP"),
    _header("hyp_ESPHdr", "scapy.layers.ipsec:ESP"),
    _header("hyp_GREHdr", _L2 + "GRE", base=_GREHeader),
    _header("hyp_VXLANHdr", "scapy.layers.vxlan:VXLAN"),
    _header("hyp_GeneveHdr", _GENEVE + "GENEVE", base=_GeneveHeader),
    _header("hyp_GeneveOptionHdr", _GENEVE + "GeneveOptions", base=_GeneveOptionHeader),
    _stack("VXLAN_Headers", _INET + "IP", "vxlanHdr", "scapy.layers.vxlan:VXLAN"),
    _stack("VXLAN6_Headers", _INET6 + "IPv6", "vxlanHdr", "scapy.layers.vxlan:VXLAN"),
    _stack("Geneve_Headers", _INET + "IP", "geneveHdr", _GENEVE + "GENEVE"),
    _stack("Geneve6_Headers", _INET6 + "IPv6", "geneveHdr", _GENEVE + "GENEVE"),
    # Headers scapy has no layer for: the host-order view only.
    _header("hyp_FenceHdr"),
    _header("ovl_INTShimHdr"),
    _header("ovl_INTHdrV1"),
    _header("ovl_INTHdrV2"),
    _header("ovl_INTPathwatchMeta"),
    _header("ovl_INTPathprobeMeta"),
    _header("OVLL2_GenOptDataLabel"),
    _header("OVLL2_GenOptDataLabelMacFlush"),
    _header("OVLL2_GenOptDataLabelActiveMbrVtep"),
    _header("OVLL2_GenOptDataMirror"),
    _header("OVLL2_GenOptDataSpf"),
    _header("OVLL2_GenOptDataLocalVnicLat"),
    _header("OVLL2_GenOptDataPathwatch"),
]

EXTRA_BASES = {mixin.__name__[:-len("Mixin")]: (mixin,) for mixin in _MIXINS}

"""Address texts turned into what record fields take: a hardware address or
an IPv6 address as bytes in C memory passed as an ``unsigned char *``, an
IPv4 address as the 32-bit value a key stores."""

import _libfc

# ctypes, ipaddress and re are imported by the functions that use them, so
# importing the package does not pay for them. Annotations naming typing-only
# names are quoted rather than deferred with a __future__ import, which would
# import the __future__ module with the package.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, ClassVar

_MAC_PATTERN = r"[0-9A-Fa-f]{2}([:-])[0-9A-Fa-f]{2}(?:\1[0-9A-Fa-f]{2}){4}"

# The storage record: the module has no byte-sized record, so the bytes live
# at the start of a socket address's data area, whose getter already yields
# the `unsigned char *` pointer the setters take.
_STORAGE_CAPACITY = 254  # hyp_SocketAddress.sa_data


class Octets:
    """Bytes held in C memory for as long as this object lives, accepted
    wherever a field or function takes an ``unsigned char *``.

    A setter that copies from the pointer (hardware address and byte-array
    fields) is done with it when it returns; a pointer field keeps the
    address, so keep this object alive as long as that record uses it."""

    # "this" is what the module reads to find the pointer; the record that
    # owns the memory rides along so both die together.
    __slots__ = ("this", "_storage", "_length")
    this: "Any"

    def __init__(self, data: "Any") -> None:
        image = memoryview(data).tobytes()
        if len(image) > _STORAGE_CAPACITY:
            raise ValueError("Octets: at most %d bytes, got %d" % (_STORAGE_CAPACITY, len(image)))
        self._storage = _libfc.new_hyp_SocketAddress()
        self._length = len(image)
        self.this = _libfc.hyp_SocketAddress_sa_data_get(self._storage)
        import ctypes

        ctypes.memmove(int(self.this), image, len(image))

    def __len__(self) -> int:
        return self._length

    def __bytes__(self) -> bytes:
        import ctypes

        return ctypes.string_at(int(self.this), self._length)

    def __eq__(self, other: object) -> bool:
        if isinstance(other, Octets):
            return bytes(self) == bytes(other)
        return NotImplemented

    # Unhashable: the bytes can be changed through the pointer.
    __hash__: "ClassVar[None]" = None  # type: ignore[assignment]

    def __repr__(self) -> str:
        return "Octets(%r)" % bytes(self)


def _text_argument(function: str, text: "Any") -> str:
    if not isinstance(text, str):
        raise TypeError("%s() takes a str, not %s" % (function, type(text).__name__))
    return text


def mac_bytes(text: str) -> bytes:
    """The six bytes of a hardware address written as six pairs of hex digits
    separated by ':' or '-' ("00:1a:2b:ff:00:01"), in text order. The one
    grammar of hardware addresses, for scripts and the command line alike."""
    _text_argument("mac", text)
    import re

    if not re.fullmatch(_MAC_PATTERN, text):
        raise ValueError("not a hardware address: %r" % text)
    return bytes.fromhex(text.replace(text[2], ""))


def mac(text: str) -> Octets:
    """A hardware address text (see mac_bytes) as bytes in C memory."""
    return Octets(mac_bytes(text))


def key_word(packed: bytes) -> int:
    """The 32-bit value a flow key holds for an address: its last four bytes
    (all of an IPv4 address) in network order in memory, so the first of
    them is the lowest byte of the value."""
    return int.from_bytes(packed[-4:], "little")


def ipv4(text: str) -> int:
    """A dotted-quad IPv4 address as a key holds it (see key_word)."""
    _text_argument("ipv4", text)
    import ipaddress

    try:
        packed = ipaddress.IPv4Address(text).packed
    except ValueError:
        raise ValueError("not an IPv4 address: %r" % text) from None
    return key_word(packed)


def ipv6(text: str) -> Octets:
    """The sixteen bytes of an IPv6 address, in network order."""
    _text_argument("ipv6", text)
    import ipaddress

    try:
        address = ipaddress.IPv6Address(text)
    except ValueError:
        raise ValueError("not an IPv6 address: %r" % text) from None
    return Octets(_unscoped(address, "ipv6()"))


def _unscoped(address: "Any", label: str) -> bytes:
    """The sixteen bytes of an IPv6 address; one with a scope ("%eth0") is
    refused, as sixteen bytes cannot hold it."""
    if getattr(address, "scope_id", None):
        raise ValueError("%s: %r has a scope (%%%s), which an IPv6 address field cannot hold"
                         % (label, str(address), address.scope_id))
    return address.packed


class AddressField:
    """A record class attribute ``<field>_addr`` beside an IP address field:
    the field's address as an ``ipaddress`` object, set from one or from its
    text. Version 4 fields hold the 32-bit value a key holds (see key_word),
    version 6 fields the sixteen bytes in network order."""

    __slots__ = ("field", "version")

    def __init__(self, field: str, version: int) -> None:
        self.field = field
        self.version = version

    def __repr__(self) -> str:
        return "AddressField(%r, %d)" % (self.field, self.version)

    def __get__(self, record: "Any", owner: "Any" = None) -> "Any":
        if record is None:
            return self
        import ipaddress

        raw = getattr(record, self.field)
        if self.version == 4:
            return ipaddress.IPv4Address(raw.to_bytes(4, "little"))
        import ctypes

        return ipaddress.IPv6Address(ctypes.string_at(int(raw), 16))

    def __set__(self, record: "Any", value: "Any") -> None:
        import ipaddress

        kind = ipaddress.IPv4Address if self.version == 4 else ipaddress.IPv6Address
        label = "%s.%s_addr" % (type(record).__name__, self.field)
        if isinstance(value, str):
            try:
                value = kind(value)
            except ValueError:
                raise ValueError("%s: not an IPv%d address: %r" % (label, self.version, value)) from None
        elif not isinstance(value, kind):
            raise TypeError("%s: expected %s or its text, got %s" % (label, kind.__name__, type(value).__name__))
        if self.version == 4:
            setattr(record, self.field, key_word(value.packed))
        else:
            setattr(record, self.field, Octets(_unscoped(value, label)))

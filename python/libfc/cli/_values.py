"""Command-line values: parse a user's text into what the operations take,
refusing anything else with a message argparse prints on one line."""

import argparse
import ipaddress

from .. import _addresses
from .._flow import ETHER_TYPE_NAMES, PROTOCOL_NAMES

UINT32_MAX = 2 ** 32 - 1

PROTOCOLS = {name: number for number, name in PROTOCOL_NAMES.items()}
ETHER_TYPES = {name: number for number, name in ETHER_TYPE_NAMES.items()}


def uint32(text):
    """A decimal (or 0x hexadecimal) number from 0 to 4294967295."""
    try:
        value = int(text, 0)
    except ValueError:
        raise argparse.ArgumentTypeError("not a number: %r" % text) from None
    if not 0 <= value <= UINT32_MAX:
        raise argparse.ArgumentTypeError("%s is outside 0..%d" % (text, UINT32_MAX))
    return value


def positive(text):
    value = uint32(text)
    if value == 0:
        raise argparse.ArgumentTypeError("must be at least 1")
    return value


def _named_number(names, what):
    def parse(text):
        lowered = text.lower()
        if lowered in names:
            return names[lowered]
        try:
            return uint32(text)
        except argparse.ArgumentTypeError:
            raise argparse.ArgumentTypeError(
                "unknown %s %r (a number or one of %s)" % (what, text, ", ".join(sorted(names)))) from None
    parse.__name__ = what
    return parse


protocol = _named_number(PROTOCOLS, "protocol")
ether_type = _named_number(ETHER_TYPES, "ether type")


def ip_address(text):
    """An IPv4 or IPv6 address text, kept as an ipaddress object."""
    try:
        return ipaddress.ip_address(text)
    except ValueError:
        raise argparse.ArgumentTypeError("not an IP address: %r" % text) from None


def key_word(address):
    """The 32-bit value a flow query compares with a key's address: the
    IPv4 address, or the last four bytes of an IPv6 one, as keys store them."""
    return _addresses.key_word(address.packed)


def mac_address(text):
    """A hardware address as the flow queries take it: "xx:xx:xx:xx:xx:xx"."""
    try:
        octets = _addresses.mac_bytes(text)
    except ValueError:
        raise argparse.ArgumentTypeError("not a hardware address: %r (like 02:00:00:aa:bb:cc)" % text) from None
    return ":".join("%02x" % octet for octet in octets)

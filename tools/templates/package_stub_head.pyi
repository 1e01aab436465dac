from ipaddress import IPv4Address, IPv6Address
from typing import Any, Dict, Iterator, List, Optional, SupportsIndex, Union, overload

from ._addresses import Octets as Octets, ipv4 as ipv4, ipv6 as ipv6, mac as mac
from ._cache import flows as flows, hash_stats as hash_stats, inval_entries as inval_entries, stats as stats
from ._record import _Record as _Record
from ._sequence import _Sequence as _Sequence

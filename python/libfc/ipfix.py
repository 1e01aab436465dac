"""The flow cache exported in IPFIX (RFC 7011), so that any flow collector
that speaks the standard receives its flows.

Each round walks the cache and sends one data record per flow that is new
or had packets since its previous record (``packetDeltaCount``), then one
end record per flow that left the cache.  The records are written in C
(``_libfc_fields.ipfix_records``), which also keeps the one fact a delta
needs between rounds: the packet count of each flow's last record, and cuts
them into messages, templates leading when collectors need them.  This
module carries the messages over UDP, TCP or into an RFC 5655 file.

    encoder = Encoder(domain=7)
    for message in encoder.round():
        sock.send(message)

``export(collector)`` is the whole exporter: a round every ``interval``
seconds until stopped.
"""

import os
import socket
import sys
import threading
import time
import zlib

import _libfc

from ._flow import _decode_rows
from ._locking import FLOW_CACHE
from ._walk import Walk

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, BinaryIO, Callable, Dict, Iterable, Iterator, List, Optional, Tuple

VERSION = 10
PORT = 4739  # IANA's port for IPFIX, over UDP and TCP alike
MAX_MESSAGE = 65535  # the message header's length field
# Template refresh over UDP, where a collector that starts late or lost a
# message learns the templates again: by time (RFC 6728's default for the
# timeout) and by count of messages.
TEMPLATE_SECONDS = 600
TEMPLATE_MESSAGES = 4096
# IP and UDP headers a datagram carries besides the message.
UDP_OVERHEAD = {socket.AF_INET: 20 + 8, socket.AF_INET6: 40 + 8}
# Messages sent over UDP per second, in bursts of a few: slow enough that a
# collector with the system's default socket buffer (some 200 KiB) misses
# none, as nfcapd on the loopback of a busy two-core host did not. A
# collector given a 4 MiB buffer takes FAST_RATE, faster than a round of a
# million flows makes its some 61,000 messages, so that the pacing no longer
# lengthens the round (docs/ipfix.md: what a collector needs; bench/ipfix.py).
DEFAULT_RATE = 10000
FAST_RATE, FAST_RATE_BUFFER = 50000, 4 << 20
PACING_BURST = 4
RING_BYTES = 1 << 20  # messages made ahead of the pacing, at most
TRANSPORTS = ("udp", "tcp")



def default_domain() -> int:
    """The observation domain of this host: a hash of its name, so hosts
    exporting to one collector are told apart without configuration."""
    return zlib.crc32(socket.gethostname().encode("utf-8", "surrogateescape")) & 0xFFFFFFFF


def collector_address(text: str) -> "Tuple[str, int]":
    """HOST:PORT, [IPv6]:PORT or HOST (port 4739) as (host, port); ValueError
    for anything else."""
    if text.startswith("["):
        host, bracket, port = text[1:].partition("]")
        port = port[1:] if port.startswith(":") else (str(PORT) if not port else "-")
        valid = bracket and ":" in host
    else:
        host, _, port = text.partition(":") if text.count(":") == 1 else (text, "", str(PORT))
        valid = ":" not in host
    if not valid or not host or not port.isascii() or not port.isdigit() or not 0 < int(port) <= 65535:
        raise ValueError("%r is not HOST:PORT (like collector.example.net:%d or [::1]:%d)" % (text, PORT, PORT))
    return host, int(port)


def _expiry_seconds() -> int:
    """The cache's idle lifetime, which tells a flow's last use from the
    seconds it has left."""
    with FLOW_CACHE:
        return _libfc.FC_IOCGetConfigOption(_libfc.FC_IOC_EXPR_TIME)


class Encoder:
    """One observation domain's export: rounds of the cache as IPFIX
    messages of at most ``size`` bytes.  It keeps the packet count of each
    flow's last record and the domain's sequence number between rounds.

    ``template_seconds`` and ``template_messages`` (0: never) re-send the
    templates, as UDP needs; without them templates lead only the first
    message (and the first after ``resend_templates()``)."""

    domain: int
    size: int

    def __init__(self, domain: "Optional[int]" = None, size: int = MAX_MESSAGE, template_seconds: float = 0,
                 template_messages: int = 0, clock: "Callable[[], float]" = time.monotonic) -> None:
        from _libfc_fields import ipfix_records

        if _decode_rows is None:
            raise RuntimeError("the IPFIX encoder needs the C flow decoder")
        self.domain = default_domain() if domain is None else domain
        if not 0 <= self.domain <= 0xFFFFFFFF:
            raise ValueError("observation domain %d is not a 32-bit number" % self.domain)
        self._records = ipfix_records(_decode_rows, self.domain, size, template_messages, template_seconds)
        self.size = size
        self._clock = clock

    @property
    def sequence(self) -> int:
        """Data records this domain's messages carried so far (mod 2**32)."""
        return self._records.sequence

    @property
    def tracked(self) -> int:
        """Flows whose last packet count is kept."""
        return self._records.tracked

    def resend_templates(self) -> None:
        """The next message leads with the templates (a new TCP connection)."""
        self._records.resend_templates()

    def round(self, now_ms: "Optional[int]" = None, criteria: "Optional[Dict[str, Any]]" = None) -> "Iterator[bytes]":
        """The messages of one round, made as the cache is walked (a page
        of flows at a time: a million flows are never held at once)."""
        # The first page is timed from the round's start: rounds that start
        # template_seconds apart then each refresh the templates, however
        # long each took to its first page.
        started = [self._clock()]
        expiry = _expiry_seconds()
        walk = Walk(criteria, now_ms=now_ms)
        encode, clock = self._records.encode, self._clock

        def render(answer, page_now_ms, rest):
            return encode(answer, page_now_ms, rest, expiry, started.pop() if started else clock(), int(time.time()))

        for _, messages in walk.pages(render, beside=False):  # the encoder reads query answers only
            yield from messages
        yield from self._records.ended(now_ms if now_ms is not None else _now_ms(), clock(), int(time.time()))


def _now_ms() -> int:
    return int(time.time() * 1000)


def encode_round(encoder: "Optional[Encoder]" = None, now_ms: "Optional[int]" = None) -> "List[bytes]":
    """One round's messages at once, from ``encoder`` (whose deltas and
    sequence carry on) or a fresh one of this host's domain."""
    return list((encoder or Encoder()).round(now_ms))


def write_file(stream: "BinaryIO", messages: "Iterable[bytes]") -> int:
    """Messages into an IPFIX file (RFC 5655: messages one after the other,
    templates first, as an encoder's first message has them); how many."""
    count = 0
    for message in messages:
        stream.write(message)
        count += 1
    return count


class Counts:
    """What a sender did: messages sent and those it could not send."""

    def __init__(self) -> None:
        self.sent = 0
        self.failed = 0

    def __repr__(self) -> str:
        return "Counts(sent=%d, failed=%d)" % (self.sent, self.failed)


def _log(line: str) -> None:
    sys.stderr.write("libfc export ipfix: %s\n" % line)
    sys.stderr.flush()


class UdpSender:
    """Datagrams to a collector, paced to ``rate`` messages per second by a
    native thread (``_libfc_fields.ipfix_sender``), so that the walk goes on
    while messages wait their turn; at most RING_BYTES of them wait.  A
    datagram that cannot be sent is counted and dropped, never retried (the
    next round carries the flows on)."""

    def __init__(self, host: str, port: int, rate: float = DEFAULT_RATE,
                 log: "Callable[[str], None]" = _log) -> None:
        from _libfc_fields import ipfix_sender

        family, _, _, _, self.address = socket.getaddrinfo(host, port, 0, socket.SOCK_DGRAM)[0]
        self.family = family
        self.socket = socket.socket(family, socket.SOCK_DGRAM)
        try:
            self._sender = ipfix_sender(self.socket.fileno(), self.address[0], self.address[1], rate, PACING_BURST,
                                        RING_BYTES)
        except BaseException:
            self.socket.close()
            raise
        self._log = log
        self._failed = 0
        self._failing: "Optional[str]" = None

    @property
    def counts(self) -> Counts:
        counts = Counts()
        counts.sent, counts.failed, _ = self._sender.counts()
        return counts

    def message_size(self, mtu: int) -> int:
        return min(mtu - UDP_OVERHEAD[self.family], MAX_MESSAGE)

    def send(self, message: bytes) -> None:
        """Queues the message; waits only while RING_BYTES are queued."""
        self._sender.send(message)

    def flush(self) -> None:
        """Waits until every message is sent or counted, and logs whether
        sending failed since the last flush when that changed."""
        self._sender.flush()
        _, failed, error = self._sender.counts()
        failure = os.strerror(error) if failed > self._failed else None
        self._failed = failed
        if failure != self._failing:
            self._log("sending to %s: %s" % (_address_text(self.address), failure or "sent again"))
            self._failing = failure

    def close(self) -> None:
        self._sender.close()
        self.socket.close()


class TcpSender:
    """A stream to a collector, connected again with backoff when it goes;
    while it is down, messages are counted as failed at once, so a round
    never waits for the collector."""

    def __init__(self, host: str, port: int, encoder: "Optional[Encoder]" = None, timeout: float = 5.0,
                 log: "Callable[[str], None]" = _log, backoff: "Tuple[float, float]" = (1.0, 60.0)) -> None:
        self.host, self.port, self.encoder, self.timeout = host, port, encoder, timeout
        self.socket: "Optional[socket.socket]" = None
        self.counts = Counts()
        self._log = log
        self._backoff_range = backoff
        self._backoff = backoff[0]
        self._retry_at = 0.0
        self._state: "Optional[str]" = None

    def message_size(self, mtu: int) -> int:
        return MAX_MESSAGE

    def flush(self) -> None:
        """Sends as it is handed messages: nothing waits."""

    def _connect(self) -> bool:
        if self.socket is not None:
            return True
        now = time.monotonic()
        if now < self._retry_at:
            return False
        try:
            self.socket = socket.create_connection((self.host, self.port), timeout=self.timeout)
        except OSError as error:
            self._down(error)
            return False
        self._backoff = self._backoff_range[0]
        self._change("connected to %s" % _address_text((self.host, self.port)))
        if self.encoder is not None:
            self.encoder.resend_templates()
        return True

    def _down(self, error: OSError) -> None:
        if self.socket is not None:
            self.socket.close()
            self.socket = None
        self._retry_at = time.monotonic() + self._backoff
        self._change("%s unreachable: %s (trying again, at most every %gs)"
                     % (_address_text((self.host, self.port)), error.strerror or error, self._backoff_range[1]))
        self._backoff = min(self._backoff * 2, self._backoff_range[1])

    def _change(self, state: str) -> None:
        kind = state.split(":", 1)[0]
        if kind != self._state:
            self._log(state)
            self._state = kind

    def connected(self) -> bool:
        """Connects when the backoff allows; whether a stream is up."""
        return self._connect()

    def send(self, message: bytes) -> None:
        if self.socket is None:
            self.counts.failed += 1
            return
        try:
            self.socket.sendall(message)
        except OSError as error:
            self.counts.failed += 1
            self._down(error)
            return
        self.counts.sent += 1

    def close(self) -> None:
        if self.socket is not None:
            self.socket.close()
            self.socket = None


def _address_text(address: "Tuple[Any, ...]") -> str:
    host, port = address[0], address[1]
    return "[%s]:%d" % (host, port) if ":" in host else "%s:%d" % (host, port)


def export(collector: str, transport: str = "udp", interval: float = 60, once: bool = False, mtu: int = 1500,
           domain: "Optional[int]" = None, rate: float = DEFAULT_RATE, template_seconds: float = TEMPLATE_SECONDS,
           template_messages: int = TEMPLATE_MESSAGES, stop: "Optional[threading.Event]" = None,
           log: "Callable[[str], None]" = _log) -> Counts:
    """Exports the cache to ``collector`` (HOST:PORT) over ``transport``,
    a round every ``interval`` seconds until ``stop`` is set (or one round,
    ``once``); what was sent and what could not be."""
    if transport not in TRANSPORTS:
        raise ValueError("transport %r is none of %s" % (transport, ", ".join(TRANSPORTS)))
    host, port = collector_address(collector)
    stop = stop or threading.Event()
    sender: "Any"
    if transport == "udp":
        sender = UdpSender(host, port, rate, log)
        encoder = Encoder(domain, sender.message_size(mtu), template_seconds, template_messages)
    else:
        sender = TcpSender(host, port, log=log)
        encoder = Encoder(domain)
        sender.encoder = encoder
    try:
        while True:
            began = time.monotonic()
            # Over TCP, a round waits for the collector: its deltas then
            # span the time it was away, instead of being reported to nobody.
            if transport == "udp" or sender.connected():
                for message in encoder.round():
                    sender.send(message)
                sender.flush()
            elif once:
                sender.counts.failed += 1
            if once or stop.wait(max(interval - (time.monotonic() - began), 0)):
                return sender.counts
    finally:
        sender.close()


__all__ = ["Encoder", "Counts", "TcpSender", "UdpSender", "collector_address", "default_domain", "encode_round",
           "export", "write_file", "PORT", "MAX_MESSAGE", "TEMPLATE_SECONDS", "TEMPLATE_MESSAGES", "DEFAULT_RATE",
           "FAST_RATE", "FAST_RATE_BUFFER"]

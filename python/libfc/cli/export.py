"""``export ipfix`` sends the flow cache to IPFIX collectors (nfcapd,
nfacctd and the like): a round every --interval seconds, each flow that is
new or had packets since its last record, then the flows that left the
cache.  As a service it runs until SIGTERM or Ctrl-C and logs to stderr one
line per change of the collector's state; --once sends one round and exits,
--file writes one round to an IPFIX file instead."""

import argparse
import signal
import sys
import threading

from .. import ipfix
from ._library import CommandError

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Tuple

    _Subparsers = argparse._SubParsersAction[Any]

# Below this, a UDP message cannot hold the templates and one record.
MIN_MTU = 576


def _collector(text: str) -> "Tuple[str, int]":
    try:
        return ipfix.collector_address(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def _bounded(kind, low, high, what):
    def convert(text):
        try:
            value = kind(text)
        except ValueError:
            value = None
        if value is None or not low <= value <= high:
            raise argparse.ArgumentTypeError("%r is not %s" % (text, what))
        return value
    return convert


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("export", help="send the flows to flow collectors",
                                   description="Send the flow cache's flows to collectors in a standard format.")
    formats = parser.add_subparsers(dest="format", metavar="FORMAT")
    formats.required = True
    ipfix_parser = formats.add_parser(
        "ipfix", help="export flow records over IPFIX (RFC 7011)",
        description="Export the cache's flows to an IPFIX collector: every --interval seconds, one data record "
                    "per flow that is new or had packets since its last record, and an end record per flow "
                    "that left the cache. Runs until SIGTERM or Ctrl-C unless --once.")
    target = ipfix_parser.add_mutually_exclusive_group(required=True)
    target.add_argument("--collector", type=_collector, metavar="HOST:PORT",
                        help="the collector (port %d when left out; [IPv6]:PORT)" % ipfix.PORT)
    target.add_argument("--file", metavar="PATH",
                        help="write one round to an IPFIX file (RFC 5655) instead of sending it")
    ipfix_parser.add_argument("--transport", choices=ipfix.TRANSPORTS, default="udp",
                              help="how messages travel (default udp)")
    ipfix_parser.add_argument("--interval", type=_bounded(float, 1, 86400, "1 to 86400 seconds"), default=60,
                              metavar="S", help="seconds between rounds (default 60)")
    ipfix_parser.add_argument("--once", action="store_true", help="send one round and exit")
    ipfix_parser.add_argument("--mtu", type=_bounded(int, MIN_MTU, 65535, "an MTU of %d to 65535" % MIN_MTU),
                              default=1500, metavar="BYTES",
                              help="path MTU that UDP messages fit in (default 1500)")
    ipfix_parser.add_argument("--domain", type=_bounded(int, 0, 0xFFFFFFFF, "a 32-bit observation domain id"),
                              metavar="ID", help="observation domain id (default: a hash of the host name)")
    ipfix_parser.add_argument("--rate", type=_bounded(float, 0, 1e7, "0 to 10000000 messages a second"),
                              default=ipfix.DEFAULT_RATE, metavar="N",
                              help="UDP messages a second at most (default %d, which a collector's default"
                                   " socket buffer takes; %d for one with %d MiB; 0: unpaced)"
                                   % (ipfix.DEFAULT_RATE, ipfix.FAST_RATE, ipfix.FAST_RATE_BUFFER >> 20))
    ipfix_parser.add_argument("--template-seconds", type=_bounded(float, 0, 86400, "0 to 86400 seconds"),
                              default=ipfix.TEMPLATE_SECONDS, metavar="S",
                              help="re-send templates over UDP after S seconds (default %d; 0: never)"
                                   % ipfix.TEMPLATE_SECONDS)
    ipfix_parser.add_argument("--template-messages", type=_bounded(int, 0, 2**31, "0 or more messages"),
                              default=ipfix.TEMPLATE_MESSAGES, metavar="N",
                              help="re-send templates over UDP every N messages (default %d; 0: never)"
                                   % ipfix.TEMPLATE_MESSAGES)
    ipfix_parser.set_defaults(handler=run)


def _write_file(args):
    encoder = ipfix.Encoder(args.domain)
    try:
        with open(args.file, "wb") as stream:
            count = ipfix.write_file(stream, encoder.round())
    except OSError as error:
        raise CommandError("cannot write %s: %s" % (args.file, error.strerror or error)) from None
    print("wrote %d messages, %d flows tracked, to %s" % (count, encoder.tracked, args.file))
    return 0


def run(args: "argparse.Namespace") -> int:
    if args.file is not None:
        return _write_file(args)
    host, port = args.collector
    collector = "[%s]:%d" % (host, port) if ":" in host else "%s:%d" % (host, port)
    stop = threading.Event()
    # SIGTERM (systemd's stop) ends the service as Ctrl-C does, but after
    # the round under way, whose flows are already counted as reported.
    previous = signal.signal(signal.SIGTERM, lambda *_: stop.set())
    try:
        if not args.once:
            ipfix._log("exporting to %s over %s every %gs" % (collector, args.transport, args.interval))
        counts = ipfix.export(collector, args.transport, args.interval, args.once, args.mtu, args.domain,
                              args.rate, args.template_seconds, args.template_messages, stop)
    except KeyboardInterrupt:
        ipfix._log("interrupted")
        raise
    except OSError as error:
        raise CommandError("cannot export to %s: %s" % (collector, error.strerror or error)) from None
    finally:
        signal.signal(signal.SIGTERM, previous)
    if args.once:
        print("sent %d messages to %s" % (counts.sent, collector))
    else:
        ipfix._log("stopped: %d messages sent, %d not sent" % (counts.sent, counts.failed))
    if counts.failed:
        raise CommandError("%d of %d messages could not be sent to %s"
                           % (counts.failed, counts.sent + counts.failed, collector))
    return 0

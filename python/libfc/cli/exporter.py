"""``exporter`` serves the flow cache's metric families over HTTP for
Prometheus to scrape: ``/metrics`` in the text format, read from the cache
at each scrape (nothing polls in between).  When the library fails, the
scrape still answers, with libfc_up 0 and the error, and the exporter keeps
serving until Ctrl-C."""

import argparse
import sys
import threading

from .. import _metrics
from ._library import CommandError, need_client

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Optional, Tuple

    _Subparsers = argparse._SubParsersAction[Any]

DEFAULT_LISTEN = "127.0.0.1:9477"


def listen_address(text: str) -> "Tuple[str, int]":
    """HOST:PORT, or [IPv6]:PORT, as (host, port); ASCII only (isdigit()
    alone takes the digits of every script)."""
    host, separator, port = text.rpartition(":")
    if not separator or not text.isascii() or not port.isdigit() or int(port) > 65535:
        raise argparse.ArgumentTypeError("%r is not HOST:PORT (like %s, or [::1]:9477)" % (text, DEFAULT_LISTEN))
    if host.startswith("[") and host.endswith("]"):
        host = host[1:-1]
    return host, int(port)


# A URL cannot name every interface: the loopback address of the family does.
EVERY_INTERFACE = {"": "127.0.0.1", "0.0.0.0": "127.0.0.1", "::": "::1"}


def address_text(host: str, port: int) -> str:
    return "%s:%d" % ("[%s]" % host if ":" in host else host, port)


def served_at(host: str, port: int) -> str:
    """The URL of /metrics on (host, port), as run() prints it."""
    url = "http://%s/metrics" % address_text(EVERY_INTERFACE.get(host, host), port)
    return url + " (listening on every interface)" if host in EVERY_INTERFACE else url


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("exporter", help="serve the counters to Prometheus",
                                   description="Serve the flow cache's metrics at /metrics for Prometheus, "
                                               "read at every scrape. Needs prometheus_client "
                                               "(the package's 'exporter' extra).")
    parser.add_argument("--listen", type=listen_address, default=listen_address(DEFAULT_LISTEN),
                        metavar="HOST:PORT", help="address to listen on (default %s; port 0: any free one)"
                        % DEFAULT_LISTEN)
    parser.set_defaults(handler=run)


def _application(collector):
    """The WSGI application: /metrics from a registry holding only
    `collector`, 404 for anything else but a pointer at /."""
    from prometheus_client import CollectorRegistry, make_wsgi_app

    registry = CollectorRegistry(auto_describe=False)
    registry.register(collector)
    metrics = make_wsgi_app(registry)

    def application(environ, start_response):
        path = environ.get("PATH_INFO") or "/"
        if path == "/metrics":
            return metrics(environ, start_response)
        status = "200 OK" if path == "/" else "404 Not Found"
        start_response(status, [("Content-Type", "text/plain; charset=utf-8")])
        return [b"libfc exporter: the metrics are at /metrics\n"]

    return application


def start(host: str, port: int, collector: "Optional[Any]" = None) -> "Any":
    """A server answering in a thread of its own; its server_port is the
    port it got.  Stop it with shutdown() and server_close()."""
    from . import _http  # imported when an exporter starts: every command of the tool imports this module

    server = _http.Server(host, port, _application(collector or _metrics.Collector()))
    threading.Thread(target=server.serve_forever, name="libfc-exporter", daemon=True).start()
    return server


def run(args: "argparse.Namespace") -> int:
    need_client("the exporter")
    host, port = args.listen
    try:
        server = start(host, port)
    except OSError as error:
        raise CommandError("cannot listen on %s: %s" % (address_text(host, port), error.strerror or error)) from None
    sys.stdout.write("serving %s\n" % served_at(host, server.server_port))
    sys.stdout.flush()
    try:
        threading.Event().wait()  # until Ctrl-C
    finally:
        server.shutdown()
        server.server_close()
    return 0

"""``exporter`` serves the flow cache's metric families over HTTP for
Prometheus to scrape: ``/metrics`` in the text format, read from the cache
at each scrape (nothing polls in between).  When the library fails, the
scrape still answers, with libfc_up 0 and the error, and the exporter keeps
serving until Ctrl-C."""

import argparse
import socket
import sys
import threading

from .. import _metrics
from ._library import CommandError

DEFAULT_LISTEN = "127.0.0.1:9477"


def listen_address(text):
    """HOST:PORT, or [IPv6]:PORT, as (host, port)."""
    host, separator, port = text.rpartition(":")
    if not separator or not port.isdigit() or int(port) > 65535:
        raise argparse.ArgumentTypeError("%r is not HOST:PORT (like %s, or [::1]:9477)" % (text, DEFAULT_LISTEN))
    if host.startswith("[") and host.endswith("]"):
        host = host[1:-1]
    return host, int(port)


def register(subparsers):
    parser = subparsers.add_parser("exporter", help="serve the counters to Prometheus",
                                   description="Serve the flow cache's metrics at /metrics for Prometheus, "
                                               "read at every scrape. Needs prometheus_client "
                                               "(the package's 'exporter' extra).")
    parser.add_argument("--listen", type=listen_address, default=listen_address(DEFAULT_LISTEN),
                        metavar="HOST:PORT", help="address to listen on (default %s; port 0: any free one)"
                        % DEFAULT_LISTEN)
    parser.set_defaults(handler=run)


def _server_classes(ipv6):
    """The server and request handler classes, made when an exporter starts:
    the HTTP server modules take longer to import than a listing of flows
    takes to run, and every command of the tool imports this module."""
    import socketserver
    from wsgiref.simple_server import WSGIRequestHandler, WSGIServer

    class Quiet(WSGIRequestHandler):
        def log_message(self, *arguments):  # one line per scrape would flood the log
            pass

    class Server(socketserver.ThreadingMixIn, WSGIServer):
        daemon_threads = True
        allow_reuse_address = True
        if ipv6:
            address_family = socket.AF_INET6

    return Server, Quiet


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


def start(host, port, collector=None):
    """A server answering in a thread of its own; its server_port is the
    port it got.  Stop it with shutdown() and server_close()."""
    from wsgiref.simple_server import make_server

    server_class, handler_class = _server_classes(":" in host)
    server = make_server(host, port, _application(collector or _metrics.Collector()),
                         server_class=server_class, handler_class=handler_class)
    threading.Thread(target=server.serve_forever, name="libfc-exporter", daemon=True).start()
    return server


def need_client(what):
    """A CommandError naming the extra to install when prometheus_client
    is missing; `what` is what needs it."""
    try:
        import prometheus_client  # noqa: F401
    except ImportError:
        raise CommandError("%s needs prometheus_client: pip install 'libfc-binding[exporter]'" % what) from None


def run(args):
    need_client("the exporter")
    host, port = args.listen
    server = start(host, port)
    shown = "[%s]" % host if ":" in host else host
    sys.stdout.write("serving http://%s:%d/metrics\n" % (shown, server.server_port))
    sys.stdout.flush()
    try:
        threading.Event().wait()  # until Ctrl-C
    finally:
        server.shutdown()
        server.server_close()
    return 0

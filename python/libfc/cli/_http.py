"""The exporter's HTTP server: one thread accepts, reads and writes every
connection through a selector, so that a connection costs a descriptor and
a buffer, never a thread, and none is held longer than TIMEOUT.  A request
whose headers have all arrived is answered by the WSGI application in that
thread (scrapes read the cache one after the other anyway)."""

import errno
import io
import re
import selectors
import socket
import sys
import threading
import time
import traceback
from wsgiref.simple_server import WSGIRequestHandler

MAX_CONNECTIONS = 256
TIMEOUT = 5.0  # seconds for a request to arrive and its answer to leave
BACKLOG = 128
MAX_REQUEST = 16384  # bytes of request line and headers
# Descriptors left to the application's own reads of the cache once they
# ran out: a scrape that cannot open the state file answers libfc_up 0.
RESERVE = 8
PAUSE = 0.1  # seconds without accepting when no connection can make room
OUT_OF_RESOURCES = (errno.EMFILE, errno.ENFILE, errno.ENOBUFS, errno.ENOMEM)
HEADERS_END = re.compile(rb"\n\r?\n")
_BODY = b"libfc exporter: too many connections\n"
BUSY = b"HTTP/1.0 503 Service Unavailable\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n%s" % (
    len(_BODY), _BODY)


class _Exchange(WSGIRequestHandler):
    """wsgiref's handling of one request, read from bytes already received
    and answering into bytes that the loop sends."""

    # Nobody speaks HTTP/0.9 any more, and its replies (to a request line
    # that cannot be parsed, too) start with no status line.
    default_request_version = "HTTP/1.0"

    def setup(self):
        self.rfile, self.wfile = io.BytesIO(self.request), io.BytesIO()

    def finish(self):
        pass  # the answer stays in wfile for the loop

    def log_message(self, *arguments):  # one line per scrape would flood the log
        pass


class _Connection:
    def __init__(self, sock, address, deadline):
        self.sock, self.address, self.deadline = sock, address, deadline
        self.received = bytearray()
        self.answer = None  # a memoryview of what is left to send, once answered


class Server:
    """Serves `application` on (host, port) from serve_forever() until
    shutdown(); server_close() releases the socket.  server_port is the
    port it got."""

    def __init__(self, host, port, application):
        self.socket = socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET)
        try:
            self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            self.socket.bind((host, port))
            self.socket.listen(BACKLOG)
        except OSError:
            self.socket.close()
            raise
        self.socket.setblocking(False)
        self.server_port = self.socket.getsockname()[1]
        self.application = application
        self.base_environ = {"SERVER_NAME": host or "localhost", "SERVER_PORT": str(self.server_port),
                             "GATEWAY_INTERFACE": "CGI/1.1", "REMOTE_HOST": "", "CONTENT_LENGTH": "",
                             "SCRIPT_NAME": ""}
        self.limit = MAX_CONNECTIONS
        self.connections = {}  # socket: _Connection, oldest first
        self.resume_at = None  # accepting paused until then
        self.selector = selectors.DefaultSelector()
        self.selector.register(self.socket, selectors.EVENT_READ)
        self.wake, self.waker = socket.socketpair()  # shutdown() interrupts a select
        self.selector.register(self.wake, selectors.EVENT_READ)
        self.stopping, self.stopped = False, threading.Event()

    # -- the loop ---------------------------------------------------------------

    def serve_forever(self):
        try:
            while not self.stopping:
                for key, _ in self.selector.select(self._wait()):
                    if key.data is not None:
                        self._advance(key.data)
                    elif key.fileobj is self.socket:
                        self._accept()
                now = time.monotonic()
                for connection in [c for c in self.connections.values() if c.deadline <= now]:
                    self._close(connection)
                if self.resume_at is not None and self.resume_at <= now:
                    self.resume_at = None
                    self.selector.register(self.socket, selectors.EVENT_READ)
        finally:
            self.stopped.set()

    def _wait(self):
        times = [c.deadline for c in self.connections.values()] + [self.resume_at] * (self.resume_at is not None)
        return max(0.0, min(times) - time.monotonic()) if times else None

    def shutdown(self):
        self.stopping = True
        self.waker.send(b"x")
        self.stopped.wait()

    def server_close(self):
        for connection in list(self.connections.values()):
            self._close(connection)
        for sock in (self.socket, self.wake, self.waker):
            sock.close()
        self.selector.close()

    # -- connections ------------------------------------------------------------

    def _accept(self):
        try:
            sock, address = self.socket.accept()
        except OSError as error:
            if error.errno in OUT_OF_RESOURCES:
                self._out_of_resources(error)
            return  # otherwise the peer left before it was taken (or nothing was waiting)
        sock.setblocking(False)
        if len(self.connections) >= self.limit and not self._make_room():
            try:
                sock.send(BUSY)
            except OSError:
                pass
            sock.close()
            return
        connection = _Connection(sock, address, time.monotonic() + TIMEOUT)
        self.connections[sock] = connection
        self.selector.register(sock, selectors.EVENT_READ, connection)

    def _make_room(self):
        """Below the limit by the oldest connections still waiting for their
        request: each reads what has come and is answered, or is dropped (so
        idle connections cannot keep out the next scrape)."""
        for connection in list(self.connections.values()):
            if len(self.connections) < self.limit:
                break
            if connection.answer is None:
                self._advance(connection)
                if connection.answer is None and connection.sock in self.connections:
                    self._close(connection)
        return len(self.connections) < self.limit

    def _out_of_resources(self, error):
        # The limit stays lowered: what ran out once (a ulimit below the
        # cap) runs out again.  One line when it changes, none per failure.
        held = len(self.connections)
        if max(1, held - RESERVE) < self.limit:
            self.limit = max(1, held - RESERVE)
            sys.stderr.write("libfc exporter: cannot accept at %d connections (%s): holding at most %d\n"
                             % (held, error.strerror, self.limit))
            sys.stderr.flush()
        self._make_room()
        if len(self.connections) == held:
            # Nothing was closed: the listening socket stays ready, so
            # accepting again at once would spin.
            self.selector.unregister(self.socket)
            self.resume_at = time.monotonic() + PAUSE

    def _advance(self, connection):
        if connection.answer is None:
            self._receive(connection)
        if connection.answer is not None and connection.sock in self.connections:
            self._send(connection)

    def _receive(self, connection):
        try:
            data = connection.sock.recv(MAX_REQUEST)
        except BlockingIOError:
            return
        except OSError:
            data = b""
        connection.received += data
        if not HEADERS_END.search(connection.received):
            if not data or len(connection.received) > MAX_REQUEST:
                self._close(connection)
            return
        try:
            answer = _Exchange(bytes(connection.received), connection.address, self).wfile.getvalue()
        except Exception:  # a fault in answering one request ends that connection, not the server
            traceback.print_exc()
            answer = b""
        connection.answer = memoryview(answer)
        self.selector.modify(connection.sock, selectors.EVENT_WRITE, connection)

    def _send(self, connection):
        try:
            connection.answer = connection.answer[connection.sock.send(connection.answer):]
        except BlockingIOError:
            return
        except OSError:
            connection.answer = b""
        if not connection.answer:
            self._close(connection)

    def _close(self, connection):
        del self.connections[connection.sock]
        self.selector.unregister(connection.sock)
        connection.sock.close()

    def get_app(self):  # for wsgiref's request handler, with base_environ
        return self.application

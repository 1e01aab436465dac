"""Hostile HTTP requests against a running exporter.  Each input stands for
request bytes (raw, or a well-formed request mutated as the input says),
sent on a connection of its own: the reply must start with an HTTP status
line or be nothing (the connection closed), the exporter must report no
fault while answering, and it must keep answering scrapes.

    nice -n 10 python tests/fuzz/fuzz_http_atheris.py CORPUS_DIR -max_total_time=900 -seed=11
    python tests/fuzz/fuzz_http_atheris.py --random N SEED    # without atheris, as the suite runs it
"""

import io
import os
import random
import re
import socket
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
BUILD = os.environ.get("LIBFC_BUILD_DIR", os.path.join(os.path.dirname(TESTS), "build"))
sys.path[:0] = [path for path in (BUILD, TESTS) if path not in sys.path]
# Never the user's own flow cache: a directory of the run's own, gone with it.
_STATE = tempfile.TemporaryDirectory(prefix="libfc-http-fuzz-")
os.environ["FC_EMU_DIR"] = _STATE.name

from _helpers import builtin_library  # noqa: E402
from libfc.cli import exporter  # noqa: E402

STATUS_LINE = re.compile(rb"HTTP/1\.[01] [1-5][0-9][0-9] [^\r\n]*\r\n")
REQUESTS = [b"GET /metrics HTTP/1.1\r\nHost: exporter.example.net\r\nAccept-Encoding: gzip\r\n\r\n",
            b"GET /?name[]=libfc_up HTTP/1.0\r\n\r\n",
            b"HEAD /metrics HTTP/1.1\r\nAccept: application/openmetrics-text; version=1.0.0\r\n\r\n",
            b"POST /metrics HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\nhello"]
PIECES = [b"\r\n", b"\n", b" ", b":", b"%", b"%00", b"?", b"/", b"\0", b"\xff", b"HTTP/1.1", b"\r\nX-A: b",
          b"Content-Length: -1\r\n", b"Accept-Encoding: gzip\r\n"]
SERVER = exporter.start("127.0.0.1", 0)


def request_of(data):
    """An even first byte: the bytes after it; an odd one: a well-formed
    request changed by each three bytes after it."""
    if not data or data[0] % 2 == 0:
        return data[1:]
    request = bytearray(REQUESTS[data[0] // 2 % len(REQUESTS)])
    for i in range(1, len(data) - 2, 3):  # replace a byte by a piece, insert a byte, delete, duplicate
        operation, at, value = data[i] % 4, data[i + 1] * len(request) // 256, data[i + 2]
        request[at:at + (1, 0, value % 8, 0)[operation]] = (
            PIECES[value % len(PIECES)], bytes([value]), b"", request[at:at + value])[operation]
    return bytes(request)


def exchange(request):
    """The exporter's reply to a request sent on a connection of its own
    (nothing when it closed the connection), and what it reported."""
    sys.stderr, stderr = io.StringIO(), sys.stderr  # where the exporter reports a fault in answering
    try:
        with socket.create_connection(("127.0.0.1", SERVER.server_port), timeout=30) as peer:
            try:
                peer.sendall(request)
                peer.shutdown(socket.SHUT_WR)
                return b"".join(iter(lambda: peer.recv(65536), b"")), sys.stderr.getvalue()
            except OSError as error:  # closed with the request unread (reset, or not connected any more)
                if isinstance(error, TimeoutError):
                    raise
                return b"", sys.stderr.getvalue()
    finally:
        sys.stderr = stderr


def TestOneInput(data):
    request = request_of(data)
    reply, faults = exchange(request)
    assert not faults and (not reply or STATUS_LINE.match(reply)), (request, reply[:300], faults)


def keeps_answering():
    assert exchange(REQUESTS[0])[0].startswith(b"HTTP/1.0 200 OK\r\n")


def main():
    builtin_library("libfc.so").fcemu_reset()
    if sys.argv[1:2] == ["--random"]:
        count, seed = int(sys.argv[2]), int(sys.argv[3])
        rng = random.Random(seed)
        for n in range(count):
            TestOneInput(bytes(rng.getrandbits(8) for _ in range(rng.randrange(1, 120))))
            if n % 500 == 499:
                keeps_answering()
        keeps_answering()
        print("http fuzz: %d random inputs, seed %d" % (count, seed))
        return
    import atheris
    atheris.instrument_all()  # wsgiref's and http.server's parsing too: the guidance
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()

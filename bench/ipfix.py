"""IPFIX export of a full cache: one round of `libfc.ipfix.Encoder` (walk,
records, messages) as a ratio to the package's walk of the same cache in
the same run (target 1.5), and paced rounds sent over UDP to nfcapd on the
loopback, with the records it did not receive (target 0): at the default
rate to nfcapd with the system's socket buffer, and at the fast rate to
nfcapd with the buffer docs/ipfix.md asks for it (or at --rate, to nfcapd
with --buffer bytes).

Walk and round take turns, three times, and the fastest of each is kept, so
load on the machine falls on both alike. The cache is the built-in
library's, in a temporary state directory.

    python bench/ipfix.py [--flows 1000000] [--rate N] [--buffer BYTES]
"""

import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

def walk_seconds():
    import libfc

    started = time.perf_counter()
    count = sum(1 for _ in libfc.flows())
    return time.perf_counter() - started, count


def round_seconds():
    from libfc import ipfix

    encoder = ipfix.Encoder(domain=1, size=1500 - 28)
    started = time.perf_counter()
    messages = sum(1 for _ in encoder.round())
    return time.perf_counter() - started, messages, encoder.tracked


def sent_and_received(rate, directory, buffer):
    """Records sent in a paced round to nfcapd on the loopback (its socket
    buffer `buffer` bytes, 0: the system's), records it reports having
    received (its closing summary), and the round's seconds."""
    from libfc import ipfix

    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    collector = subprocess.Popen(["nfcapd", "-b", "127.0.0.1", "-p", str(port), "-w", directory]
                                 + (["-B", str(buffer)] if buffer else []),
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    time.sleep(1)
    sender = ipfix.UdpSender("127.0.0.1", port, rate, log=lambda line: None)
    encoder = ipfix.Encoder(domain=1, size=sender.message_size(1500))
    started = time.perf_counter()
    for message in encoder.round():
        sender.send(message)
    sender.flush()
    seconds = time.perf_counter() - started
    sender.close()
    time.sleep(2)
    collector.send_signal(signal.SIGTERM)
    summary = re.search(r"Flows: (\d+)", collector.communicate(timeout=120)[0])
    return encoder.sequence, int(summary.group(1)) if summary else 0, seconds


def system_setting(name):
    try:
        with open("/proc/sys/" + name) as setting:
            return setting.read().strip()
    except OSError:
        return "unknown"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--flows", type=int, default=1000000)
    parser.add_argument("--rate", type=float, help="UDP messages a second (default: the exporter's)")
    parser.add_argument("--buffer", type=int,
                        help="nfcapd's socket buffer in bytes (default: the system's)")
    parser.add_argument("--paced-only", action="store_true", help="no walk or encoded round: the paced one only")
    args = parser.parse_args()
    from walk import fill

    with tempfile.TemporaryDirectory(prefix="fcemu-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None) \
            as state:
        os.environ["FC_EMU_DIR"] = state
        installed = fill(args.flows)
        from libfc import ipfix

        # The default rate to a collector left with the system's buffer, and
        # the fast rate to one given the buffer it needs; or what was asked.
        paced = ([(ipfix.DEFAULT_RATE, 0), (ipfix.FAST_RATE, ipfix.FAST_RATE_BUFFER)]
                 if args.rate is None and args.buffer is None
                 else [(args.rate or ipfix.DEFAULT_RATE, args.buffer or 0)])
        walks, rounds = [], []
        for _ in range(0 if args.paced_only else 3):
            walks.append(walk_seconds()[0])
            took, messages, tracked = round_seconds()
            rounds.append(took)
        print("%-10s %-34s %10s %10s" % ("cache", "reader", "seconds", "x walk"))
        walk = min(walks) if walks else float("nan")
        if rounds:
            print("%-10d %-34s %10.2f" % (installed, "libfc.flows()", walk))
            print("%-10d %-34s %10.2f %10.2f  (target 1.5; %d messages, %d flows)" % (
                installed, "ipfix round (encoded, not sent)", min(rounds), min(rounds) / walk, messages, tracked))
        if shutil.which("nfcapd") is None:
            print("# nfcapd (Debian's nfdump) is not installed: no round over UDP")
            return
        for rate, buffer in paced:
            sent, received, seconds = sent_and_received(rate, state, buffer)
            print("%-10d %-34s %10.2f %10.2f  records sent %d, nfcapd received %d, lost %d (target 0)" % (
                installed, "ipfix round over UDP, %d/s" % rate, seconds, seconds / walk, sent, received,
                sent - received))
            print("# nfcapd -B %s (net.core.rmem_max %s caps it); %.0f records/s reached it" % (
                buffer or "left out: the system's default buffer", system_setting("net/core/rmem_max"),
                received / seconds))

if __name__ == "__main__":
    socket.setdefaulttimeout(None)
    main()

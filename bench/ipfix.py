"""IPFIX export of a full cache: one round of `libfc.ipfix.Encoder` (walk,
records, messages) as a ratio to the package's walk of the same cache in
the same run (target 1.5), and one paced round sent over UDP to nfcapd on
the loopback, with the records it did not receive (target 0).

Walk and round take turns, three times, and the fastest of each is kept, so
load on the machine falls on both alike. The cache is the built-in
library's, in a temporary state directory.

    python bench/ipfix.py [--flows 1000000]
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


def sent_and_received(rate, directory):
    """Records sent in a paced round to nfcapd on the loopback, records it
    reports having received (its closing summary), and the round's seconds."""
    from libfc import ipfix

    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    collector = subprocess.Popen(["nfcapd", "-b", "127.0.0.1", "-p", str(port), "-w", directory],
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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--flows", type=int, default=1000000)
    args = parser.parse_args()
    from walk import fill

    with tempfile.TemporaryDirectory(prefix="fcemu-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None) \
            as state:
        os.environ["FC_EMU_DIR"] = state
        installed = fill(args.flows)
        walks, rounds = [], []
        for _ in range(3):
            walks.append(walk_seconds()[0])
            took, messages, tracked = round_seconds()
            rounds.append(took)
        print("%-10s %-34s %10s %10s" % ("cache", "reader", "seconds", "x walk"))
        print("%-10d %-34s %10.2f" % (installed, "libfc.flows()", min(walks)))
        print("%-10d %-34s %10.2f %10.2f  (target 1.5; %d messages, %d flows)" % (
            installed, "ipfix round (encoded, not sent)", min(rounds), min(rounds) / min(walks), messages, tracked))
        from libfc import ipfix

        if shutil.which("nfcapd") is None:
            print("# nfcapd (Debian's nfdump) is not installed: no round over UDP")
            return
        sent, received, seconds = sent_and_received(ipfix.DEFAULT_RATE, state)
        print("%-10d %-34s %10.2f %10.2f  records sent %d, nfcapd received %d, lost %d (target 0)" % (
            installed, "ipfix round over UDP, paced", seconds, seconds / min(walks), sent, received, sent - received))


if __name__ == "__main__":
    socket.setdefaulttimeout(None)
    main()

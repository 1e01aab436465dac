"""IPFIX export checked by real collectors: what nfdump's nfcapd stores and
tshark decodes of the exported messages must be what ``libfc flows --json``
shows of the cache, round after round."""

import contextlib
import ipaddress
import json
import shutil
import signal
import socket
import struct
import subprocess
import threading
import time

import pytest

from _helpers import cli_here, cli_started, run_cli

needs_nfdump = pytest.mark.skipif(shutil.which("nfcapd") is None or shutil.which("nfdump") is None,
                                  reason="nfcapd/nfdump (Debian's nfdump) are not installed")
needs_tshark = pytest.mark.skipif(shutil.which("tshark") is None, reason="tshark (Debian's tshark) is not installed")


@pytest.fixture(autouse=True)
def cache(flow_cache):
    assert cli_here("emu", "traffic", "--flows", "60", "--seed", "7").returncode == 0
    yield flow_cache


def cached_flows():
    return json.loads(cli_here("flows", "--json").stdout)["flows"]


def free_port(kind=socket.SOCK_DGRAM):
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def unread_bytes(port):
    """What waits in the receive queue of the UDP socket bound to 127.0.0.1
    at `port` (Linux's socket table)."""
    with open("/proc/net/udp") as table:
        for line in table:
            fields = line.split()
            if fields[1] == "0100007F:%04X" % port:
                return int(fields[4].partition(":")[2], 16)
    return 0


@contextlib.contextmanager
def nfcapd(tmp_path, port=None):
    """nfcapd on the loopback; yields a function that stops it and returns
    what nfdump lists of the files it wrote.  What nfcapd says (its counts
    at the end) goes to nfcapd.log beside them."""
    port = port or free_port()
    directory = tmp_path / "nfcapd"
    directory.mkdir(exist_ok=True)
    with open(tmp_path / "nfcapd.log", "wb") as log:
        child = subprocess.Popen(["nfcapd", "-b", "127.0.0.1", "-p", str(port), "-w", str(directory)],
                                 stdout=log, stderr=subprocess.STDOUT)

    def stop_and_list():
        # nfcapd leaves unread datagrams behind when stopped: what was sent
        # is in its queue by now, on the loopback, and goes from there.
        deadline = time.monotonic() + 10
        while unread_bytes(port) and time.monotonic() < deadline:
            time.sleep(0.02)
        child.send_signal(signal.SIGTERM)
        child.wait(timeout=30)
        listing = subprocess.run(["nfdump", "-R", str(directory), "-o", "json"], capture_output=True, text=True)
        return json.loads(listing.stdout or "[]")

    try:
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and child.poll() is None:
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
                try:
                    probe.bind(("127.0.0.1", port))
                except OSError:
                    break  # nfcapd holds it
            time.sleep(0.05)
        yield port, stop_and_list
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()


def flow_key(src, dst, proto, port):
    return ipaddress.ip_address(src).packed, ipaddress.ip_address(dst).packed, proto, port


def listed(record):
    """What nfdump shows of a record, keyed as flow_key."""
    src, dst = record.get("src4_addr", record.get("src6_addr")), record.get("dst4_addr", record.get("dst6_addr"))
    return flow_key(src, dst, record["proto"], record["input_snmp"]), (
        record["in_src_mac"], record["in_dst_mac"], record["src_vlan"], record["in_packets"])


def shown(flow, packets):
    return flow_key(flow["src"], flow["dst"], flow["proto"], flow["port"]), (
        flow["src_mac"], flow["dst_mac"], flow["vlan"], packets)


def send_round(encoder, port):
    messages = list(encoder.round())
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as out:
        for message in messages:
            out.sendto(message, ("127.0.0.1", port))
    return messages


def tshark_records(path):
    """tshark's decoding of an IPFIX file, one dict of label: value per
    record, after checking it found nothing malformed and no unknown
    template."""
    detail = subprocess.run(["tshark", "-r", str(path), "-V"], capture_output=True, text=True).stdout
    assert "Cisco NetFlow/IPFIX" in detail, detail[-2000:]
    assert "Malformed" not in detail and "no template" not in detail.lower(), detail[-2000:]
    records, record = [], None
    for line in detail.splitlines():
        text = line.strip()
        if text.startswith("Flow ") and text[5:].isdigit():
            record = {}
            records.append(record)
        elif not line.startswith(" " * 12):
            record = None
        elif record is not None and ": " in text:
            label, _, value = text.partition(": ")
            record.setdefault(label, value)
    return records


@needs_nfdump
@needs_tshark
def test_rounds_reach_nfcapd_with_each_flows_values_deltas_and_end_records(tmp_path):
    from libfc import ipfix

    encoder = ipfix.Encoder(domain=17, size=1472)
    with nfcapd(tmp_path) as (port, stop_and_list):
        first = send_round(encoder, port)
        before = {flow["id"]: flow for flow in cached_flows()}
        assert run_cli("emu", "traffic", "--flows", "60", "--seed", "7").returncode == 0  # more packets, same flows
        gone = before[min(before)]
        assert run_cli("flows", "remove", "--src", gone["src"]).returncode == 0
        after = {flow["id"]: flow for flow in cached_flows()}
        second = send_round(encoder, port)
        records = stop_and_list()
    expected = sorted(shown(flow, flow["packets"]) for flow in before.values())
    deltas = {flow["id"]: flow["packets"] - before.get(flow["id"], {"packets": 0})["packets"] for flow in after.values()}
    expected += sorted(shown(flow, deltas[flow["id"]]) for flow in after.values() if deltas[flow["id"]])
    # End records name a flow by id only: nfdump keeps them as address-less flows.
    data = [listed(record) for record in records if "src4_addr" in record or "src6_addr" in record]
    assert len(records) - len(data) == 1
    assert sorted(data[:len(before)]) == expected[:len(before)]
    assert sorted(data[len(before):]) == expected[len(before):]
    # tshark reads the same rounds as a file: the VNIs (RFC 7133 segment ids)
    # and the end records, which nfdump keeps no column for.
    path = tmp_path / "rounds.ipfix"
    path.write_bytes(b"".join(first + second))
    records = tshark_records(path)
    vni = {int(record["Flow Id"]): int(record["Layer2 Segment Id"]) for record in records
           if "Layer2 Segment Id" in record}
    assert vni == {flow["id"]: (1 << 56 | flow["vni"]) if flow["vni"] else 0 for flow in before.values()}
    ended = [(int(record["Flow Id"]), record["Flow End Reason"]) for record in records if "Flow End Reason" in record]
    assert ended == [(gone["id"], "Forced end (4)")]


@needs_nfdump
def test_the_service_reaches_a_collector_that_comes_up_late_and_stops_on_sigterm(tmp_path):
    port = free_port()
    child = cli_started("export", "ipfix", "--collector", "127.0.0.1:%d" % port, "--interval", "1",
                        "--template-seconds", "1")
    time.sleep(1.5)  # rounds go nowhere
    with nfcapd(tmp_path, port) as (_, stop_and_list):
        assert run_cli("emu", "traffic", "--flows", "80", "--seed", "9").returncode == 0
        time.sleep(3)
        child.send_signal(signal.SIGTERM)
        out, err = child.communicate(timeout=30)
        records = stop_and_list()
    assert child.returncode == 0, err
    assert "stopped:" in err and " 0 not sent" in err
    # The round after the collector came up carries the new flows, whose
    # templates came back with the refresh.
    assert {listed(record)[0] for record in records} >= {shown(flow, 0)[0] for flow in cached_flows()
                                                         if flow["id"] > 60}, (
        err, (tmp_path / "nfcapd.log").read_text(errors="replace"))


def tcp_stream():
    """What a TCP collector that comes up after a first attempt receives of
    a round, and the sender's log lines."""
    from libfc import ipfix

    lines, received = [], bytearray()
    port = free_port(socket.SOCK_STREAM)
    sender = ipfix.TcpSender("127.0.0.1", port, log=lines.append, backoff=(0.2, 0.2))
    assert not sender.connected()
    with socket.create_server(("127.0.0.1", port)) as server:
        def accept():
            connection, _ = server.accept()
            with connection:
                while chunk := connection.recv(65536):
                    received.extend(chunk)
        reader = threading.Thread(target=accept)
        reader.start()
        time.sleep(0.3)
        sender.encoder = encoder = ipfix.Encoder(domain=3)
        assert sender.connected()
        for message in encoder.round():
            sender.send(message)
        sender.close()
        reader.join(timeout=10)
    assert [line.split(":")[0] for line in lines] == ["127.0.0.1", "connected to 127.0.0.1"]
    return bytes(received)


def file_written(path):
    result = run_cli("export", "ipfix", "--file", str(path), "--domain", "3")
    assert result.returncode == 0, result.stderr
    return path.read_bytes()


@needs_tshark
@pytest.mark.parametrize("stream", [tcp_stream, file_written])
def test_a_tcp_stream_or_a_file_holds_the_templates_then_every_flow(tmp_path, stream):
    path = tmp_path / "stream.ipfix"
    data = stream() if stream is tcp_stream else stream(path)
    path.write_bytes(data)
    records = tshark_records(path)
    assert sorted(int(record["Flow Id"]) for record in records) == sorted(flow["id"] for flow in cached_flows())
    assert {record["SrcAddr"] for record in records} == {
        flow["src"] for flow in cached_flows()}


@pytest.mark.parametrize("size", [576 - 28, 1500 - 48, 9000 - 28, 65535])
def test_messages_fit_their_size_and_number_the_records_before_them(size):
    from libfc import ipfix

    encoder = ipfix.Encoder(domain=5, size=size, template_messages=3)
    sequence, templates, messages = 0, [], list(encoder.round())
    leads, counted = [index % 3 == 0 for index in range(len(messages))] + [True], encoder.sequence
    encoder.resend_templates()
    assert run_cli("emu", "traffic", "--flows", "60", "--seed", "7").returncode == 0  # more packets, same flows
    messages += list(encoder.round())[:1]
    for message in messages:
        version, length, _, number, domain = struct.unpack_from("!HHIII", message)
        assert (version, length, domain, number) == (10, len(message), 5, sequence) and length <= size
        at, records = 16, 0
        while at < length:
            set_id, set_length = struct.unpack_from("!HH", message, at)
            records += 0 if set_id == 2 else (set_length - 4) // {256: 78, 257: 102, 258: 17}[set_id]
            templates.append((set_id == 2, at == 16))
            at += set_length
        assert at == length
        sequence += records
    # Templates lead every third message of a round, and the first after a resend.
    assert [first for is_template, first in templates if is_template] == [True] * sum(leads)
    assert [is_template for is_template, first in templates if first] == leads
    assert counted == len(cached_flows())


@pytest.mark.parametrize("argv, says", [
    (["--collector", "host:port"], "--collector"),
    (["--collector", "fd00::1:4739"], "--collector"),
    (["--collector", "[fd00::1]:70000"], "--collector"),
    (["--collector", "127.0.0.1:4739", "--mtu", "100"], "--mtu"),
    (["--collector", "127.0.0.1:4739", "--domain", "-1"], "--domain"),
    (["--collector", "127.0.0.1:4739", "--transport", "sctp"], "--transport"),
    (["--collector", "127.0.0.1:4739", "--file", "x.ipfix"], "--file"),
])
def test_bad_arguments_are_refused_with_exit_status_2(argv, says):
    result = cli_here("export", "ipfix", *argv)
    assert result.returncode == 2 and says in result.stderr and result.stderr.count("\n") == 1, result.stderr

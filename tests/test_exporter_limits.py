"""The exporter against a hostile local user: idle connections past its
descriptors, a crowd of scrapes, hostile requests; and the --listen forms."""

import concurrent.futures
import contextlib
import os
import re
import resource
import socket
import subprocess
import sys
import time
import urllib.parse
import urllib.request

import pytest

from _helpers import child_env
from libfc.cli import build_parser

pytestmark = pytest.mark.python_only
FUZZ = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz", "fuzz_http_atheris.py")


def fetch(url):
    with urllib.request.urlopen(url, timeout=10) as answer:
        return answer.status, answer.read()


@contextlib.contextmanager
def exporter_process(listen="127.0.0.1:0", descriptors=1024):
    """`libfc exporter` in a child process allowed `descriptors` open files:
    (the process, the line it printed)."""
    limit = (descriptors, descriptors)
    child = subprocess.Popen([sys.executable, "-m", "libfc", "exporter", "--listen", listen], env=child_env(),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, limit))
    try:
        yield child, child.stdout.readline()
    finally:
        child.kill()
        child.wait()


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")  # utime + stime


@pytest.mark.parametrize("descriptors", [1024, 48])  # 48: they run out below the connection cap
def test_idle_connections_past_its_descriptors_neither_keep_out_a_scrape_nor_make_it_spin(flow_cache, descriptors):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))  # this side's 1,100
    with exporter_process(descriptors=descriptors) as (child, line):
        url = line.split()[1]
        idle = [socket.create_connection(("127.0.0.1", urllib.parse.urlsplit(url).port), timeout=10)
                for _ in range(1100)]
        status, body = fetch(url)
        assert status == 200 and b"\nlibfc_up 1.0\n" in body  # the library kept descriptors of its own
        spent = cpu_seconds(child.pid)
        time.sleep(2)
        assert cpu_seconds(child.pid) - spent < 0.3  # a busy accept loop takes what the machine gives it
        for connection in idle:
            connection.close()
    assert len(child.stderr.read().splitlines()) <= 1  # a line when descriptors run out, none per refusal


def test_two_hundred_parallel_scrapes_are_all_answered(flow_cache):
    with exporter_process() as (_, line), concurrent.futures.ThreadPoolExecutor(200) as pool:
        answers = list(pool.map(fetch, [line.split()[1]] * 200))
    assert [status for status, _ in answers] == [200] * 200


@pytest.mark.parametrize("listen, printed", [
    (":0", r"serving (http://127\.0\.0\.1:\d+/metrics) \(listening on every interface\)\n"),
    ("[::1]:0", r"serving (http://\[::1\]:\d+/metrics)\n"),
    ("127.0.0.1:\u0669\u0664\u0667\u0667", None),  # Arabic-Indic digits: isdigit() takes them
    ("exp\u00e9rt.example.net:9477", None),
])
def test_listen_takes_ascii_host_and_port_and_prints_a_url_that_answers(capsys, flow_cache, listen, printed):
    if printed is None:
        with pytest.raises(SystemExit) as refused:  # parsed only: an exporter taking it would serve forever
            build_parser().parse_args(["exporter", "--listen", listen])
        err = capsys.readouterr().err
        assert (refused.value.code, len(err.splitlines())) == (2, 1) and "is not HOST:PORT" in err
        return
    with exporter_process(listen) as (_, line):
        url = re.fullmatch(printed, line)
        assert url and fetch(url[1])[0] == 200, line


def test_hostile_requests_get_a_status_line_or_a_closed_connection_and_the_scrapes_go_on():
    run = subprocess.run([sys.executable, FUZZ, "--random", "6000", "5"], env=child_env(), capture_output=True,
                         text=True, timeout=300)
    assert run.stdout.splitlines()[-1:] == ["http fuzz: 6000 random inputs, seed 5"], run.stderr[-3000:]

"""The built-in flow cache's state is the host's and safe to use: shared by
processes and kept across them, safe under concurrent writers, nobody else
can plant its directory or file, a full disk is an error, a read never
rebuilds a state file it cannot use, and no call works or waits without
bound."""

import ctypes
import hashlib
import os
import pathlib
import signal
import shutil
import subprocess
import sys
import tempfile
import textwrap
import time

import pytest

import _libfc
import libfc.cli
from _helpers import child_env, cli_started, run_cli, run_python_ok
from test_builtin_libfc import EXPR_TIME, LIB, add_flow, get_flows, new_entry, stats

NOBODY = 65534

needs_root = pytest.mark.skipif(os.geteuid() != 0 or not shutil.which("setpriv"),
                                reason="planting as another user needs root and setpriv")


def one_line_failure(result, status, *words):
    assert result.returncode == status, result
    lines = result.stderr.splitlines()
    assert len(lines) == 1 and "Traceback" not in result.stderr, result.stderr
    for word in words:
        assert str(word) in lines[0], (word, lines[0])
    return lines[0]


# ---- Paths no other user can plant -------------------------------------------

# What a user (by uid) plants in a world-writable directory like /tmp, the
# state directory then used (the default one when it is libfc-0), and what
# the refusal names.  "victim" is a file of root's.
PLANTS = {
    "another user's default directory": (NOBODY, "mkdir -m 777 libfc-0 && ln -s ../victim libfc-0/flowcache.state",
                                         "libfc-0", "owned by uid %d" % NOBODY),
    "a link as the state file": (0, "mkdir -m 700 own && ln -s ../victim own/flowcache.state", "own", "symbolic link"),
    "a link as the directory": (0, "mkdir -m 700 target && ln -s target linked", "linked", "symbolic link"),
    "a directory open to others": (0, "mkdir -m 777 open", "open", "writable by group or others"),
    "another user's state file": (0, "mkdir -m 700 given && touch given/flowcache.state && chown %d given/flowcache.state"
                                  % NOBODY, "given", "owned by uid %d" % NOBODY),
}


@needs_root
@pytest.mark.parametrize("command", [["flows"], ["emu", "reset"]])
@pytest.mark.parametrize("plant", PLANTS)
def test_a_state_path_another_user_could_plant_is_refused_and_left_alone(plant, command, monkeypatch):
    uid, script, name, problem = PLANTS[plant]
    shared = pathlib.Path(tempfile.mkdtemp(prefix="fcemu-shared-"))  # under /tmp: others can reach it
    try:
        shared.chmod(0o1777)
        (shared / "victim").write_bytes(b"root's own data\n")
        subprocess.run(["setpriv", "--reuid=%d" % uid, "--regid=%d" % uid, "--clear-groups", "sh", "-ec", script],
                       cwd=shared, check=True)
        directory = shared / name
        monkeypatch.delenv("XDG_RUNTIME_DIR", raising=False)
        monkeypatch.setenv("TMPDIR", str(shared))
        if name == "libfc-0":
            monkeypatch.delenv("FC_EMU_DIR", raising=False)
        else:
            monkeypatch.setenv("FC_EMU_DIR", str(directory))
        before = sorted(p.name for p in directory.iterdir())
        one_line_failure(run_cli(*command), 1, directory, problem)
        assert (shared / "victim").read_bytes() == b"root's own data\n"
        assert sorted(p.name for p in directory.iterdir()) == before
    finally:
        subprocess.run(["rm", "-rf", str(shared)], check=True)


@pytest.mark.parametrize("runtime_dir, expected", [
    ("private", "{runtime}/libfc"),
    ("foreign", "{tmp}/libfc-{uid}"),        # sudo may keep another user's
    (None, "{tmp}/libfc-{uid}"),
])
def test_the_default_state_directory_is_private(flow_cache, monkeypatch, runtime_dir, expected):
    runtime, tmp = flow_cache / "run", flow_cache / "tmp"   # in memory: a state file takes its full size
    runtime.mkdir(mode=0o700)
    tmp.mkdir()
    monkeypatch.delenv("FC_EMU_DIR", raising=False)
    monkeypatch.setenv("TMPDIR", str(tmp))
    if runtime_dir is None:
        monkeypatch.delenv("XDG_RUNTIME_DIR", raising=False)
    else:
        monkeypatch.setenv("XDG_RUNTIME_DIR", str(runtime))
        if runtime_dir == "foreign":
            if os.geteuid() != 0:
                pytest.skip("giving a directory to another user needs root")
            os.chown(runtime, NOBODY, NOBODY)
    directory = pathlib.Path(expected.format(runtime=runtime, tmp=tmp, uid=os.geteuid()))
    assert LIB.fcemu_reset() == 0, LIB.fcemu_last_error()
    assert os.fsdecode(LIB.fcemu_state_dir()) == str(directory)
    assert (directory.stat().st_mode & 0o777, (directory / "flowcache.state").stat().st_mode & 0o777) == (0o700, 0o600)


# ---- A full disk is an error, not a signal -------------------------------------

def run_on_tmpfs(size, script):
    """Runs a Python script in a private mount namespace with a tmpfs of the
    given size mounted at argv[1]; skips where that cannot be done."""
    mount_point = tempfile.mkdtemp(prefix="fcemu-tmpfs-")
    try:
        result = subprocess.run(
            ["unshare", "-m", "sh", "-c", 'mount -t tmpfs -o size=%s none "$0" || exit 77; exec "$@"' % size,
             mount_point, sys.executable, "-c", textwrap.dedent(script), mount_point],
            env=child_env(), capture_output=True, text=True, timeout=120)
    except FileNotFoundError:
        pytest.skip("no unshare here")
    finally:
        os.rmdir(mount_point)
    if result.returncode == 77 or "unshare failed" in result.stderr:
        pytest.skip("cannot mount a tmpfs here: " + result.stderr.strip())
    assert result.returncode == 0, result
    return result.stdout


def test_a_full_disk_is_an_error_with_the_state_left_as_it_was(flow_cache):
    # On a 16 MB disk: a new state file (about 33 MB) does not fit; nor does
    # the rest of one made before its blocks were reserved (copied here with
    # its holes), where writing a new flow into a hole would fault; nor does a
    # reset of a small cache to larger tables, which leaves the small one.
    LIB.fcemu_traffic(100, 3)
    out = run_on_tmpfs("16m", """
        import hashlib, os, subprocess, sys
        mount = sys.argv[1]
        def libfc(state, *args):
            env = dict(os.environ, FC_EMU_DIR=mount + state)
            result = subprocess.run([sys.executable, "-m", "libfc", *args], env=env, capture_output=True, text=True)
            print(result.returncode, result.stderr.strip())
        libfc("/new", "emu", "traffic", "--flows", "50")
        print(os.path.getsize(mount + "/new/flowcache.state"))
        os.mkdir(mount + "/sparse", 0o700)
        copy = mount + "/sparse/flowcache.state"
        subprocess.run(["cp", "--sparse=always", %r, copy], check=True)
        digest = lambda: hashlib.sha256(open(copy, "rb").read()).hexdigest()
        before = digest()
        libfc("/sparse", "emu", "traffic", "--flows", "2000", "--seed", "9")
        print(digest() == before)
        os.mkdir(mount + "/small", 0o700)
        copy = mount + "/small/flowcache.state"
        libfc("/small", "emu", "reset", "--tables", "2", "--entries", "1024")
        libfc("/small", "emu", "traffic", "--flows", "300")
        before = digest()
        libfc("/small", "emu", "reset", "--tables", "64", "--entries", "2048")
        print(digest() == before)
        libfc("/small", "emu", "check")
    """ % str(flow_cache / "flowcache.state"))
    new, new_size, sparse, intact, small, traffic, grown, small_intact, checked = out.splitlines()
    for status in (new, sparse):
        assert status.startswith("1 libfc emu traffic: error: no room for the flow cache state file"), out
    assert new_size == "0" and intact == "True", out
    assert small == traffic == "0 " and grown.startswith("1 libfc emu reset: error: no room for the flow cache state file"), out
    assert small_intact == "True" and checked == "0 ", out


# ---- Reads never destroy state -------------------------------------------------

def fnv1a(data):
    value = 1469598103934665603
    for byte in data:
        value = ((value ^ byte) * 1099511628211) % 2 ** 64
    return value


def newer_version(f):
    header = bytearray(f.read(72))
    header[8:12] = (99).to_bytes(4, "little")
    header[64:72] = fnv1a(header[:64]).to_bytes(8, "little")
    f.seek(0)
    f.write(header)


DAMAGE = {
    "magic": (lambda f: f.write(b"NOTFCEMU"), "not a flow cache state file"),
    "checksum": (lambda f: (f.seek(60), f.write(b"\xff")), "fails its check"),
    "inside the header": (lambda f: f.truncate(40), "truncated (40 bytes)"),
    "past the control part": (lambda f: f.truncate(8192), "truncated (8192 bytes, its header says"),
    "grown": (lambda f: (f.seek(0, os.SEEK_END), f.write(b"tail")), "fails its check"),
    "newer version": (newer_version, "format version 99, newer than this library's"),
}


@pytest.mark.writes_state_file
@pytest.mark.parametrize("damage", DAMAGE)
def test_a_state_file_a_read_cannot_use_is_refused_until_reset(flow_cache, damage):
    LIB.fcemu_traffic(100, 3)
    path = flow_cache / "flowcache.state"
    assert get_flows().total == 100
    damage_file, problem = DAMAGE[damage]
    with open(path, "r+b") as f:
        damage_file(f)
    digest = lambda: hashlib.sha256(path.read_bytes()).hexdigest()  # noqa: E731
    before = digest()
    # This process still maps the file: a read must not touch it.
    with pytest.raises(OSError) as info:
        get_flows()
    assert str(path) in str(info.value) and problem in str(info.value) and "libfc emu reset" in str(info.value)
    assert digest() == before
    assert LIB.fcemu_reset() == 0
    assert get_flows().total == 0


# ---- Bounded, interruptible work -----------------------------------------------

@pytest.mark.parametrize("call, named", [
    (lambda: LIB.fcemu_traffic(65536 + 1, 1), b"at most 65536"),
    (lambda: LIB.fcemu_traffic(2 ** 32 - 1, 1), b"at most 65536"),
    (lambda: LIB.fcemu_traffic_from(2 ** 32 - 10, 20, 1), b"flow index"),
    (lambda: add_flow(new_entry(packets=2 ** 32)), b"pktCount"),
])
def test_control_counts_above_their_maximum_are_refused(flow_cache, call, named):
    LIB.fcemu_traffic(10, 1)
    assert call() == -1
    assert named in LIB.fcemu_last_error()
    assert get_flows().total == 10


def keys(directory, monkeypatch):
    monkeypatch.setenv("FC_EMU_DIR", str(directory))
    return [(e.port, e.sip, e.dip, e.proto, e.pkt_count) for e in get_flows().entries]


def test_traffic_in_batches_installs_the_flows_one_call_does(flow_cache, tmp_path, monkeypatch, capsys):
    assert libfc.cli.main(["emu", "traffic", "--flows", "1300", "--seed", "4"]) == 0
    assert "installed 1300 new flows" in capsys.readouterr().out
    batched = keys(flow_cache, monkeypatch)
    monkeypatch.setenv("FC_EMU_DIR", str(tmp_path))
    assert LIB.fcemu_traffic(1300, 4) == 1300
    assert keys(tmp_path, monkeypatch) == batched


def test_a_long_traffic_run_lets_others_in_and_stops_on_ctrl_c_within_a_second(flow_cache):
    # Room for every flow, so the run installs all of them (seconds of work)
    # instead of quickly counting the ones that no longer fit.
    assert LIB.fcemu_reset_sized(128, 8192) == 0
    run = cli_started("emu", "traffic", "--flows", "1000000")
    time.sleep(0.5)
    # It takes the lock back after every batch at once; others still get
    # their turn quickly (by chance alone, some would wait for seconds).
    waits = []
    for _ in range(10):
        time.sleep(0.05)
        start = time.monotonic()
        assert LIB.fcemu_traffic(0, 1) == 0
        waits.append(time.monotonic() - start)
    assert max(waits) < 0.5, waits
    assert run.poll() is None
    run.send_signal(signal.SIGINT)
    start = time.monotonic()
    run.wait(timeout=30)
    assert run.returncode == 130 and time.monotonic() - start < 1.0


@pytest.fixture
def stopped_lock_holder(flow_cache):
    """A process that took the state file's lock and was then stopped."""
    holder = subprocess.Popen([sys.executable, "-c", textwrap.dedent("""
        import fcntl, os, signal, sys
        f = open(sys.argv[1], "r+b")
        fcntl.lockf(f, fcntl.LOCK_EX)
        os.kill(os.getpid(), signal.SIGSTOP)
    """), str(flow_cache / "flowcache.state")])
    os.waitpid(holder.pid, os.WUNTRACED)
    yield holder
    holder.kill()
    holder.wait()


@pytest.mark.parametrize("interrupt", [False, True])
def test_a_stopped_lock_holder_is_named_and_waited_for_boundedly(stopped_lock_holder, interrupt, monkeypatch):
    monkeypatch.setenv("FC_EMU_LOCK_WAIT_MS", "1500")  # five seconds unless set
    waiter = cli_started("flows")
    start = time.monotonic()
    if interrupt:
        time.sleep(1.0)
        start = time.monotonic()
        waiter.send_signal(signal.SIGINT)
    out, err = waiter.communicate(timeout=30)
    took = time.monotonic() - start
    if interrupt:
        # The wait ends at once; how the tool words the interruption is its own.
        assert waiter.returncode in (1, 130, -signal.SIGINT) and took < 1.0, (took, err)
    else:
        one_line_failure(subprocess.CompletedProcess([], waiter.returncode, out, err), 1,
                         "locked by pid %d (gave up after 1.5 s)" % stopped_lock_holder.pid)
        assert 1.4 < took < 4.0


# ---- Shared by processes, kept across them -------------------------------------

CHILD_PRELUDE = """
import ctypes, os, sys, _libfc
lib = ctypes.CDLL(os.path.join(os.path.dirname(_libfc.__file__), "libfc.so"))
lib.FC_GetFlows.restype = ctypes.c_void_p
lib.FC_IOCGetConfigOption.restype = ctypes.c_uint32
def total():
    return ctypes.c_uint32.from_address(lib.FC_GetFlows(0, 0, 0, 0, None, 0, 0, 0, 0, None, 0)).value
"""


def child(code):
    return run_python_ok(CHILD_PRELUDE + textwrap.dedent(code))


@pytest.mark.writes_state_file
def test_garbage_in_the_state_never_crashes_a_reader(flow_cache):
    LIB.fcemu_traffic(200, 4)
    with open(flow_cache / "flowcache.state", "r+b") as f:
        f.seek(128)
        f.write(os.urandom(1 << 20))
    result = child("""
        for option in range(5):
            lib.FC_IOCGetConfigOption(option)
        for call in ["FC_GetFlowCacheStats", "FC_GetFlowCacheHashStats", "FC_GetInvalTableEntries"]:
            getattr(lib, call)()
        lib.FC_GetFlowCacheEnabled(b"portset-0", b"33554433")
        before = total()
        print(-1 <= lib.fcemu_traffic(100, 5) <= 100, total() <= 4096, before <= 4096)
    """)
    assert result.stdout.split() == ["True", "True", "True"]


def test_concurrent_writers_lose_no_update_and_see_what_was_set_before(flow_cache):
    LIB.FC_IOCSetConfigOption(EXPR_TIME, 30)
    code = CHILD_PRELUDE + textwrap.dedent("""
        base = int(sys.argv[1])
        print(lib.FC_IOCGetConfigOption(2), sum(lib.fcemu_traffic(25, base + round) for round in range(40)))
    """)
    writers = [subprocess.Popen([sys.executable, "-c", code, str(base)], env=child_env(), stdout=subprocess.PIPE,
                                text=True) for base in (1000, 2000)]
    seen = [w.communicate(timeout=120)[0].split() for w in writers]
    assert all(w.returncode == 0 for w in writers)
    assert [option for option, _ in seen] == ["30", "30"]
    installed = [int(count) for _, count in seen]
    s = stats()
    assert s["alloc.fe"] == s["nmisses"] == sum(installed) > 1500
    assert get_flows().total == s["alloc.fe"] - s["free.fe"]


def test_a_process_killed_while_writing_loses_nothing_it_reported_done(flow_cache):
    # The child reports each setting after the call returned; it is killed
    # at an arbitrary point, so at most the one setting in flight is unknown.
    code = textwrap.dedent("""
        import _libfc
        for i in range(1, 10**7):
            _libfc.FC_SetPortProp("portset-7", str(i % 50), (i // 50) % 4)
            print(i, flush=True)
    """)
    proc = subprocess.Popen([sys.executable, "-c", code], env=child_env(), stdout=subprocess.PIPE, text=True)
    last = 0
    try:
        for line in proc.stdout:
            last = int(line)
            if last >= 700:
                break
    finally:
        os.kill(proc.pid, signal.SIGKILL)
        proc.wait(timeout=60)
    rest = proc.stdout.read().split()
    last = int(rest[-1]) if rest else last
    assert last >= 700
    names = ["disabled", "ingress", "egress", "enabled"]
    in_flight = last + 1
    for port in range(50):
        done = max(i for i in range(1, last + 1) if i % 50 == port)
        allowed = {names[(done // 50) % 4]}
        if in_flight % 50 == port:
            allowed.add(names[(in_flight // 50) % 4])
        got = _libfc.FC_GetFlowCacheEnabled("portset-7", str(port))
        assert got in allowed, "port %d: %s, last reported write %d" % (port, got, done)

"""The built-in libfabPublic's state: serialised blocks, persistence across
processes, crash safety, damaged, foreign and planted files, population
limits and cancellation, threads, memory over repeated calls, and calls that
abandon through the library-call trap."""

import ctypes
import itertools
import os
import pathlib
import pickle
import random
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import textwrap
import threading
import time
import zlib

import pytest

import _libfc
from _helpers import BUILD_DIR, c_heap_growth
from test_builtin_fab import (CONFIG, MEM_ALLOC, MEM_FREE, OK, SW, VOLATILE, add_switch, collect,
                              lib, parse_block, run_sql, take_block)

C = ctypes
pytestmark = pytest.mark.usefixtures("switch_store")  # every test gets its own store file


def state_block(persistent=False):
    status, block = take_block(lib.DVSHYP_PersistentStateGet if persistent else lib.DVSHYP_StateGet)
    assert status == OK
    return block


def records_by_tag(block):
    kind, records = parse_block(block)
    by_tag = {}
    for tag, body in records:
        by_tag.setdefault(tag, []).append(body)
    return kind, by_tag


# ---- serialised state --------------------------------------------------------

def test_init_replaces_the_store_with_a_block_while_deserialize_merges_it():
    assert lib.fabemu_populate(2, 3, 1) == OK  # switches with aliases, ports and their data
    add_switch(b"kept")
    add_switch(b"replaced", max_ports=2)
    lib.DVSHYP_HostPropSet(b"replaced", b"old", b"1", 1, CONFIG)
    snapshot = state_block()
    lib.DVSHYP_SwitchRemove(b"kept")
    lib.DVSHYP_HostPropClear(b"replaced", b"old")
    lib.DVSHYP_HostPropSet(b"replaced", b"new", b"2", 1, CONFIG)
    add_switch(b"other")
    # Merge: the block's switches come back as they were; others stay.
    assert lib.DVSState_ConfigDeserialize(snapshot, len(snapshot)) == OK
    assert {b"kept", b"other", b"replaced"} <= set(collect(lib.DVSState_SwitchForEach, read=lib.DVS_SwitchId))
    assert take_block(lib.DVSHYP_HostPropGet, b"replaced", b"old") == (OK, b"1")
    assert take_block(lib.DVSHYP_HostPropGet, b"replaced", b"new")[0] == _libfc.HYP_NOT_FOUND
    # Init: exactly the block, over the changed store and over an emptied one.
    assert lib.DVSHYP_StateInit(snapshot, len(snapshot)) == OK and state_block() == snapshot
    assert lib.DVSState_ConfigReset() == OK and records_by_tag(state_block())[1] == {}
    assert lib.DVSHYP_StateInit(snapshot, len(snapshot)) == OK and state_block() == snapshot
    assert lib.DVS_SwitchName(lib.DVSState_SwitchFindByAlias(b"dvs-1")) == b"dvs-1"  # the mirrored alias
    assert lib.DVSHYP_StateInit(None, 5) == _libfc.HYP_BAD_PARAM
    assert lib.DVSHYP_StateInit(None, 0) == OK  # no block: just load


def test_persistent_blocks_leave_out_volatile_data_and_zombies():
    add_switch()
    for port, state in ((b"1", None), (b"2", None), (b"5", b"\x01\x02")):
        lib.DVSHYP_PortAdd(SW, port, state, len(state or b""))
    for port in (b"1", b"5"):
        lib.DVSHYP_PortDataSet(SW, port, b"keep", b"k", 1, CONFIG)
        lib.DVSHYP_PortDataSet(SW, port, b"drop", b"d", 1, VOLATILE | CONFIG)
    lib.DVSHYP_PortDataSet(SW, b"2", b"com.quorix.common.port.volatile.type", struct.pack("<I", 3), 4, CONFIG)
    kind, by_tag = records_by_tag(state_block(persistent=True))
    assert kind == 2 and len(by_tag[2]) == 2  # port 2 is a zombie
    assert sum(b"keep" in body for body in by_tag[3]) == 2 and not any(b"drop" in body for body in by_tag[3])
    assert not any(b"volatile.type" in body for body in by_tag[3])  # the zombie's data went with it
    # One port's block: its record with its own state blob, and its kept data.
    status, block = take_block(lib.DVSHYP_PersistentPortStateGet, SW, b"5", 1)
    kind, by_tag = records_by_tag(block)
    assert status == OK and kind == 3 and len(by_tag[3]) == 1 and b"keep" in by_tag[3][0]
    assert len(by_tag[2]) == 1 and by_tag[2][0].endswith(struct.pack("<I", 2) + b"\x01\x02")
    assert take_block(lib.DVSHYP_PersistentPortStateGet, SW, b"5", 7)[0] == _libfc.HYP_VERSION_MISMATCH_MAJOR
    assert take_block(lib.DVSHYP_PersistentPortStateGet, SW, b"6", 0)[0] == _libfc.HYP_NOT_FOUND
    # Sanitize removes the zombie from the store itself.
    assert lib.DVSHYP_StateSanitize() == OK
    assert (lib.DVSHYP_PortFind(SW, b"2"), lib.DVSHYP_PortFind(SW, b"1")) == (_libfc.HYP_NOT_FOUND, OK)


def encode(kind, records, count=None):
    """A block of the documented format: the inverse of parse_block."""
    payload = b"".join(struct.pack("<BI", tag, len(body)) + body for tag, body in records)
    count = len(records) if count is None else count
    return struct.pack("<4sHHIII", b"FABS", 1, kind, count, len(payload), zlib.crc32(payload)) + payload


def texts(*values):
    return b"".join(struct.pack("<I", len(value)) + value for value in values)


GHOST_PORT = (2, texts(b"ghost", b"1", b"", b"") + struct.pack("<IiI", 1, 1, 0))  # of a switch the block lacks
DAMAGES = {
    "magic": (lambda block: b"XXXX" + block[4:], _libfc.HYP_BAD_PARAM),
    "version": (lambda block: block[:4] + struct.pack("<H", 2) + block[6:], _libfc.HYP_VERSION_MISMATCH_MAJOR),
    "bit flip": (lambda block: block[:-3] + bytes([block[-3] ^ 0x10]) + block[-2:], _libfc.HYP_CHECKSUM_MISMATCH),
    "truncated": (lambda block: block[:-5], _libfc.HYP_BAD_PARAM),
    "short": (lambda block: block[:10], _libfc.HYP_BAD_PARAM),
    "record count": (lambda block: encode(*parse_block(block), count=99), _libfc.HYP_BAD_PARAM),
    "dangling port": (lambda block: encode(2, parse_block(block)[1] + [GHOST_PORT]), _libfc.HYP_BAD_PARAM),
    "data container": (lambda block: encode(4, []), _libfc.HYP_BAD_PARAM),
}


@pytest.mark.parametrize("how", DAMAGES)
def test_damaged_or_foreign_blocks_are_refused_and_change_nothing(how):
    damage, expected = DAMAGES[how]
    assert lib.fabemu_populate(2, 3, 9) == OK
    before = state_block()
    bad = damage(before)
    assert lib.DVSHYP_StateInit(bad, len(bad)) == expected
    assert lib.DVSState_ConfigDeserialize(bad, len(bad)) == expected
    assert state_block() == before


# ---- persistence and crash safety -------------------------------------------

def child(code, db, timeout=120, wait=True):
    """Run code in a fresh interpreter with the library loaded as `lib`, its
    functions declared as in these tests: the finished process, or with
    wait=False the running one, its input and output pipes."""
    prologue = "import ctypes, _libfc, sys\nfrom test_builtin_fab import lib\n"
    argv = [sys.executable, "-c", prologue + textwrap.dedent(code)]
    env = dict(os.environ, FAB_EMU_DB=str(db), PYTHONPATH=os.pathsep.join([BUILD_DIR, os.path.dirname(__file__)]))
    if not wait:
        return subprocess.Popen(argv, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    return subprocess.run(argv, env=env, capture_output=True, text=True, timeout=timeout)


def test_state_persists_across_processes(switch_store):
    # This process looked at the store (the fixture's load) before its file was made.
    result = child('assert lib.DVSHYP_SwitchAdd(b"from-child", b"quorix.ethernet", 4, 3) == 0', switch_store)
    assert result.returncode == 0, result.stderr
    assert lib.DVS_SwitchName(lib.DVSState_SwitchFindByAlias(b"from-child")) == b"from-child"
    assert lib.DVSHYP_SwitchRemove(b"from-child") == OK
    result = child("print(lib.DVSState_SwitchFindByAlias(b'from-child'))", switch_store)
    assert (result.returncode, result.stdout) == (0, "None\n"), result.stderr


def test_a_process_killed_while_writing_leaves_a_whole_state_with_every_write_it_reported(switch_store):
    # A population replaces the store: the states the child's populations make.
    references = {}
    for seed in (1, 2, 3, 0):
        assert lib.fabemu_populate(4, 60, seed) == OK
        references[seed] = state_block()
    assert len(set(references.values())) == 4
    proc = child("""
        for i in range(1, 10**9):
            assert lib.fabemu_populate(4, 60, i % 4) == 0
            print(i % 4, flush=True)
    """, switch_store, wait=False)
    done = [int(proc.stdout.readline()) for _ in range(3)]
    os.kill(proc.pid, signal.SIGKILL)
    proc.wait()
    assert run_sql(switch_store, "PRAGMA integrity_check") == [("ok",)]
    lib.DVSHYP_StateCleanup()  # read the file afresh
    # The last reported population, or the one after it if its commit landed.
    assert state_block() in (references[done[-1]], references[(done[-1] + 1) % 4])


def test_a_store_with_scribbled_pages_fails_calls_cleanly_with_at_most_one_line(switch_store):
    assert lib.fabemu_populate(6, 80, 2) == OK
    lib.DVSHYP_StateCleanup()
    run_sql(switch_store, "PRAGMA wal_checkpoint(TRUNCATE)")
    data, noise = bytearray(switch_store.read_bytes()), random.Random(0)  # the same scribbles every run
    for offset in range(2 * 4096, len(data), 3 * 4096):  # every third page after the first two
        data[offset + 8:offset + 400] = noise.randbytes(392)
    switch_store.write_bytes(bytes(data))
    result = child("""
        out, n = ctypes.c_void_p(), ctypes.c_int()
        lib.DVSLoadConfig(), lib.DVSHYP_SwitchAdd(b"s", b"c", 1, 1)
        for i in range(6):
            lib.DVSState_SwitchFindByAlias(b"dvs-%d" % i)
            lib.DVSHYP_PortDataGet(b"x", b"1", b"n", ctypes.byref(out), ctypes.byref(n))
        lib.DVSHYP_StateGet(ctypes.byref(out), ctypes.byref(n)), lib.fabemu_populate(2, 2, 2)
    """, switch_store)
    assert result.returncode == 0, result.stderr
    assert len(result.stderr.splitlines()) <= 1


# ---- files the store refuses --------------------------------------------------

NOBODY = 65534
S = _libfc
DEFAULT_DIRECTORY = "libfc-%d" % os.geteuid()  # in TMPDIR
needs_root = pytest.mark.skipif(os.geteuid() != 0, reason="planting another user's files needs root (setresuid)")


def as_user(uid, action):
    """Run action() in a forked child as user and group `uid`; return its result."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.close(read_end)
            os.setgroups([])
            os.setresgid(uid, uid, uid)
            os.setresuid(uid, uid, uid)
            reply = (True, action())
        except BaseException as error:  # noqa: B036 -- reported to the parent, which fails the test
            reply = (False, repr(error))
        os.write(write_end, pickle.dumps(reply))
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end, "rb") as reader:
        data = reader.read()
    os.waitpid(pid, 0)
    ok, value = pickle.loads(data)
    assert ok, value
    return value


@pytest.fixture
def shared_dir():
    """A directory like /tmp: everybody may write to it, sticky."""
    path = tempfile.mkdtemp(dir="/tmp", prefix="fab-shared-")
    os.chmod(path, 0o1777)
    yield pathlib.Path(path)
    shutil.rmtree(path)


def tree(*roots):
    """Names, owners, sizes and contents of everything under the roots."""
    found = {}
    for root in roots:
        for path in sorted(root.rglob("*")):
            info = path.lstat()
            data = path.read_bytes() if stat.S_ISREG(info.st_mode) else os.readlink(path) if path.is_symlink() else None
            found[str(path)] = (info.st_uid, stat.S_IMODE(info.st_mode), data)
    return found


def every_call_fails_untouched(expected, reason, capfd, *roots):
    """Reads and writes of the store all answer `expected`, change nothing
    under the roots (no file, table, version, journal or mode) and say why
    in one line, which is returned."""
    capfd.readouterr()
    before = tree(*roots)
    out, n = C.c_void_p(), C.c_int()
    statuses = {lib.DVSLoadConfig(), lib.DVSHYP_StateGet(C.byref(out), C.byref(n)),
                lib.DVSHYP_HostPropGet(b"s", b"n", C.byref(out), C.byref(n)), lib.fabemu_populate(1, 1, 1),
                lib.DVSHYP_SwitchAdd(b"s", b"c", 1, 1), lib.DVSState_ConfigReset()}
    assert statuses == {expected}
    assert collect(lib.DVSState_SwitchForEach) == []
    assert tree(*roots) == before
    line, = capfd.readouterr().err.splitlines()
    assert reason in line and "not an error" not in line, line
    return line


def plant_file(path):
    path.write_bytes(b"planted")
    os.chmod(path, 0o666)


# Each: what the other user makes in `shared` (a directory like /tmp), the
# name in `private` (ours, 0700) that we then move its "planted" to, and the
# words the refusal must contain. FAB_EMU_DB names private/fab.db; without a
# name to move to, the store is the planted file where it is or, when nothing
# was planted, the default location under TMPDIR=shared.
PLANTS = {
    "file in shared directory": (lambda s: plant_file(s / "planted"), None, "writable by other users"),
    "other user's file": (lambda s: plant_file(s / "planted"), "fab.db", "belongs to user %d" % NOBODY),
    "link to other user's file": (lambda s: (plant_file(s / "theirs"), os.symlink(s / "theirs", s / "planted")),
                                  "fab.db", "symbolic link"),
    "link to where the store would be made": (lambda s: os.symlink(s / "made-here.db", s / "planted"), "fab.db",
                                              "symbolic link"),
    "other user's journal": (lambda s: plant_file(s / "planted"), "fab.db-journal",
                             "fab.db-journal belongs to user %d" % NOBODY),
    "default directory made by other user": (lambda s: os.mkdir(s / DEFAULT_DIRECTORY, 0o777), None,
                                             "belongs to user %d" % NOBODY),
}


@needs_root
@pytest.mark.parametrize("plant", PLANTS)
def test_a_store_another_user_could_plant_or_change_is_refused_untouched(plant, shared_dir, tmp_path, monkeypatch,
                                                                          capfd):
    make, moved_to, reason = PLANTS[plant]
    private = tmp_path / "private"
    private.mkdir(mode=0o700)
    path = private / "fab.db"
    monkeypatch.setenv("FAB_EMU_DB", str(path))
    if moved_to == "fab.db-journal":
        assert lib.fabemu_populate(1, 1, 1) == OK
    as_user(NOBODY, lambda: make(shared_dir))
    if moved_to:
        os.rename(shared_dir / "planted", private / moved_to)
    elif (shared_dir / "planted").exists():
        path = shared_dir / "planted"
        monkeypatch.setenv("FAB_EMU_DB", str(path))
    else:
        path = shared_dir / DEFAULT_DIRECTORY / "fabemu.db"
        monkeypatch.delenv("FAB_EMU_DB")
        monkeypatch.delenv("XDG_RUNTIME_DIR", raising=False)
        monkeypatch.setenv("TMPDIR", str(shared_dir))
    line = every_call_fails_untouched(S.HYP_NO_PERMISSION, reason, capfd, shared_dir, private)
    assert line.startswith("fabemu: cannot use the store %s: " % path)


@pytest.mark.parametrize("runtime_dir, store", [("run", "run/libfc/fabemu.db"), (None, DEFAULT_DIRECTORY + "/fabemu.db")],
                         ids=["XDG_RUNTIME_DIR", "tmp"])
def test_a_new_default_store_is_private_whatever_the_umask(runtime_dir, store, tmp_path, monkeypatch):
    (tmp_path / "run").mkdir(mode=0o700)
    monkeypatch.delenv("FAB_EMU_DB")
    monkeypatch.delenv("XDG_RUNTIME_DIR", raising=False)
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    if runtime_dir:
        monkeypatch.setenv("XDG_RUNTIME_DIR", str(tmp_path / runtime_dir))
    store = tmp_path / store
    old_umask = os.umask(0)
    try:
        assert lib.fabemu_populate(1, 2, 1) == OK
    finally:
        os.umask(old_umask)
    assert stat.S_IMODE(store.stat().st_mode) == 0o600
    assert stat.S_IMODE(store.parent.stat().st_mode) == 0o700
    assert [p.name for p in store.parent.iterdir()] == ["fabemu.db"]  # no journal or log beside it
    assert lib.DVS_SwitchName(lib.DVSState_SwitchFindByAlias(b"dvs-0")) == b"dvs-0"


def sqlite_file(*statements):
    return lambda path: run_sql(path, *statements)


OUR_TABLES = ("CREATE TABLE switches(id, alias, class_name, portset, version, max_ports, associated)",
              "CREATE TABLE ports(switch_id, port_id, alias, external_id, connect_id, type, state)",
              "CREATE TABLE properties(switch_id, scope, owner, name, prop_type, value)")


def through_linked_directory(path):
    """The store's path through a link to a private directory: whoever owns
    the link's directory could point it elsewhere between two calls."""
    (path.parent / "real").mkdir(mode=0o700)
    (path.parent / "linked").symlink_to("real")
    return path.parent / "linked" / path.name


@pytest.mark.parametrize("make, expected, reason", [
    (sqlite_file("PRAGMA journal_mode=WAL", "CREATE TABLE notes(t)", "INSERT INTO notes VALUES('keep')"),
     S.HYP_INVALID_METADATA, "another program's SQLite database (application id 0x00000000)"),
    (sqlite_file("CREATE TABLE notes(t)", "PRAGMA user_version=-1"), S.HYP_INVALID_METADATA, "another program"),
    (sqlite_file(*OUR_TABLES, "PRAGMA user_version=1"), S.HYP_INVALID_METADATA, "another program"),
    (sqlite_file(*OUR_TABLES, "PRAGMA application_id=1178681925", "PRAGMA user_version=3"),
     S.HYP_VERSION_MISMATCH_MAJOR, "schema version 3"),
    (sqlite_file("CREATE TABLE notes(t)", "PRAGMA application_id=1178681925", "PRAGMA user_version=2"),
     S.HYP_INVALID_METADATA, "tables are not those of a switch-state store"),
    (lambda path: path.write_text("name,value\nalias,dvs-1\n" * 40), S.HYP_INVALID_METADATA, "not an SQLite database"),
    (lambda path: path.mkdir(), S.HYP_IS_A_DIRECTORY, "is a directory"),
    (lambda path: path.parent / "missing" / path.name, S.HYP_IO_ERROR, "does not exist"),
    (through_linked_directory, S.HYP_NO_PERMISSION, "is a symbolic link"),
], ids=["other program", "user_version -1", "earlier layout", "newer schema", "other tables", "text file",
        "directory", "missing directory", "linked directory"])
def test_a_file_that_is_not_a_usable_store_fails_every_call_and_stays_as_it_was(make, expected, reason, tmp_path,
                                                                                monkeypatch, capfd):
    path = tmp_path / "other.db"
    made = make(path)  # the path to use instead, where the maker gives one
    path = made if isinstance(made, os.PathLike) else path
    monkeypatch.setenv("FAB_EMU_DB", str(path))
    every_call_fails_untouched(expected, reason, capfd, tmp_path)


def test_a_locked_store_fails_busy_after_the_wait_or_at_once_when_cancelled(switch_store, monkeypatch):
    add_switch()
    # The wait the built-in flow cache's tests check at its five-second default, shortened.
    monkeypatch.setenv("FC_EMU_LOCK_WAIT_MS", "1500")
    # Another process: POSIX locks do not keep two SQLite copies in one process apart.
    holder = child("""
        import os, sqlite3
        connection = sqlite3.connect(os.environ["FAB_EMU_DB"], isolation_level=None)
        connection.execute("BEGIN EXCLUSIVE")
        print("locked", flush=True)
        sys.stdin.readline()
    """, switch_store, wait=False)
    try:
        assert holder.stdout.readline() == "locked\n"
        result = []
        waiting = threading.Thread(target=lambda: result.append(lib.DVSLoadConfig()))
        started = time.monotonic()
        waiting.start()
        time.sleep(0.3)
        lib.fabemu_cancel()
        waiting.join(5)
        assert result == [S.HYP_ABORTED] and time.monotonic() - started < 1.5
        started = time.monotonic()
        assert lib.DVSLoadConfig() == S.HYP_BUSY
        assert 1.4 < time.monotonic() - started < 4
    finally:
        holder.communicate("\n")
    assert lib.DVSLoadConfig() == OK
    assert collect(lib.DVSState_SwitchForEach, read=lib.DVS_SwitchId) == [SW]


@needs_root
def test_a_store_on_a_read_only_file_is_read_without_writing_anything(switch_store, shared_dir, monkeypatch):
    assert lib.fabemu_populate(2, 3, 7) == OK
    expected = state_block()
    lib.DVSHYP_StateCleanup()
    directory = shared_dir / "readonly"  # reachable by the other user
    directory.mkdir()
    os.rename(switch_store, directory / "fab.db")
    for path, mode in ((directory / "fab.db", 0o400), (directory, 0o500)):
        os.chown(path, NOBODY, NOBODY)
        os.chmod(path, mode)
    monkeypatch.setenv("FAB_EMU_DB", str(directory / "fab.db"))
    before = tree(directory)
    loaded, block, names, write = as_user(NOBODY, lambda: (
        lib.DVSLoadConfig(), take_block(lib.DVSHYP_StateGet),
        sorted(collect(lib.DVSState_SwitchForEach, read=lib.DVS_SwitchName)), lib.DVSHYP_SwitchAdd(b"s", b"c", 1, 1)))
    assert (loaded, block, names) == (OK, (OK, expected), [b"dvs-0", b"dvs-1"])
    assert write == S.HYP_READ_ONLY
    assert tree(directory) == before


# ---- population limits and cancellation --------------------------------------

@pytest.mark.parametrize("switches, ports", [(1025, 0), (1, 4097), (513, 512), (0xFFFFFFFF, 0xFFFFFFFF)])
def test_a_population_above_the_maxima_is_refused_and_changes_nothing(switches, ports):
    assert lib.fabemu_populate(2, 2, 1) == OK
    before = state_block()
    assert lib.fabemu_populate(switches, ports, 1) == _libfc.HYP_LIMIT_EXCEEDED
    assert state_block() == before


# ---- threads ------------------------------------------------------------------

def test_readers_in_three_threads_see_whole_values_while_a_fourth_changes_the_store():
    ids = [b"thread-sw-%d" % k for k in range(3)]
    stop, errors, reads = threading.Event(), [], [0]

    def writer():
        while not stop.is_set():
            for i in ids:
                if lib.DVSHYP_SwitchAdd(i, b"quorix.ethernet", 4, 1) == OK:
                    alias = b"alias-" + i
                    statuses = {lib.DVSHYP_HostPropSet(i, b"h", i * 40, len(i) * 40, CONFIG),
                                lib.DVSHYP_GlobalPropSet(i, b"com.quorix.common.alias", alias, len(alias), CONFIG)}
                else:
                    statuses = {lib.DVSHYP_SwitchRemove(i)}
                if statuses != {OK}:
                    errors.append(("write", i, statuses))

    def item_value(item):
        value = C.c_void_p()
        size = lib.DVSData_Data(item, C.byref(value))
        return C.string_at(value, size) if size else None

    def reader():
        while not stop.is_set():
            names = collect(lib.DVSState_SwitchForEach, read=lib.DVS_SwitchName)
            if not set(names) <= {None, *ids, *(b"alias-" + i for i in ids)}:
                errors.append(("walk", names))
            for i in ids:
                handle = lib.DVSState_SwitchFindByAlias(i)
                if {lib.DVS_SwitchId(handle), lib.DVS_SwitchName(handle)} - {None, i, b"alias-" + i}:
                    errors.append(("switch", i))
                status, value = take_block(lib.DVSHYP_HostPropGet, i, b"h")
                reads[0] += status == OK
                if (status, value) not in ((OK, i * 40), (_libfc.HYP_NOT_FOUND, None)):
                    errors.append(("host", i, status, value))
                if set(collect(lib.DVSState_HostPropForEach, handle, read=item_value)) - {None, i * 40}:
                    errors.append(("item", i))

    threads = [threading.Thread(target=writer)] + [threading.Thread(target=reader) for _ in range(3)]
    for thread in threads:
        thread.start()
    time.sleep(1.0)
    stop.set()
    for thread in threads:
        thread.join()
    assert errors == [] and reads[0] > 10


# ---- memory over repeated calls ----------------------------------------------

def test_repeated_calls_keep_the_c_heap_flat():
    assert lib.fabemu_populate(2, 20, 4) == OK
    out, n, handle, item = C.c_void_p(), C.c_int(), C.c_void_p(), C.c_void_p()
    calls = itertools.count()

    def cycle():
        lib.DVS_SwitchName(lib.DVSState_SwitchFindByAlias(b"dvs-1"))
        lib.DVS_PortAlias(lib.DVSState_PortFind(b"x", b"3"))
        assert lib.DVSHYP_StateGet(C.byref(out), C.byref(n)) == OK
        lib.DVSHYP_DataFree(out)
        lib.DVSHYP_ExtraConfigPropList(b"nope", C.byref(handle), 252)
        lib.DVSData_Alloc(C.byref(handle), MEM_ALLOC(), MEM_FREE())
        lib.DVSData_Update(handle, b"k", b"v" * 4000, 4000, CONFIG)
        lib.DVSData_Free(handle)
        if next(calls) % 25 == 0:  # each write is a synced transaction: fewer of them
            lib.DVSHYP_SwitchAdd(b"tmp", b"c", 4, 1)
            lib.DVSHYP_PortAdd(b"tmp", b"1", None, 0)
            lib.DVSState_PortFind(b"tmp", b"1")
            lib.DVSHYP_HostPropSet(b"tmp", b"h", b"v" * 4000, 4000, CONFIG)
            lib.DVSState_HostPropLookup(b"tmp", b"h", C.byref(item))
            lib.DVSHYP_SwitchRemove(b"tmp")

    grown = c_heap_growth(cycle, cycles=1000, warm_up=150)
    if grown is None:
        pytest.skip("the C heap cannot be measured here")
    assert grown < 2 * 1024 * 1024  # a 4 KB value leaked per cycle would be 4 MB


# ---- calls that abandon through the trap --------------------------------------

def test_an_abandoned_call_changes_nothing_and_a_cancelled_failure_never_fires():
    add_switch()
    lib.fabemu_fail_next(b"DVSHYP_PortRemove", 9, None, b"no")  # pending, for another function, until cancelled
    lib.fabemu_fail_next(b"DVSHYP_PortAdd", 3, None, b"no")  # no type: the interpreter's RuntimeError
    with pytest.raises(RuntimeError, match="^no$"):
        _libfc.DVSHYP_PortAdd(SW.decode(), "1", None, 0)
    assert lib.DVSHYP_PortFind(SW, b"1") == _libfc.HYP_NOT_FOUND
    assert _libfc.DVSHYP_PortAdd(SW.decode(), "1", None, 0) == OK  # the failure was for one call only
    lib.fabemu_fail_next(b"DVSHYP_PortRemove", 0, None, None)
    assert lib.DVSHYP_PortRemove(SW, b"1") == OK


def test_the_trap_words_are_the_modules():
    names = subprocess.run(["nm", "-D", lib._name], capture_output=True, text=True).stdout
    undefined = {line.split()[-1] for line in names.splitlines() if line.split()[0] in ("U", "w", "v")}
    assert {"exception_buffer", "exceptionType", "exceptionMsg"} <= undefined
    assert not any(name.startswith("Py") and not name.startswith("PyExc_") for name in undefined)

"""The files --save and --prometheus-file write: a device or pipe written
through, a regular file replaced with the umask's mode, the built-in
libraries' live files refused, every failure naming the path; and the
file names shell completion offers."""

import gzip
import hashlib
import os
import stat
import subprocess
import sys
import threading

import pytest

import libfc.cli
from _helpers import builtin_library, child_env, cli_in_process
from libfc import snapshot
from libfc.cli import _replace, _snapshots, completion

LIB = builtin_library("libfc.so")

# Each writing command: its words before the path, and whether bytes it wrote are its output.
WRITERS = {
    "flows": (["flows", "--save"], lambda data: snapshot.FORMAT.encode() in gzip.decompress(data).split(b"\n")[0]),
    "stats": (["stats", "--prometheus-file"], lambda data: b"\nlibfc_up 1.0\n" in data),
}


@pytest.fixture(autouse=True)
def cache(flow_cache):
    LIB.fcemu_traffic(40, 2)
    yield flow_cache


@pytest.mark.parametrize("command", WRITERS)
@pytest.mark.parametrize("target, stdout", [("/dev/null", "pipe"), ("/dev/stdout", "pipe"), ("/dev/stdout", "file")])
def test_a_device_or_standard_output_is_written_through(tmp_path, command, target, stdout):
    words, written = WRITERS[command]
    with open(tmp_path / "out", "w+b") as out:
        result = subprocess.run([sys.executable, "-m", "libfc", *words, target], env=child_env(), timeout=120,
                                stdout=out if stdout == "file" else subprocess.PIPE, stderr=subprocess.PIPE)
        out.seek(0)
        output = out.read() if stdout == "file" else result.stdout
    assert result.returncode == 0, result.stderr
    assert stat.S_ISCHR(os.stat("/dev/null").st_mode) and os.path.islink("/dev/stdout")
    assert (output != b"" and written(output)) == (target == "/dev/stdout"), output[:200]


def test_a_reader_gone_from_standard_output_ends_a_save_quietly():
    LIB.fcemu_traffic(20000, 1)  # more than a pipe holds
    child = subprocess.Popen([sys.executable, "-m", "libfc", "flows", "--save", "/dev/stdout"], env=child_env(),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    child.stdout.read(10)
    child.stdout.close()
    assert (child.wait(120), child.stderr.read()) == (141, b"")


@pytest.mark.parametrize("command", WRITERS)
def test_a_planted_link_is_replaced_and_lends_no_mode(tmp_path, capsys, command):
    words, written = WRITERS[command]
    planted, link = tmp_path / "ww", tmp_path / "snap"
    planted.write_text("theirs\n")
    planted.chmod(0o666)
    link.symlink_to(planted)
    umask = os.umask(0o027)
    try:
        status, _, err = cli_in_process(capsys, *words, str(link))
    finally:
        os.umask(umask)
    assert status == 0, err
    assert (planted.read_text(), planted.stat().st_mode & 0o777) == ("theirs\n", 0o666)
    assert not link.is_symlink() and link.stat().st_mode & 0o7777 == 0o640 and written(link.read_bytes())
    assert sorted(os.listdir(tmp_path)) == ["snap", "ww"]


@pytest.mark.parametrize("command", WRITERS)
@pytest.mark.parametrize("through_link", [False, True])
@pytest.mark.parametrize("live, named", [("flowcache.state", "flow cache state"), ("fab.db", "switch state store"),
                                         ("default store", "switch state store")])
def test_the_live_state_and_store_are_refused_and_left_intact(tmp_path, capsys, monkeypatch, cache, switch_store,
                                                            command, through_link, live, named):
    if live == "default store":  # where the store goes unnamed, with the cache elsewhere
        for name in ("FAB_EMU_DB", "XDG_RUNTIME_DIR"):
            monkeypatch.delenv(name, raising=False)
        monkeypatch.setenv("TMPDIR", str(tmp_path))
        switch_store = tmp_path / ("libfc-%d" % os.geteuid()) / "fabemu.db"
    assert builtin_library("libfabPublic.so").fabemu_populate(2, 2, 1) == 0
    path = cache / live if live == "flowcache.state" else switch_store
    before = hashlib.sha256(path.read_bytes()).digest()
    if through_link:
        (tmp_path / "link").symlink_to(path)
        path = tmp_path / "link"
    status, out, err = cli_in_process(capsys, *WRITERS[command][0], str(path))
    assert (status, out) == (2, "") and err.startswith("libfc %s: error: %s: " % (command, path)) and named in err
    assert hashlib.sha256(path.read_bytes()).digest() == before and path.is_symlink() == through_link


@pytest.mark.parametrize("command", WRITERS)
@pytest.mark.parametrize("target, message", [
    ("file/x", "Not a directory"),
    ("missing/x", "No such file or directory"),
    (".", "Is a directory"),
    ("/dev/full", "No space left on device"),  # as a stream: a rename cannot fill a file system
])
def test_a_failure_names_the_path(tmp_path, capsys, command, target, message):
    (tmp_path / "file").write_text("")
    path = os.path.join(tmp_path, target)
    status, out, err = cli_in_process(capsys, *WRITERS[command][0], path)
    assert (status, out, err) == (1, "", "libfc %s: error: %s: %s\n" % (command, path, message))
    assert sorted(os.listdir(tmp_path)) == ["file"]


@pytest.mark.parametrize("line, offered", [
    ("libfc flows --save sn", "snap.gz"),
    ("libfc flows --from s", "snap.gz sub"),
    ("libfc top --file sn", "snap.gz"),
    ("libfc stats --prometheus-file su", "sub"),
    ("libfc diff sn", "snap.gz"),
    ("libfc diff snap.gz sn", "snap.gz"),
    ("libfc diff --j", "--json --json-lines"),
    ("libfc emu populate --seed sn", ""),
    ("libfc flows sn", ""),
])
def test_bash_completes_file_names_where_a_file_is_named(tmp_path, line, offered):
    (tmp_path / "snap.gz").write_text("")
    (tmp_path / "sub").mkdir()
    (tmp_path / "libfc.bash").write_text(completion.bash_script(libfc.cli.build_parser()))
    script = 'source libfc.bash; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); %s; echo "${COMPREPLY[*]}"' % (
        completion.FUNCTION)
    result = subprocess.run(["bash", "-c", script, "bash", *line.split()], cwd=tmp_path, capture_output=True,
                            text=True, timeout=60)
    assert (result.stdout.strip(), result.stderr) == (offered, "")


@pytest.mark.parametrize("failing", [False, True])
def test_a_save_reaches_the_disk_while_it_is_written_and_leaves_no_thread(tmp_path, monkeypatch, failing):
    # Synced while the save goes on, each time enough more was written; a
    # sync that fails leaves the writer to see the failure itself.
    monkeypatch.setattr(snapshot._Compressing, "PIECE", 1 << 16)
    monkeypatch.setattr(_replace.FlushedAsWritten, "FLUSH_EVERY", 1 << 14)
    synced = []

    def fdatasync(fd):
        synced.append(os.fstat(fd).st_size)
        if failing:
            raise OSError(5, "Input/output error")
    monkeypatch.setattr(_replace, "_flush_data", fdatasync)
    LIB.fcemu_traffic(3000, 1)
    path = tmp_path / "snap"
    count = _snapshots.save(str(path))
    assert count == sum(1 for _ in snapshot.Snapshot(str(path)))
    assert synced and (len(synced) == 1 if failing else 0 < synced[0] < path.stat().st_size)
    assert not [t for t in threading.enumerate() if t.name == "libfc-flush"]

"""Writing a file the user named: a stream (a device, a pipe, standard
output) is written through; a regular file is replaced in one step, so
readers see the old file or the whole new one, never a part, and a failure
leaves the old file as it was."""

import contextlib
import os
import stat
import threading

from ._library import CommandError, bad_input, emulator_state_dir, switch_store_emulator

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import BinaryIO

# The built-in flow cache's live file in its state directory; writing over
# it, or over the switch store, would lose the cache or the switch state for
# every later command.
FLOW_CACHE_STATE = "flowcache.state"


def _live_files():
    """(what, path) of the built-in libraries' live files, where each
    library says they are for the current environment."""
    try:
        directory = emulator_state_dir()
    except CommandError:  # a real flow cache library: it keeps no such file
        directory = None
    try:
        store = os.fsdecode(switch_store_emulator().fabemu_store_path() or b"") or None
    except CommandError:  # a real switch state library
        store = None
    found = [("the live flow cache state", directory and os.path.join(directory, FLOW_CACHE_STATE)),
             ("the switch state store", store)]
    return [(what, path) for what, path in found if path]


def _names_open_descriptor(path):
    """Whether `path` leads through /proc/<pid>/fd (/dev/stdout, /dev/fd/N):
    it stands for a descriptor already open, whatever file that is, and
    replacing it would replace the system's name in /dev."""
    fd_directory = "/proc/%d/fd" % os.getpid()
    for _ in range(40):  # the kernel follows no more links than this
        if os.path.realpath(os.path.dirname(os.path.abspath(path))) == fd_directory:
            return True
        try:
            path = os.path.join(os.path.dirname(path), os.readlink(path))
        except OSError:
            return False
    return False


def _target(path):
    """The path's file as stat (following links) sees it, or None when
    there is none; refuses the live files."""
    try:
        found = os.stat(path)
    except FileNotFoundError:
        return None
    for what, live in _live_files():
        try:
            same = os.path.samestat(found, os.stat(live))
        except OSError:
            same = False
        if same:
            raise bad_input("%s: that is %s, which is never written over" % (path, what))
    return found


def _new_file_beside(path):
    """A new empty file in the path's directory (a rename does not cross
    file systems).  Its mode is the umask's, as for any file the user makes,
    never another file's: a link planted at the path must not hand its
    target's mode to the new file."""
    directory, name = os.path.split(os.path.abspath(path))
    while True:
        temporary = os.path.join(directory, ".%s.%s.tmp" % (name, os.urandom(4).hex()))
        try:
            os.close(os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666))
            return temporary
        except FileExistsError:
            continue


def _flush_to_disk(name):
    handle = os.open(name, os.O_RDONLY)
    try:
        os.fsync(handle)
    finally:
        os.close(handle)


# A file's data to disk (where the system has no call for the data alone,
# its data and metadata).
_flush_data = getattr(os, "fdatasync", os.fsync)


class FlushedAsWritten:
    """A binary file whose data goes to disk while it is being written: a
    thread of its own flushes it each time FLUSH_EVERY more bytes were
    written, so that the flush before the rename waits for the last of them
    only (a million flows' snapshot, 34 MB, took 55-70 ms to flush after the
    write). Data only: the flush before the rename makes the file whole."""

    FLUSH_EVERY = 8 << 20

    def __init__(self, file: "BinaryIO") -> None:
        self._file = file
        self._unflushed = 0
        self._wanted = threading.Event()
        self._ended = False
        self._thread = threading.Thread(target=self._flush, name="libfc-flush", daemon=True)
        self._thread.start()

    def write(self, data: bytes) -> int:
        written = self._file.write(data)
        self._unflushed += len(data)
        if self._unflushed >= self.FLUSH_EVERY:
            self._unflushed = 0
            self._wanted.set()
        return written

    def _flush(self) -> None:
        while True:
            self._wanted.wait()
            self._wanted.clear()
            if self._ended:
                return
            try:
                _flush_data(self._file.fileno())
            except (OSError, ValueError):  # the writer sees a failing file itself
                return

    def __enter__(self) -> "FlushedAsWritten":
        return self

    def __exit__(self, *failure: object) -> None:
        self._ended = True
        self._wanted.set()
        self._thread.join()


@contextlib.contextmanager
def replacing(path):
    """Yields the name the caller writes to.  For a path that leads to a
    stream that is the path itself.  Otherwise it is a temporary file beside
    `path`, flushed to disk and renamed over it when the block ends without
    error, removed when not.  An error of the file system is one line that
    names `path`."""
    temporary = None
    try:
        found = _target(path)
        if _names_open_descriptor(path) or (found is not None and not stat.S_ISREG(found.st_mode)):
            yield path
            return
        temporary = _new_file_beside(path)
        yield temporary
        _flush_to_disk(temporary)
        os.replace(temporary, path)
        temporary = None
    except OSError as error:
        # A library's failure is not the file's; a reader gone from a pipe
        # ends the tool quietly, as for standard output.
        if error.errno is None or isinstance(error, BrokenPipeError):
            raise
        raise CommandError("%s: %s" % (path, error.strerror)) from None
    finally:
        if temporary is not None:
            try:
                os.unlink(temporary)
            except OSError:
                pass

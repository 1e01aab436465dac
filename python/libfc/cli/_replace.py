"""Writing a file in one step: readers see the old file or the whole new
one, never a part, and a failure leaves the old file as it was."""

import contextlib
import os
import tempfile


@contextlib.contextmanager
def replacing(path):
    """Yields the name of a temporary file beside ``path`` (a rename does not
    cross file systems) for the caller to write; when the block ends without
    error the file is flushed to disk and renamed over ``path``, otherwise
    removed.  It gets the mode ``path`` had, or the umask's default for a new
    file: mkstemp's 0600 would keep out a reader running as another user,
    such as a metrics collector."""
    directory = os.path.dirname(os.path.abspath(path))
    handle, temporary = tempfile.mkstemp(dir=directory, prefix="." + os.path.basename(path) + ".", suffix=".tmp")
    os.close(handle)
    try:
        yield temporary
        handle = os.open(temporary, os.O_RDONLY)
        try:
            os.fsync(handle)
        finally:
            os.close(handle)
        try:
            mode = os.stat(path).st_mode & 0o777
        except FileNotFoundError:
            umask = os.umask(0)
            os.umask(umask)
            mode = 0o666 & ~umask
        os.chmod(temporary, mode)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise

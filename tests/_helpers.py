"""Small helpers shared by the binding tests: raw memory access to records,
the pointer object behind a result, and running code in a fresh interpreter."""

import contextlib
import ctypes
import os
import subprocess
import sys
import textwrap

import _libfc
from libfc import _emulator

BUILD_DIR = os.path.dirname(os.path.abspath(_libfc.__file__))

# The runtime's pointer object type, taken from a freshly made record.
_probe = _libfc.new_hyp_AddrCookie()
SwigPyObject = type(_probe)
_libfc.delete_hyp_AddrCookie(_probe)
del _probe


def this_of(obj):
    """The pointer object behind a result: the object itself, or the one
    an instance of a registered class keeps in its ``this`` attribute."""
    # By name, as the runtime recognises pointer objects of every module.
    while type(obj).__name__ != "SwigPyObject":
        obj = obj.this
    return obj


def addr(obj):
    return int(this_of(obj))


def descriptor_name(obj):
    """The mangled type name a pointer object carries (the tail of its str)."""
    text = str(this_of(obj))
    assert text[0] == "_" and len(text) > 17, text
    return text[17:]


def raw(obj, size, offset=0):
    """The bytes of a record as they lie in memory."""
    return ctypes.string_at(addr(obj) + offset, size)


def poke(obj, offset, data):
    """Write bytes straight into a record's memory."""
    ctypes.memmove(addr(obj) + offset, bytes(data), len(data))


def child_env():
    """This process's environment with the build directory first on PYTHONPATH."""
    return dict(os.environ, PYTHONPATH=BUILD_DIR + os.pathsep + os.environ.get("PYTHONPATH", ""))


def run_python(code, timeout=60):
    """Run code in a fresh interpreter that imports from the build directory;
    return the completed process (stdout and stderr as text)."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=child_env(), capture_output=True, text=True, timeout=timeout,
    )


def run_python_ok(code, timeout=60):
    """run_python, failing the test with the child's output when it fails."""
    result = run_python(code, timeout)
    if result.returncode != 0:
        raise AssertionError(f"subprocess failed ({result.returncode}):\n{result.stdout}\n{result.stderr}")
    return result


def c_heap_in_use():
    """Bytes the C allocator has handed out and not yet taken back (glibc's
    mallinfo2), or None where that cannot be read (a sanitizer's allocator)."""
    if os.environ.get("LIBFC_SANITIZED") == "1":
        return None
    libc = ctypes.CDLL(None)
    if not hasattr(libc, "mallinfo2"):
        return None

    class MallInfo2(ctypes.Structure):
        _fields_ = [(name, ctypes.c_size_t) for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
            "uordblks", "fordblks", "keepcost")]

    libc.mallinfo2.restype = MallInfo2
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def c_heap_growth(cycle, cycles=20_000, warm_up=1_000):
    """How much the C heap grew over `cycles` calls of cycle(), or None."""
    import gc
    for _ in range(warm_up):
        cycle()
    gc.collect()
    before = c_heap_in_use()
    if before is None:
        return None
    for _ in range(cycles):
        cycle()
    gc.collect()
    return c_heap_in_use() - before


def module_methods(module=_libfc):
    """The names of a module's methods, in method-table order."""
    return [k for k, v in vars(module).items() if type(v).__name__ == "builtin_function_or_method"]


def trap_status():
    """_libfc's exported exception_status word."""
    return ctypes.c_int.in_dll(ctypes.CDLL(_libfc.__file__), "exception_status")


def builtin_library(name):
    """A library installed beside _libfc ("libfc.so", "libfabPublic.so"), the
    one the module loaded, through ctypes, its control functions declared."""
    library = ctypes.CDLL(os.path.join(BUILD_DIR, name))
    return _emulator.declare(library, name) if name in _emulator.PROTOTYPES else library


def library_view(type_name, buffer):
    """A pointer object of type_name * addressing ctypes memory, as a library
    call returns it: not owned, and unknown to the module's allocations. The
    address sits at offset 16 of every pointer object."""
    view = getattr(_libfc, "new_" + type_name)()
    getattr(_libfc, "delete_" + type_name)(view)  # frees the block; the object no longer owns
    ctypes.c_void_p.from_address(id(view) + 16).value = ctypes.addressof(buffer)
    return view


# Library buffers of a header and counted elements: the header size, where
# its element count lies (offset, bytes) and the element size.
COUNTED_BUFFERS = {
    "FC_IOCFlows": (8, (4, 4), 67670),
    "FC_IOCInvalEntries": (12, (8, 4), 72),
    "FC_HashStatsIOC": (4, (0, 2), 60),
}


def counted_buffer(type_name, n, stated=None):
    """A library-shaped buffer of n patterned elements whose header states
    `stated` (default n) of them, and a view of it: (buffer, view)."""
    head, (at, width), size = COUNTED_BUFFERS[type_name]
    total = head + n * size
    buffer = ctypes.create_string_buffer(bytes((7 + i) % 251 for i in range(total)), total)
    ctypes.memmove(ctypes.addressof(buffer) + at, (n if stated is None else stated).to_bytes(width, "little"), width)
    return buffer, library_view(type_name, buffer)


def run_cli(*args):
    """The command-line tool in a child process, on the in-tree build."""
    return subprocess.run([sys.executable, "-m", "libfc", *args], env=child_env(), capture_output=True, text=True,
                          timeout=120)


def cli_started(*args):
    """The tool in a child process (stdout and stderr piped), handed back
    once its modules are imported and the command is about to run: a signal
    sent from then on reaches the command, however slow the start-up was."""
    code = "import sys, libfc.cli; print('started', file=sys.stderr, flush=True); sys.exit(libfc.cli.main(sys.argv[1:]))"
    child = subprocess.Popen([sys.executable, "-c", code, *args], env=child_env(), stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    assert child.stderr.readline() == "started\n"
    return child


def cli_ok(*args):
    """Its standard output, after checking it succeeded quietly."""
    result = run_cli(*args)
    assert result.returncode == 0 and result.stderr == "", (args, result.stdout, result.stderr)
    return result.stdout


def cli_here(*argv):
    """The tool run in this process, as run_cli reports a child: returncode,
    stdout and stderr."""
    import contextlib
    import io

    import libfc.cli

    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        try:
            status = libfc.cli.main(list(argv))
        except SystemExit as exit_info:  # argparse's refusals and --help
            status = exit_info.code
    return subprocess.CompletedProcess(["libfc", *argv], status, out.getvalue(), err.getvalue())


def cli_in_process(capsys, *argv):
    """The tool run in this process: (exit status, stdout, stderr)."""
    import libfc.cli

    try:
        status = libfc.cli.main(list(argv))
    except SystemExit as exit_info:  # argparse's refusals
        status = exit_info.code
    out, err = capsys.readouterr()
    return status, out, err


@contextlib.contextmanager
def racing(threads):
    """Starts the threads with the interpreter switching between them as
    often as it can, so that a race shows within a short test; on leaving,
    waits for them and restores the switch interval."""
    interval, started = sys.getswitchinterval(), []
    sys.setswitchinterval(1e-6)
    try:
        for thread in threads:
            thread.start()
            started.append(thread)
        yield
    finally:
        for thread in started:
            thread.join()
        sys.setswitchinterval(interval)

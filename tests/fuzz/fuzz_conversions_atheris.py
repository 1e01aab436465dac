"""Coverage-guided fuzzing of the text conversions (character arrays and
owned text fields) and of the library-call trap, with an oracle for each
input. (The integer and one-byte fields' edges are enumerated by
test_conversions.py, the pointer texts of every record by
test_pointer_objects.py, the packed objects' by test_boundaries.py.)

    python tests/fuzz/fuzz_conversions_atheris.py [libFuzzer options, e.g. -runs=200000 -seed=1]

Every input is decoded into one action; the action's outcome is checked
against the rules the module keeps (accepted values read back unchanged,
refusals raise exactly the documented exception and leave the field alone,
stored texts match byte for byte). Without atheris the same harness runs
over seeded random inputs (--random N), which is what the test suite does.
"""

import os
import random
import struct
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
BUILD = os.environ.get("LIBFC_BUILD_DIR", os.path.join(os.path.dirname(TESTS), "build"))
sys.path[:0] = [path for path in (BUILD, TESTS) if path not in sys.path]
# Never the user's own flow cache: a directory of the run's own, gone with it.
_STATE = tempfile.TemporaryDirectory(prefix="libfc-atheris-")
os.environ.setdefault("FC_EMU_DIR", _STATE.name)

import ctypes  # noqa: E402

import _libfc  # noqa: E402
import libfc  # noqa: E402,F401
from _helpers import builtin_library  # noqa: E402
from _records import all_fields, getter, new, setter  # noqa: E402

CHAR_ARRAYS = all_fields({"chars"})
LIB = builtin_library("libfc.so")
EXCEPTION_TYPES = [RuntimeError, ValueError, OSError, KeyError, MemoryError, IndexError, None]


class Input:
    """A byte string read front to back; reads past its end give zeros."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, n):
        chunk = self.data[self.at:self.at + n]
        self.at += n
        return chunk + bytes(n - len(chunk))

    def byte(self):
        return self.take(1)[0]

    def pick(self, items):
        return items[int.from_bytes(self.take(2), "little") % len(items)]

    def integer(self):
        kind = self.byte() % 4
        if kind == 0:  # near a power of two
            power = self.byte() % 90
            return (1 << power) + (self.byte() % 5) - 2
        if kind == 1:
            return -((1 << (self.byte() % 90)) + (self.byte() % 5) - 2)
        if kind == 2:
            return int.from_bytes(self.take(12), "little", signed=True)
        return self.byte() - 128

    def text(self):
        length = self.byte() % 80
        codes = struct.unpack("<%dH" % length, self.take(2 * length))
        if self.byte() % 2:
            codes = [c % 128 for c in codes]  # ASCII mostly
        return "".join(map(chr, codes))


def utf8(text):
    try:
        return text.encode()
    except UnicodeEncodeError:
        return None


def check_char_array(inp):
    record, f = inp.pick(CHAR_ARRAYS)
    text = inp.text()
    rec = new(record)
    put, get = setter(record, f), getter(record, f)
    put(rec, "keep")
    encoded = utf8(text)
    fits = encoded is not None and (len(encoded) <= f.count)
    try:
        put(rec, text)
    except TypeError:
        assert not fits, (record.name, f.name, text)
        assert get(rec) == "keep"
        return
    assert fits, (record.name, f.name, text)
    stored = ctypes.string_at(int(rec) + f.offset, f.count)
    assert stored == encoded + bytes(f.count - len(encoded))
    try:
        expected = encoded.rstrip(b"\0").decode()
    except UnicodeDecodeError:
        return
    assert get(rec) == expected


def check_owned_text(inp):
    text = inp.text()
    rec = _libfc.new_FC_InvalData()
    try:
        _libfc.FC_InvalData_psName_set(rec, text)
    except TypeError:
        assert utf8(text) is None
    else:
        assert _libfc.FC_InvalData_psName_get(rec) == text.split("\0")[0]
    _libfc.delete_FC_InvalData(rec)


OPERATIONS = [("FC_IOCGetConfigOption", (0,)), ("FC_GetFlowCacheStats", ()), ("FC_GetPortsetStatus", ("x",)),
              ("FC_SetPortProp", ("portset-0", "1", 3)), ("FC_GetInvalTableEntries", ())]


def check_trap(inp):
    name, args = inp.pick(OPERATIONS)
    value = inp.integer() % 2**31 or 1
    kind = inp.pick(EXCEPTION_TYPES)
    message = inp.text().encode("utf-8", "replace").replace(b"\0", b"") if inp.byte() % 4 else None
    LIB.fcemu_fail_next(name.encode(), value, id(kind) if kind else None, message)  # None: no type at all
    try:
        getattr(_libfc, name)(*args)
    except BaseException as error:
        if kind is None or message is None:
            assert type(error) is RuntimeError
        else:
            assert type(error) is kind and (kind is KeyError or str(error) == message.decode("utf-8", "replace"))
    else:
        raise AssertionError("the injected failure of %s did not fire" % name)
    assert ctypes.c_int.in_dll(ctypes.CDLL(_libfc.__file__), "exception_status").value == value


CHECKS = [check_char_array, check_owned_text, check_trap]


def TestOneInput(data):
    inp = Input(data)
    inp.pick(CHECKS)(inp)


def run_random(count, seed):
    rng = random.Random(seed)
    for _ in range(count):
        TestOneInput(bytes(rng.getrandbits(8) for _ in range(rng.randrange(1, 200))))


def main():
    if sys.argv[1:2] == ["--random"]:
        count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
        seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
        run_random(count, seed)
        print("atheris harness: %d random inputs, seed %d" % (count, seed))
        return
    import atheris
    # The module is built by gcc, without libFuzzer's hooks: the guidance is
    # the coverage of the harness's own decisions (which field, accepted or
    # refused, which form of text), instrumented here.
    atheris.instrument_all()
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()

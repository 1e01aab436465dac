"""Coverage-guided fuzzing of every way a record is made from data
(from_bytes, from_dict with random nested dicts and values, keyword
construction, unpickling) and of copies, with an oracle for each input:
no record made from data holds a pointer the module did not set itself
(a forged one is followed, so the sanitizers see it), refusals are the
documented exception types, and what was made survives to_dict, JSON,
from_dict, bytes, copy and pickle byte for byte.

    python tests/fuzz/fuzz_records_atheris.py [libFuzzer options, e.g. -runs=300000 -seed=1]

Without atheris the same checks run over seeded random inputs (--random N
SEED), which is what the test suite does. The campaign under the sanitizer
build, from the project's root, runs that mode: with gcc's libasan preloaded
the coverage counters bind to the sanitizer's hooks instead of libFuzzer's,
so atheris would mutate without guidance (its corpus stays at one input).

    export LIBFC_BUILD_DIR=$PWD/build-asan LIBFC_SANITIZED=1 LD_PRELOAD=$(gcc -print-file-name=libasan.so) \
      ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    for i in $(seq 0 9); do nice -n 10 python tests/fuzz/fuzz_records_atheris.py --random 100000 $((SEED + i)); done

and the guided run goes over the plain build:

    nice -n 15 python tests/fuzz/fuzz_records_atheris.py -runs=300000 -seed=SEED
"""

import copy
import json
import os
import pickle
import random
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
BUILD = os.environ.get("LIBFC_BUILD_DIR", os.path.join(os.path.dirname(TESTS), "build"))
sys.path[:0] = [path for path in (BUILD, TESTS, HERE) if path not in sys.path]

import libfc  # noqa: E402
from fuzz_conversions_atheris import Input  # noqa: E402
from libfc import _values  # noqa: E402
from _records import RECORDS  # noqa: E402

CLASSES = [getattr(libfc, r.name) for r in RECORDS]
REFUSALS = (TypeError, ValueError, OverflowError, AttributeError)


def image_of(inp, cls, forge=False):
    """An image of cls from the input; its pointers null unless forge and the input say otherwise."""
    image = bytearray(inp.take(cls._size_))
    if not forge or inp.byte() % 4:
        for _, where, _ in _values._pointers(cls):
            image[where : where + 8] = bytes(8)
    return bytes(image)


def forged(cls, image):
    return any(any(image[w : w + 8]) for _, w, _ in _values._pointers(cls))


def value(inp, depth=0):
    kind = inp.byte() % (11 if depth < 3 else 7)
    if kind == 0:
        return inp.integer()
    if kind in (1, 2):
        text = inp.text()
        return text + "\udc80\udcff" if kind == 2 else text
    if kind == 3:
        return None
    if kind == 4:
        return bool(inp.byte() % 2)
    if kind == 5:
        return inp.take(inp.byte() % 20)
    if kind == 6:
        return float(inp.integer())
    if kind == 7:
        return [value(inp, depth + 1) for _ in range(inp.byte() % 5)]
    if kind == 8:
        return inp.pick(CLASSES)()  # a live record: setters take its address
    if kind == 9:
        return mutated(inp, inp.pick(CLASSES)().to_dict(), depth + 1)
    return {inp.text()[:8]: value(inp, depth + 1) for _ in range(inp.byte() % 3)}


def mutated(inp, data, depth=0):
    """data with a few leaves (or names) replaced by random values."""
    for _ in range(inp.byte() % 4):
        place, key = data, None
        while isinstance(place, (dict, list)) and place:
            key = inp.pick(list(place)) if isinstance(place, dict) else inp.byte() % len(place)
            if not isinstance(place[key], (dict, list)) or inp.byte() % 3 == 0:
                break
            place = place[key]
        if isinstance(place, dict):
            place[key if inp.byte() % 5 else inp.text()[:12]] = value(inp, depth)
        elif isinstance(place, list) and place:
            place[key] = value(inp, depth)
    return data


def check_made(record, objects):
    """A record made from data: no pointer it holds came from the data, and
    it survives every way back to data."""
    cls = type(record)
    image = bytes(record)
    for path, where, kind in _values._pointers(cls):
        if any(image[where : where + 8]):
            assert objects or kind == _values._OWNED_TEXT, (cls.__name__, path)
    for f in _values._fields(cls):  # follow every pointer: a forged one faults here
        if f.kind in (_values._POINTER, _values._OWNED_TEXT):
            target = getattr(record, f.name)
            if isinstance(target, libfc._record._Record):
                target.to_dict()
    repr(record)
    data = record.to_dict()
    texts = any(k == _values._OWNED_TEXT for _, _, k in _values._pointers(cls))
    if objects or texts:
        return
    for twin in (cls.from_dict(data), cls.from_dict(json.loads(json.dumps(data))), cls.from_bytes(image),
                 copy.copy(record), copy.deepcopy(record), pickle.loads(pickle.dumps(record))):
        assert bytes(twin) == image, (cls.__name__, data)


def check_from_bytes(inp):
    cls = inp.pick(CLASSES)
    image = image_of(inp, cls, forge=True)
    make = cls.from_bytes if inp.byte() % 2 else lambda data: pickle.loads(_pickled(cls, data))
    try:
        record = make(image)
    except ValueError as error:
        assert forged(cls, image) and "holds a pointer" in str(error), (cls.__name__, image.hex())
        return
    assert not forged(cls, image), (cls.__name__, image.hex())
    check_made(record, False)


class _Payload:
    """What a hostile pickle holds: the loader with any class and bytes."""

    def __init__(self, cls, image):
        self.args = (cls, image)

    def __reduce__(self):
        return (_values._unpickle, self.args)


def _pickled(cls, image):
    return pickle.dumps(_Payload(cls, image))


def check_from_dict(inp):
    cls = inp.pick(CLASSES)
    if inp.byte() % 3:
        data = mutated(inp, cls._from_image(image_of(inp, cls)).to_dict())
    else:
        data = {inp.pick(_values._names(cls) + ["x"]): value(inp) for _ in range(inp.byte() % 6)}
    objects = _holds_record(data)
    try:
        record = cls.from_dict(data) if inp.byte() % 2 else cls(**data)
    except REFUSALS:
        return
    check_made(record, objects)


def _holds_record(data):
    if isinstance(data, dict):
        return any(_holds_record(v) for v in data.values())
    if isinstance(data, list):
        return any(_holds_record(v) for v in data)
    return isinstance(data, libfc._record._Record)


def check_copy(inp):
    """A copy outlives its original, owned texts included."""
    cls = inp.pick(CLASSES)
    record = cls._from_image(image_of(inp, cls))
    if cls is libfc.FC_InvalData or inp.byte() % 8 == 0:
        try:
            record = libfc.FC_InvalData(psName=inp.text())
        except TypeError:  # not UTF-8
            return
    texts = [path for path, _, kind in _values._pointers(type(record)) if kind == _values._OWNED_TEXT]
    before = [_values._get_path(record, path) for path in texts] if texts else bytes(record)
    twin = copy.deepcopy(record) if inp.byte() % 2 else copy.copy(record)
    del record  # frees its texts: the copy has its own
    after = [_values._get_path(twin, path) for path in texts] if texts else bytes(twin)
    assert after == before, before


CHECKS = [check_from_bytes, check_from_dict, check_copy]


def TestOneInput(data):
    inp = Input(data)
    inp.pick(CHECKS)(inp)


def run_random(count, seed):
    rng = random.Random(seed)
    for _ in range(count):
        TestOneInput(rng.randbytes(rng.randrange(1, 400)))


def main():
    if sys.argv[1:2] == ["--random"]:
        count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
        seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
        run_random(count, seed)
        print("records harness: %d random inputs, seed %d" % (count, seed))
        return
    import atheris
    # The guidance is the coverage of the package's Python (what makes and
    # refuses records) and of the harness; the C module has no libFuzzer hooks.
    atheris.instrument_all()
    atheris.Setup(sys.argv, TestOneInput)
    atheris.Fuzz()


if __name__ == "__main__":
    main()

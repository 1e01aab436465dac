"""Hostile calls over every method the module has.

    python tests/fuzz/fuzz_methods.py [--calls N] [--seed S] [--verbose]

Each call picks a method of `_libfc` found at run time and gives it arguments
drawn from a hostile corpus: integers at and beyond every type boundary,
floats, None, texts of every length around each character array width,
non-ASCII and lone-surrogate texts, bytes, pointer objects of every
descriptor, companion instances, instances whose `this` chain is broken,
raising or longer than the runtime follows, and wrong argument counts. Any
Python exception is an acceptable answer; a crash or a sanitizer report is
the module's fault, because the driver keeps to the rules a correct script
keeps:

- every container outlives the views taken from it (pool records live for
  the whole run, a library result only until the next call of the same
  library function);
- a pointer argument that the method may read through always addresses at
  least as many bytes as the method reads (each pooled pointer carries the
  number of bytes behind it);
- a record is never used after delete_X (only fresh records are deleted);
- an address stored into a pointer field is taken out again in the next
  call, before its record can die.

The last line printed is "fuzz: <calls> calls, seed <seed>, ..." so a failure
replays with the same seed. Methods the tables below do not describe (new
operation blocks) are still called, with wrong argument counts and with
values their conversions must refuse; describing their C argument types in
an operations .def file makes them fuzzed in full (see OPERATION_FILES).
"""

import argparse
import collections
import gc
import glob
import os
import random
import re
import reprlib
import sys
import tempfile
from types import SimpleNamespace as Broken  # an instance whose `this` is anything, or missing

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
ROOT = os.path.dirname(TESTS)
BUILD = os.environ.get("LIBFC_BUILD_DIR", os.path.join(ROOT, "build"))
sys.path[:0] = [path for path in (BUILD, TESTS, HERE) if path not in sys.path]

# The built-in libraries keep state in files: never the user's own, and
# gone with the run.
_STATE = tempfile.TemporaryDirectory(prefix="libfc-fuzz-")
os.environ["FC_EMU_DIR"] = os.path.join(_STATE.name, "fc")
os.environ["FAB_EMU_DB"] = os.path.join(_STATE.name, "fab.db")

import _libfc  # noqa: E402
import libfc  # noqa: E402
from _helpers import builtin_library, descriptor_name, this_of  # noqa: E402
from _records import BY_NAME, RECORDS, getter, method_names, new, setter  # noqa: E402
from helper_module_plans import HelperPlans  # noqa: E402
from switch_state_plans import SwitchState  # noqa: E402

# Descriptions of library operations: OPERATION(name, "result", "arg", ...).
OPERATION_FILES = sorted(set(glob.glob(os.path.join(ROOT, "*", "*operations.def"))))


# --- the hostile corpus ---------------------------------------------------------------------

IntSub = type("IntSub", (int,), {})
StrSub = type("StrSub", (str,), {})


class RaisingIndex:
    def __index__(self):
        raise RuntimeError("no index")

    __int__ = __index__


INTEGERS = [0, 1, -1, 7, 127, 128, 255, 256, 65535, 65536, 2**31 - 1, 2**31, -2**31, -2**31 - 1, 2**32 - 1,
            2**32, 2**63 - 1, 2**63, -2**63, -2**63 - 1, 2**64 - 1, 2**64, 2**80, -2**80, True, False,
            IntSub(3), IntSub(2**70), IntSub(-1)]
OTHERS = [None, 0.0, 1.5, -0.0, float("nan"), float("inf"), b"", b"abc", bytearray(b"x"), object(), [], {}, (1, 2),
          RaisingIndex(), 1j, type, len, lambda: None]


# Texts of every length around each character array's width (the last
# character of the one that fits made two bytes long).
WIDTHS = sorted({f.count for r in RECORDS for f in r.fields if f.kind == "chars"} | {1, 6, 16, 32, 48})
TEXTS = ["", "a", "ab", "\u00e9", "\u20ac" * 3, "\ud800", "x\udfffy", "a\x00b", "\x7f\x80", StrSub("sub"),
         "02:00:00:00:00:02", "portset-0", "7", "x" * 1000, "y" * 70000]
TEXTS += [text for n in WIDTHS for text in ("x" * n, "x" * (n + 1), "x" * (n - 1) + "\u00e9" if n else "\u00e9")]
SCALARS = INTEGERS + OTHERS + TEXTS


class RaisingThis:
    @property
    def this(self):
        raise KeyError("this")


def chain(depth, end):
    for _ in range(depth):
        end = Broken(this=end)
    return end


# Values every conversion of a pointer refuses (and no library may read).
REFUSED = [1.5, b"x", Broken(this=5), RaisingThis(), object(), 2**80]


# --- pointers with the number of bytes behind them --------------------------------------------

# A pointer argument: the object given, its descriptor name, how many bytes
# may be read through it, and the container that keeps it valid.
Pointer = collections.namedtuple("Pointer", "obj desc extent keep", defaults=(None,))


def holds_owned(obj, desc):
    """Whether obj's chain of pointers holds a record of type desc that it
    owns (delete_X would free it)."""
    try:
        p = this_of(obj)
    except Exception:  # None, a broken or raising `this`: no pointer at all
        return False
    while p is not None and not (str(p)[17:] == desc and p.own()):
        p = p.next()
    return p is not None


SIZE = {r.descriptor: r.size for r in RECORDS}
# The module's own functions over a record (named <record>_get_...), and
# those over plain values with their argument counts.
RECORD_FUNCTIONS = ["FC_VDL2EncapActionDataIOC_get_sip", "FC_VDL2EncapActionDataIOC_get_dip",
                    "FC_FlowEntryIOC_get_srcip_entry", "FC_FlowEntryIOC_get_dstip_entry",
                    "FC_IOCFlows_get_num_flows", "FC_IOCFlows_get_flow"]
PLAIN_FUNCTIONS = {"FC_ACTION_SIZE": 0, "ovl_INTBitmapConvert": 1}


def fields_overlap(record):
    spans = sorted((f.offset, f.offset + f.width) for f in record.fields)
    return any(a[1] > b[0] for a, b in zip(spans, spans[1:]))


# Unions whose pointer members share storage with numbers: reading their
# pointers after numbers were written would follow a number.
UNIONS = {r.name for r in RECORDS if fields_overlap(r)}
POINTER_FIELDS = ("ptr", "void", "text")


def indexed(method):
    """Whether a method over a record takes an index after it."""
    return method.endswith(("___getitem__", "_get_instance", "_get_flow"))


class Driver:
    def __init__(self, seed, verbose=False):
        self.rng, self.verbose = random.Random(seed), verbose
        self.calls, self.outcomes = 0, collections.Counter()
        self.pool, self.by_desc = [], {}  # Pointer entries valid for the whole run
        self.library_views = []           # Pointer entries into the current library results
        self.plans, self.unknown, self.described = [], [], set()
        for record in RECORDS:
            self._pool_records(record)
            self._plan_record(record)
        self._plan_functions()
        self._plan_operations()
        self._plan_unknown()
        self.module_plans = len(self.plans)
        self.plans += HelperPlans(self, RECORDS).plans()

    # --- bookkeeping -------------------------------------------------------------------------

    def call(self, fn, *args):
        self.calls += 1
        if self.verbose:  # the last line before a crash names the call
            print(self.calls, getattr(fn, "__name__", fn), tuple(map(reprlib.repr, args)), file=sys.stderr, flush=True)
        try:
            result = fn(*args)
        except Exception as error:  # every exception is an acceptable answer (RecursionError included)
            self.outcomes[type(error).__name__] += 1
            return None
        self.outcomes["ok"] += 1
        return result

    def add(self, entry):
        self.pool.append(entry)
        self.by_desc.setdefault(entry.desc, []).append(entry)

    def _pool_records(self, record):
        """A bare and a companion record, and views of their nested records
        and arrays with the bytes left to the end of the container."""
        for make in filter(None, (getattr(_libfc, "new_" + record.name), getattr(libfc, record.name, None))):
            container = Pointer(make(), record.descriptor, record.size)
            self.add(container)
            for f in record.fields:
                if f.kind not in ("nested", "ro_nested", "array"):
                    continue  # hwaddr included: its getter is a text
                view = self.call(getter(record, f), container.obj)
                if view is not None:
                    self.add(Pointer(view, descriptor_name(view), container.extent - f.offset, container))

    # --- argument pickers ------------------------------------------------------------------

    def scalar(self):
        return self.rng.choice(SCALARS)

    def hostile_object(self):
        """A value no pointer conversion may read through."""
        if self.rng.random() < 0.5:
            return self.scalar()
        return self.rng.choice([Broken(this=5), Broken(this=None), RaisingThis(), Broken(this="text"), Broken(),
                                chain(70, _libfc.new_hyp_String()), chain(3, Broken(this=7))])

    def pointer(self, need, own_kind=None, writes=False):
        """A pointer object or instance with at least `need` bytes behind it,
        any descriptor; or the same wrapped in a `this` chain."""
        views = self.library_views and not writes and self.rng.random() >= 0.7
        candidates = self.library_views if views else self.pool
        for _ in range(8):
            entry = self.rng.choice(candidates)
            if entry.extent >= need and entry.desc != own_kind:
                r = self.rng.random()
                if r < 0.1:
                    return chain(self.rng.choice((1, 2, 63)), entry.obj)
                return this_of(entry.obj) if r < 0.15 else entry.obj
        return None

    def typed_pointer(self, desc, need, writes=False):
        entries = self.by_desc.get(desc, [])
        if not writes:  # a library's buffer is read, never written: its counts must stay true
            entries = entries + [e for e in self.library_views if e.desc == desc]
        entries = [e for e in entries if e.extent >= need]
        return self.rng.choice(entries).obj if entries else None

    def value_for(self, kind_need, writes=False):
        """An argument for a slot: ('scalar',) any scalar; ('ptr', need, desc)
        a pointer with need bytes (of type desc, often), or a hostile
        non-pointer."""
        if kind_need[0] == "scalar":
            return self.scalar() if self.rng.random() < 0.85 else self.hostile_object()
        _, need, desc = kind_need
        r = self.rng.random()
        p = self.typed_pointer(desc, need, writes) if r < 0.45 and desc else None
        if p is None and r < 0.8:
            p = self.pointer(need, writes=writes)
        return self.hostile_object() if p is None else p

    def wrong_count(self, fn, count):
        n = self.rng.choice([c for c in range(0, count + 3) if c != count])
        self.call(fn, *[self.scalar() for _ in range(n)])

    def guarded(self, fn, count, chance, body):
        """A plan for fn: with the given chance a call with a wrong argument
        count, else body()."""
        def plan():
            if self.rng.random() < chance:
                return self.wrong_count(fn, count)
            return body()
        return plan

    # --- plans: one per method -------------------------------------------------------------

    def _plan_record(self, record):
        for f in record.fields:
            self.plans.append(self._getter_plan(record, f))
            if f.writable:
                self.plans.append(self._setter_plan(record, f))
        self.plans += [self._extra_plan(record, extra) for extra in record.extras]
        self.plans += [self._new_plan(record), self._delete_plan(record)]

    def _record_arg(self, record, writes=False):
        r = self.rng.random()
        if r < 0.75:
            return self.typed_pointer(record.descriptor, record.size, writes)
        return None if r < 0.85 else self.value_for(("ptr", record.size, None), writes)

    def _getter_plan(self, record, f):
        get = getter(record, f)
        if f.kind in POINTER_FIELDS and record.name in UNIONS:
            # Only a fresh union's pointer is known not to be a number.
            return self.guarded(get, 1, 0.03, lambda: self.call(get, new(record)))
        return self.guarded(get, 1, 0.03, lambda: self.call(get, self._record_arg(record)))

    def _setter_plan(self, record, f):
        put = setter(record, f)

        def body():
            rec = self._record_arg(record, writes=True)
            if f.kind in ("ptr", "void"):
                # A fresh record of any type: stored, then taken out again.
                target = new(self.rng.choice(RECORDS))
                self.call(put, rec, target if self.rng.random() < 0.7 else self.value_for(("scalar",)))
                self.call(put, rec, None)
                return this_of(target).acquire()
            if f.kind in ("nested", "array", "zarray", "hwaddr"):
                value = self.value_for(("ptr", 0 if f.kind == "zarray" else f.width, f.target or None))
            else:
                value = self.value_for(("scalar",))
            self.call(put, rec, value)
        return self.guarded(put, 2, 0.03, body)

    def _extra_plan(self, record, extra):
        fn, count = getattr(_libfc, extra), 1 + indexed(extra)

        def body():
            index = [self.rng.choice(INTEGERS + OTHERS[:6])] * (count - 1)
            self._adopt(self.call(fn, self._record_arg(record), *index))
        return self.guarded(fn, count, 0.03, body)

    def _adopt(self, result):
        """Keep a returned owned copy for later calls (it owns its record);
        views returned by extras are dropped with the result."""
        try:
            owned = this_of(result).own()
        except Exception:  # None, a number or a text: no pointer object
            return
        desc = descriptor_name(result)
        if owned and len(self.pool) < 4000 and desc in SIZE:
            self.add(Pointer(result, desc, SIZE[desc]))

    def _new_plan(self, record):
        make = getattr(_libfc, "new_" + record.name)

        def body():
            # Pointer-object methods on a record nobody else sees.
            p = this_of(self.call(make))
            for method, args in self.rng.sample(POINTER_METHODS, 3):
                self.call(getattr(p, method), *[a(self) for a in args])
        return self.guarded(make, 0, 0.1, body)

    def _delete_plan(self, record):
        delete = getattr(_libfc, "delete_" + record.name)
        wrapper = getattr(libfc, record.name, None)

        def body():
            r = self.rng.random()
            if r < 0.4:
                return self.call(delete, wrapper() if wrapper and self.rng.random() < 0.5 else new(record))
            if r < 0.5:
                return self.call(delete, None)
            # Views, other records, library results: never freed. A pooled
            # record of this very type is left out: it would be freed.
            value = self.pointer(0, own_kind=record.descriptor) if r < 0.8 else self.hostile_object()
            if not holds_owned(value, record.descriptor):
                self.call(delete, value)
        return self.guarded(delete, 1, 0.05, body)

    # --- plain functions and library operations ----------------------------------------------

    def _plan_functions(self):
        for name in RECORD_FUNCTIONS:
            self.plans.append(self._extra_plan(BY_NAME[name.split("_get_")[0]], name))
        for name, count in PLAIN_FUNCTIONS.items():
            fn = getattr(_libfc, name)
            values = lambda fn=fn, count=count: self.call(fn, *[self.value_for(("scalar",)) for _ in range(count)])
            self.plans.append(self.guarded(fn, count, 0.1, values))

    def _plan_operations(self):
        self.switch_state = SwitchState(self)
        for path in OPERATION_FILES:
            with open(path) as f:
                text = re.sub(r"//[^\n]*", "", f.read())
            for m in re.finditer(r"OPERATION\(\s*(\w+)\s*,\s*((?:\"[^\"]*\"\s*,?\s*)+)\)", text):
                name, types = m.group(1), re.findall(r"\"([^\"]*)\"", m.group(2))
                fn = getattr(_libfc, name, None)
                if fn is None:
                    continue
                self.described.add(name)
                if os.path.basename(path) == "dvs_operations.def":
                    # Handles, data blocks, output cells and callbacks of the
                    # switch state library: live objects, not refusals only.
                    self.plans.append(self.switch_state.plan(name, fn, types[1:]))
                else:
                    self.plans.append(self._operation_plan(name, fn, types[0], types[1:]))

    def _argument_picker(self, ctype):
        bare = ctype.replace("const", "")
        if not ctype.endswith("*") or bare.split()[0] == "char":
            # Mostly plausible values, so that calls get past the
            # conversions and reach the library.
            return lambda: self.rng.choice(PLAUSIBLE) if self.rng.random() < 0.5 else self.scalar()
        desc = "_p_" + bare.replace("*", "").split()[-1]
        if desc not in SIZE:
            # An untyped handle: nothing but values the conversion refuses,
            # as no pointer of ours is a handle the library made.
            return lambda: self.rng.choice(REFUSED)
        # A record the library reads: only one of its full size.
        return lambda: self.typed_pointer(desc, SIZE[desc]) if self.rng.random() < 0.7 else self.hostile_object()

    def _operation_plan(self, name, fn, result_type, arg_types):
        pickers = [self._argument_picker(ctype) for ctype in arg_types]
        result_record = result_type.replace("const", "").replace("*", "").strip()

        def body():
            result = self.call(fn, *[pick() for pick in pickers])
            if result_record in SIZE or "_p_" + result_record in SIZE:
                self._explore_library_result(name, result, result_record)
        return self.guarded(fn, len(pickers), 0.05, body)

    def _explore_library_result(self, name, result, record_name):
        """Read-only calls over a library result and its views; they are all
        dropped before the library's next call replaces the buffer."""
        self.library_views = [v for v in self.library_views if v.keep != name]
        record = BY_NAME.get(record_name)
        if result is None or record is None:
            return
        # What lies behind a library result: its entries. The extent is the
        # record itself, so views past its head are never read through.
        self.library_views.append(Pointer(result, record.descriptor, record.size, name))
        for f in record.fields:
            if f.kind not in POINTER_FIELDS or record.name not in UNIONS:
                self.call(getter(record, f), result)
        for extra in record.extras:
            indices = (self.rng.choice(INTEGERS), 0, -1) if indexed(extra) else ()
            for args in [(result, i) for i in indices] or [(result,)]:
                self._adopt(self.call(getattr(_libfc, extra), *args))

    def _plan_unknown(self):
        """Methods no table describes: wrong argument counts and values every
        conversion refuses, never anything a library could read."""
        known = {name for record in RECORDS for name in method_names(record)} | self.described
        known |= set(RECORD_FUNCTIONS + list(PLAIN_FUNCTIONS)) | {"SWIG_PyInstanceMethod_New"}
        for name in sorted(dir(_libfc)):
            fn = getattr(_libfc, name)
            # Registration (_swigregister) changes the classes every later call builds.
            if name.startswith("_") or name.endswith("_swigregister") or name in known or not callable(fn) \
                    or isinstance(fn, type):
                continue
            self.unknown.append(name)

            def plan(fn=fn, count=expected_count(fn)):
                if count is None:  # any number of arguments
                    return self.call(fn, *[self.scalar() for _ in range(self.rng.randrange(0, 30))])
                if self.rng.random() < 0.5:
                    return self.wrong_count(fn, count)
                self.call(fn, *[self.rng.choice(REFUSED) for _ in range(count)])  # the right count
            self.plans.append(plan)

    # --- the run ------------------------------------------------------------------------

    def run(self, calls):
        while self.calls < calls:
            if self.rng.random() < 0.002:
                self.call(_libfc.SWIG_PyInstanceMethod_New, self.rng.choice(SCALARS + [len, _libfc.new_hyp_String]))
            else:
                self.rng.choice(self.plans)()
        return self.calls

    def release(self):
        """Records die before the interpreter starts tearing down the classes."""
        self.switch_state.release_all()
        self.pool, self.library_views, self.by_desc = [], [], {}
        gc.collect()


def expected_count(fn):
    """The number of arguments fn takes, from the interpreter's count error."""
    try:
        fn(*([1.5] * 40))
    except TypeError as error:
        m = re.search(r"(?:exactly|expected) (\d+) argument", str(error))
        return int(m.group(1)) if m else None
    except Exception:
        return None


# Pointer-object methods with argument makers.
POINTER_METHODS = [
    ("own", []), ("own", [lambda d: 0]), ("own", [lambda d: d.scalar()]),
    ("own", [lambda d: 1, lambda d: 2]), ("disown", []), ("acquire", []), ("next", []),
    ("append", [lambda d: d.scalar()]), ("append", [lambda d: _libfc.new_hyp_Name()]),
    ("append", [lambda d: this_of(_libfc.new_FC_FlowKey())]), ("__repr__", []),
    ("__str__", []), ("__int__", []), ("__hash__", []),
    ("__eq__", [lambda d: d.scalar()]), ("__lt__", [lambda d: this_of(_libfc.new_hyp_Name())]),
]

PLAUSIBLE = [0, 1, 2, 3, 5, 7, 8, 100, 360, "\x00", "\x01", "portset-0", "portset-1", "switch0", "7",
             "8", "02:00:00:00:00:02", "com.quorix.net.port.fc.enabled", "com.quorix.net.portset.fc.enabled",
             "com.quorix.net.portset.fc.mcast.enabled", None]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=100_000)
    parser.add_argument("--seed", type=int, default=random.SystemRandom().randrange(2**32))
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args(argv)
    print("fuzz: seed %d" % args.seed, flush=True)
    driver = Driver(args.seed, args.verbose)
    builtin_library("libfc.so").fcemu_traffic(300, args.seed % 1000)  # flows for the library calls
    done = driver.run(args.calls)
    driver.release()
    if driver.unknown:
        print("fuzz: %d methods without a description (counts and refused values only): %s"
              % (len(driver.unknown), " ".join(driver.unknown[:20])))
    outcomes = ", ".join("%s %d" % kv for kv in driver.outcomes.most_common())
    print("fuzz: %d calls, seed %d, %d methods, %d helper-module plans (%s)"
          % (done, args.seed, driver.module_plans, len(driver.plans) - driver.module_plans, outcomes), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

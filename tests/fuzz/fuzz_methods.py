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
import atexit
import glob
import math
import os
import random
import re
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
TESTS = os.path.dirname(HERE)
ROOT = os.path.dirname(TESTS)
BUILD = os.environ.get("LIBFC_BUILD_DIR", os.path.join(ROOT, "build"))
for path in (BUILD, TESTS, HERE):
    if path not in sys.path:
        sys.path.insert(0, path)

# The built-in libraries keep state in files: never the user's own, and
# gone with the run.
_STATE = tempfile.mkdtemp(prefix="libfc-fuzz-")
atexit.register(shutil.rmtree, _STATE, True)
os.environ["FC_EMU_DIR"] = os.path.join(_STATE, "fc")
os.environ["FAB_EMU_DB"] = os.path.join(_STATE, "fab.db")

import _libfc  # noqa: E402
import libfc  # noqa: E402
from _records import RECORDS, method_names  # noqa: E402
from helper_module_plans import HelperPlans  # noqa: E402
from switch_state_plans import SwitchState  # noqa: E402

# Descriptions of library operations: OPERATION(name, "result", "arg", ...).
OPERATION_FILES = sorted(set(glob.glob(os.path.join(ROOT, "*", "*operations.def"))))

SwigPyObject = type(_libfc.new_hyp_String())


# --- the hostile corpus ---------------------------------------------------------------------

class IntSub(int):
    pass


class RaisingIndex:
    def __index__(self):
        raise RuntimeError("no index")

    def __int__(self):
        raise RuntimeError("no int")


class StrSub(str):
    pass


INTEGERS = [0, 1, -1, 7, 127, 128, 255, 256, 65535, 65536, 2**31 - 1, 2**31, -2**31, -2**31 - 1, 2**32 - 1,
            2**32, 2**63 - 1, 2**63, -2**63, -2**63 - 1, 2**64 - 1, 2**64, 2**80, -2**80, True, False,
            IntSub(3), IntSub(2**70), IntSub(-1)]
OTHERS = [None, 0.0, 1.5, -0.0, math.nan, math.inf, b"", b"abc", bytearray(b"x"), object(), [], {}, (1, 2),
          RaisingIndex(), 1j, type, len, lambda: None]


def texts_around(widths):
    out = ["", "a", "ab", "\u00e9", "\u20ac" * 3, "\ud800", "x\udfffy", "a\x00b", "\x7f\x80",
           StrSub("sub"), "00:50:56:00:00:02", "DvsPortset-0", "7", "x" * 1000, "y" * 70000]
    for n in sorted(widths):
        out += ["x" * n, "x" * (n + 1), "x" * (n - 1) + "\u00e9" if n else "\u00e9"]
    return out


TEXTS = texts_around({f.count for r in RECORDS for f in r.fields if f.kind == "chars"} | {1, 6, 16, 32, 48})
SCALARS = INTEGERS + OTHERS + TEXTS


class Broken:
    """Instances whose `this` is not a pointer object, raises, or loops."""

    def __init__(self, this):
        if this is not _NO_THIS:
            self.this = this


_NO_THIS = object()


class RaisingThis:
    @property
    def this(self):
        raise KeyError("this")


def chain(depth, end):
    obj = end
    for _ in range(depth):
        holder = Broken(_NO_THIS)
        holder.this = obj
        obj = holder
    return obj


# --- pointers with the number of bytes behind them --------------------------------------------

class Pointer:
    """A pointer argument: the object given, its descriptor name, how many
    bytes may be read through it, and the container that keeps it valid."""
    __slots__ = ("obj", "desc", "extent", "keep")

    def __init__(self, obj, desc, extent, keep=None):
        self.obj, self.desc, self.extent, self.keep = obj, desc, extent, keep


def this_of(obj):
    while type(obj).__name__ != "SwigPyObject":
        obj = obj.this
    return obj


def descriptor_of(obj):
    return str(this_of(obj))[17:]


RECORD_BY_NAME = {r.name: r for r in RECORDS}
# The module's own functions over a record: (name, record, argument count);
# and those of plain values: (name, argument count).
RECORD_FUNCTIONS = [("FC_VDL2EncapActionDataIOC_get_sip", "FC_VDL2EncapActionDataIOC", 1),
                    ("FC_VDL2EncapActionDataIOC_get_dip", "FC_VDL2EncapActionDataIOC", 1),
                    ("FC_FlowEntryIOC_get_srcip_entry", "FC_FlowEntryIOC", 1),
                    ("FC_FlowEntryIOC_get_dstip_entry", "FC_FlowEntryIOC", 1),
                    ("FC_IOCFlows_get_num_flows", "FC_IOCFlows", 1), ("FC_IOCFlows_get_flow", "FC_IOCFlows", 2)]
PLAIN_FUNCTIONS = [("FC_ACTION_SIZE", 0), ("ovl_INTBitmapConvert", 1)]
SIZE = {r.descriptor: r.size for r in RECORDS}


def fields_overlap(record):
    spans = sorted((f.offset, f.offset + f.width) for f in record.fields)
    return any(a[1] > b[0] for a, b in zip(spans, spans[1:]))


# Unions whose pointer members share storage with numbers: reading their
# pointers after numbers were written would follow a number.
UNIONS = {r.name for r in RECORDS if fields_overlap(r)}


class Driver:
    def __init__(self, seed, verbose=False):
        self.rng, self.seed, self.verbose = random.Random(seed), seed, verbose
        self.calls, self.outcomes = 0, {}
        self.pool = []            # Pointer entries valid for the whole run
        self.by_desc = {}
        self.library_views = []   # Pointer entries into the current library results
        self.plans = []           # (weight, name, planner)
        self.unknown = []
        self._build_pool()
        self._plan_records()
        self._plan_functions()
        self._plan_operations()
        self._plan_unknown()
        self.module_plans = len(self.plans)
        self.plans += HelperPlans(self, [(r.name, r.descriptor, r.size) for r in RECORDS]).plans()

    # --- bookkeeping -------------------------------------------------------------------------

    def call(self, fn, *args):
        self.calls += 1
        if self.verbose:  # the last line before a crash names the call
            sys.stderr.write("%d %s%s\n" % (self.calls, getattr(fn, "__name__", fn),
                                             tuple(short(a) for a in args)))
            sys.stderr.flush()
        try:
            result = fn(*args)
        except Exception as error:  # every exception is an acceptable answer (RecursionError included)
            kind = type(error).__name__
            result = None
        else:
            kind = "ok"
        self.outcomes[kind] = self.outcomes.get(kind, 0) + 1
        return result

    def add(self, entry):
        self.pool.append(entry)
        self.by_desc.setdefault(entry.desc, []).append(entry)

    def _build_pool(self):
        for record in RECORDS:
            new = getattr(_libfc, "new_" + record.name)
            for maker in (new, getattr(libfc, record.name, None)):
                if maker is None:
                    continue
                obj = maker()
                entry = Pointer(obj, record.descriptor, record.size)
                self.add(entry)
                self._add_views(entry, record)

    def _add_views(self, container, record):
        """Nested records and arrays of a container: views with the bytes left
        to the end of the container."""
        for f in record.fields:
            if f.kind not in ("nested", "ro_nested", "array"):
                continue  # hwaddr included: its getter is a text
            view = self.call(getattr(_libfc, "%s_%s_get" % (record.name, f.name)), container.obj)
            if view is None:
                continue
            extent = container.extent - f.offset
            self.add(Pointer(view, descriptor_of(view), extent, container))

    # --- argument pickers ------------------------------------------------------------------

    def scalar(self):
        return self.rng.choice(SCALARS)

    def hostile_object(self):
        """A value no pointer conversion may read through."""
        if self.rng.random() < 0.5:
            return self.scalar()
        choices = [Broken(5), Broken(None), RaisingThis(), Broken("text"), chain(70, _libfc.new_hyp_String()),
                   chain(3, Broken(7)), Broken(_NO_THIS)]
        return self.rng.choice(choices)

    def pointer(self, need, own_kind=None, writes=False):
        """A pointer object or instance with at least `need` bytes behind it,
        any descriptor; or the same wrapped in a `this` chain."""
        candidates = self.pool if writes or self.rng.random() < 0.7 or not self.library_views \
            else self.library_views
        for _ in range(8):
            entry = self.rng.choice(candidates)
            if entry.extent >= need and (own_kind is None or entry.desc != own_kind):
                obj = entry.obj
                r = self.rng.random()
                if r < 0.1:
                    obj = chain(self.rng.choice((1, 2, 63)), obj)
                elif r < 0.15:
                    obj = this_of(obj)
                return obj
        return None

    def typed_pointer(self, desc, need, writes=False):
        entries = [e for e in self.by_desc.get(desc, ()) if e.extent >= need]
        if not writes:  # a library's buffer is read, never written: its counts must stay true
            entries += [e for e in self.library_views if e.desc == desc and e.extent >= need]
        if not entries:
            return None
        return self.rng.choice(entries).obj

    def value_for(self, kind_need, writes=False):
        """An argument for a slot: ('scalar',) any scalar; ('ptr', need) a
        pointer of any type with need bytes, or a hostile non-pointer."""
        if kind_need[0] == "scalar":
            return self.scalar() if self.rng.random() < 0.85 else self.hostile_object()
        need, desc = kind_need[1], kind_need[2]
        r = self.rng.random()
        if r < 0.45 and desc:
            p = self.typed_pointer(desc, need, writes)
            if p is not None:
                return p
        if r < 0.8:
            p = self.pointer(need, writes=writes)
            if p is not None:
                return p
        return self.hostile_object()

    def wrong_count(self, fn, count):
        n = self.rng.choice([c for c in range(0, count + 3) if c != count])
        self.call(fn, *[self.scalar() for _ in range(n)])

    # --- plans: one per method -------------------------------------------------------------

    def _plan_records(self):
        for record in RECORDS:
            size = record.size
            for f in record.fields:
                get = getattr(_libfc, "%s_%s_get" % (record.name, f.name))
                self.plans.append((self._getter_plan(record, f, get, size)))
                if f.writable:
                    put = getattr(_libfc, "%s_%s_set" % (record.name, f.name))
                    self.plans.append(self._setter_plan(record, f, put, size))
            for extra in record.extras:
                self.plans.append(self._extra_plan(record, extra))
            self.plans.append(self._new_plan(record))
            self.plans.append(self._delete_plan(record))

    def _record_arg(self, record, size, writes=False):
        r = self.rng.random()
        if r < 0.75:
            p = self.typed_pointer(record.descriptor, size, writes)
            if p is not None:
                return p
        if r < 0.85:
            return None
        return self.value_for(("ptr", size, None), writes)

    def _getter_plan(self, record, f, get, size):
        reads_pointer = f.kind in ("ptr", "void", "text")

        def plan():
            if self.rng.random() < 0.03:
                return self.wrong_count(get, 1)
            if reads_pointer and record.name in UNIONS:
                # Only a fresh union's pointer is known not to be a number.
                return self.call(get, getattr(_libfc, "new_" + record.name)())
            self.call(get, self._record_arg(record, size))
        return plan

    def _setter_plan(self, record, f, put, size):
        kind = f.kind

        def plan():
            if self.rng.random() < 0.03:
                return self.wrong_count(put, 2)
            rec = self._record_arg(record, size, writes=True)
            if kind in ("ptr", "void"):
                # A fresh record of any type: stored, then taken out again.
                fresh = self.rng.choice(RECORDS)
                target = getattr(_libfc, "new_" + fresh.name)()
                value = target if self.rng.random() < 0.7 else self.value_for(("scalar",))
                self.call(put, rec, value)
                self.call(put, rec, None)
                this_of(target).acquire()
                return
            if kind in ("nested", "array", "zarray", "hwaddr"):
                need = f.width if kind != "zarray" else 0
                value = self.value_for(("ptr", need, f.target or None))
            else:
                value = self.value_for(("scalar",))
            self.call(put, rec, value)
        return plan

    def _extra_plan(self, record, extra):
        fn = getattr(_libfc, extra)
        indexed = extra.endswith("___getitem__") or extra.endswith("_get_instance")

        def plan():
            if self.rng.random() < 0.03:
                return self.wrong_count(fn, 2 if indexed else 1)
            rec = self._record_arg(record, record.size)
            args = (rec, self.rng.choice(INTEGERS + OTHERS[:6])) if indexed else (rec,)
            result = self.call(fn, *args)
            self._adopt(result)
        return plan

    def _adopt(self, result):
        """Keep a returned owned copy for later calls (it owns its record);
        views returned by extras are dropped with the result."""
        if result is None or isinstance(result, (int, str)):
            return
        try:
            p = this_of(result)
        except Exception:
            return
        if p.own() and len(self.pool) < 4000:
            desc = descriptor_of(result)
            if desc in SIZE:
                self.add(Pointer(result, desc, SIZE[desc]))

    def _new_plan(self, record):
        new = getattr(_libfc, "new_" + record.name)

        def plan():
            if self.rng.random() < 0.1:
                return self.wrong_count(new, 0)
            obj = self.call(new)
            # Pointer-object methods on a record nobody else sees.
            p = this_of(obj)
            for method, args in self.rng.sample(POINTER_METHODS, 3):
                self.call(getattr(p, method), *[a(self) for a in args])
        return plan

    def _delete_plan(self, record):
        delete = getattr(_libfc, "delete_" + record.name)

        def plan():
            r = self.rng.random()
            if r < 0.05:
                return self.wrong_count(delete, 1)
            if r < 0.45:
                fresh = getattr(_libfc, "new_" + record.name)()
                if self.rng.random() < 0.5:
                    wrapper = getattr(libfc, record.name, None)
                    fresh = wrapper() if wrapper else fresh
                return self.call(delete, fresh)
            if r < 0.55:
                return self.call(delete, None)
            # Views, other records, library results: never freed. A pooled
            # record of this very type is left out: it would be freed.
            value = self.pointer(0, own_kind=record.descriptor) if r < 0.85 else self.hostile_object()
            if value is not None and self._is_pool_record_of(value, record.descriptor):
                return
            self.call(delete, value)
        return plan

    def _is_pool_record_of(self, obj, desc):
        try:
            p = this_of(obj)
        except Exception:  # a broken or raising `this`: no pointer at all
            return False
        while p is not None:
            if str(p)[17:] == desc and p.own():
                return True
            p = p.next()
        return False

    # --- plain functions and library operations ----------------------------------------------

    def _plan_functions(self):
        for name, record, count in RECORD_FUNCTIONS:
            fn = getattr(_libfc, name, None)
            if fn is None:
                continue
            rec = RECORD_BY_NAME[record]

            def plan(fn=fn, rec=rec, count=count):
                if self.rng.random() < 0.05:
                    return self.wrong_count(fn, count)
                args = [self._record_arg(rec, rec.size)]
                if count == 2:
                    args.append(self.rng.choice(INTEGERS + OTHERS[:4]))
                self.call(fn, *args)
            self.plans.append(plan)
        for name, count in PLAIN_FUNCTIONS:
            fn = getattr(_libfc, name, None)
            if fn is not None:
                self.plans.append(lambda fn=fn, count=count: (
                    self.wrong_count(fn, count) if self.rng.random() < 0.1
                    else self.call(fn, *[self.value_for(("scalar",)) for _ in range(count)])))

    def descriptor_or_none(self, obj):
        try:
            return descriptor_of(obj)
        except Exception:
            return None

    def _plan_operations(self):
        self.described = set()
        self.switch_state = SwitchState(self)
        for path in OPERATION_FILES:
            with open(path) as f:
                text = re.sub(r"//[^\n]*", "", f.read())
            for m in re.finditer(r"OPERATION\(\s*(\w+)\s*,\s*((?:\"[^\"]*\"\s*,?\s*)+)\)", text):
                name = m.group(1)
                ctypes = re.findall(r"\"([^\"]*)\"", m.group(2))
                fn = getattr(_libfc, name, None)
                if fn is None:
                    continue
                self.described.add(name)
                if os.path.basename(path) == "dvs_operations.def":
                    # Handles, data blocks, output cells and callbacks of the
                    # switch state library: live objects, not refusals only.
                    self.plans.append(self.switch_state.plan(name, fn, ctypes[1:]))
                else:
                    self.plans.append(self._operation_plan(name, fn, ctypes[0], ctypes[1:]))

    def _operation_plan(self, name, fn, result_type, arg_types):
        slots = []
        for ctype in arg_types:
            if ctype.endswith("*") and ctype.replace("const", "").split()[0] != "char":
                record = ctype.replace("const", "").replace("*", "").split()[-1]
                size = SIZE.get("_p_" + record)
                # A record the library reads: only one of its full size. An
                # untyped handle: nothing but values the conversion refuses,
                # as no pointer of ours is a handle the library made.
                slots.append(("ptr", size, "_p_" + record) if size else ("refused",))
            else:
                slots.append(("scalar",))
        result_record = result_type.replace("const", "").replace("*", "").strip()

        def plan():
            if self.rng.random() < 0.05:
                return self.wrong_count(fn, len(slots))
            args = []
            for slot in slots:
                if slot[0] == "refused":
                    args.append(self.rng.choice([1.5, b"x", "text", Broken(5), RaisingThis(), 2**80]))
                elif slot[0] == "ptr":
                    args.append(self.typed_pointer(slot[2], slot[1]) if self.rng.random() < 0.7
                                else self.hostile_object())
                else:
                    # Mostly plausible values, so that calls get past the
                    # conversions and reach the library.
                    args.append(self.rng.choice(PLAUSIBLE) if self.rng.random() < 0.5 else self.scalar())
            result = self.call(fn, *args)
            if result_record in SIZE or "_p_" + result_record in SIZE:
                self._explore_library_result(name, result, result_record)
        return plan

    def _explore_library_result(self, name, result, record_name):
        """Read-only calls over a library result and its views; they are all
        dropped before the library's next call replaces the buffer."""
        self.library_views = [v for v in self.library_views if v.keep != name]
        if result is None:
            return
        record = RECORD_BY_NAME.get(record_name)
        if record is None:
            return
        # What lies behind a library result: its entries. The extent is the
        # record itself, so views past its head are never read through.
        entry = Pointer(result, record.descriptor, record.size, name)
        self.library_views.append(entry)
        delete = getattr(_libfc, "delete_" + record.name)
        self.call(delete, result)  # a library's record: refused, never freed
        for f in record.fields:
            if f.kind in ("ptr", "void", "text") and record.name in UNIONS:
                continue
            self.call(getattr(_libfc, "%s_%s_get" % (record.name, f.name)), result)
        for extra in record.extras:
            indexed = extra.endswith("___getitem__")
            for index in (self.rng.choice(INTEGERS), 0, -1):
                got = self.call(getattr(_libfc, extra), *((result, index) if indexed else (result,)))
                self._adopt(got)
                if not indexed:
                    break

    def _plan_unknown(self):
        """Methods no table describes: wrong argument counts and values every
        conversion refuses, never anything a library could read."""
        known = {name for record in RECORDS for name in method_names(record)} | self.described
        known |= {f[0] for f in RECORD_FUNCTIONS + PLAIN_FUNCTIONS} | {"SWIG_PyInstanceMethod_New"}
        for name in sorted(dir(_libfc)):
            fn = getattr(_libfc, name)
            if name.startswith("_") or not callable(fn) or name in known or isinstance(fn, type):
                continue
            if name.endswith("_swigregister"):
                continue  # registration changes the classes every later call builds
            self.unknown.append(name)
            count = expected_count(fn)

            def plan(fn=fn, count=count):
                if count is None or self.rng.random() < 0.5:
                    return self.call(fn, *[self.scalar() for _ in range(self.rng.randrange(0, 30))]) \
                        if count is None else self.wrong_count(fn, count)
                # The right count of values no conversion accepts.
                self.call(fn, *[self.rng.choice([1.5, b"x", Broken(5), RaisingThis(), object()])
                                for _ in range(count)])
            self.plans.append(plan)

    # --- the run ------------------------------------------------------------------------

    def run(self, calls):
        plans = self.plans
        instance_method = _libfc.SWIG_PyInstanceMethod_New
        while self.calls < calls:
            r = self.rng.random()
            if r < 0.002:
                self.call(instance_method, self.rng.choice(SCALARS + [len, _libfc.new_hyp_String]))
            else:
                self.rng.choice(plans)()
        return self.calls


def short(value):
    try:
        text = repr(value)
    except Exception as error:
        text = "<repr raised %s>" % type(error).__name__
    return text if len(text) < 80 else text[:60] + "...(%d)" % len(text)


def expected_count(fn):
    """The number of arguments fn takes, from the interpreter's count error."""
    try:
        fn(*([1.5] * 40))
    except TypeError as error:
        m = re.search(r"exactly (\d+) argument", str(error)) or re.search(r"expected (\d+) argument", str(error))
        if m:
            return int(m.group(1))
    except Exception:
        pass
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

PLAUSIBLE = [0, 1, 2, 3, 5, 7, 8, 100, 360, "\x00", "\x01", "DvsPortset-0", "DvsPortset-1", "vSwitch0", "7",
             "8", "00:50:56:00:00:02", "com.quorix.net.port.fc.enabled", "com.quorix.net.portset.fc.enabled",
             "com.quorix.net.portset.fc.mcast.enabled", None]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=100_000)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args(argv)
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(2**32)
    print("fuzz: seed %d" % seed, flush=True)
    driver = Driver(seed, args.verbose)
    import ctypes
    ctypes.CDLL(os.path.join(BUILD, "libfc.so")).fcemu_traffic(300, seed % 1000)  # flows for the library calls
    done = driver.run(args.calls)
    # Records die before the interpreter starts tearing down the classes.
    driver.switch_state.release_all()
    driver.pool.clear()
    driver.library_views.clear()
    driver.by_desc.clear()
    import gc
    gc.collect()
    if driver.unknown:
        print("fuzz: %d methods without a description (counts and refused values only): %s"
              % (len(driver.unknown), " ".join(driver.unknown[:20]) + (" ..." if len(driver.unknown) > 20 else "")))
    outcomes = ", ".join("%s %d" % kv for kv in sorted(driver.outcomes.items(), key=lambda kv: -kv[1]))
    print("fuzz: %d calls, seed %d, %d methods, %d helper-module plans (%s)"
          % (done, seed, driver.module_plans, len(driver.plans) - driver.module_plans, outcomes), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

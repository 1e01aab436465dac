#!/usr/bin/env python3
"""Single deliberate faults in the compiled code, each run against the tests that
should notice it; reports which faults survive.

    python scripts/mutation_check.py [--only NAME ...] [--tests-dir DIR] [--list]

Each mutation replaces one exact piece of source text (the script stops if
the text is not found, so a mutation cannot silently go stale) in a private
copy of the tracked sources (build-mut/tree), rebuilds the modules there,
runs its tests against that build and puts the source back, whatever
happens. The work tree itself is never changed. A mutation is killed when its tests fail, survives
when they pass. --tests-dir runs the same tests from another copy of tests/
(for example the suite as it was before a change, to compare scores).
"""

import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TREE = os.path.join(ROOT, "build-mut", "tree")
BUILD = os.path.join(ROOT, "build-mut", "build")

# (name, file, original text, faulty text, tests: "file.py" or "file.py::-k expr")
MUTATIONS = [
    # frees
    ("text copy of an argument never freed", "runtime/convert.hpp",
     "if (t.owned) std::free(t.ptr);", "(void)t.ptr;",
     ["test_leaks.py", "test_operations.py"]),
    ("owned text field: replaced text never freed", "runtime/record_support.cpp",
     "if (old && allocations::forget_text(old)) std::free(old);", "(void)old;",
     ["test_leaks.py::owned_text", "test_inval_stats_records.py"]),
    ("owned text field: not freed with its record", "runtime/allocations.cpp",
     "if (held == text && forget_text(held)) std::free(held);", "(void)held;",
     ["test_leaks.py::owned_text"]),
    ("packed object's data copy never freed", "runtime/packed_object.cpp",
     "std::free(as_packed(op)->pack);", "(void)as_packed(op);",
     ["test_leaks.py::packed", "test_runtime_probes.py"]),
    ("deleted record stays in the allocation table", "runtime/allocations.cpp",
     "    live().erase(address);\n    return kForgotten;", "    return kForgotten;",
     ["test_records.py::delete", "test_pointer_safety.py", "test_leaks.py::second_delete"]),
    ("record kept for reuse still answers as live", "runtime/allocations.cpp",
     "            *entry = &kept_marker;\n", "",
     ["test_records.py::delete", "test_pointer_safety.py", "test_leaks.py"]),
    # range edges
    ("packed text switch one byte late", "runtime/packed_object.cpp",
     "if (2 * self->size + 2 > capacity) return false;", "if (2 * self->size > capacity) return false;",
     ["test_boundaries.py::packed", "test_runtime_probes.py"]),
    ("packed text switch one byte early", "runtime/packed_object.cpp",
     "if (2 * self->size + 2 > capacity) return false;", "if (2 * self->size + 2 >= capacity) return false;",
     ["test_boundaries.py::packed", "test_runtime_probes.py"]),
    ("char accepts 256", "runtime/convert.cpp",
     "int rc = signed_in_range<0, 255>(obj, &v);", "int rc = signed_in_range<0, 256>(obj, &v);",
     ["test_boundaries.py", "test_conversions.py"]),
    ("character array of exactly N bytes refused", "runtime/convert.cpp",
     "if (size == n + 1 && text[n] == '\\0') --size;", "",
     ["test_conversions.py"]),
    ("character array takes N + 1 bytes", "runtime/convert.cpp",
     "if (size > n) return errors::kTypeError;", "if (size > n + 2) return errors::kTypeError;",
     ["test_conversions.py"]),
    ("signed range loses its lowest value", "runtime/convert.hpp",
     "if (v < Min || v > Max) return errors::kOverflowError;",
     "if (v <= Min || v > Max) return errors::kOverflowError;",
     ["test_conversions.py"]),
    ("unsigned 64-bit refusal reported as overflow", "runtime/convert.hpp",
     "        PyErr_Clear();\n        return errors::kTypeError;\n    }\n    *out = v;",
     "        PyErr_Clear();\n        return errors::kOverflowError;\n    }\n    *out = v;",
     ["test_conversions.py"]),
    ("unsigned types accept -1", "runtime/convert.hpp",
     "int rc = signed_in_range<0, LLONG_MAX>(obj, &v);", "int rc = signed_in_range<-1, LLONG_MAX>(obj, &v);",
     ["test_conversions.py"]),
    # ownership flags and reference counts
    ("conversion with the ownership flag keeps ownership", "runtime/pointer_object.cpp",
     "if (flags) p->own = 0;", "(void)flags;",
     ["test_pointer_objects.py", "test_records.py::delete"]),
    ("new records are not owned", "runtime/record_fields.hpp",
     "pointer_object::kOwn | pointer_object::kBare", "pointer_object::kBare",
     ["test_leaks.py", "test_records.py::new"]),
    ("chain reference never dropped", "runtime/pointer_object.cpp",
     "    Py_CLEAR(self->next);", "",
     ["test_pointer_objects.py", "test_leaks.py"]),
    ("class with failed __new__ lookup keeps its destructor", "runtime/registry.cpp",
     "if (!info->destructor || lookup_failed) {", "if (!info->destructor) {",
     ["test_registry.py", "test_pointer_objects.py", "test_module.py", "test_runtime_probes.py"]),
    # messages
    ("null source of a nested setter named as argument 1", "runtime/record_fields.hpp",
     "kNullNamesArgument))\n        return errors::null_argument(F.setter, 2, F.value_text);",
     "kNullNamesArgument))\n        return errors::null_argument(F.setter, 1, F.value_text);",
     ["test_records.py::nested_setter_given_no_source"]),
    ("null record of a copying setter named as argument 2", "runtime/record_fields.hpp",
     "if (rc == kNullRecord) return errors::null_argument(F.setter, 1, F.record_text);",
     "if (rc == kNullRecord) return errors::null_argument(F.setter, 2, F.record_text);",
     ["test_records.py::copying_setter_given_none"]),
    # bounds of library buffers
    ("own counted record indexed by its count", "runtime/element_methods.hpp",
     "        if (allocations::holds(record, registry::types[E.record_type])) return 0;\n", "",
     ["test_element_methods.py::constructed_record_holds_none"]),
    # library operations (one template for all of them)
    ("operation's text copies never released", "runtime/operations.hpp",
     "        (release(std::get<I>(slots)), ...);", "",
     ["test_leaks.py::abandon"]),
    # the pointer helper module
    ("cell bytes not bounded by the cell's block", "ptr/memory_blocks.cpp",
     "if (PyObject *cell = cells::as_cell(obj)) return cells::size(cell);",
     "if (PyObject *cell = cells::as_cell(obj)) return static_cast<size_t>(-1);",
     ["test_libfc_ptr.py::through_a_cell"]),
    ("bytes read behind a pointer of no known block", "ptr/memory_blocks.cpp",
     "if (address && size <= limit) [[likely]]", "if (address && (limit == 0 || size <= limit)) [[likely]]",
     ["test_libfc_ptr.py::outside_any_known_block"]),
    ("untyped view reaches past its source's block", "ptr/memory_blocks.cpp",
     "extent > pointer_object::kStatedToCaller ? pointer_object::kStatedToCaller : static_cast<std::uint32_t>(extent);",
     "pointer_object::kStatedToCaller;",
     ["test_libfc_ptr.py::untyped_views"]),
    ("dead list context still taken for a list", "ptr/cell_object.cpp",
     "    if (self->kept) forget_reference(self->kept);", "",
     ["test_leaks.py::dead_list_context", "test_dvs_operations.py::callbacks"]),
    ("deleted cell's memory never freed", "ptr/cell_object.cpp",
     "    std::free(self->memory);\n    self->memory = nullptr;", "    self->memory = nullptr;",
     ["test_leaks.py::cell"]),
    # the companion's field table
    ("six-byte arrays read as pointers in the companion", "fields/field_table.cpp",
     "d.kind = field_kinds::row(line_kind).companion_as;", "d.kind = field_kinds::row(line_kind).module_as;",
     ["test_field_descriptors.py"]),
    ("sequence keeps reading a record its item method never accepted", "fields/sequence.cpp",
     "    if (l.count && record != it->accepted) return nullptr;\n", "",
     ["test_companion_features.py::rechecks"]),
    ("sequence reads past a count lowered while it iterates", "fields/sequence.cpp",
     "    return it->next < held ? record : nullptr;", "    return record;",
     ["test_companion_features.py::rechecks"]),
    ("class cache ignores a changed class (a replaced __init__)", "runtime/type_cache.hpp",
     "if (tag == 0 || tag != entry->tag) return nullptr;", "(void)tag;",
     ["test_field_descriptors.py::constructor_is_replaced"]),
    ("companion view does not hold the record it lies in", "fields/record_pointer.cpp",
     "    Py_INCREF(parent);\n    Py_XSETREF(*slot, parent);", "",
     ["test_companion.py::keep_the_record"]),
    ("library buffer walked as far as its count field says", "fields/sequence.cpp",
     "return reported >= 0 && n > reported ? reported : n;", "return n;",
     ["test_companion.py::library_buffer"]),
    ("extent of a handed-out buffer not recorded", "runtime/pointer_object.cpp",
     "own ? 0 : variable_parts::stated_extent(address, ty)", "0",
     ["test_companion.py::library_buffer"]),
    # the built-in flow cache's writers, each noticed by its consistency check
    ("cache: a removed flow stays counted in its bucket", "builtin/libfc/flow_table.cpp",
     "            if (bucket.length) bucket.length -= 1;", "            (void)bucket;",
     ["test_builtin_libfc.py::hundred_thousand"]),
    ("cache: a removed flow's record never returns to the free list", "builtin/libfc/flow_table.cpp",
     "    publish(owner.free_head, index + 1);", "    (void)owner;",
     ["test_builtin_libfc.py::hundred_thousand"]),
    ("cache: a removed flow keeps its entity's reference", "builtin/libfc/invalidation.cpp",
     "if (slot && slot->entity.refCount > 0) slot->entity.refCount -= 1;", "(void)slot;",
     ["test_builtin_libfc.py::hundred_thousand"]),
    ("cache: a removed flow not counted as freed", "builtin/libfc/flow_counters.cpp",
     "    stats.lookup.free.fe += 1;", "    (void)stats;",
     ["test_builtin_libfc.py::hundred_thousand"]),
    # the built-in switch store
    ("store: a rollback that failed leaves its transaction open", "builtin/libfabPublic/database.cpp",
     "        connection().stale = true;", "        (void)0;",
     ["test_leaks.py::failed_allocations"]),
    ("store: a failed allocation reported as a generic failure", "builtin/libfabPublic/store_call.cpp",
     "        return HYP_NO_MEMORY;", "        return HYP_FAILURE;",
     ["test_leaks.py::failed_allocations"]),
    # the trap
    ("abandoned call raises nothing", "runtime/trap.cpp",
     "        PyErr_SetString(exceptionType, exceptionMsg);", "        PyErr_SetString(PyExc_RuntimeError, \"x\");",
     ["test_trap.py", "test_builtin_libfc.py"]),
]


def run(cmd, **kw):
    return subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, **kw)


def copy_tree():
    """The tracked files as they are now (changes not yet committed included)."""
    files = run(["git", "ls-files", "-z"]).stdout.split("\0")
    for name in filter(None, files):
        src, dst = os.path.join(ROOT, name), os.path.join(TREE, name)
        if not os.path.isfile(src):
            continue
        with open(src, "rb") as f:
            data = f.read()
        if os.path.exists(dst):
            with open(dst, "rb") as f:
                if f.read() == data:
                    continue  # unchanged: keep its time stamp, so no rebuild
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        with open(dst, "wb") as f:
            f.write(data)


def build():
    if not os.path.exists(os.path.join(BUILD, "build.ninja")):
        r = run(["cmake", "-S", TREE, "-B", BUILD, "-G", "Ninja", "-DLIBFC_BUILD_TESTS=ON",
                 "-DPython_EXECUTABLE=" + sys.executable])
        if r.returncode:
            sys.exit("configure failed:\n" + r.stdout + r.stderr)
    return run(["cmake", "--build", BUILD, "-j2"])


def pytest_args(tests_dir, spec):
    path, _, expr = spec.partition("::")
    args = [os.path.join(tests_dir, path)]
    if expr:
        args += ["-k", expr]
    return args


def tests_fail(tests_dir, specs):
    env = dict(os.environ, LIBFC_BUILD_DIR=BUILD)
    for spec in specs:
        args = pytest_args(tests_dir, spec)
        if not os.path.exists(args[0]):
            continue
        r = subprocess.run([sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider",
                            "--rootdir", tests_dir] + args, cwd=ROOT, env=env, capture_output=True, text=True,
                           timeout=1200)
        if r.returncode not in (0, 5):  # 5: nothing selected
            return spec
    return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--only", nargs="*", help="run the mutations whose name contains one of these")
    parser.add_argument("--tests-dir", default=os.path.join(ROOT, "tests"))
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    chosen = [m for m in MUTATIONS if not args.only or any(o in m[0] for o in args.only)]
    if args.list:
        for m in chosen:
            print("%-55s %s" % (m[0], m[1]))
        return 0
    tests_dir = os.path.abspath(args.tests_dir)

    copy_tree()
    r = build()
    if r.returncode:
        sys.exit("the unmutated tree does not build:\n" + r.stdout[-3000:])
    killed, survived = [], []
    for name, path, original, faulty, specs in chosen:
        full = os.path.join(TREE, path)
        with open(full) as f:
            source = f.read()
        if source.count(original) != 1:
            sys.exit("mutation '%s': the text to replace is not found exactly once in %s" % (name, path))
        started = time.time()
        try:
            with open(full, "w") as f:
                f.write(source.replace(original, faulty))
            r = build()
            if r.returncode:
                verdict, detail = "killed", "does not build"
            else:
                failing = tests_fail(tests_dir, specs)
                verdict, detail = ("killed", "by " + failing) if failing else ("SURVIVED", "tests pass")
        finally:
            with open(full, "w") as f:
                f.write(source)
        (killed if verdict == "killed" else survived).append(name)
        print("%-8s %-55s %s (%.0fs)" % (verdict, name, detail, time.time() - started), flush=True)
    build()  # leave build-mut matching the sources
    total = len(killed) + len(survived)
    print("mutation score: %d/%d killed" % (len(killed), total))
    for name in survived:
        print("  survived: " + name)
    return 0 if not survived else 1


if __name__ == "__main__":
    sys.exit(main())

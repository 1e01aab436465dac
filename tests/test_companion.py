"""The companion package: one class per record, generated from the same
record descriptions as the module's method table."""

import ast
import ctypes
import os

import pytest

import _libfc
import libfc
from _helpers import builtin_library, run_python_ok as run_python
from _records import RECORDS


def test_every_record_has_a_class_and_a_stub_that_lists_every_field_with_a_type():
    assert sorted(r.name for r in RECORDS) == sorted(libfc.__all__)
    # (each field's property and accessors: test_field_descriptors.py)
    stub = os.path.join(os.path.dirname(libfc.__file__), "__init__.pyi")
    tree = ast.parse(open(stub).read())
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    for record in RECORDS:
        assert getattr(libfc, record.name).__swig_destroy__ is getattr(_libfc, f"delete_{record.name}"), record.name
        body = classes[record.name].body
        declared = {node.target.id for node in body if isinstance(node, ast.AnnAssign)}
        declared |= {node.name for node in body if isinstance(node, ast.FunctionDef)}
        for field in record.fields:
            assert field.name in declared, f"{record.name}.{field.name} missing from the stub"
    assert ast.unparse(next(
        n.annotation for n in classes["hyp_String"].body if isinstance(n, ast.AnnAssign) and n.target.id == "bufferSize"
    )) == "int"


def _library_flows(count):
    builtin_library("libfc.so").fcemu_traffic(count, 3)
    flows = _libfc.FC_GetFlows(0, 0, "\0", 0, None, 0, 0, 0, 0, None, 0)
    assert type(flows) is libfc.FC_IOCFlows and len(flows) == count
    return flows


# Each takes a fresh instance and hands out a view of memory inside it.
VIEWS_OF_TEMPORARIES = [
    ("entities of a copied entry", lambda flows: list(flows[0])),
    ("entities sliced from a copied entry", lambda flows: flows[0][0:1]),
    ("an entity indexed from a copied entry", lambda flows: [flows[0][0]]),
    ("a nested record of a new record", lambda flows: [libfc.FC_FlowEntryIOC().fkey]),
    ("an array of a nested view", lambda flows: [libfc.FC_FlowEntryIOC().fkey.l2Key]),
]


@pytest.mark.parametrize("make", [m for _, m in VIEWS_OF_TEMPORARIES], ids=[n for n, _ in VIEWS_OF_TEMPORARIES])
def test_views_keep_the_record_they_lie_in_alive(flow_cache, make):
    import gc
    import weakref
    views = make(_library_flows(2))
    gc.collect()
    holders = [weakref.ref(view._holder) for view in views]
    assert all(h() is not None for h in holders)
    before = [bytes(view) for view in views]
    churn = [libfc.FC_FlowEntryIOC() for _ in range(4)]
    for record in churn:
        ctypes.memset(int(record.this), 0xEE, 67670)
    assert [bytes(view) for view in views] == before
    del views
    gc.collect()
    assert not any(h() for h in holders), "the holder outlived its views"


def test_a_library_buffer_is_walked_only_as_far_as_the_library_filled_it_and_its_views_hold_nothing(flow_cache):
    flows = _library_flows(3)
    assert not any(hasattr(entry, "_holder") for entry in flows)
    assert not hasattr(next(iter(flows)).fkey, "_holder")
    flows.numEntries = 50
    assert len(flows) == 3 and len(list(flows)) == 3 and len(list(reversed(flows))) == 3
    with pytest.raises(IndexError):
        flows[3]
    flows.numEntries = 2  # a smaller count still bounds the walk
    assert len(flows) == 2 and len(list(flows)) == 2


def test_classes_are_made_on_first_use_and_pointers_of_untouched_ones_get_theirs():
    # A fresh interpreter: the test session has made every class by now.
    proc = run_python("""
        import gc, _libfc, libfc
        made = lambda: sorted(n for n in libfc.__all__ if n in vars(libfc))
        assert made() == [], made()
        # an owned record of a class never made is freed by its destructor
        _libfc.hyp_String_bufferSize_set(_libfc.new_hyp_String(), 3)
        # a pointer the module returns comes back as its class, made then:
        # through the module's getter, and through a field of the companion
        sig = _libfc.new_hyp_MgmtApiSignature()
        assert "hyp_Name" not in made()
        name = _libfc.hyp_MgmtApiSignature_name_get(sig)
        assert type(name) is libfc.hyp_Name and type(name).__module__ == "libfc", type(name)
        assert name.this == _libfc.hyp_MgmtApiSignature_name_get(sig).this
        flow = libfc.FC_FlowEntryIOC()
        assert "FC_FlowKey" not in made()
        assert type(flow.fkey) is libfc.FC_FlowKey and flow.fkey._holder is flow
        # the names are listed and importable without having been touched
        assert set(libfc.__all__) <= set(dir(libfc)) and {"flows", "mac"} <= set(dir(libfc))
        names = {}
        exec("from libfc import *", names)
        assert all(names[n] is getattr(libfc, n) and isinstance(names[n], type) for n in libfc.__all__)
        assert made() == sorted(libfc.__all__)
        assert libfc.mac("00:11:22:33:44:55") and libfc._record._Record is libfc._Record
        try:
            libfc.no_such_name
        except AttributeError as exc:
            assert "no_such_name" in str(exc)
        del sig, name, flow, names
        gc.collect()
        print("ok")
    """)
    assert proc.stdout == "ok\n" and "memory leak" not in proc.stderr

"""The companion package: one class per record, generated from the same
record descriptions as the module's method table."""

import ast
import os

import pytest

import _libfc
import libfc
from _helpers import run_python_ok as run_python

METHODS = [name for name in vars(_libfc) if callable(getattr(_libfc, name)) and not name.startswith("__")]
RECORDS = [name[: -len("_swigregister")] for name in METHODS if name.endswith("_swigregister")]


def fields_of(record):
    """Field names of a record, from its run of the method table: everything
    after the previous record's registration and before new_<record>."""
    end = METHODS.index(f"new_{record}")
    start = end
    while start > 0 and not METHODS[start - 1].endswith("_swigregister"):
        start -= 1
    prefix = record + "_"
    return [name[len(prefix): -len("_get")] for name in METHODS[start:end]
            if name.startswith(prefix) and name.endswith("_get")]


def test_every_record_has_a_class():
    assert RECORDS, "no record classes found"
    assert sorted(RECORDS) == sorted(libfc.__all__)
    # (each field's property and accessors: test_field_descriptors.py)
    for record in RECORDS:
        assert getattr(libfc, record).__swig_destroy__ is getattr(_libfc, f"delete_{record}"), record


def test_read_only_and_mangling_prone_fields():
    addr = libfc.hyp_SocketIPv6AddressAddr()
    view = getattr(addr, "__u6_addr")
    assert type(view) is libfc.hyp_SocketIPv6AddressAddr___u6_addr
    with pytest.raises(AttributeError):
        setattr(addr, "__u6_addr", view)


def test_dropping_instances_frees_records_without_leak_lines():
    result = run_python("""
        import libfc
        for _ in range(1000):
            s = libfc.hyp_String()
            s.bufferSize = 5
            links = libfc.hyp_ListLinks()
            links.nextPtr = libfc.hyp_ListLinks()   # ownership moves into the record
        """)
    assert "memory leak" not in result.stdout + result.stderr


def test_stub_lists_every_field_with_a_type():
    stub = os.path.join(os.path.dirname(libfc.__file__), "__init__.pyi")
    tree = ast.parse(open(stub).read())
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    for record in RECORDS:
        assert record in classes, record
        declared = {
            node.target.id for node in classes[record].body if isinstance(node, ast.AnnAssign)
        } | {node.name for node in classes[record].body if isinstance(node, ast.FunctionDef)}
        for field in fields_of(record):
            assert field in declared, f"{record}.{field} missing from the stub"
    assert ast.unparse(next(
        n.annotation for n in classes["hyp_String"].body if isinstance(n, ast.AnnAssign) and n.target.id == "bufferSize"
    )) == "int"

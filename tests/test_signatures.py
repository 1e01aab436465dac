"""The modules' stubs and signature docstrings: each stub names exactly the
module's public names, every method of the helper modules shows its
signature to inspect (_libfc's method table carries no documentation), and
the stub's parameters and field result types agree with what the methods
do."""

import ast
import inspect
import ipaddress
import os

import pytest

import _libfc
import _libfc_fields
import _libfc_ptr
import libfc  # registers the record classes, whose destructors free new_X records

from _helpers import module_methods
from _records import all_fields

MODULES = [_libfc, _libfc_ptr, _libfc_fields]


def stub_names(module):
    """The public names the module's stub declares, with their declarations."""
    with open(os.path.join(os.path.dirname(module.__file__), module.__name__ + ".pyi")) as f:
        tree = ast.parse(f.read())
    names = {}
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names[node.name] = node
        elif isinstance(node, ast.AnnAssign):
            names[node.target.id] = node
        elif isinstance(node, ast.Assign):
            names.update((target.id, node) for target in node.targets)
    return {name: node for name, node in names.items() if not name.startswith("_")}


STUBS = {module.__name__: stub_names(module) for module in MODULES}


@pytest.mark.parametrize("module", MODULES, ids=lambda m: m.__name__)
def test_stub_names_exactly_the_public_names_of_its_module(module):
    public = {name for name in vars(module) if not name.startswith("_")}
    stub = set(STUBS[module.__name__])
    assert (sorted(public - stub), sorted(stub - public)) == ([], [])


@pytest.mark.parametrize("module", [_libfc_ptr, _libfc_fields], ids=lambda m: m.__name__)
def test_every_method_signature_matches_its_stub(module):
    mismatched = []
    for name in module_methods(module):
        signature = inspect.signature(getattr(module, name))  # raises without a text signature
        shown = [(p.name, p.kind) for p in signature.parameters.values()]
        node = STUBS[module.__name__][name]
        stubbed = [(a.arg, inspect.Parameter.POSITIONAL_ONLY) for a in node.args.posonlyargs]
        if node.args.vararg:
            stubbed.append((node.args.vararg.arg, inspect.Parameter.VAR_POSITIONAL))
        if shown != stubbed:
            mismatched.append((name, shown, stubbed))
    assert mismatched == []


@pytest.mark.parametrize("name, parameters", [
    ("FC_GetFlows", ["sip", "dip", "isV6", "switchPort", "daddr", "vni", "ether", "vlanid", "proto",
                     "innerdaddr", "tid"]),
    ("DVSHYP_CmdExec", ["switchId", "cmd", "in_", "inLen", "out", "outLen"]),  # a keyword renamed
    ("FC_GetFlowCacheStats", []),
    ("Panic", ["fmt", "args"]),
    ("FC_IOCFlows_get_flow", ["record", "index"]),
    ("FC_IOCFlows_get_num_flows", ["record"]),
    ("FC_FlowKey_portID_set", ["record", "value"]),
])
def test_operation_parameters_are_named_as_declared(name, parameters):
    node = STUBS["_libfc"][name]
    named = [a.arg for a in node.args.posonlyargs] + ([node.args.vararg.arg] if node.args.vararg else [])
    assert named == parameters


PLAIN_TYPES = {"int": (int,), "str": (str,), "Optional[str]": (str, type(None)), "None": (type(None),)}
# Operations of each plain result type, and every field getter whose stub names one.
RESULTS = [
    ("DVPortExist", ("dvs-none", "0")),          # hyp_Bool: a one-character text
    ("HYP_ReturnStatusToString", (0,)),
    ("FC_GetPortsetStatus", ("switch0",)),
    ("FC_IOCGetConfigOption", (0,)),
    ("ovl_INTBitmapConvert", (1,)),
    ("FC_ACTION_SIZE", ()),
    ("FC_FlowEntryIOC_get_srcip_entry", (libfc.FC_FlowEntryIOC, 0)),
] + [("%s_%s_get" % (r.name, f.name), (getattr(libfc, r.name),)) for r, f in all_fields()
     if ast.unparse(STUBS["_libfc"]["%s_%s_get" % (r.name, f.name)].returns) in PLAIN_TYPES]


@pytest.mark.parametrize("name, args", RESULTS, ids=[name for name, _ in RESULTS])
def test_results_are_of_the_stubbed_type(name, args):
    assert len(RESULTS) > 400  # the stub still names plain types for most getters
    annotation = ast.unparse(STUBS["_libfc"][name].returns)
    args = [arg() if isinstance(arg, type) else arg for arg in args]
    assert isinstance(getattr(_libfc, name)(*args), PLAIN_TYPES[annotation])


with open(os.path.join(os.path.dirname(libfc.__file__), "__init__.pyi")) as _stub:
    PACKAGE_CLASSES = [node for node in ast.parse(_stub.read()).body if isinstance(node, ast.ClassDef)]


def test_package_stub_types_embedded_records_as_never_none():
    # An embedded record or array reads as its class; a pointer field of a
    # zero-filled record reads as None, which its "Optional[X]" allows.
    wrong, embedded = [], 0
    for node in PACKAGE_CLASSES:
        for field in (f for f in node.body if isinstance(f, ast.AnnAssign)):
            annotation = ast.unparse(field.annotation)
            value = getattr(getattr(libfc, node.name)(), field.target.id)
            if hasattr(libfc, annotation):
                embedded += 1
                if not isinstance(value, getattr(libfc, annotation)):
                    wrong.append((node.name, field.target.id, annotation, value))
            elif annotation.startswith("Optional[") and hasattr(libfc, annotation[9:-1]):
                if value is not None:
                    wrong.append((node.name, field.target.id, annotation, value))
    assert wrong == [] and embedded > 50


# A value of each type the package stub's setters name beyond their getter's.
SETTER_VALUES = {"Union[str, bytes, Octets]": [lambda: libfc.mac("02:00:00:aa:bb:cc"), "02:00:00:aa:bb:cd",
                                               bytes.fromhex("020000aabbce")], "Union[str, int, None]": ["\x01", 1, None],
                 "Union[IPv4Address, str]": ["10.0.0.1", lambda: ipaddress.IPv4Address("10.0.0.2")],
                 "Union[IPv6Address, str]": ["2001:db8::1", lambda: ipaddress.IPv6Address("fe80::1")]}
READ_AS = {"str": str, "IPv4Address": ipaddress.IPv4Address, "IPv6Address": ipaddress.IPv6Address}


def test_package_stub_setters_take_what_they_say():
    refused, checked = [], 0
    for node in PACKAGE_CLASSES:
        for setter in (f for f in node.body if isinstance(f, ast.FunctionDef) and f.decorator_list
                       and ast.unparse(f.decorator_list[0]).endswith(".setter")):
            record = getattr(libfc, node.name)()
            getters = {f.name: ast.unparse(f.returns) for f in node.body
                       if isinstance(f, ast.FunctionDef) and ast.unparse(f.returns) != "None"}
            for value in SETTER_VALUES[ast.unparse(setter.args.args[1].annotation)]:
                value = value() if callable(value) else value
                checked += 1
                try:
                    setattr(record, setter.name, value)
                    assert isinstance(getattr(record, setter.name), READ_AS[getters[setter.name]])
                except TypeError as error:
                    refused.append((node.name, setter.name, value, str(error)))
    assert refused == [] and checked > 10

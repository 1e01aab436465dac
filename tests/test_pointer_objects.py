"""Pointer objects: the Python face of a C address with its type and owner flag.

Text forms, integer conversion, comparison, ownership methods, ``this``
chains and how an object holding a chain converts to the pointer a method
expects, and the leak report for owned records nobody can destroy.
"""

import operator
import sys

import pytest

import _libfc
import libfc  # noqa: F401  (registers the destructors of the records made here)

from _helpers import SwigPyObject, raw, run_python_ok, this_of
from _records import RECORDS


LEAK_LINE = "swig/python detected a memory leak of type '%s', no destructor found.\n"


def expected_repr(p, printable):
    return "<Swig Object of type '%s' at 0x%x>" % (printable, id(p))


def expected_str(p, mangled):
    return "_" + int(p).to_bytes(8, "little").hex() + mangled


class Holder:
    """A plain object that stands for C pointers through its ``this``."""

    def __init__(self, this):
        self.this = this


# --- the type --------------------------------------------------------------

def test_type_name_documentation_and_methods():
    assert (SwigPyObject.__name__, SwigPyObject.__doc__) == ("SwigPyObject",
                                                            "Swig object carries a C/C++ instance pointer")
    assert {m: getattr(SwigPyObject, m).__doc__ for m in ("disown", "acquire", "own", "append", "next")} == {
        "disown": "releases ownership of the pointer", "acquire": "aquires ownership of the pointer",
        "own": "returns/sets ownership of the pointer", "append": "appends another 'this' object",
        "next": "returns the next 'this' object"}
    with pytest.raises(TypeError):
        type("Sub", (SwigPyObject,), {})


# --- text forms -------------------------------------------------------------

# The printable name is the last spelling the registry knows for the type.
PRINTABLE = {r.name: r.name + " *" for r in RECORDS}
PRINTABLE["hyp_ListLinks"] = "ovl_HashLink *"
PRINTABLE["FC_InvalHashKeyValue"] = "FC_InvalidationData *"


# New records, and pointers to plain element types (no class is ever registered for them).
@pytest.mark.parametrize("record, field, printable, mangled", [
    (r.name, None, PRINTABLE[r.name], "_p_" + r.name) for r in RECORDS] + [
    ("hyp_MgmtCallbackInfo", "parmSizes", "hyp_ByteCountSmall *", "_p_unsigned_int"),
    ("hyp_MgmtCallbackInfo", "parmTypes", "enum hyp_MgmtParm *", "_p_hyp_MgmtParm"),
    ("hyp_MgmtInstances", "instanceIds", "hyp_MgmtInstanceID *", "_p_unsigned_long_long"),
    ("hyp_SocketAddress", "sa_data", "hyp_PortsetResPoolPriorityTag *", "_p_unsigned_char"),
    ("hyp_SocketIPv6AddressAddr___u6_addr", "__u6_addr16", "hyp_VlanID *", "_p_unsigned_short"),
    ("hyp_AddrCookie", "ptr", "void *", "_p_void"),
])
def test_text_forms_of_new_records_and_element_pointers(record, field, printable, mangled):
    p = rec = getattr(_libfc, "new_" + record)()
    if field == "ptr":  # a void * field gives a pointer object once it holds an address
        _libfc.hyp_AddrCookie_ptr_set(rec, _libfc.new_hyp_Name())
    if field:
        p = getattr(_libfc, "%s_%s_get" % (record, field))(rec)
    assert type(p) is SwigPyObject
    assert repr(p) == expected_repr(p, printable)
    assert str(p) == expected_str(p, mangled)


def test_repr_follows_the_chain():
    a, b, c = _libfc.new_hyp_String(), _libfc.new_hyp_ListLinks(), _libfc.new_hyp_Name()
    a.append(b)
    b.append(c)
    assert repr(c) == expected_repr(c, "hyp_Name *")
    assert repr(b) == expected_repr(b, "ovl_HashLink *") + repr(c)
    assert repr(a) == expected_repr(a, "hyp_String *") + expected_repr(b, "ovl_HashLink *") + \
        expected_repr(c, "hyp_Name *")
    c.append(a)  # a chain that loops fails its repr, without a crash
    with pytest.raises(RecursionError):
        repr(a)
    assert str(a) == expected_str(a, "_p_hyp_String")  # str is about this element only
    c.append(_libfc.new_hyp_Name())  # break the loop so all can die
    assert a.next() is b


# --- numbers, comparison, hashing ------------------------------------------

@pytest.mark.parametrize("op", [operator.index, float, lambda p: p + 1, hash, lambda p: {p: 1}, operator.lt,
                                operator.le, operator.gt, operator.ge],
                         ids=["index", "float", "add", "hash", "dict key", "<", "<=", ">", ">="])
def test_no_arithmetic_ordering_or_hashing(op):
    args = (_libfc.new_hyp_String(),) * (2 if op in (operator.lt, operator.le, operator.gt, operator.ge) else 1)
    with pytest.raises(TypeError):
        op(*args)


def test_equality_is_by_address_whatever_the_type():
    outer = _libfc.new_hyp_SocketIPv6AddressAddr()
    union = this_of(_libfc.hyp_SocketIPv6AddressAddr___u6_addr_get(outer))
    bytes_view = _libfc.hyp_SocketIPv6AddressAddr___u6_addr___u6_addr8_get(union)
    assert str(union).endswith("_p_hyp_SocketIPv6AddressAddr___u6_addr")
    assert str(bytes_view).endswith("_p_unsigned_char")
    for a, b in [(outer, union), (union, bytes_view), (outer, bytes_view), (outer, outer)]:
        assert a == b and not (a != b)
    other = _libfc.new_hyp_SocketIPv6AddressAddr()
    for b in (other, None, 0, "x", object()):
        assert outer != b and not (outer == b)


# --- ownership ---------------------------------------------------------------

def test_new_record_is_owned_and_own_disown_acquire_change_it():
    p = _libfc.new_hyp_String()
    # own(x) answers the state before the change; x is taken for its truth.
    answers = [p.own(*args) for args in ((), (0,), (), (1,), (), (False,), ("",), ("yes",), ())]
    assert answers == [True, True, False, False, True, True, False, False, True]
    assert all(type(a) is bool for a in answers)
    assert (p.disown(), p.own(), p.disown(), p.own(), p.acquire(), p.own(), p.acquire(), p.own()) == (
        None, False, None, False, None, True, None, True)

    class TruthRaises:
        def __bool__(self):
            raise KeyError("truth")

    with pytest.raises(KeyError):
        p.own(TruthRaises())
    assert p.own() is True  # unchanged


def test_methods_refuse_wrong_argument_counts_and_append_takes_only_pointer_objects():
    p = _libfc.new_hyp_String()
    with pytest.raises(TypeError) as info:
        p.own(1, 2)
    assert str(info.value) == "own expected at most 1 argument, got 2"  # the interpreter's tuple unpacking
    assert p.own() is True
    for method, args in ((p.append, ()), (p.append, (_libfc.new_hyp_Name(),) * 2), (p.disown, (1,)), (p.next, (1,))):
        with pytest.raises(TypeError):
            method(*args)
    for bad in (1, "x", None, Holder(_libfc.new_hyp_Name())):
        with pytest.raises(TypeError):
            p.append(bad)
    assert p.next() is None


# --- chains ------------------------------------------------------------------

def test_append_replaces_the_next_object_and_releases_the_old_one():
    a, b, c = _libfc.new_hyp_String(), _libfc.new_hyp_ListLinks(), _libfc.new_hyp_Name()
    baseline_b, baseline_c = sys.getrefcount(b), sys.getrefcount(c)
    assert a.next() is None
    assert a.append(b) is None
    assert (a.next(), b.next()) == (b, None) and a.next() is b
    assert sys.getrefcount(b) == baseline_b + 1
    a.append(c)
    assert a.next() is c
    assert sys.getrefcount(b) == baseline_b
    for _ in range(100):
        a.next()
    assert sys.getrefcount(c) == baseline_c + 1
    del a
    assert sys.getrefcount(c) == baseline_c


def test_chain_converts_to_its_first_element_of_the_expected_type_and_disowns_only_that():
    s, links, second = _libfc.new_hyp_String(), _libfc.new_hyp_ListLinks(), _libfc.new_hyp_ListLinks()
    s.append(links)
    links.append(second)
    h = Holder(s)
    _libfc.hyp_String_bufferSize_set(h, 77)
    assert _libfc.hyp_String_bufferSize_get(s) == 77
    _libfc.hyp_ListLinks_prevPtr_set(h, None)  # a hyp_ListLinks method finds the second element
    assert raw(links, 16) == bytes(16)
    target = _libfc.new_hyp_ListLinks()
    _libfc.hyp_ListLinks_nextPtr_set(target, h)  # the setter takes ownership of what it is given
    assert raw(target, 8, 8) == int(links).to_bytes(8, "little")
    assert this_of(_libfc.hyp_ListLinks_nextPtr_get(target)) == links
    assert (s.own(), links.own(), second.own()) == (True, False, True)
    with pytest.raises(TypeError) as info:
        _libfc.hyp_Name_string_get(h)  # no element of the expected type
    assert str(info.value) == "in method 'hyp_Name_string_get', argument 1 of type 'hyp_Name *'"
    with pytest.raises(TypeError):  # ownership stays when an earlier argument is refused
        _libfc.hyp_ListLinks_nextPtr_set(_libfc.new_hyp_String(), second)
    assert second.own() is True
    _libfc.delete_hyp_ListLinks(links)


def test_this_attributes_are_followed_through_instances_and_must_end_in_a_pointer():
    rec = _libfc.new_hyp_String()
    nested = Holder(Holder(Holder(rec)))
    _libfc.hyp_String_stringLength_set(nested, 5)
    assert _libfc.hyp_String_stringLength_get(rec) == _libfc.hyp_String_stringLength_get(nested) == 5
    cycles = []
    for length in (1, 2, 5):  # a cycle of this attributes is refused, not followed forever
        cycles.append([Holder(None) for _ in range(length)])
        for i, holder in enumerate(cycles[-1]):
            holder.this = cycles[-1][(i + 1) % length]
    for refused in [Holder(42)] + [cycle[0] for cycle in cycles]:
        with pytest.raises(TypeError) as info:
            _libfc.hyp_String_stringLength_get(refused)
        assert str(info.value) == "in method 'hyp_String_stringLength_get', argument 1 of type 'hyp_String *'"


# --- owned records without a destructor (fresh interpreters) -----------------------

def test_leak_line_only_for_owned_records_nobody_can_destroy():
    proc = run_python_ok("""
        import _libfc
        for make in (_libfc.new_hyp_String, _libfc.new_hyp_ListLinks):
            p = make()
            del p
        print("registered without a destructor", flush=True)
        class Plain:
            pass
        _libfc.hyp_String_swigregister(Plain)
        q, r = _libfc.new_hyp_String(), _libfc.new_hyp_String()
        del q, r
        print("disowned, deleted or borrowed", flush=True)
        p = _libfc.new_hyp_ListLinks()
        p.disown()
        del p
        q = _libfc.new_hyp_Name()
        _libfc.delete_hyp_Name(q)
        del q
        n = _libfc.new_hyp_MgmtInstances()
        view = _libfc.hyp_MgmtInstances_instanceNames_get(n)
        del view
        _libfc.delete_hyp_MgmtInstances(n)
        print("done", flush=True)
    """)
    assert proc.stdout == (LEAK_LINE % "hyp_String *" + LEAK_LINE % "ovl_HashLink *"
                           + "registered without a destructor\n" + (LEAK_LINE % "hyp_String *") * 2
                           + "disowned, deleted or borrowed\ndone\n")

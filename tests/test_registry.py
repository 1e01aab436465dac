"""Type registry lookups, cast lists and class registration, observed through
the test module (which declares a type with extra accepted sources)."""

import pytest

import _libfc  # its descriptors join the ring the lookups walk
import _swigtest as m
from _helpers import run_python_ok as run_python


# Mangled names are found by binary search, C spellings by a pass over the
# names (spaces skipped on both sides); hyp_EthAddress is known to _libfc only.
@pytest.mark.parametrize("query, found", [
    ("_p_char", "_p_char"), ("_p_hyp_String", "_p_hyp_String"), ("char *", "_p_char"), ("hyp_Bool *", "_p_char"),
    ("unsigned  char *", "_p_unsigned_char"), ("unsignedchar*", "_p_unsigned_char"),
    ("hyp_EthAddress *", "_p_a_6__unsigned_char"), ("struct _FC_ClientHandle *", "_p__FC_ClientHandle"),
    ("hyp_ByteCountSmall *", "_p_unsigned_int"), ("char", None), ("_p_nothing_here", None), ("", None),
])
def test_lookup_any(query, found):
    assert m.swigtest_lookup_any(query) == found


# (The printable names of every record and of element pointers: test_pointer_objects.py.)
@pytest.mark.parametrize("name, printable", [
    ("_p_a_6__unsigned_char", "hyp_EthAddress *"), ("_p__FC_ClientHandle", "struct _FC_ClientHandle *"),
    ("_p_char", "hyp_Bool *"), ("_p_swigtest_Base", "swigtest_Base *"),
])
def test_printable_names(name, printable):
    assert m.swigtest_pretty_name(name) == printable


def test_extra_sources_are_accepted_through_their_converter():
    probe, name = m.new_swigtest_Probe(), _libfc.new_hyp_Name()
    assert (m.swigtest_as_base(probe), m.swigtest_as_base(name), m.swigtest_as_base(None)) == (int(probe) + 8,
                                                                                               int(name), 0)
    with pytest.raises(TypeError) as info:
        m.swigtest_as_base(m.new_hyp_String())
    assert str(info.value) == "in method 'swigtest_as_base', argument 1 of type 'swigtest_Base *'"
    # A type known to one module only stays distinct from the other's.
    with pytest.raises(TypeError, match=r"^in method 'hyp_String_bufferSize_get', argument 1 of type 'hyp_String \*'$"):
        _libfc.hyp_String_bufferSize_get(m.new_swigtest_Probe())


def test_a_matched_source_moves_to_the_front_of_the_cast_list():
    assert sorted(m.swigtest_casts("_p_swigtest_Base")) == ["_p_hyp_Name", "_p_swigtest_Base", "_p_swigtest_Probe"]
    m.swigtest_as_base(_libfc.new_hyp_Name())
    assert m.swigtest_casts("_p_swigtest_Base")[0] == "_p_hyp_Name"
    m.swigtest_as_base(m.new_swigtest_Probe())
    order = m.swigtest_casts("_p_swigtest_Base")
    assert order[0] == "_p_swigtest_Probe" and sorted(order[1:]) == ["_p_hyp_Name", "_p_swigtest_Base"]
    for name in ["_p_hyp_String", "_p_FC_FlowKey", "_p_void", "_p_a_16__unsigned_char"]:  # each accepts only itself
        assert m.swigtest_casts(name) == [name]


def test_registration_reaches_sources_without_a_converter_takes_any_new_and_needs_one_to_destroy():
    result = run_python("""
        import _libfc, _swigtest as m, sys

        # A class registered for swigtest_Base also goes to hyp_Name, which has
        # no class yet and is accepted without converter; not to the probe,
        # whose cast has a converter.
        class Base: pass
        m.swigtest_register_base(Base)
        probe = m.new_swigtest_Probe()
        assert type(m.swigtest_Probe_names_get(probe)) is Base
        holder = m.new_swigtest_Probe()
        m.swigtest_Probe_cookie_set(holder, probe)
        assert type(m.swigtest_Probe_cookie_get(holder)).__name__ == "SwigPyObject"

        # What is registered need not be a type: its __new__ makes the objects,
        # called with the registered object.
        class Made: pass
        class Factory: pass
        factory = Factory()
        factory.__new__ = lambda registered: Made()
        _libfc.hyp_Name_swigregister(factory)
        sig = _libfc.new_hyp_MgmtApiSignature()
        name = _libfc.hyp_MgmtApiSignature_name_get(sig)
        assert type(name) is Made and int(name.this) == int(sig) + 4, type(name)

        # A class whose __new__ cannot be found could never have built an
        # instance, so its destructor is not trusted either: an owned record
        # of the type is reported, not destroyed. The failed lookups leave no
        # exception set.
        destroyed = []
        class DestroyWithoutNew:
            def __getattribute__(self, name):
                if name == "__swig_destroy__":
                    return destroyed.append
                raise AttributeError(name)
        _libfc.hyp_String_swigregister(DestroyWithoutNew())
        assert sys.exc_info() == (None, None, None)
        s = _libfc.new_hyp_String()
        del s
        print("destroyed", len(destroyed))
        """)
    assert result.stdout.startswith("swig/python detected a memory leak of type 'hyp_String *', no destructor found.\n"
                                    "destroyed 0\n"), result.stdout


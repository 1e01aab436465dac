"""The invalidation record's owned text psName, beyond the generic record
tests. (Indexing the invalidation and statistics buffers:
test_flow_query_records.py.)"""

import ctypes

import pytest

import _libfc
import libfc  # noqa: F401  -- registers the record classes, so owned records are freed

from _helpers import raw, run_python_ok
from _records import arg2_message


# --- psName: a text the record owns ----------------------------------------------------

def test_ps_name_holds_a_private_copy():
    d = _libfc.new_FC_InvalData()
    assert _libfc.FC_InvalData_psName_get(d) is None
    name = "dvs-\u00e9ast"
    _libfc.FC_InvalData_psName_set(d, name)
    address = int.from_bytes(raw(d, 8), "little")
    assert ctypes.string_at(address) == name.encode()
    assert _libfc.FC_InvalData_psName_get(d) == name
    _libfc.FC_InvalData_psName_set(d, "second")
    assert _libfc.FC_InvalData_psName_get(d) == "second"
    _libfc.FC_InvalData_psName_set(d, None)
    assert (raw(d, 8), _libfc.FC_InvalData_psName_get(d)) == (bytes(8), None)
    with pytest.raises(TypeError) as info:
        _libfc.FC_InvalData_psName_set(d, b"bytes")
    assert str(info.value) == arg2_message("FC_InvalData_psName_set", "char *")


def test_ps_name_leaves_texts_it_did_not_copy_alone():
    # glibc aborts when free() is given memory malloc did not hand out, so a
    # clean exit shows that neither text was freed.
    assert run_python_ok("""
        import ctypes, _libfc, libfc
        d = _libfc.new_FC_InvalData()
        library_text = ctypes.create_string_buffer(b"fab-library", 64)
        ctypes.memmove(int(d), ctypes.addressof(library_text).to_bytes(8, "little"), 8)
        assert _libfc.FC_InvalData_psName_get(d) == "fab-library"
        _libfc.FC_InvalData_psName_set(d, "mine")
        assert library_text.value == b"fab-library"
        key = _libfc.FC_InvalData_invalidationData_get(d)
        _libfc.FC_InvalHashKeyValue_vdrId_set(key, 7)  # the storage now holds a key, not a text
        _libfc.FC_InvalData_psName_set(d, "again")
        assert _libfc.FC_InvalData_psName_get(d) == "again"
        _libfc.FC_InvalData_psName_set(d, None)
        print("ok")
    """).stdout == "ok\n"

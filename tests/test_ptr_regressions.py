"""Faults the fuzz driver found in the pointer helper module, one test each."""

import struct

import pytest

import _libfc
import _libfc_ptr
from _helpers import poke


def test_cell_value_reads_an_unaligned_word_inside_a_packed_record():
    # dport sits at an odd offset of the packed record; the value function
    # read it through an aligned load (undefined, reported by UBSan).
    record = _libfc.new_FC_ActionEntityIOC()
    try:
        port = _libfc.FC_ActionEntityIOC_dport_get(record)
        offset = int(port) - int(record)
        assert offset % 4, "the field is no longer unaligned: pick another"
        for value in (0, 1, 0xDEADBEEF, 0xFFFFFFFF):
            poke(record, offset, struct.pack("=I", value))
            assert _libfc_ptr.uint32p_value(port) == value
    finally:
        _libfc.delete_FC_ActionEntityIOC(record)


@pytest.mark.parametrize("stem, size", [("intp", 4), ("uint32p", 4), ("voidpp", 8), ("DVPortListpp", 8)])
def test_bytes_through_a_cell_stop_at_the_cells_end(stem, size):
    # int * has no known extent, but a cell knows its block: writing or
    # reading past it was accepted (a heap overflow under ASan).
    cell = getattr(_libfc_ptr, "new_" + stem)()
    _libfc_ptr.memmove(cell, b"\xab" * size)
    assert _libfc_ptr.cdata(cell, size) == b"\xab" * size
    for call, arg in ((_libfc_ptr.memmove, b"\x01" * (size + 1)), (_libfc_ptr.cdata, size + 1)):
        with pytest.raises(ValueError) as info:
            call(cell, arg)
        assert "%d bytes exceed the %d bytes" % (size + 1, size) in str(info.value)
    assert _libfc_ptr.cdata(cell, size) == b"\xab" * size  # the refused write changed nothing


def test_a_list_context_has_no_bytes_to_read_or_write():
    context = _libfc_ptr.list_context([])
    assert _libfc_ptr.cdata(context, 0) == b""
    for call, arg in ((_libfc_ptr.memmove, b"\x00" * 8), (_libfc_ptr.cdata, 64)):
        with pytest.raises(ValueError):
            call(context, arg)

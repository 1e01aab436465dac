"""Faults the fuzz driver found in the pointer helper module, one test each."""

import struct

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

"""Repeated create / convert / destroy cycles keep memory flat, on both
counts that can leak: the C heap (records, private text copies) and the
interpreter's allocated object blocks (pointer objects, instances, strings,
exceptions). A leak of one record, copy or object per cycle overshoots
either bound many times over; under a sanitizer only the block count is
read (its allocator hides the C heap).
"""

import gc
import sys

import pytest

import _libfc
import libfc

from _helpers import c_heap_in_use

CYCLES, WARM_UP = 20_000, 2_000
HEAP_BOUND, BLOCK_BOUND = 64 * 1024, 2_000
LONG_TEXT = "x" * 1000       # too long for any character field
DISPLAY_TEXT = "d" * 80      # exactly fills hyp_FabPortStatus.displayStr


def new_delete():
    rec = _libfc.new_hyp_MgmtInstances()
    _libfc.hyp_MgmtInstances_numInstances_set(rec, 3)
    _libfc.hyp_MgmtInstances_numInstances_get(rec)
    _libfc.delete_hyp_MgmtInstances(rec)


def new_and_drop():
    # freed by the registered destructor when the owning object dies
    _libfc.hyp_MgmtInstances_numInstances_set(_libfc.new_hyp_MgmtInstances(), 1)


def companion_instance():
    inst = libfc.hyp_MgmtInstances()
    inst.numInstances = 7
    inst.numInstances
    inst.instanceNames.string = "vmk0"


def nested_views():
    sig = libfc.hyp_MgmtApiSignature()
    name = _libfc.hyp_MgmtApiSignature_name_get(sig)
    _libfc.hyp_Name_string_set(name, "abc")
    _libfc.hyp_MgmtApiSignature_vendor_set(sig, name)
    _libfc.hyp_Name___repr__(_libfc.hyp_MgmtApiSignature_vendor_get(sig))
    union = _libfc.hyp_SocketIPv6AddressAddr___u6_addr_get(_libfc.new_hyp_SocketIPv6AddressAddr())
    _libfc.hyp_SocketIPv6AddressAddr___u6_addr___u6_addr8_get(union)


def text_fields():
    status = _libfc.new_hyp_FabPortStatus()
    _libfc.hyp_FabPortStatus_displayStr_set(status, DISPLAY_TEXT)
    _libfc.hyp_FabPortStatus_displayStr_get(status)
    _libfc.hyp_FabPortStatus_displayStr_set(status, "short")
    _libfc.hyp_FabPortStatus_flags_set(status, 2**64 - 1)
    _libfc.hyp_FabPortStatus_flags_get(status)
    _libfc.delete_hyp_FabPortStatus(status)


RECORDS = {}  # made by the test, so they die before the interpreter does


def failing_conversions():
    status, cb = RECORDS["status"], RECORDS["callback"]
    for call, args in (
        (_libfc.hyp_FabPortStatus_displayStr_set, (status, LONG_TEXT)),
        (_libfc.hyp_MgmtCallbackInfo_synchronous_set, (cb, LONG_TEXT)),
        (_libfc.hyp_MgmtCallbackInfo_synchronous_set, (cb, "AB")),
        (_libfc.hyp_MgmtCallbackInfo_numParms_set, (cb, 256)),
        (_libfc.hyp_MgmtCallbackInfo_callbackId_set, (cb, -1)),
        (_libfc.hyp_MgmtCallbackInfo_parmSizes_set, (cb, None)),
        (_libfc.hyp_FabPortStatus_portID_get, (cb,)),
    ):
        try:
            call(*args)
        except (TypeError, OverflowError, ValueError):
            pass


@pytest.mark.parametrize("cycle", [new_delete, new_and_drop, companion_instance, nested_views, text_fields,
                                   failing_conversions], ids=lambda c: c.__name__)
def test_cycles_keep_memory_flat(cycle):
    RECORDS.update(status=libfc.hyp_FabPortStatus(), callback=libfc.hyp_MgmtCallbackInfo())
    for _ in range(WARM_UP):
        cycle()
    gc.collect()
    heap, blocks = c_heap_in_use(), sys.getallocatedblocks()
    for _ in range(CYCLES):
        cycle()
    gc.collect()
    heap_grown = None if heap is None else c_heap_in_use() - heap
    blocks_grown = sys.getallocatedblocks() - blocks
    RECORDS.clear()
    assert heap_grown is None or heap_grown < HEAP_BOUND, "%s: the C heap grew" % cycle.__name__
    assert blocks_grown < BLOCK_BOUND, "%s: object blocks grew" % cycle.__name__


def test_arguments_and_classes_are_not_retained():
    status = _libfc.new_hyp_FabPortStatus()
    sig = _libfc.new_hyp_MgmtApiSignature()
    text, too_long, big = "persistent text", "y" * 200, 2**70

    class Holder:
        pass

    holder = Holder()
    holder.this = status
    watched = [status, sig, text, too_long, big, holder, libfc.hyp_Name]
    failures = (
        (_libfc.hyp_FabPortStatus_displayStr_set, (status, too_long), TypeError),
        (_libfc.hyp_FabPortStatus_flags_set, (holder, big), TypeError),
        (_libfc.hyp_FabPortStatus_portID_set, (status, big), OverflowError),
        (_libfc.hyp_Name_string_get, (holder,), TypeError),
    )

    def exercise():
        for _ in range(1000):
            _libfc.hyp_FabPortStatus_displayStr_set(holder, text)
            _libfc.hyp_FabPortStatus_displayStr_get(status)
            for call, args, exc in failures:
                try:
                    call(*args)
                except exc:
                    pass
            _libfc.hyp_Name___repr__(_libfc.hyp_MgmtApiSignature_name_get(sig))
            _libfc.hyp_MgmtApiSignature_vendor_set(sig, _libfc.hyp_MgmtApiSignature_name_get(sig))

    exercise()  # warm-up
    before = [sys.getrefcount(o) for o in watched]
    exercise()
    gc.collect()
    assert [sys.getrefcount(o) for o in watched] == before
    _libfc.delete_hyp_FabPortStatus(status)
    _libfc.delete_hyp_MgmtApiSignature(sig)

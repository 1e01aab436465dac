"""Repeated create / convert / destroy cycles keep memory flat.

Each scenario runs 100000 cycles after a warm-up. Two measures are taken:
the resident set size of the process (C allocations: records, private string
copies) and the interpreter's count of allocated object blocks (pointer
objects, instances, strings, exceptions). The scenarios are sized so that a
leak of one record or one string copy per cycle would overshoot the bound many
times over.
"""

import gc
import os
import sys

import pytest

import _libfc
import libfc

from _helpers import rss

CYCLES = 100_000
WARM_UP = 5_000
# A sanitizer build holds freed memory in quarantine, so resident memory says
# nothing about leaks there; the object block counts still do.
SANITIZED = os.environ.get("LIBFC_SANITIZED") == "1"
RSS_BOUND = float("inf") if SANITIZED else 4 * 1024 * 1024
BLOCK_BOUND = 2_000

LONG_TEXT = "x" * 1000       # too long for any character field
DISPLAY_TEXT = "d" * 80      # exactly fills hyp_FabPortStatus.displayStr


def measure(cycle):
    for _ in range(WARM_UP):
        cycle()
    gc.collect()
    rss_before, blocks_before = rss(), sys.getallocatedblocks()
    for _ in range(CYCLES):
        cycle()
    gc.collect()
    return rss() - rss_before, sys.getallocatedblocks() - blocks_before


def new_delete():
    rec = _libfc.new_hyp_MgmtInstances()
    _libfc.hyp_MgmtInstances_numInstances_set(rec, 3)
    _libfc.hyp_MgmtInstances_numInstances_get(rec)
    _libfc.delete_hyp_MgmtInstances(rec)


def new_and_drop():
    # freed by the registered destructor when the owning object dies
    rec = _libfc.new_hyp_MgmtInstances()
    _libfc.hyp_MgmtInstances_numInstances_set(rec, 1)


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
    outer = _libfc.new_hyp_SocketIPv6AddressAddr()
    union = _libfc.hyp_SocketIPv6AddressAddr___u6_addr_get(outer)
    _libfc.hyp_SocketIPv6AddressAddr___u6_addr___u6_addr8_get(union)


def text_fields():
    status = _libfc.new_hyp_FabPortStatus()
    _libfc.hyp_FabPortStatus_displayStr_set(status, DISPLAY_TEXT)
    _libfc.hyp_FabPortStatus_displayStr_get(status)
    _libfc.hyp_FabPortStatus_displayStr_set(status, "short")
    _libfc.hyp_FabPortStatus_flags_set(status, 2**64 - 1)
    _libfc.hyp_FabPortStatus_flags_get(status)
    _libfc.delete_hyp_FabPortStatus(status)


_status = None
_callback = None


def failing_conversions():
    status, cb = _status, _callback
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


@pytest.fixture
def records_for_failures():
    global _status, _callback
    _status, _callback = _libfc.new_hyp_FabPortStatus(), _libfc.new_hyp_MgmtCallbackInfo()
    yield
    _libfc.delete_hyp_FabPortStatus(_status)
    _libfc.delete_hyp_MgmtCallbackInfo(_callback)
    _status = _callback = None


@pytest.mark.parametrize("cycle", [new_delete, new_and_drop, companion_instance, nested_views, text_fields],
                         ids=lambda c: c.__name__)
def test_cycles_keep_memory_flat(cycle):
    grown_rss, grown_blocks = measure(cycle)
    assert grown_rss < RSS_BOUND, "%s: resident memory grew by %d bytes" % (cycle.__name__, grown_rss)
    assert grown_blocks < BLOCK_BOUND, "%s: %d object blocks more" % (cycle.__name__, grown_blocks)


def test_failing_conversions_release_their_copies(records_for_failures):
    grown_rss, grown_blocks = measure(failing_conversions)
    assert grown_rss < RSS_BOUND, "resident memory grew by %d bytes" % grown_rss
    assert grown_blocks < BLOCK_BOUND, "%d object blocks more" % grown_blocks


def test_arguments_and_classes_are_not_retained():
    status = _libfc.new_hyp_FabPortStatus()
    sig = _libfc.new_hyp_MgmtApiSignature()
    text = "persistent text"
    too_long = "y" * 200
    big = 2**70

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
    after = [sys.getrefcount(o) for o in watched]
    assert after == before
    _libfc.delete_hyp_FabPortStatus(status)
    _libfc.delete_hyp_MgmtApiSignature(sig)

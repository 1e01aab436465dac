"""Packet header, telemetry, overlay and switch port records: wire images of
combined field settings (an oracle independent of the layout tables), bytes
the records carry without accessors, and the INT bitmap conversion."""

import pytest

import _libfc
import libfc  # noqa: F401  -- registers the record classes, so owned records are freed
from _helpers import poke, raw, trap_status
from _records import BY_NAME, from_files, new, setter


def setf(rec_name, rec, field, value):
    getattr(_libfc, "%s_%s_set" % (rec_name, field))(rec, value)


def getf(rec_name, rec, field):
    return getattr(_libfc, "%s_%s_get" % (rec_name, field))(rec)


def hx(text):
    return bytes.fromhex(text)


# --- byte images of field settings ---------------------------------------------
# (The headers scapy knows are checked against its packets in
# test_header_scapy.py; these are the overlay and telemetry layouts it lacks.)
# (record, settings applied in order, expected whole record image, fields read back)

IMAGES = [
    ("hyp_FenceHdr", [("fragmentID", 31), ("frag", 1), ("version", 3), ("fenceID", 0x123456)], hx("ff563412"),
     {"fragmentID": 31}),
    ("OVLL2_GenOptDataLabel", [("label_hi", 5), ("label_lo", 0xBEEF), ("ver", 1)], hx("85efbe00"),
     {"label_hi": 5, "label_lo": 0xBEEF}),
    ("OVLL2_GenOptDataLabelMacFlush", [("vtep_label_type", 7), ("flags_high", 0x1F)], hx("00fe0000"), {}),
    ("OVLL2_GenOptDataLabelActiveMbrVtep", [("vtep_group_label_type", 7), ("flags_high", 0x1F)], hx("00fe0000"),
     {"vtep_group_label_type": 3, "flags_high": 0x1F}),
    ("ovl_INTPathwatchMeta", [("eta", 0x0102), ("slot", 0xAA), ("flag", _libfc.PATHWATCH_META_REVERSE)],
     bytes(12) + hx("0201aa02"), {}),
]


@pytest.mark.parametrize("name, settings, image, readback", IMAGES,
                         ids=["%s:%s" % (c[0], "+".join(s for s, _ in c[1])) for c in IMAGES])
def test_field_settings_give_the_wire_image(name, settings, image, readback):
    rec = new(BY_NAME[name])
    for field, value in settings:
        setf(name, rec, field, value)
    assert raw(rec, len(image)) == image
    for field, value in readback.items():
        assert getf(name, rec, field) == value, field


# --- bytes without accessor ---------------------------------------------------

def covered_bytes(record):
    return {i for f in record.fields if f.kind not in ("zarray", "ro_zarray")
            for i in range(f.offset, f.offset + f.width)}


def zero_source(f):
    """A zero-filled source for an array or nested field (kept alive by the holder)."""
    if f.kind == "nested":
        src = getattr(_libfc, "new_" + f.target[3:])()
        return src, src
    holder = _libfc.new_hyp_SocketAddress()
    return holder, _libfc.hyp_SocketAddress_sa_data_get(holder)


CARRIED = [r for r in from_files("headers/", "switchstate/") if len(covered_bytes(r)) < r.size]


@pytest.mark.parametrize("record", CARRIED, ids=[r.name for r in CARRIED])
def test_bytes_without_accessor_survive_every_setter(record):
    uncovered = sorted(set(range(record.size)) - covered_bytes(record))
    rec = new(record)
    pattern = bytes((0x5A + 7 * i) & 0xFF or 1 for i in range(record.size))
    poke(rec, 0, pattern)
    for f in record.fields:
        if not f.writable or f.kind in ("zarray",):
            continue
        if f.kind in ("uint", "int", "bits"):
            setter(record, f)(rec, 0)
        elif f.kind == "chars":
            setter(record, f)(rec, "")
        elif f.target == "_p_unsigned_char" or f.kind == "nested":
            keep, src = zero_source(f)
            setter(record, f)(rec, src)
    image = raw(rec, record.size)
    assert [image[i] for i in uncovered] == [pattern[i] for i in uncovered], record.name

# The bytes other tools rely on being kept: IPv4 type of service and fragment word, the TCP flags, GRE flags,
# the INT version / length bytes and the Spf option's reserved bytes.
assert {"hyp_IPv4Hdr", "hyp_TCPHdr", "hyp_GREHdr", "ovl_INTShimHdr", "ovl_INTHdrV1", "ovl_INTHdrV2",
        "OVLL2_GenOptDataSpf"} <= {r.name for r in CARRIED}


# --- INT bitmap conversion ----------------------------------------------------------

def test_bitmap_conversion_is_its_own_inverse_and_matches_bit_reversal():
    def reference(value):
        low, high = value & 0xFF, value >> 8
        rev = lambda b: int("{:08b}".format(b)[::-1], 2)  # noqa: E731
        return rev(low) | rev(high) << 8
    convert = _libfc.ovl_INTBitmapConvert
    for value in range(65536):
        once = convert(value)
        assert once == reference(value) and convert(once) == value, hex(value)


def test_bitmap_conversion_refuses_non_uint16_and_wrong_counts_and_arms_the_trap():
    for value, exc_type in [(65536, OverflowError), (-1, OverflowError), (2**70, OverflowError), (1.0, TypeError),
                            ("1", TypeError), (None, TypeError)]:
        with pytest.raises(Exception) as info:
            _libfc.ovl_INTBitmapConvert(value)
        assert type(info.value) is exc_type
        assert str(info.value) == "in method 'ovl_INTBitmapConvert', argument 1 of type 'hyp_uint16'"
    for args in ((), (1, 2)):
        with pytest.raises(TypeError, match="ovl_INTBitmapConvert"):
            _libfc.ovl_INTBitmapConvert(*args)
    trap_status().value = 9
    assert _libfc.ovl_INTBitmapConvert(True) == 0x80
    assert trap_status().value == 0

"""Header records scapy lacks (fence, telemetry, overlay): wire images of combined field
settings (an oracle independent of the layout tables), and the INT bitmap
conversion. (Bytes a record carries without accessors: every setter's test
in test_records.py and test_record_bits_hwaddr.py checks the whole record
image.)"""

import pytest

import _libfc
import libfc  # noqa: F401  -- registers the record classes, so owned records are freed
from _helpers import raw, trap_status
from _records import BY_NAME, new


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


# --- INT bitmap conversion ----------------------------------------------------------

def test_bitmap_conversion_is_its_own_inverse_matches_bit_reversal_refuses_non_uint16_and_arms_the_trap():
    def reference(value):
        low, high = value & 0xFF, value >> 8
        rev = lambda b: int("{:08b}".format(b)[::-1], 2)  # noqa: E731
        return rev(low) | rev(high) << 8
    convert = _libfc.ovl_INTBitmapConvert
    for value in range(65536):
        once = convert(value)
        assert once == reference(value) and convert(once) == value, hex(value)
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

"""Packet header, telemetry, overlay and switch port records: byte images of
combined field settings, bytes the records carry without accessors, the
variable parts behind headers, the encapsulation bundles' embedded headers,
the INT bitmap conversion, and the port records' text and list fields."""

import ctypes

import pytest

import _libfc
import libfc  # noqa: F401  -- registers the record classes, so owned records are freed
from _header_records import RECORDS as HEADER_RECORDS
from _helpers import addr, descriptor_name, poke, raw, this_of
from _records import BY_NAME, arg2_message, getter, new, setter
from _switchstate_records import RECORDS as PORT_RECORDS


def setf(rec_name, rec, field, value):
    getattr(_libfc, "%s_%s_set" % (rec_name, field))(rec, value)


def getf(rec_name, rec, field):
    return getattr(_libfc, "%s_%s_get" % (rec_name, field))(rec)


def hx(text):
    return bytes.fromhex(text)


# --- byte images of field settings ---------------------------------------------
# (record, settings applied in order, expected whole record image, fields read back)

IMAGES = [
    ("hyp_IPv4Hdr", [("version", 4), ("headerLength", 5)], hx("45") + bytes(19), {"version": 4}),
    ("hyp_IPv4Hdr", [("headerLength", 5), ("version", 20)], hx("45") + bytes(19), {"version": 4, "headerLength": 5}),
    ("hyp_IPv4Hdr", [("totalLength", 0x1400)], hx("00000014") + bytes(16), {"totalLength": 5120}),
    ("hyp_ArpHdr", [("spa", 0x0A000001), ("tpa", 0xC0A80101)],
     bytes(14) + hx("0100000a") + bytes(6) + hx("0101a8c0"), {}),
    ("hyp_VLANHdr", [("priority", 7), ("dropEligible", 1), ("vlanIDHigh", 0xF)], hx("ff000000"), {}),
    ("hyp_VLANHdr", [("vlanIDLow", 0xAB), ("priority", 2)], hx("40ab0000"), {"vlanIDHigh": 0}),
    ("hyp_IPv6Hdr", [("version", 6), ("trafficClassHigh", 0xA), ("trafficClassLow", 0x5), ("flowLabelHigh", 0xB)],
     hx("6a5b") + bytes(38), {}),
    ("hyp_IGMPv3QueryHdr", [("qrv", 2), ("sFlag", 1)], bytes(8) + hx("0a") + bytes(3), {}),
    ("hyp_IGMPv3QueryHdr", [("qrv", 2), ("sFlag", 1), ("reserved", 0xF)], bytes(8) + hx("fa") + bytes(3), {}),
    ("hyp_MLDv2QueryHdr", [("qrv", 7), ("reserved2", 0x9)], bytes(24) + hx("97") + bytes(3), {"sFlag": 0}),
    ("hyp_PIMHdr", [("version", 2), ("type", 1)], hx("21000000"), {}),
    ("hyp_TCPHdr", [("dataOffset", 5)], bytes(12) + hx("50") + bytes(7), {"reserved": 0}),
    ("hyp_VXLANHdr", [("vxlanID", 0x123456)], hx("0000000056341200"), {"vxlanID": 0x123456}),
    ("hyp_VXLANHdr", [("vxlanID", 0x1000001)], hx("0000000001000000"), {"vxlanID": 1}),
    ("hyp_VXLANHdr", [("instanceID", 1)], hx("08") + bytes(7), {}),
    ("hyp_VXLANHdr", [("instanceID", 1), ("reserved1", 0xFFFFFF)], hx("08ffffff") + bytes(4), {"instanceID": 1}),
    ("hyp_VXLANHdr", [("reserved2", 0x5A), ("vxlanID", 0xFFFFFF)], hx("00000000ffffff5a"), {"reserved2": 0x5A}),
    ("hyp_GeneveHdr", [("version", 3), ("optionsLength", 0x3F)], hx("ff") + bytes(7), {}),
    ("hyp_GeneveHdr", [("oamFrame", 1)], hx("0080") + bytes(6), {}),
    ("hyp_GeneveHdr", [("criticalOptions", 1)], hx("0040") + bytes(6), {}),
    ("hyp_GeneveHdr", [("virtualNetworkId", 0xABCDEF), ("reserved2", 0x1FF)], hx("00000000efcdabff"),
     {"virtualNetworkId": 0xABCDEF, "reserved2": 0xFF}),
    ("hyp_FenceHdr", [("fenceID", 0xABCDEF)], hx("00efcdab"), {}),
    ("hyp_FenceHdr", [("fragmentID", 31), ("frag", 1), ("version", 3), ("fenceID", 0x123456)], hx("ff563412"),
     {"fragmentID": 31}),
    ("hyp_GeneveOptionHdr", [("optLength", 0x1F), ("reserved", 7)], hx("000000ff"), {}),
    ("hyp_GeneveOptionHdr", [("optLength", 32)], bytes(4), {"optLength": 0}),
    ("OVLL2_GenOptDataLabel", [("label_lo", 0x1234)], hx("00341200"), {}),
    ("OVLL2_GenOptDataLabel", [("label_hi", 9)], hx("01000000"), {"label_hi": 1}),
    ("OVLL2_GenOptDataLabel", [("label_hi", 5), ("label_lo", 0xBEEF), ("ver", 1)], hx("85efbe00"),
     {"label_hi": 5, "label_lo": 0xBEEF}),
    ("OVLL2_GenOptDataLabelMacFlush", [("vtep_label_type", 7)], hx("000e0000"), {}),
    ("OVLL2_GenOptDataLabelMacFlush", [("flags_high", 0x1F)], hx("00f00000"), {"flags_high": 0xF}),
    ("OVLL2_GenOptDataLabelActiveMbrVtep", [("vtep_group_label_type", 7)], hx("00060000"),
     {"vtep_group_label_type": 3}),
    ("OVLL2_GenOptDataLabelActiveMbrVtep", [("flags_high", 0x1F)], hx("00f80000"), {"flags_high": 0x1F}),
    ("ovl_INTPathwatchMeta", [("eta", 0x0102), ("slot", 0xAA), ("flag", _libfc.PATHWATCH_META_REVERSE)],
     bytes(12) + hx("0201aa02"), {}),
    ("ovl_INTPathwatchMeta", [("sessionId", 2**64 - 2)], hx("feffffffffffffff") + bytes(8), {}),
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


def test_ipv4_version_out_of_range_changes_nothing():
    rec = _libfc.new_hyp_IPv4Hdr()
    _libfc.hyp_IPv4Hdr_headerLength_set(rec, 5)
    with pytest.raises(OverflowError) as info:
        _libfc.hyp_IPv4Hdr_version_set(rec, 256)
    assert str(info.value) == arg2_message("hyp_IPv4Hdr_version_set", "hyp_uint8")
    assert raw(rec, 20) == hx("05") + bytes(19)


def test_pathwatch_meta_inside_the_option_is_unaligned():
    option = _libfc.new_OVLL2_GenOptDataPathwatch()
    meta = _libfc.OVLL2_GenOptDataPathwatch_meta_get(option)
    assert addr(meta) == int(option) + 12
    _libfc.ovl_INTPathwatchMeta_sessionId_set(meta, 0x0102030405060708)
    assert raw(option, 28) == bytes(12) + hx("0807060504030201") + bytes(8)
    assert _libfc.ovl_INTPathwatchMeta_sessionId_get(meta) == 0x0102030405060708


def test_bundle_udp_header_sits_where_each_stack_puts_it():
    for name, udp_at, tunnel_field in (("VXLAN_Headers", 34, "vxlanHdr"), ("Geneve_Headers", 34, "geneveHdr"),
                                       ("VXLAN6_Headers", 54, "vxlanHdr"), ("Geneve6_Headers", 54, "geneveHdr")):
        bundle = new(BY_NAME[name])
        udp = getf(name, bundle, "udpHdr")
        assert descriptor_name(udp) == "_p_hyp_UDPHdr" and addr(udp) == int(bundle) + udp_at, name
        _libfc.hyp_UDPHdr_dstPort_set(udp, 0xB512)
        assert raw(bundle, BY_NAME[name].size) == bytes(udp_at + 2) + hx("12b5") + bytes(BY_NAME[name].size - udp_at - 4)
        assert addr(getf(name, bundle, tunnel_field)) == int(bundle) + udp_at + 8, name


def test_geneve_header_setter_copies_the_base_header_only():
    # a Geneve header with an option behind it: only the 8 base bytes go into the bundle
    source = _libfc.new_Geneve_Headers()
    poke(source, 0, bytes(range(1, 51)))
    bundle = _libfc.new_Geneve_Headers()
    _libfc.Geneve_Headers_geneveHdr_set(bundle, _libfc.Geneve_Headers_geneveHdr_get(source))
    assert raw(bundle, 50) == bytes(42) + bytes(range(43, 51))
    with pytest.raises(TypeError) as info:
        _libfc.VXLAN_Headers_ipHdr_set(_libfc.new_VXLAN_Headers(), _libfc.new_hyp_IPv6Hdr())
    assert str(info.value) == arg2_message("VXLAN_Headers_ipHdr_set", "hyp_IPv4Hdr *")


# --- bytes without accessor ---------------------------------------------------

def covered_bytes(record):
    covered = set()
    for f in record.fields:
        if f.kind in ("zarray", "ro_zarray"):
            continue
        covered.update(range(f.offset, f.offset + f.width))
    return covered


def zero_source(f):
    """A zero-filled source for an array or nested field (kept alive by the holder)."""
    if f.kind == "nested":
        src = getattr(_libfc, "new_" + f.target[3:])()
        return src, src
    holder = _libfc.new_hyp_SocketAddress()
    return holder, _libfc.hyp_SocketAddress_sa_data_get(holder)


CARRIED = [r for r in HEADER_RECORDS + PORT_RECORDS if len(covered_bytes(r)) < r.size]


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


def test_known_carried_bytes():
    # the bytes other tools rely on being kept: IPv4 type of service and fragment word, the TCP flags,
    # GRE flags, the INT version / length bytes and the Spf option's six reserved bytes
    expected = {"hyp_IPv4Hdr": [1, 6, 7], "hyp_TCPHdr": [13], "hyp_GREHdr": [0, 1], "ovl_INTShimHdr": [0, 3],
                "ovl_INTHdrV1": [0, 1, 2], "ovl_INTHdrV2": [0, 2], "OVLL2_GenOptDataSpf": list(range(6, 12))}
    for name, carried in expected.items():
        record = BY_NAME[name]
        assert sorted(set(range(record.size)) - covered_bytes(record)) == carried, name


# --- variable parts behind the fixed headers ---------------------------------------

VARIABLE = [(r, f) for r in HEADER_RECORDS for f in r.fields if f.kind in ("zarray", "ro_zarray")]


@pytest.mark.parametrize("record,f", VARIABLE, ids=["%s.%s" % (r.name, f.name) for r, f in VARIABLE])
def test_variable_part_starts_at_the_end_of_the_header(record, f):
    rec = new(record)
    got = getter(record, f)(rec)
    assert f.offset == record.size
    assert addr(got) == int(rec) + record.size
    assert descriptor_name(got) == f.target
    assert this_of(got).own() is False
    has_setter = hasattr(_libfc, "%s_%s_set" % (record.name, f.name))
    assert has_setter == f.writable, "%s.%s" % (record.name, f.name)
    if has_setter:
        poke(rec, 0, b"\xa5" * record.size)
        holder = _libfc.new_hyp_MgmtCallbackInfo()  # any hyp_uint32 [..] supplies an unsigned int *
        source = _libfc.hyp_MgmtCallbackInfo_parmSizes_get(holder)
        poke(source, 0, b"\xff" * 16)
        assert setter(record, f)(rec, source) is None
        assert raw(rec, record.size) == b"\xa5" * record.size


# --- INT bitmap conversion ----------------------------------------------------------

@pytest.mark.parametrize("bitmap, mask", [
    (0, 0), (0xFFFF, 0xFFFF), (0x00FF, 0x00FF), (0x0001, 0x0080), (0x0080, 0x0001), (0x0100, 0x8000),
    (0x8000, 0x0100), (0x0003, 0x00C0), (0xC000, 0x0300), (0x1234, 0x482C),
])
def test_bitmap_conversion_reverses_bits_within_each_byte(bitmap, mask):
    assert _libfc.ovl_INTBitmapConvert(bitmap) == mask
    assert _libfc.ovl_INTBitmapConvert(mask) == bitmap


def test_bitmap_conversion_is_its_own_inverse_and_matches_bit_reversal():
    def reference(value):
        low, high = value & 0xFF, value >> 8
        rev = lambda b: int("{:08b}".format(b)[::-1], 2)  # noqa: E731
        return rev(low) | rev(high) << 8
    convert = _libfc.ovl_INTBitmapConvert
    for value in range(65536):
        once = convert(value)
        assert once == reference(value) and convert(once) == value, hex(value)


def test_bitmap_conversion_maps_wire_bits_to_mask_bits():
    header = _libfc.new_ovl_INTHdrV1()
    for wire, bit in ((hx("8000"), 0), (hx("0001"), 15), (hx("4000"), 1), (hx("0080"), 8)):
        poke(header, 4, wire)
        stored = _libfc.ovl_INTHdrV1_insMap_get(header)
        assert _libfc.ovl_INTBitmapConvert(stored) == 1 << bit
        _libfc.ovl_INTHdrV1_insMap_set(header, _libfc.ovl_INTBitmapConvert(1 << bit))
        assert raw(header, 2, 4) == wire


@pytest.mark.parametrize("value, exc_type", [(65536, OverflowError), (-1, OverflowError), (2**70, OverflowError),
                                             (1.0, TypeError), ("1", TypeError), (None, TypeError)])
def test_bitmap_conversion_refuses_non_uint16(value, exc_type):
    with pytest.raises(Exception) as info:
        _libfc.ovl_INTBitmapConvert(value)
    assert type(info.value) is exc_type
    assert str(info.value) == "in method 'ovl_INTBitmapConvert', argument 1 of type 'hyp_uint16'"


def test_bitmap_conversion_checks_its_argument_count_and_arms_the_trap():
    for args in ((), (1, 2)):
        with pytest.raises(TypeError, match="ovl_INTBitmapConvert"):
            _libfc.ovl_INTBitmapConvert(*args)
    status = ctypes.c_int.in_dll(ctypes.CDLL(_libfc.__file__), "exception_status")
    status.value = 9
    assert _libfc.ovl_INTBitmapConvert(True) == 0x80
    assert status.value == 0


def test_bitmap_conversion_stands_after_the_telemetry_records():
    names = list(_libfc.__dict__)
    at = names.index("ovl_INTBitmapConvert")
    assert names[at - 1] == "ovl_INTPathprobeMeta_swigregister"
    assert names[at + 1] == "VXLAN_Headers_ethHdr_set"


# --- switch port records --------------------------------------------------------------

def test_port_id_takes_exactly_48_bytes():
    port = _libfc.new_DVPortData()
    text = "".join(chr(ord("a") + i % 26) for i in range(48))
    _libfc.DVPortData_dvPortId_set(port, text)
    _libfc.DVPortData_connectId_set(port, 0xFFFFFFFF)
    assert _libfc.DVPortData_dvPortId_get(port) == text
    assert raw(port, 52) == text.encode() + b"\xff" * 4
    with pytest.raises(TypeError) as info:
        _libfc.DVPortData_dvPortId_set(port, text + "x")
    assert str(info.value) == "in method 'DVPortData_dvPortId_set', argument 2 of type 'char [48]'"
    assert raw(port, 52) == text.encode() + b"\xff" * 4


def test_external_id_is_zero_padded():
    port = _libfc.new_OpaqueDVPortData()
    poke(port, 0, b"\x77" * 176)
    _libfc.OpaqueDVPortData_externalId_set(port, "abc")
    assert _libfc.OpaqueDVPortData_externalId_get(port) == "abc"
    assert raw(port, 176) == b"\x77" * 48 + b"abc" + bytes(125)
    with pytest.raises(TypeError) as info:
        _libfc.OpaqueDVPortData_externalId_set(port, "e" * 129)
    assert str(info.value) == "in method 'OpaqueDVPortData_externalId_set', argument 2 of type 'char [128]'"


def test_new_port_list_is_empty_and_invalid():
    ports = _libfc.new_DVPortList()
    assert _libfc.DVPortList_nports_get(ports) == 0
    assert _libfc.DVPortList_type_get(ports) == _libfc.DVSPORT_TYPE_INVALID
    first = _libfc.DVPortList_dvPort_get(ports)
    assert isinstance(first, libfc.DVPortData)
    assert _libfc.DVPortData_dvPortId_get(first) == "" and _libfc.DVPortData_connectId_get(first) == 0


def test_port_list_element_is_a_copy_and_a_view():
    ports = _libfc.new_DVPortList()
    _libfc.DVPortList_nports_set(ports, 1)
    _libfc.DVPortList_type_set(ports, _libfc.DVSPORT_TYPE_SHADOW)
    source = _libfc.new_DVPortData()
    _libfc.DVPortData_dvPortId_set(source, "port-1")
    _libfc.DVPortData_connectId_set(source, 77)
    _libfc.DVPortList_dvPort_set(ports, source)
    _libfc.DVPortData_dvPortId_set(source, "changed")
    element = _libfc.DVPortList_dvPort_get(ports)
    assert addr(element) == int(ports) + 8
    assert _libfc.DVPortData_dvPortId_get(element) == "port-1"
    _libfc.DVPortData_connectId_set(element, 0x01020304)
    assert raw(ports, 60) == hx("01000000") + hx("02000000") + b"port-1" + bytes(42) + hx("04030201")
    assert source.own() is True


def test_port_list_type_takes_any_int_and_element_refuses_other_records():
    ports = _libfc.new_DVPortList()
    _libfc.DVPortList_type_set(ports, -7)
    assert _libfc.DVPortList_type_get(ports) == -7
    with pytest.raises(TypeError) as info:
        _libfc.DVPortList_dvPort_set(ports, _libfc.new_OpaqueDVPortData())
    assert str(info.value) == "in method 'DVPortList_dvPort_set', argument 2 of type 'DVPortData [1]'"
    with pytest.raises(ValueError) as info:
        _libfc.DVPortList_dvPort_set(ports, None)
    assert str(info.value) == "invalid null reference in variable 'dvPort' of type 'DVPortData [1]'"


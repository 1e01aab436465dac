"""Records of the companion package as Python values: memory images, repr,
equality, copies, pickling, keyword construction, plain data, refusals a
user can act on, hardware and IP address fields, and a quiet interpreter
exit."""

import copy
import ipaddress
import json
import pickle
import random
import re

import _libfc
import _libfc_fields
import pytest

import libfc
from _helpers import poke, raw, run_python, run_python_ok
from _records import BY_NAME, RECORDS

CLASSES = [getattr(libfc, record.name) for record in RECORDS]


def fields_of(cls):
    return [(name, f) for name, f in vars(cls).items() if isinstance(f, _libfc_fields.field)]


def pointer_offsets(name, base=0):
    """Offsets of every pointer in a record, nested ones included."""
    found = []
    for f in BY_NAME[name].fields:
        if f.kind in ("ptr", "void", "text"):
            found.append(base + f.offset)
        elif f.kind in ("nested", "ro_nested", "array") and f.target[3:] in BY_NAME:
            for i in range(f.count or 1):
                found += pointer_offsets(f.target[3:], base + f.offset + i * (f.elem_width or f.width))
    return found


def filled(cls, seed):
    """A record of cls full of printable bytes (texts stay UTF-8), its
    pointers null."""
    rng = random.Random(seed)
    image = bytearray(rng.randrange(0x20, 0x7F) for _ in range(cls._size_))
    for offset in pointer_offsets(cls.__name__):
        image[offset : offset + 8] = bytes(8)
    return cls.from_bytes(image)


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_values_round_trip(cls):
    record = filled(cls, cls.__name__)
    image = bytes(record)
    assert image == raw(record, cls._size_)  # bytes() is the memory image
    # repr names the type and every plain field in order, each as its field reads it (a later union
    # member may have changed an earlier one's bytes); a record's own method stands.
    own_repr = getattr(_libfc, cls.__name__ + "___repr__", None)
    plain = ", ".join("%s=%r" % (f.name, getattr(record, f.name)) for f in BY_NAME[cls.__name__].fields
                      if f.kind in ("uint", "int", "bool", "chars", "bits", "hwaddr"))
    assert repr(record) == (own_repr(record) if own_repr else "%s(%s)" % (cls.__name__, plain))
    made_from_bytes = [cls.from_bytes(source) for source in (bytearray(image), memoryview(image))]
    for twin in (copy.copy(record), copy.deepcopy(record), pickle.loads(pickle.dumps(record)), *made_from_bytes):
        assert type(twin) is cls and twin.thisown and twin.this != record.this
        assert twin == record and not twin != record
        assert bytes(twin) == image
    assert made_from_bytes[0].this != made_from_bytes[1].this
    for length in (0, cls._size_ - 1, cls._size_ + 1, 2 * cls._size_):
        with pytest.raises(ValueError) as info:
            cls.from_bytes(bytes(length))
        assert str(info.value) == "%s.from_bytes: expected %d bytes, got %d" % (cls.__name__, cls._size_, length)
    for value in (cls._size_, None, "x" * cls._size_):  # only bytes-like objects
        with pytest.raises(TypeError):
            cls.from_bytes(value)
    # Plain data holds the fields, not the padding between them.
    data = record.to_dict()
    rebuilt = cls.from_dict(json.loads(json.dumps(data)))
    assert type(rebuilt) is cls and rebuilt.to_dict() == data
    twin = copy.copy(record)
    poke(twin, 0, bytes([image[0] ^ 0xFF]))
    assert twin != record and bytes(record) == image
    with pytest.raises(TypeError):
        hash(record)


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_plain_data_keeps_every_byte(cls):
    # Any bytes, pointers aside: texts that are not UTF-8, bytes no field reads, full 64-bit longs.
    for seed in range(4):
        rng = random.Random("%s %d" % (cls.__name__, seed))
        image = bytearray(rng.getrandbits(8) for _ in range(cls._size_))
        for offset in pointer_offsets(cls.__name__):
            image[offset : offset + 8] = bytes(8)
        record = cls.from_bytes(image)
        assert repr(record).startswith(cls.__name__) or cls is libfc.hyp_Name
        data = record.to_dict()
        for twin in (cls.from_dict(data), cls.from_dict(json.loads(json.dumps(data))), cls(**data),
                     cls.from_bytes(bytes(record))):
            assert bytes(twin) == image, (seed, data)


def test_texts_that_are_not_utf8_and_bytes_without_field_read_back():
    name = libfc.hyp_Name.from_bytes(b"\xff" * 32)
    assert repr(name) == "\\xff" * 32 and name.to_dict() == {"string": "\udcff" * 32}
    header = libfc.hyp_IPv4Hdr.from_dict({"ttl": 9, "_carried": {"1": "b8"}})
    assert header.net.tos == 184 and header.to_dict()["_carried"] == {"1": "b8"}
    for carried, error in (({"2": "ff"}, ValueError), ({"1": "b8b8"}, ValueError), ("b8", TypeError)):
        with pytest.raises(error, match=r"hyp_IPv4Hdr\._carried"):
            libfc.hyp_IPv4Hdr.from_dict({"_carried": carried})
    with pytest.raises(ValueError, match="no field '_carried'"):
        libfc.hyp_EthHdr.from_dict({"_carried": {}})


def test_equality_needs_the_same_class():
    a, b = libfc.hyp_EthHdr(), libfc.hyp_EthHdrIOC()  # same size, all zero
    assert bytes(a) == bytes(b) and a != b and a == libfc.hyp_EthHdr()


@pytest.mark.parametrize("cls, offset, path", [
    (libfc.FC_InvalData, 0, "psName"),
    (libfc.FC_VDL2ActionContext, 16, "ctx[1].ptr"),
    (libfc.FC_ActionEntityAttr, 152, "clientData.vdrData.vdrActions[0].actCtx.clientHdl"),
])
def test_pointers_never_travel_as_data(cls, offset, path):
    record = cls()
    pickle.dumps(record)  # null pointers are plain zero bytes
    poke(record, offset, (0x1234).to_bytes(8, "little"))
    refusal = r"cannot %%s: its field %s holds a pointer, which means nothing in another process$" % re.escape(path)
    with pytest.raises(TypeError, match=refusal % ("pickle " + cls.__name__)):
        pickle.dumps(record)
    made = refusal % ("make %s from data" % cls.__name__)
    image = bytes(record)
    for make in (cls.from_bytes, lambda image: libfc._values._unpickle(cls, image)):
        with pytest.raises(ValueError, match=made):
            make(image)
    if path != "psName":  # (a text the record does not own would be read)
        with pytest.raises(ValueError, match=made):
            cls.from_dict(record.to_dict())
        # A live record's copies hold the address, as C assignment would.
        assert copy.copy(record) == record == copy.deepcopy(record)
    poke(record, offset, bytes(8))


# The crashes of plain data taken as addresses, each in a child so that a crash fails only its case.
@pytest.mark.parametrize("code", [
    "libfc.FC_ClientData.from_dict({'vdl2EncapData': 0x4141414141}).vdl2EncapData.to_dict()",
    "pickle.loads(pickle.dumps(Payload(libfc.FC_InvalData, b'AAAAA\\0\\0\\0'))).psName",
    "a = libfc.FC_InvalData(psName='hello'); b = libfc.FC_InvalData.from_bytes(bytes(a)); del a; b.psName",
    "libfc.FC_InvalData(invalidationData={'vdrId': 0x41414141}).psName",  # an integer overlaying a pointer
    "libfc.FC_ActionEntityAttr.from_dict({'clientData': {'vdrData': {'vdrActions': [{}, {'actCtx': {'clientHdl': 7}}, {}]}}})",
])
def test_addresses_in_data_are_refused(code):
    result = run_python("""
        import pickle, libfc, libfc._values

        class Payload:
            def __init__(self, *args):
                self.args = args

            def __reduce__(self):
                return (libfc._values._unpickle, self.args)

        try:
            %s
        except ValueError as error:
            print(error)
        """ % code)
    assert result.returncode == 0, result.stderr[-3000:]
    assert re.fullmatch(r"cannot make \w+ from data: its field \S+ holds a pointer, which means nothing in another "
                        r"process\n", result.stdout), result.stdout


def test_copy_of_an_owned_text_has_its_own_text():
    original = libfc.FC_InvalData(psName="portset-0")
    for twin in (copy.copy(original), copy.deepcopy(original)):
        assert twin.psName == "portset-0" and raw(twin, 8) != raw(original, 8)
        twin.psName = "other"
    assert original.psName == "portset-0"
    twin = copy.copy(original)
    del original  # frees its text: the copy's stays
    assert twin.psName == "portset-0"


def test_keyword_construction_and_the_runtime_attributes():
    key = libfc.FC_FlowKey(portID=5, vni=7, l2Key={"daddr": "02:00:00:aa:bb:cc"})
    assert (key.portID, key.vni, key.l2Key.daddr, key.proto) == (5, 7, "02:00:00:aa:bb:cc", 0)
    # Declaration order, whatever the keywords' order: ipv6Key overlays ipv4Key.
    union = libfc.FC_FlowKey_ipKey(ipv6Key={"sip": "2001:db8::1"}, ipv4Key={"sip": "10.0.0.1"})
    assert union.ipv6Key.sip_addr == ipaddress.IPv6Address("2001:db8::1")
    # The runtime's own attributes still take values.
    key.thisown = False
    assert not key.thisown
    key.thisown = True
    key._holder = None
    view = libfc.FC_FlowKey.__new__(libfc.FC_FlowKey)
    view.this = key.this
    assert view.this is key.this
    # A read-only field keeps the interpreter's own refusal (worded by version).
    with pytest.raises(AttributeError, match="has no setter|can't set attribute"):
        key.ipKey = key.ipKey


# A name that is no field, set, given as a keyword or in plain data, with the nearest field's name.
@pytest.mark.parametrize("refused, error, message", [
    (lambda: setattr(libfc.FC_FlowKey(), "portid", 1), AttributeError,
     "FC_FlowKey has no field 'portid'; did you mean 'portID'?"),
    (lambda: setattr(libfc.FC_IOCFlows(), "numentries", 1), AttributeError,  # a sequence record
     "FC_IOCFlows has no field 'numentries'; did you mean 'numEntries'?"),
    (lambda: setattr(libfc.hyp_IPv4Hdr(), "saddr_adr", 1), AttributeError,
     "hyp_IPv4Hdr has no field 'saddr_adr'; did you mean 'saddr_addr'?"),
    (lambda: setattr(libfc.hyp_EthHdr(), "zzzzzz", 1), AttributeError, "hyp_EthHdr has no field 'zzzzzz'"),
    (lambda: libfc.FC_FlowKey(vni=1, portid=5), TypeError,
     "FC_FlowKey.__init__() got an unexpected keyword argument 'portid'; did you mean 'portID'?"),
    (lambda: libfc.FC_FlowKey.from_dict({"vnid": 1}), ValueError,
     "FC_FlowKey.from_dict: no field 'vnid'; did you mean 'vni'?"),
])
def test_unknown_names_are_refused_naming_the_nearest_field(refused, error, message):
    with pytest.raises(error) as raised:
        refused()
    assert str(raised.value) == message


class KeySubclass(libfc.FC_FlowKey):
    pass


@pytest.mark.parametrize("make, field, value, error, message", [
    (libfc.FC_FlowEntryIOC, "flowId", -1, TypeError, "FC_FlowEntryIOC.flowId: -1 is outside 0..18446744073709551615"),
    (libfc.FC_FlowKey, "portID", "5", TypeError, "FC_FlowKey.portID: expected int, got str"),
    (KeySubclass, "portID", "5", TypeError, "FC_FlowKey.portID: expected int, got str"),
    (KeySubclass, "portID", 1 << 32, OverflowError, "FC_FlowKey.portID: 4294967296 is outside 0..4294967295"),
    (libfc.hyp_IPv4Hdr, "ttl", 256, OverflowError, "hyp_IPv4Hdr.ttl: 256 is outside 0..255"),
    (libfc.hyp_IPv4Hdr, "version", -1, OverflowError, "hyp_IPv4Hdr.version: -1 is outside 0..255"),
    (libfc.hyp_MgmtCallbackInfo, "location", 1 << 31, OverflowError,
     "hyp_MgmtCallbackInfo.location: 2147483648 is outside -2147483648..2147483647"),
    (libfc.FC_InvalEntity, "refCount", 1 << 63, OverflowError,
     "FC_InvalEntity.refCount: 9223372036854775808 is outside 0..9223372036854775807"),
    (libfc.hyp_MgmtCallbackInfo, "synchronous", "ab", TypeError,
     "hyp_MgmtCallbackInfo.synchronous: 'ab' is not one byte"),
    (libfc.hyp_Name, "string", "x" * 33, TypeError, "hyp_Name.string: '" + "x" * 33 + "' is longer than 32 bytes"),
    (libfc.FC_FlowKey, "l2Key", 5, TypeError, "FC_FlowKey.l2Key: expected FC_l2Key, got int"),
    (libfc.hyp_String, "buffer", 5, TypeError, "hyp_String.buffer: expected "),
    (libfc.FC_l2Key, "daddr", 5, TypeError, "FC_l2Key.daddr: expected a hardware address"),
])
def test_refusals_name_class_field_and_range(make, field, value, error, message):
    record = make()
    before = bytes(record)
    with pytest.raises(error) as raised:
        setattr(record, field, value)
    assert str(raised.value).startswith(message)
    assert bytes(record) == before


HW_FIELDS = [
    (cls, name)
    for cls in CLASSES
    for name, f in fields_of(cls)
    if _libfc_fields.kinds[f.layout[0]] == "HwAddr"
]


@pytest.mark.parametrize("cls, name", HW_FIELDS, ids=lambda x: getattr(x, "__name__", x))
def test_hardware_address_fields_take_text_and_bytes(cls, name):
    a, b = cls(), type("Sub", (cls,), {})()  # the subclass takes the property path
    assert getattr(a, name) == "00:00:00:00:00:00"
    for given, read in (("02:00:00:AA:bb:cc", "02:00:00:aa:bb:cc"), ("02-00-00-00-00-01", "02:00:00:00:00:01"),
                        (bytes.fromhex("0a0b0c0d0e0f"), "0a:0b:0c:0d:0e:0f"), (libfc.mac("01:02:03:04:05:06"),
                                                                              "01:02:03:04:05:06")):
        setattr(a, name, given)
        assert getattr(a, name) == read
    setattr(b, name, getattr(a, name))
    assert getattr(b, name) == "01:02:03:04:05:06"
    for bad in ("01:02:03:04:05", "01:02-03:04:05:06", "0g:02:03:04:05:06", b"\x01" * 5, "é" * 17):
        with pytest.raises(ValueError, match="%s.%s: " % (cls.__name__, name)):
            setattr(b, name, bad)
    assert getattr(b, name) == "01:02:03:04:05:06"


ADDRESS_FIELDS = [
    (cls, name)
    for cls in CLASSES
    for name, attribute in vars(cls).items()
    if isinstance(attribute, libfc._addresses.AddressField)
]


@pytest.mark.parametrize("cls, name", ADDRESS_FIELDS, ids=lambda x: getattr(x, "__name__", x))
def test_ip_address_helpers(cls, name):
    record = cls()
    version = getattr(cls, name).version
    address = ipaddress.ip_address("192.0.2.33" if version == 4 else "2001:db8::21")
    setattr(record, name, str(address))
    assert getattr(record, name) == address
    raw_field = getattr(record, name[: -len("_addr")])
    if version == 4:
        assert raw_field == libfc.ipv4("192.0.2.33")
    else:
        assert bytes(libfc.Octets(address.packed)) == raw(raw_field, 16)
    other = ipaddress.ip_address("::1" if version == 4 else "10.0.0.1")
    with pytest.raises(TypeError, match="%s.%s: expected IPv%dAddress" % (cls.__name__, name, version)):
        setattr(record, name, other)
    with pytest.raises(ValueError, match="not an IPv%d address" % version):
        setattr(record, name, "nonsense")
    if version == 6:  # sixteen bytes hold no scope
        for scoped in ("fe80::1%eth0", ipaddress.IPv6Address("fe80::1%7")):
            with pytest.raises(ValueError, match=r"%s\.%s: 'fe80::1%%\w+' has a scope" % (cls.__name__, name)):
                setattr(record, name, scoped)
        assert getattr(record, name) == address
        with pytest.raises(ValueError, match=r"ipv6\(\): 'fe80::1%eth0' has a scope"):
            libfc.ipv6("fe80::1%eth0")


def test_six_byte_arrays_are_hardware_addresses_and_address_helpers_are_documented():
    assert (libfc.hyp_EthHdr, "daddr") in HW_FIELDS and (libfc.hyp_ArpHdr, "tha") in HW_FIELDS
    assert len(HW_FIELDS) == 20
    assert len(ADDRESS_FIELDS) >= 14
    assert "saddr_addr, daddr_addr: saddr, daddr as ipaddress objects" in libfc.hyp_IPv4Hdr.__doc__


def test_no_leak_line_at_exit():
    result = run_python_ok(
        """
        import libfc
        from libfc import _record

        freed = []

        class Key(libfc.FC_FlowKey):
            __slots__ = ()

            @staticmethod
            def __swig_destroy__(pointer):
                freed.append(int(pointer))
                libfc.FC_FlowKey.__swig_destroy__(pointer)

        key = Key(portID=3)
        address = int(key.this)
        _record._release_at_exit()
        assert not key.thisown and key.portID == 3
        del key
        assert freed == [address], freed

        class Holder:
            pass

        holder = Holder()
        holder.cycle = holder
        holder.records = [libfc.FC_FlowKey(vni=1), libfc.FC_FlowEntryIOC(), libfc.FC_InvalData(psName="x")]
        holder.view = libfc.FC_FlowEntryIOC().fkey
        holder.octets = libfc.mac("02:00:00:aa:bb:cc")
        print("end")
        """
    )
    assert result.stdout == "end\n"

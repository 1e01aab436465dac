"""Conversion of Python values into record fields and back, over every field
of its kind: the integer widths with their exact range edges and the
exception raised for each kind of failure, the one-byte hyp_Bool, fixed-size
character arrays, and the messages naming method, argument and C type for a
wrong record or a wrong pointer. A failed conversion leaves the record
untouched.
"""

import weakref

import pytest

import _libfc
import libfc  # noqa: F401  (registers the record classes, as scripts do)

from _helpers import poke, raw
from _layout import nargs
from _records import (BY_NAME, RECORDS, all_fields, arg1_message, arg2_message, field_id, getter, method_names,
                      new, setter)


class IntSub(int):
    """An int subclass; accepted wherever an int is."""


class Indexable:
    """Not an int, even though it can act as an index: always refused."""

    def __index__(self):
        return 1

    def __int__(self):
        return 1


# Values each integer width stores and reads back unchanged.
ACCEPTED = {
    ("uint", 8): [0, 1, 127, 128, 255, True, False, IntSub(200)],
    ("uint", 16): [0, 1, 255, 256, 65535, True, IntSub(40000)],
    ("uint", 32): [0, 1, 65536, 2**31, 4294967295, True, IntSub(2**32 - 2)],
    ("uint", 64): [0, 1, 2**32, 2**63 - 1, 2**63, 2**64 - 1, True, IntSub(2**64 - 2)],
    ("uint", 63): [0, 1, 2**32, 2**63 - 1, True, IntSub(2**63 - 2)],  # unsigned long
    ("int", 32): [-2147483648, -1, 0, 1, 2147483647, True, IntSub(-5)],
}

# Values out of range, with the exception each width raises for them.
# 64-bit unsigned fields report a type error, not an overflow.
OUT_OF_RANGE = {
    ("uint", 8): (OverflowError, [256, -1, 2**31, 2**63 - 1, 2**63, 2**64, 2**80, -(2**80)]),
    ("uint", 16): (OverflowError, [65536, -1, 2**32, 2**63, 2**64, 2**80]),
    ("uint", 32): (OverflowError, [4294967296, -1, 2**63, 2**64, 2**80]),
    ("uint", 64): (TypeError, [-1, 2**64, 2**64 + 1, 2**80, -(2**80)]),
    ("uint", 63): (OverflowError, [2**63, 2**64 - 1, -1, 2**64, 2**80]),
    ("int", 32): (OverflowError, [2147483648, -2147483649, 2**32, 2**63, -(2**63) - 1, 2**64, 2**80, -(2**80)]),
}

# Objects of the wrong kind: refused by every integer field with TypeError.
WRONG_KIND = [1.0, 3.0, 0.5, "1", "", None, b"\x01", bytearray(b"\x01"), 1j, [1], Indexable()]

INTEGER_FIELDS = all_fields({"uint", "int"})


@pytest.mark.parametrize("record,f", INTEGER_FIELDS, ids=map(field_id, INTEGER_FIELDS))
def test_integer_field_stores_range_edges_and_refuses_out_of_range_and_wrong_kinds(record, f):
    rec = new(record)
    for value in ACCEPTED[(f.kind, f.bits)]:
        assert setter(record, f)(rec, value) is None
        got = getter(record, f)(rec)
        assert type(got) is int and got == int(value), "set to %r, reads back %r" % (value, got)
        stored = int(value).to_bytes(f.width, "little", signed=(f.kind == "int"))
        assert raw(rec, f.width, f.offset) == stored, "set to %r: wrong bytes at offset %d" % (value, f.offset)
    setter(record, f)(rec, 7)
    before = raw(rec, record.size)
    exc_type, values = OUT_OF_RANGE[(f.kind, f.bits)]
    refusals = [(v, exc_type) for v in values] + [(v, TypeError) for v in WRONG_KIND + [new(BY_NAME["hyp_String"])]]
    for value, expected in refusals:
        with pytest.raises(Exception) as info:
            setter(record, f)(rec, value)
        assert type(info.value) is expected, "%s.%s set to %r raised %r" % (record.name, f.name, value, info.value)
        assert str(info.value) == arg2_message("%s_%s_set" % (record.name, f.name), f.ctype)
        assert raw(rec, record.size) == before, "%s.%s changed by refused %r" % (record.name, f.name, value)


# --- hyp_Bool: one byte, given as a one-byte str, "", None or 0..255 ---------

SYNC = BY_NAME["hyp_MgmtCallbackInfo"].field("synchronous")


# Each value with the byte it stores or the exception refusing it. A trailing
# zero character still counts; "\u00e9" is one character of two UTF-8 bytes.
@pytest.mark.parametrize("value, outcome", [
    ("A", 65), ("\x01", 1), ("\x7f", 127), ("\x00", 0), ("", 0), (None, 0),
    (0, 0), (1, 1), (65, 65), (255, 255), (True, 1), (IntSub(66), 66)] + [(v, TypeError) for v in (
        "AB", "A\x00", "\x00\x00", "A" * 1000, "\u00e9", "\u20ac", b"A", bytearray(b"A"), 1.0, Indexable())]
    + [(v, OverflowError) for v in (256, 300, -1, 2**63, 2**80)])
def test_bool_field_stores_one_byte_or_refuses_and_keeps_it(value, outcome):
    rec = _libfc.new_hyp_MgmtCallbackInfo()
    poke(rec, SYNC.offset, b"\x55")
    if isinstance(outcome, int):
        assert _libfc.hyp_MgmtCallbackInfo_synchronous_set(rec, value) is None
    else:
        with pytest.raises(Exception) as info:
            _libfc.hyp_MgmtCallbackInfo_synchronous_set(rec, value)
        assert type(info.value) is outcome, repr(info.value)
        assert str(info.value) == arg2_message("hyp_MgmtCallbackInfo_synchronous_set", "hyp_Bool")
        outcome = 0x55
    assert raw(rec, 64) == bytes(SYNC.offset) + bytes([outcome]) + bytes(64 - SYNC.offset - 1)  # neighbours untouched
    if outcome < 0x80:
        assert _libfc.hyp_MgmtCallbackInfo_synchronous_get(rec) == chr(outcome)
    else:  # a byte above ASCII is not a character of its own
        with pytest.raises(UnicodeDecodeError):
            _libfc.hyp_MgmtCallbackInfo_synchronous_get(rec)


# --- char [N]: every character array field -------------------------------------------

CHAR_ARRAYS = all_fields({"chars"})


def _stored(text, n):
    return text.encode() + bytes(n - len(text.encode()))


# (text for a field of N bytes, what the getter gives back); the field
# holds the text's UTF-8 bytes zero-filled, without a terminator at N bytes.
CHAR_ARRAY_TEXTS = [
    (lambda n: "ab", "ab"),
    (lambda n: "".join(chr(ord("a") + i % 26) for i in range(n)), None),  # exactly N bytes
    (lambda n: "\u00e9" * (n // 2), None),                                 # N bytes of two-byte characters
    (lambda n: "z" * (n - 2) + "\u00e9", None),                            # the last two bytes one character
    (lambda n: "ab\x00cd", "ab\x00cd"),                                   # inner zero characters are kept
    (lambda n: "ab\x00\x00", "ab"),                                       # trailing zero bytes dropped on read
    (lambda n: "", ""),
]


@pytest.mark.parametrize("make, read", CHAR_ARRAY_TEXTS, ids=["short", "n_ascii", "n_utf8", "n_mixed",
                                                              "inner_zero", "trailing_zeros", "empty"])
@pytest.mark.parametrize("record,f", CHAR_ARRAYS, ids=map(field_id, CHAR_ARRAYS))
def test_char_array_stores_texts_of_up_to_n_bytes(record, f, make, read):
    rec = new(record)
    poke(rec, 0, b"\x41" * record.size)
    text = make(f.count)
    assert setter(record, f)(rec, text) is None
    image = b"\x41" * f.offset + _stored(text, f.count) + b"\x41" * (record.size - f.offset - f.count)
    assert raw(rec, record.size) == image
    assert getter(record, f)(rec) == (text if read is None else read)


CHAR_ARRAY_REFUSALS = [
    lambda n: "x" * (n + 1), lambda n: "x" * (n + 2), lambda n: "x" * (n + 100),
    lambda n: "a" * n + "\x00", lambda n: "ab\x00" + "c" * n, lambda n: "\x00" * (n + 1),  # zeros count
    lambda n: "\u00e9" * (n // 2 + 1), lambda n: "a" * (n - 1) + "\u00e9",                 # UTF-8 bytes count
    lambda n: "a\ud800b", lambda n: b"ab", lambda n: bytearray(b"ab"), lambda n: 5, lambda n: 1.5,
    lambda n: ["ab"],
]


@pytest.mark.parametrize("record,f", CHAR_ARRAYS, ids=map(field_id, CHAR_ARRAYS))
def test_char_array_refusals_leave_the_field(record, f):
    rec = new(record)
    setter(record, f)(rec, "keep")
    before = raw(rec, record.size)
    for make in CHAR_ARRAY_REFUSALS:
        with pytest.raises(TypeError) as info:
            setter(record, f)(rec, make(f.count))
        assert str(info.value) == arg2_message("%s_%s_set" % (record.name, f.name), f.ctype), make(f.count)
        assert raw(rec, record.size) == before
    assert setter(record, f)(rec, None) is None  # None clears it
    assert raw(rec, record.size) == bytes(record.size)
    poke(rec, f.offset, b"a\xffb")
    with pytest.raises(UnicodeDecodeError):
        getter(record, f)(rec)


def test_name_repr_stops_at_the_first_zero_byte():
    name = libfc.hyp_Name()
    for text, shown in (("ab\x00cd", "ab"), ("0123456789abcdefghijklmnopqrstuv", None), ("", "")):
        name.string = text
        assert _libfc.hyp_Name___repr__(name) == repr(name) == (text if shown is None else shown)
    poke(name, 0, b"ok\xfe")
    with pytest.raises(UnicodeDecodeError):
        _libfc.hyp_Name___repr__(name)


# --- argument 1: the record ------------------------------------------------

class NoThis:
    pass


class ThisRaises:
    def __init__(self, error=RuntimeError):
        self.error = error

    @property
    def this(self):
        raise self.error("this is not available")


# Every method that takes the record as its first argument.
ARG1_METHODS = [(r, m, 2 if m.endswith("_set") else nargs(m)) for r in RECORDS for m in method_names(r)
                if not m.startswith("new_") and not m.endswith("_swigregister")]


@pytest.mark.parametrize("record,method,nargs", ARG1_METHODS, ids=[m for _, m, _ in ARG1_METHODS])
def test_argument_1_must_be_the_record(record, method, nargs):
    fn = getattr(_libfc, method)
    expected = arg1_message(method, record.name)
    foreign = _libfc.new_hyp_ListLinks() if record.name == "hyp_String" else _libfc.new_hyp_String()
    # a failed lookup of "this" means no pointer, whatever it raised
    for bad in (foreign, 0, 1.5, "rec", b"rec", NoThis(), ThisRaises(), ThisRaises(MemoryError),
                ThisRaises(KeyboardInterrupt)):
        # argument 1 is checked first, whatever argument 2 is
        args = (bad,) + (object(),) * (nargs - 1)
        with pytest.raises(TypeError) as info:
            fn(*args)
        assert str(info.value) == expected, "%s given %r" % (method, bad)


TYPED_POINTER_FIELDS = all_fields({"ptr", "nested", "array", "zarray"})


@pytest.mark.parametrize("record,f", TYPED_POINTER_FIELDS, ids=map(field_id, TYPED_POINTER_FIELDS))
def test_pointer_argument_2_refuses_other_types(record, f):
    method = "%s_%s_set" % (record.name, f.name)
    rec = new(record)
    before = raw(rec, record.size)
    # a record type no field here expects, plain numbers, text and objects without a pointer
    for bad in (_libfc.new_hyp_IntrInfo(), 0, 12345, "x", NoThis(), ThisRaises()):
        with pytest.raises(TypeError) as info:
            setter(record, f)(rec, bad)
        assert str(info.value) == arg2_message(method, f.ctype), "%s given %r" % (method, bad)
    assert raw(rec, record.size) == before


def test_each_refusal_is_a_new_exception_that_keeps_nothing_alive():
    header = _libfc.new_hyp_IPv4Hdr()

    def caught():
        local = libfc.FC_FlowKey()  # lives as long as this frame does
        try:
            _libfc.hyp_IPv4Hdr_ttl_set(header, 256)
        except OverflowError as e:
            return e, weakref.ref(local)

    try:
        raise KeyError("handled")
    except KeyError:
        dirty, _ = caught()
    assert isinstance(dirty.__context__, KeyError)
    dirty.__cause__ = ValueError("cause")
    dirty.extra = 1
    first_args = dirty.args
    del dirty
    fresh, local = caught()
    assert fresh.__context__ is None and fresh.__cause__ is None and not fresh.__suppress_context__
    assert not hasattr(fresh, "extra") and fresh.__traceback__.tb_next is None
    assert fresh.args == first_args and first_args[0].startswith("in method 'hyp_IPv4Hdr_ttl_set', argument 2 ")
    del fresh
    assert local() is None, "a refusal must not keep the frame that caught it alive"
    _libfc.delete_hyp_IPv4Hdr(header)

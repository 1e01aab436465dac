"""The vocabulary of the record layout tables the tests are driven by: a
record is its size and its fields in declaration order; a field carries its
kind, the C type its setter names in its argument-2 error message, its offset
and width in bytes, and for pointers, arrays and nested records the registry
type of what the getter returns. Helpers shared by every table follow.
"""

from dataclasses import dataclass
from typing import Optional


@dataclass(frozen=True)
class Field:
    name: str
    # uint | int | bool | ptr | void | nested | ro_nested | array | zarray | chars
    # | bits (a bit-field) | hwaddr (six-byte hardware address) | text (owned char *)
    kind: str
    ctype: str  # the C type named by the setter's argument-2 message
    offset: int  # of the field, or of a bit-field's storage unit
    width: int  # bytes occupied in the record (per element for zarray; the unit for bits)
    bits: int = 0  # for integers: 8, 16, 32 or 64; for bit-fields: the field's width
    target: Optional[str] = None  # descriptor name of what a pointer / array getter returns
    count: int = 0  # array length
    elem_width: int = 0  # array element width in bytes
    low_bit: int = 0  # for bit-fields: the lowest bit in the storage unit
    signed: bool = False  # for integers and bit-fields of a signed C type
    read_only: bool = False  # a getter and no setter

    @property
    def writable(self):
        return self.kind != "ro_nested" and not self.read_only


@dataclass(frozen=True)
class Record:
    name: str
    size: int
    fields: tuple
    extras: tuple = ()  # extra methods, in method-table order

    @property
    def descriptor(self):
        return "_p_" + self.name

    def field(self, name):
        for f in self.fields:
            if f.name == name:
                return f
        raise KeyError(name)


class Extra(str):
    """An extra method's name, with the number of arguments it takes (the
    record and, for indexing methods, the index)."""

    def __new__(cls, name, nargs=1):
        self = super().__new__(cls, name)
        self.nargs = nargs
        return self


def nargs(method):
    """Arguments of an extra method: the record, and an index for __getitem__,
    unless its table entry says otherwise."""
    return getattr(method, "nargs", 2 if method.endswith("___getitem__") else 1)


def U(name, ctype, offset, bits):
    return Field(name, "uint", ctype, offset, bits // 8, bits=bits)


def UL(name, ctype, offset):
    """unsigned long: eight bytes, but converted through the signed 64-bit
    range, so it holds at most 2**63 - 1; its 63 value bits tell it apart."""
    return Field(name, "uint", ctype, offset, 8, bits=63)


def I(name, ctype, offset, bits=32):
    return Field(name, "int", ctype, offset, bits // 8, bits=bits, signed=True)


def ARR(name, ctype, offset, target, count, elem_width):
    return Field(name, "array", ctype, offset, count * elem_width, target=target, count=count, elem_width=elem_width)


def BITS(name, ctype, unit_offset, unit_width, low_bit, bits):
    return Field(name, "bits", ctype, unit_offset, unit_width, bits=bits, low_bit=low_bit)


def HW(name, offset, ctype="unsigned char [6]"):
    return Field(name, "hwaddr", ctype, offset, 6, target="_p_unsigned_char", count=6, elem_width=1)


def counters(names, start=0):
    """Consecutive unsigned 64-bit counters."""
    return tuple(U(n, "hyp_uint64", start + 8 * i, 64) for i, n in enumerate(names))


def method_names(record):
    """The module methods of a record in method-table order."""
    names = []
    for f in record.fields:
        if f.writable:
            names.append("%s_%s_set" % (record.name, f.name))
        names.append("%s_%s_get" % (record.name, f.name))
    names.extend(record.extras)
    names += ["new_" + record.name, "delete_" + record.name, record.name + "_swigregister"]
    return names


def arg1_message(method, record_name):
    return "in method '%s', argument 1 of type '%s *'" % (method, record_name)


def arg2_message(method, ctype):
    return "in method '%s', argument 2 of type '%s'" % (method, ctype)


def new(record):
    """A new zero-filled record of the module (an owning pointer object)."""
    import _libfc
    return getattr(_libfc, "new_" + record.name)()


def setter(record, f):
    import _libfc
    return getattr(_libfc, "%s_%s_set" % (record.name, f.name))


def getter(record, f):
    import _libfc
    return getattr(_libfc, "%s_%s_get" % (record.name, f.name))

"""The record layouts the tests are driven by. Names, kinds, C types and
methods are read from the record description files (libfc_module/interface.def
lists them); sizes and offsets are the compiler's, as the companion's field
table reports them (the headers pin each of them with a static_assert). A
record is its size and its fields in declaration order; a field carries its
kind, the C type its setter names in its argument-2 error message, its offset
and width in bytes, and for pointers, arrays and nested records the registry
type of what the getter returns. Helpers shared by the tests follow.
"""

import os
import re
from dataclasses import dataclass
from typing import Optional

import _libfc
import _libfc_fields
import libfc

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# unsigned long converts through the signed 64-bit range, so it holds 63 value bits.
_SIXTY_THREE_BITS = {"hyp_atomic64"}
_SIGNED = 16  # the flag of a signed integer in the companion's conversion code
# A line's kind -> (the kind the module's accessors behave as, the companion's).
_BEHAVES_AS = dict(zip(_libfc_fields.kinds, _libfc_fields.kind_behaviours))


@dataclass(frozen=True)
class Field:
    name: str
    # uint | int | bool | ptr | void | nested | ro_nested | array | zarray | ro_zarray
    # | chars | bits (a bit-field) | hwaddr (six-byte hardware address) | text (owned char *)
    kind: str
    ctype: str  # the C type named by the setter's argument-2 message
    offset: int  # of the field, or of a bit-field's storage unit
    width: int  # bytes occupied in the record (per element for zarray; the unit for bits)
    bits: int = 0  # for integers: 8, 16, 32, 63 or 64; for bit-fields: the field's width
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
    source: str = ""  # the description file

    @property
    def descriptor(self):
        return "_p_" + self.name

    def field(self, name):
        return {f.name: f for f in self.fields}[name]


def _field(macro, args, layout):
    """A field from its description line and the companion's layout of it."""
    if macro == "BITFIELD":
        _, name, ctype, unit_offset, unit, low_bit, bits = args
        return Field(name, "bits", ctype, int(unit_offset), int(unit), bits=int(bits), low_bit=int(low_bit),
                     signed=bool(layout[1] & _SIGNED))
    _, name, line_kind, ctype, value_type = args
    kind, companion_kind = _BEHAVES_AS[line_kind]  # the tests drive the module's accessors
    assert _libfc_fields.kinds[layout[0]] == companion_kind, "%s.%s" % (args[0], name)
    offset, size, count = layout[4:7]
    read_only = macro == "FIELD_RO"
    target = None if value_type == "none" else "_" + value_type
    if kind == "Integer":
        signed = bool(layout[1] & _SIGNED)
        bits = 63 if ctype in _SIXTY_THREE_BITS else 8 * size
        attrs = dict(kind="int" if signed else "uint", width=size, bits=bits, signed=signed)
    elif kind == "Char":
        attrs = dict(kind="bool", width=1)
    elif kind in ("Pointer", "VoidPointer", "OwnedText"):
        attrs = dict(kind={"Pointer": "ptr", "VoidPointer": "void", "OwnedText": "text"}[kind], width=8, target=target)
    elif kind == "Nested":
        attrs = dict(kind="ro_nested" if read_only else "nested", width=size, target=target)
    elif kind == "CharArray":
        attrs = dict(kind="chars", width=count, count=count)
    elif kind == "HwAddr":
        attrs = dict(kind="hwaddr", width=6, target=target, count=6, elem_width=1)
    elif count == 0:  # a flexible array: the record's size leaves it out
        attrs = dict(kind="ro_zarray" if read_only else "zarray", width=size, target=target, elem_width=size,
                     read_only=read_only)
    else:
        attrs = dict(kind="array", width=count * size, target=target, count=count, elem_width=size)
    return Field(name, ctype=ctype, offset=offset, **attrs)


def _record(name, lines, source):
    cls = getattr(libfc, name)
    fields = tuple(_field(macro, args, vars(cls)[args[1]].layout) for macro, args in lines
                   if macro in ("FIELD", "FIELD_RO", "BITFIELD"))
    extras = tuple(args[1] for macro, args in lines if macro in ("METHOD", "ELEMENT_METHOD"))
    return Record(name, cls._size_, fields, extras, source)


def _arguments(text):
    """The comma-separated arguments of a description line, texts unquoted."""
    return [a.strip().strip('"') for a in re.findall(r'"[^"]*"|[^,]+', text)]


def read_records():
    """Every record of the module, in declaration order."""
    with open(os.path.join(ROOT, "libfc_module", "interface.def")) as f:
        sources = re.findall(r"^RECORDS\(\w+,\s*([^,]+),", f.read(), re.M)
    order, lines, record_sources = [], {}, {}
    for source in sources:
        with open(os.path.join(ROOT, source)) as f:
            for m in re.finditer(r"^([A-Z_]+)\((.*)\)\s*$", f.read(), re.M):
                macro, args = m.group(1), _arguments(m.group(2))
                if macro == "RECORD":
                    order.append(args[0])
                    lines[args[0]], record_sources[args[0]] = [], source
                elif macro != "END_RECORD" and order:
                    lines[order[-1]].append((macro, args))
    return tuple(_record(name, lines[name], record_sources[name]) for name in order)


def nargs(method):
    """Arguments of an extra method: the record, and an index for __getitem__."""
    return 2 if method.endswith("___getitem__") else 1


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
    return getattr(_libfc, "new_" + record.name)()


def setter(record, f):
    return getattr(_libfc, "%s_%s_set" % (record.name, f.name))


def getter(record, f):
    return getattr(_libfc, "%s_%s_get" % (record.name, f.name))

"""The base class of every record class: the pieces the binding module relies
on (the ``this`` slot, ``thisown``, ``_attach``) and what Python users expect
of a C record: a readable repr, ``bytes(record)`` and ``X.from_bytes(data)``,
value semantics (``==`` on class and bytes, ``copy``, ``deepcopy``,
``pickle``), keyword construction, ``to_dict()`` and ``X.from_dict()``, and a
refusal naming the nearest field when a name that is no field is set."""

from _libfc_fields import field as _field_type
from _libfc_fields import record_base as _record_base

# Imported where used: importing the package stays cheap (ctypes and typing
# cost more than every record class together). Annotations naming typing-only
# names are quoted rather than deferred with a __future__ import, which would
# import the __future__ module with the package.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, ClassVar, Dict, List, Optional, Tuple, Type, TypeVar

    _R = TypeVar("_R", bound="_Record")

# Field kinds, numbered as the field descriptors' layouts number them.
_INTEGER, _BIT_FIELD, _CHAR, _POINTER, _VOID_POINTER, _NESTED, _ARRAY, _CHAR_ARRAY, _HW_ADDR, _OWNED_TEXT = range(10)
_POINTER_KINDS = (_POINTER, _VOID_POINTER, _OWNED_TEXT)
_POINTER_SIZE = 8


class _Field:
    """One field of a record class, as the value methods walk it."""

    __slots__ = ("name", "kind", "offset", "size", "count", "element", "address")

    def __init__(self, name: str, layout: "Tuple[int, ...]") -> None:
        self.name = name
        self.kind, _, _, _, self.offset, self.size, self.count = layout[:7]
        # The record class of a nested record or of an array's elements.
        self.element: "Optional[Type[_Record]]" = None
        # The "<name>_addr" helper's IP version for an address field, else 0.
        self.address = 0


# Per record class: its fields in declaration order, made on first use.
_tables: "Dict[type, Tuple[_Field, ...]]" = {}


def _fields(cls: "Type[_Record]") -> "Tuple[_Field, ...]":
    table = _tables.get(cls)
    if table is None:
        table = _tables[cls] = _describe(cls)
    return table


def _describe(cls: "Type[_Record]") -> "Tuple[_Field, ...]":
    from ._addresses import AddressField

    namespace: "Dict[str, Any]" = {}
    for klass in reversed(cls.__mro__):
        namespace.update(vars(klass))
    fields = []
    sample = None
    for name, attribute in namespace.items():
        if not isinstance(attribute, _field_type):
            continue
        field = _Field(name, attribute.layout)
        helper = namespace.get(name + "_addr")
        if isinstance(helper, AddressField):
            field.address = helper.version
        if field.kind in (_NESTED, _ARRAY):
            if sample is None:
                sample = cls()
            view = getattr(sample, name)
            if isinstance(view, _Record):
                field.element = type(view)
        fields.append(field)
    return tuple(fields)


_pointer_tables: "Dict[type, List[Tuple[str, int, int]]]" = {}


def _pointers(cls: "Type[_Record]") -> "List[Tuple[str, int, int]]":
    table = _pointer_tables.get(cls)
    if table is None:
        table = _pointer_tables[cls] = _pointer_fields(cls)
    return table


def _pointer_fields(cls: "Type[_Record]", base: int = 0, prefix: str = "") -> "List[Tuple[str, int, int]]":
    """(path, offset, kind) of every pointer within the record, nested
    records and arrays of records included."""
    found = []
    for f in _fields(cls):
        where = base + f.offset
        if f.kind in _POINTER_KINDS:
            found.append((prefix + f.name, where, f.kind))
        elif f.element is not None:
            if f.kind == _NESTED:
                found += _pointer_fields(f.element, where, prefix + f.name + ".")
            else:
                for i in range(f.count):
                    found += _pointer_fields(f.element, where + i * f.size, "%s%s[%d]." % (prefix, f.name, i))
    return found


def _nearest(name: str, candidates: "List[str]") -> str:
    import difflib

    close = difflib.get_close_matches(name, candidates, n=1)
    return "; did you mean %r?" % close[0] if close else ""


def _names(cls: "Type[_Record]") -> "List[str]":
    names = []
    for f in _fields(cls):
        names.append(f.name)
        if f.address:
            names.append(f.name + "_addr")
    return names


def _unpickle(cls: "Type[_R]", image: bytes) -> "_R":
    return cls.from_bytes(image)


class _Record(_record_base):
    """Common behaviour of the record classes.

    Values: ``a == b`` when both are of the same class and hold the same
    bytes (records are mutable, so they are not hashable); ``copy.copy``,
    ``copy.deepcopy`` and ``pickle`` make a new record, owned by its object,
    with the same bytes (a pointer is copied as the address it holds; pickle
    refuses a record holding a pointer other than null). ``X(a=1, b=2)``
    sets fields in declaration order. ``to_dict()`` gives the fields as plain
    data (nested records as dicts, arrays as lists, hardware and IP
    addresses as text, pointers as their address or None) and
    ``X.from_dict()`` takes it back; both also take nested dicts for nested
    records. For a buffer whose entries follow its header, all of these
    cover the header only.

    IP address fields: a field holding an IPv4 address (as a key stores it)
    or an IPv6 address (sixteen bytes) has a companion attribute named after
    it with ``_addr`` appended (``hyp_IPv4Hdr.saddr_addr``): the address as
    an ``ipaddress`` object, which can be set from one or from its text."""

    # "this" lives in a slot so the module finds it at a fixed offset. A view
    # of memory inside a record this package owns holds that record's object
    # in "_holder", so the memory lives as long as the view. No "__dict__":
    # setting a name that is not a field is refused (by the C base).
    __slots__ = ("this", "_holder", "__weakref__")

    # Set by each generated class from the C declaration and the field lines.
    _size_: "ClassVar[int]" = 0
    _repr_fields_: "ClassVar[Tuple[str, ...]]" = ()

    this: "Any"

    @property
    def thisown(self) -> bool:
        """True while this object owns, and will free, its C record."""
        return self.this.own()

    @thisown.setter
    def thisown(self, value: bool) -> None:
        self.this.own(value)

    def _attach(self, this: "Any") -> None:
        existing = getattr(self, "this", None)
        if existing is None:
            self.this = this
        else:
            existing.append(this)

    @staticmethod
    def _unknown_attribute_(record: "_Record", name: str) -> None:
        # Called by the C base when an assignment names nothing the class has.
        cls = type(record)
        raise AttributeError("%s has no field %r%s" % (cls.__name__, name, _nearest(name, _names(cls))))

    def __repr__(self) -> str:
        # Only fields that read as plain values: following a pointer could
        # touch memory that is not there, and views say nothing by themselves.
        shown = ", ".join("%s=%r" % (name, getattr(self, name)) for name in self._repr_fields_)
        return "%s(%s)" % (type(self).__name__, shown)

    def __bytes__(self) -> bytes:
        """The record's memory image; for a buffer that continues past its
        header (entries that follow it), the header only."""
        import ctypes

        return ctypes.string_at(int(self.this), self._size_)

    @classmethod
    def from_bytes(cls: "Type[_R]", data: "Any") -> "_R":
        """A new record, owned by the result, holding a copy of exactly
        ``_size_`` bytes from any bytes-like object."""
        image = memoryview(data).tobytes()
        if len(image) != cls._size_:
            raise ValueError("%s.from_bytes: expected %d bytes, got %d" % (cls.__name__, cls._size_, len(image)))
        import ctypes

        record = cls()
        ctypes.memmove(int(record.this), image, len(image))
        return record

    # Values.

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        return self is other or bytes(self) == bytes(other)

    __hash__ = None  # type: ignore[assignment]  # records change in place

    def __copy__(self: "_R") -> "_R":
        cls = type(self)
        # (Texts lie in plain and nested fields only, not in arrays of records.)
        texts = [(path, where) for path, where, kind in _pointers(cls) if kind == _OWNED_TEXT]
        if not texts:
            return cls.from_bytes(bytes(self))
        # A text the module copied into a field belongs to that record: the
        # copy gets a copy of its own instead of the same address.
        image = bytearray(bytes(self))
        for _, where in texts:
            image[where : where + _POINTER_SIZE] = bytes(_POINTER_SIZE)
        record = cls.from_bytes(image)
        for path, _ in texts:
            text = _get_path(self, path)
            if text is not None:
                _set_path(record, path, text)
        return record

    def __deepcopy__(self: "_R", memo: "Dict[int, Any]") -> "_R":
        # A record is one block of memory: a pointer in it is copied as the
        # address it holds, as C assignment would.
        return self.__copy__()

    def __reduce__(self) -> "Tuple[Any, ...]":
        cls = type(self)
        image = bytes(self)
        for path, where, _ in _pointers(cls):
            if any(image[where : where + _POINTER_SIZE]):
                raise TypeError(
                    "cannot pickle %s: its field %s holds a pointer, which means nothing in another process"
                    % (cls.__name__, path)
                )
        return (_unpickle, (cls, image))

    # Plain data.

    def to_dict(self) -> "Dict[str, Any]":
        """The fields as plain data, in declaration order (see the class)."""
        image = None
        result: "Dict[str, Any]" = {}
        for f in _fields(type(self)):
            kind = f.kind
            if f.address:
                result[f.name] = str(getattr(self, f.name + "_addr"))
            elif kind == _NESTED:
                result[f.name] = getattr(self, f.name).to_dict()
            elif kind == _ARRAY:
                if not f.count:
                    continue  # a variable part after the record: not its bytes
                if image is None:
                    image = bytes(self)
                part = image[f.offset : f.offset + f.size * f.count]
                result[f.name] = _array_values(f, part)
            elif kind in (_POINTER, _VOID_POINTER):
                if image is None:
                    image = bytes(self)
                address = int.from_bytes(image[f.offset : f.offset + _POINTER_SIZE], "little")
                result[f.name] = address or None
            else:
                result[f.name] = getattr(self, f.name)
        return result

    @classmethod
    def from_dict(cls: "Type[_R]", data: "Dict[str, Any]") -> "_R":
        """A new record with the fields ``data`` names set as ``to_dict()``
        gives them; the fields it leaves out are zero."""
        record = cls()
        record._assign(data, "from_dict")
        return record

    def _assign(self, values: "Dict[str, Any]", caller: str) -> None:
        """Sets the named fields in declaration order; refuses unknown names
        before setting any."""
        cls = type(self)
        names = _names(cls)
        known = set(names)
        for name in values:
            if name not in known:
                if caller == "__init__":
                    raise TypeError(
                        "%s.__init__() got an unexpected keyword argument %r%s"
                        % (cls.__name__, name, _nearest(name, names))
                    )
                raise ValueError("%s.%s: no field %r%s" % (cls.__name__, caller, name, _nearest(name, names)))
        for f in _fields(cls):
            if f.name in values:
                _store(self, f, values[f.name])
            if f.address and f.name + "_addr" in values:
                setattr(self, f.name + "_addr", values[f.name + "_addr"])


_ARRAY_FORMATS = {1: "B", 2: "H", 4: "I", 8: "Q"}


def _array_values(f: _Field, part: bytes) -> "List[Any]":
    if f.element is not None:
        return [f.element.from_bytes(part[i * f.size : (i + 1) * f.size]).to_dict() for i in range(f.count)]
    if f.size in _ARRAY_FORMATS:
        return memoryview(part).cast(_ARRAY_FORMATS[f.size]).tolist()
    return [part[i * f.size : (i + 1) * f.size].hex() for i in range(f.count)]


def _store(record: _Record, f: _Field, value: "Any") -> None:
    kind = f.kind
    if f.address and isinstance(value, str):
        setattr(record, f.name + "_addr", value)
    elif kind == _NESTED and isinstance(value, dict):
        getattr(record, f.name)._assign(value, "from_dict")
    elif kind == _ARRAY and isinstance(value, (list, tuple)):
        _write(record, f.offset, _array_image(record, f, value))
    elif kind in (_POINTER, _VOID_POINTER) and isinstance(value, int) and not isinstance(value, bool):
        # An address as to_dict gives it: written as it is, as from_bytes would.
        label = "%s.%s" % (type(record).__name__, f.name)
        if not 0 <= value < 1 << 64:
            raise OverflowError("%s: %d is not an address" % (label, value))
        _write(record, f.offset, value.to_bytes(_POINTER_SIZE, "little"))
    else:
        setattr(record, f.name, value)


def _array_image(record: _Record, f: _Field, values: "Any") -> bytes:
    label = "%s.%s" % (type(record).__name__, f.name)
    if len(values) != f.count:
        raise ValueError("%s: expected %d elements, got %d" % (label, f.count, len(values)))
    if f.element is not None:
        parts = []
        for item in values:
            if isinstance(item, dict):
                item = f.element.from_dict(item)
            elif type(item) is not f.element:
                raise TypeError(
                    "%s: expected %s or dict elements, got %s" % (label, f.element.__name__, type(item).__name__)
                )
            parts.append(bytes(item))
        return b"".join(parts)
    if f.size in _ARRAY_FORMATS:
        import struct

        try:
            return struct.pack("<%d%s" % (f.count, _ARRAY_FORMATS[f.size]), *values)
        except struct.error:
            limit = (1 << 8 * f.size) - 1
            raise OverflowError("%s: elements are ints in 0..%d, got %r" % (label, limit, list(values))) from None
    return b"".join(bytes.fromhex(item) for item in values)


def _write(record: _Record, offset: int, data: bytes) -> None:
    import ctypes

    ctypes.memmove(int(record.this) + offset, data, len(data))


def _get_path(record: "Any", path: str) -> "Any":
    for name in path.split("."):
        record = getattr(record, name)
    return record


def _set_path(record: "Any", path: str, value: "Any") -> None:
    *parents, last = path.split(".")
    setattr(_get_path(record, ".".join(parents)) if parents else record, last, value)


# Records the package owns are freed when their objects die. At exit, the
# interpreter tears the module's shared state down before the last objects
# go, and an owned record dying after that would report itself as a leak on
# standard output. So before teardown, each live record object that owns its
# record hands the freeing over to a small keeper it holds: the record stays
# valid as long as its object lives, and is freed with it, silently.


class _Release:
    __slots__ = ("_destroy", "_pointer", "_holder")

    def __init__(self, destroy: "Any", pointer: "Any", holder: "Any") -> None:
        self._destroy = destroy
        self._pointer = pointer
        self._holder = holder

    def __del__(self) -> None:
        self._destroy(self._pointer)


def _release_at_exit() -> None:
    import gc

    gc.collect()  # what is already garbage goes now, the normal way
    for record in gc.get_objects():
        if not isinstance(record, _Record):
            continue
        pointer = getattr(record, "this", None)
        destroy = getattr(type(record), "__swig_destroy__", None)
        try:
            if pointer is None or destroy is None or not pointer.own():
                continue
            pointer.own(False)
        except (AttributeError, TypeError):
            continue  # "this" is not one of the module's pointer objects
        record._holder = _Release(destroy, pointer, getattr(record, "_holder", None))


def _register_exit_hook() -> None:
    import atexit

    atexit.register(_release_at_exit)


_register_exit_hook()

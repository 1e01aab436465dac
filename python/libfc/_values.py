"""What makes records Python values, loaded on first use so that importing
the package does not pay for it: each record class's fields as these
functions walk them, copies, pickling, plain data (to_dict and from_dict,
keyword construction, the bytes no field reads, the refusal of addresses
in data), the nearest-field refusal, and the hand-over of owned records at
interpreter exit."""

from _libfc_fields import field as _field_type, kinds as _kinds

from ._record import _Record

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Callable, Dict, List, Optional, Tuple, TypeVar

    _T = TypeVar("_T")

# Field kinds, numbered as the field descriptors' layouts number them.
_INTEGER, _BIT_FIELD, _CHAR, _POINTER, _VOID_POINTER, _NESTED, _ARRAY, _CHAR_ARRAY, _OWNED_TEXT = map(
    _kinds.index, ("Integer", "BitField", "Char", "Pointer", "VoidPointer", "Nested", "Array", "CharArray", "OwnedText"))
_POINTER_KINDS = (_POINTER, _VOID_POINTER, _OWNED_TEXT)
_POINTER_SIZE = 8
_SIGNED = 16  # the conversion flag of a signed integer


class _Field:
    """One field of a record class, as the value methods walk it."""

    __slots__ = ("name", "kind", "signed", "offset", "size", "count", "bit", "bits", "element", "address")

    def __init__(self, name: str, layout: "Tuple[int, ...]") -> None:
        self.name = name
        self.kind, conversion, _, _, self.offset, self.size, self.count, self.bit, self.bits = layout[:9]
        self.signed = bool(conversion & _SIGNED)
        # The record class of a nested record or of an array's elements.
        self.element: "Optional[type]" = None
        # The "<name>_addr" helper's IP version for an address field, else 0.
        self.address = 0


def _per_class(make: "Callable[[type], _T]") -> "Callable[[type], _T]":
    """``make(cls)``, worked out once per record class."""
    made: "Dict[type, _T]" = {}

    def get(cls: "type") -> "_T":
        value = made.get(cls)
        if value is None:
            value = made[cls] = make(cls)
        return value
    return get


@_per_class
def _fields(cls: "type") -> "Tuple[_Field, ...]":
    """The class's fields in declaration order."""
    return _describe(cls)


def _describe(cls: "type") -> "Tuple[_Field, ...]":
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


@_per_class
def _pointers(cls: "type") -> "List[Tuple[str, int, int]]":
    return _pointer_fields(cls)


def _pointer_fields(cls: "type", base: int = 0, prefix: str = "") -> "List[Tuple[str, int, int]]":
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


# Bytes of a record that no field reads (a header's bytes carried without
# accessor, padding) travel in plain data under this name, by offset.
_CARRIED = "_carried"


@_per_class
def _carried(cls: "type") -> "Tuple[Tuple[int, bytes], ...]":
    """(offset, mask of the bits no field reads) of each run of bytes
    holding such bits."""
    mask = bytearray(b"\xff" * cls._size_)
    for f in _fields(cls):
        if f.kind == _BIT_FIELD:
            for bit in range(f.bit, f.bit + f.bits):
                mask[f.offset + bit // 8] &= ~(1 << bit % 8)
        else:
            width = f.size * f.count  # 0 for an open array, whose part follows the record
            mask[f.offset : f.offset + width] = bytes(len(mask[f.offset : f.offset + width]))
    runs, start = [], None
    for i in range(len(mask) + 1):
        if i < len(mask) and mask[i]:
            start = i if start is None else start
        elif start is not None:
            runs.append((start, bytes(mask[start:i])))
            start = None
    return tuple(runs)


def _carried_values(cls: "type", image: bytes) -> "Dict[str, str]":
    """The carried runs that hold any set bit, as hex by offset."""
    found = {}
    for start, mask in _carried(cls):
        part = bytes(b & m for b, m in zip(image[start : start + len(mask)], mask))
        if any(part):
            found[str(start)] = part.hex()
    return found


def _store_carried(record: "Any", values: "Any") -> None:
    cls = type(record)
    runs = dict(_carried(cls))
    label = "%s.%s" % (cls.__name__, _CARRIED)
    if not isinstance(values, dict):
        raise TypeError("%s: expected a dict of hex by offset, got %s" % (label, type(values).__name__))
    image = bytes(record)
    for key, text in values.items():
        mask = runs.get(int(key)) if isinstance(key, str) and key.isascii() and key.isdigit() else None
        if mask is None:
            raise ValueError("%s: %r is not where a run of bytes without field starts (%s)"
                             % (label, key, ", ".join(str(start) for start in runs)))
        try:
            given = bytes.fromhex(text)
        except (TypeError, ValueError):
            raise ValueError("%s[%r]: expected %d bytes as hex, got %r" % (label, key, len(mask), text)) from None
        if len(given) != len(mask):
            raise ValueError("%s[%r]: expected %d bytes as hex, got %r" % (label, key, len(mask), text))
        start = int(key)
        old = image[start : start + len(mask)]
        _write(record, start, bytes(o & ~m | g & m for o, g, m in zip(old, given, mask)))


def _text_of(record: "Any", f: _Field) -> str:
    """A one-byte or character-array field as text whatever its bytes: those
    that are not UTF-8 as lone surrogates (as os.fsdecode gives them), which
    _store writes back as they were. Trailing zero bytes are dropped, as the
    getter drops them."""
    import ctypes

    raw = ctypes.string_at(int(record.this) + f.offset, f.size * f.count)
    return (raw if f.kind == _CHAR else raw.rstrip(b"\0")).decode("utf-8", "surrogateescape")


def shown(record: "Any", name: str) -> str:
    """repr of a field's value; a text that is not UTF-8 as _text_of reads it."""
    try:
        return repr(getattr(record, name))
    except UnicodeDecodeError:
        f = next(f for f in _fields(type(record)) if f.name == name)
        return repr(_text_of(record, f))


def _holds_pointer(action: str, path: str) -> str:
    """The refusal of a pointer that plain data can carry in neither
    direction: an address is not something to hand to another process, nor
    to take from data (it would be read as memory)."""
    return "cannot %s: its field %s holds a pointer, which means nothing in another process" % (action, path)


def refuse_pointers(cls: "type", image: bytes) -> None:
    """Refuses an image for a new record that holds a pointer other than null."""
    for path, where, _ in _pointers(cls):
        if any(image[where : where + _POINTER_SIZE]):
            raise ValueError(_holds_pointer("make %s from data" % cls.__name__, path))


def _nearest(name: str, candidates: "List[str]") -> str:
    import difflib

    close = difflib.get_close_matches(name, candidates, n=1)
    return "; did you mean %r?" % close[0] if close else ""


def _names(cls: "type") -> "List[str]":
    names = []
    for f in _fields(cls):
        names.append(f.name)
        if f.address:
            names.append(f.name + "_addr")
    if _carried(cls):
        names.append(_CARRIED)
    return names


def _unpickle(cls: "Any", image: bytes) -> "Any":
    return cls.from_bytes(image)


def unknown_attribute(record: "Any", name: str) -> None:
    """Raises the refusal of a name that is no field of the record's class."""
    cls = type(record)
    raise AttributeError("%s has no field %r%s" % (cls.__name__, name, _nearest(name, _names(cls))))


def copy_record(record: "Any") -> "Any":
    """A new record with the same bytes; an owned text gets a copy of its own."""
    cls = type(record)
    # (Texts lie in plain and nested fields only, not in arrays of records.)
    texts = [(path, where) for path, where, kind in _pointers(cls) if kind == _OWNED_TEXT]
    if not texts:
        return cls._from_image(bytes(record))
    # A text the module copied into a field belongs to that record: the
    # copy gets a copy of its own instead of the same address.
    image = bytearray(bytes(record))
    for _, where in texts:
        image[where : where + _POINTER_SIZE] = bytes(_POINTER_SIZE)
    twin = cls._from_image(bytes(image))
    for path, _ in texts:
        text = _get_path(record, path)
        if text is not None:
            _set_path(twin, path, text)
    return twin


def reduce_record(record: "Any") -> "Tuple[Any, ...]":
    """The class and the bytes; refused while a pointer in the record is set."""
    cls = type(record)
    image = bytes(record)
    for path, where, _ in _pointers(cls):
        if any(image[where : where + _POINTER_SIZE]):
            raise TypeError(_holds_pointer("pickle " + cls.__name__, path))
    return (_unpickle, (cls, image))


def to_dict(record: "Any") -> "Dict[str, Any]":
    """The fields as plain data, in declaration order (see the class)."""
    cls = type(record)
    image = None
    result: "Dict[str, Any]" = {}
    for f in _fields(cls):
        kind = f.kind
        if f.address:
            result[f.name] = str(getattr(record, f.name + "_addr"))
        elif kind == _NESTED:
            result[f.name] = to_dict(getattr(record, f.name))
        elif kind == _ARRAY:
            if not f.count:
                continue  # a variable part after the record: not its bytes
            if image is None:
                image = bytes(record)
            part = image[f.offset : f.offset + f.size * f.count]
            result[f.name] = _array_values(f, part)
        elif kind in (_POINTER, _VOID_POINTER):
            if image is None:
                image = bytes(record)
            address = int.from_bytes(image[f.offset : f.offset + _POINTER_SIZE], "little")
            result[f.name] = address or None
        elif kind in (_CHAR, _CHAR_ARRAY):
            try:
                result[f.name] = getattr(record, f.name)
            except UnicodeDecodeError:
                result[f.name] = _text_of(record, f)
        else:
            result[f.name] = getattr(record, f.name)
    if _carried(cls):
        carried = _carried_values(cls, bytes(record) if image is None else image)
        if carried:
            result[_CARRIED] = carried
    return result


def assign(record: "Any", values: "Dict[str, Any]", caller: str, making: "Optional[_Making]" = None,
           prefix: str = "") -> None:
    """Sets the named fields in declaration order; refuses unknown names
    before setting any, and a pointer the values did not set from an object
    (see _Making). A nested record's fields come with the outer record's
    making and the path to them."""
    cls = type(record)
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
    outermost = making is None
    if making is None:
        making = _Making(cls.__name__)
    for f in _fields(cls):
        if f.name in values:
            _store(record, f, values[f.name], making, prefix)
        if f.address and f.name + "_addr" in values:
            setattr(record, f.name + "_addr", values[f.name + "_addr"])
    if _CARRIED in values:
        _store_carried(record, values[_CARRIED])
    if outermost:
        making.check(record)


class _Making:
    """A record being made from plain data. Its pointers may hold only what
    setters put there from objects (a record, an owned text the setter
    copied): an integer field overlaying a pointer in a union, or a nested
    record's bytes, can write any address, so the finished record is checked
    against what the setters left."""

    __slots__ = ("outer", "trusted")

    def __init__(self, outer: str) -> None:
        self.outer = outer
        self.trusted: "Dict[str, bytes]" = {}

    def refuse(self, path: str) -> "ValueError":
        return ValueError(_holds_pointer("make %s from data" % self.outer, path))

    def trust(self, cls: "type", image: bytes, prefix: str) -> None:
        """The pointers of a record of cls whose bytes came from an object."""
        for path, where, _ in _pointers(cls):
            self.trusted[prefix + path] = image[where : where + _POINTER_SIZE]

    def trust_field(self, record: "Any", f: _Field, prefix: str) -> None:
        import ctypes

        image = ctypes.string_at(int(record.this) + f.offset, f.size * f.count)
        if f.kind in _POINTER_KINDS:
            self.trusted[prefix + f.name] = image[:_POINTER_SIZE]
        elif f.kind == _NESTED and f.element is not None:
            self.trust(f.element, image, prefix + f.name + ".")

    def check(self, record: "Any") -> None:
        if not _pointers(type(record)):
            return
        image = bytes(record)
        forged = [(path, where) for path, where, _ in _pointers(type(record))
                  if any(image[where : where + _POINTER_SIZE])
                  and self.trusted.get(path) != image[where : where + _POINTER_SIZE]]
        if forged:
            for _, where in forged:  # so that nothing ever follows them
                _write(record, where, bytes(_POINTER_SIZE))
            raise self.refuse(forged[0][0])


_ARRAY_FORMATS = {1: "B", 2: "H", 4: "I", 8: "Q"}


def _array_values(f: _Field, part: bytes) -> "List[Any]":
    if f.element is not None:
        return [to_dict(f.element._from_image(part[i * f.size : (i + 1) * f.size])) for i in range(f.count)]
    if f.size in _ARRAY_FORMATS:
        return memoryview(part).cast(_ARRAY_FORMATS[f.size]).tolist()
    return [part[i * f.size : (i + 1) * f.size].hex() for i in range(f.count)]


def _store(record: "Any", f: _Field, value: "Any", making: _Making, prefix: str) -> None:
    kind = f.kind
    if f.address and isinstance(value, str):
        setattr(record, f.name + "_addr", value)
    elif kind == _NESTED and isinstance(value, dict):
        assign(getattr(record, f.name), value, "from_dict", making, prefix + f.name + ".")
    elif kind == _ARRAY and isinstance(value, (list, tuple)):
        _write(record, f.offset, _array_image(record, f, value, making, prefix))
    elif kind in (_POINTER, _VOID_POINTER) and isinstance(value, int) and not isinstance(value, bool):
        # Only null: an address taken from data would be read as memory.
        if value:
            raise making.refuse(prefix + f.name)
        _write(record, f.offset, bytes(_POINTER_SIZE))
    elif kind in (_CHAR, _CHAR_ARRAY) and isinstance(value, str) and not _is_utf8(value):
        _store_raw_text(record, f, value)
    elif kind == _INTEGER and isinstance(value, int) and not isinstance(value, bool):
        try:
            setattr(record, f.name, value)
        except OverflowError:
            # An unsigned long setter takes 63 bits; to_dict gives what the field holds.
            if f.signed or not 0 <= value < 1 << 8 * f.size:
                raise
            _write(record, f.offset, value.to_bytes(f.size, "little"))
    else:
        setattr(record, f.name, value)
        if kind in _POINTER_KINDS or kind == _NESTED:
            making.trust_field(record, f, prefix)


def _is_utf8(text: str) -> bool:
    try:
        text.encode()
    except UnicodeEncodeError:
        return False
    return True


def _store_raw_text(record: "Any", f: _Field, text: str) -> None:
    """A text as _text_of gives it, holding bytes that are not UTF-8."""
    label = "%s.%s" % (type(record).__name__, f.name)
    try:
        image = text.encode("utf-8", "surrogateescape")
    except UnicodeEncodeError:
        raise ValueError("%s: %r is neither UTF-8 nor bytes read as text" % (label, text)) from None
    width = f.size * f.count
    if f.kind == _CHAR and len(image) != 1:
        raise TypeError("%s: %r is not one byte" % (label, text))
    if len(image) > width:
        raise TypeError("%s: %r is longer than %d bytes" % (label, text, width))
    _write(record, f.offset, image + bytes(width - len(image)))


def _array_image(record: "Any", f: _Field, values: "Any", making: _Making, prefix: str) -> bytes:
    label = "%s.%s" % (type(record).__name__, f.name)
    if len(values) != f.count:
        raise ValueError("%s: expected %d elements, got %d" % (label, f.count, len(values)))
    if f.element is not None:
        parts = []
        for i, item in enumerate(values):
            place = "%s%s[%d]." % (prefix, f.name, i)
            if isinstance(item, dict):
                item, data = f.element(), item
                assign(item, data, "from_dict", making, place)
            elif type(item) is not f.element:
                raise TypeError(
                    "%s: expected %s or dict elements, got %s" % (label, f.element.__name__, type(item).__name__)
                )
            else:
                making.trust(f.element, bytes(item), place)
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


def _write(record: "Any", offset: int, data: bytes) -> None:
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


def _handed_over(pointer: "Any", destroy: "Any", holder: "Any") -> "Optional[_Release]":
    """A keeper that frees pointer's record when it dies, pointer no longer
    owning it; None when pointer owns nothing (or is no pointer object)."""
    try:
        if pointer is None or destroy is None or not pointer.own():
            return None
        pointer.own(False)
    except (AttributeError, TypeError):
        return None
    return _Release(destroy, pointer, holder)


def release_at_exit() -> None:
    """Hands every live owned record over to a keeper (see above)."""
    import gc

    import _libfc

    from ._addresses import Octets

    gc.collect()  # what is already garbage goes now, the normal way
    for item in gc.get_objects():
        if isinstance(item, _Record):
            holder = getattr(item, "_holder", None)
            destroy = getattr(type(item), "__swig_destroy__", None)
            keeper = _handed_over(getattr(item, "this", None), destroy, holder)
            if keeper is not None:
                item._holder = keeper
        elif isinstance(item, Octets):
            # Its bytes live in a record of the module's kept as a bare pointer.
            storage = getattr(item, "_storage", None)
            keeper = _handed_over(storage, _libfc.delete_hyp_SocketAddress, None)
            if keeper is not None:
                item._storage = keeper



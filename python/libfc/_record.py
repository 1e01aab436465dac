"""The base class of every record class: the pieces the binding module relies
on (the ``this`` slot, ``thisown``, ``_attach``) and what Python users expect
of a C record: a readable repr, ``bytes(record)`` and ``X.from_bytes(data)``,
value semantics (``==`` on class and bytes, ``copy``, ``deepcopy``,
``pickle``), keyword construction, ``to_dict()`` and ``X.from_dict()``, and a
refusal naming the nearest field when a name that is no field is set. The
machinery behind the last few lives in _values, imported on first use."""

from _libfc_fields import record_base as _record_base

# Imported where used: importing the package stays cheap (ctypes and typing
# cost more than every record class together). Annotations naming typing-only
# names are quoted rather than deferred with a __future__ import, which would
# import the __future__ module with the package.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, ClassVar, Dict, Tuple, Type, TypeVar

    _R = TypeVar("_R", bound="_Record")


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
        if this is None:  # new_X found no memory for the record
            raise MemoryError
        existing = getattr(self, "this", None)
        if existing is None:
            self.this = this
        else:
            existing.append(this)

    @staticmethod
    def _unknown_attribute_(record: "_Record", name: str) -> None:
        # Called by the C base when an assignment names nothing the class has.
        from ._values import unknown_attribute

        unknown_attribute(record, name)

    def __repr__(self) -> str:
        # Only fields that read as plain values: following a pointer could
        # touch memory that is not there, and views say nothing by themselves.
        try:
            shown = ", ".join("%s=%r" % (name, getattr(self, name)) for name in self._repr_fields_)
        except UnicodeDecodeError:  # a text that is not UTF-8: shown as to_dict gives it
            from ._values import shown as shown_field

            shown = ", ".join("%s=%s" % (name, shown_field(self, name)) for name in self._repr_fields_)
        return "%s(%s)" % (type(self).__name__, shown)

    def __bytes__(self) -> bytes:
        """The record's memory image; for a buffer that continues past its
        header (entries that follow it), the header only."""
        import ctypes

        return ctypes.string_at(int(self.this), self._size_)

    @classmethod
    def from_bytes(cls: "Type[_R]", data: "Any") -> "_R":
        """A new record, owned by the result, holding a copy of exactly
        ``_size_`` bytes from any bytes-like object; refused when they hold
        a pointer other than null (see the class)."""
        image = memoryview(data).tobytes()
        if len(image) != cls._size_:
            raise ValueError("%s.from_bytes: expected %d bytes, got %d" % (cls.__name__, cls._size_, len(image)))
        from ._values import refuse_pointers

        refuse_pointers(cls, image)
        return cls._from_image(image)

    @classmethod
    def _from_image(cls: "Type[_R]", image: bytes) -> "_R":
        # The bytes of a live record (copies, views of its parts): its
        # pointers are C assignment's to copy, not data's to forge.
        import ctypes

        record = cls()
        ctypes.memmove(int(record.this), image, len(image))
        return record

    # Values.

    def __eq__(self, other: object) -> bool:
        if type(other) is not type(self):
            return NotImplemented
        return self is other or bytes(self) == bytes(other)

    # Unhashable: records change in place.
    __hash__: "ClassVar[None]" = None  # type: ignore[assignment]

    def __copy__(self: "_R") -> "_R":
        from ._values import copy_record

        return copy_record(self)

    def __deepcopy__(self: "_R", memo: "Dict[int, Any]") -> "_R":
        # A record is one block of memory: a pointer in it is copied as the
        # address it holds, as C assignment would.
        from ._values import copy_record

        return copy_record(self)

    def __reduce__(self) -> "Tuple[Any, ...]":
        from ._values import reduce_record

        return reduce_record(self)

    # Plain data.

    def to_dict(self) -> "Dict[str, Any]":
        """The fields as plain data, in declaration order (see the class)."""
        from ._values import to_dict

        return to_dict(self)

    @classmethod
    def from_dict(cls: "Type[_R]", data: "Dict[str, Any]") -> "_R":
        """A new record with the fields ``data`` names set as ``to_dict()``
        gives them; the fields it leaves out are zero."""
        record = cls()
        record._assign(data, "from_dict")
        return record

    def _assign(self, values: "Dict[str, Any]", caller: str) -> None:
        # Keyword construction and from_dict: the named fields in declaration
        # order, unknown names refused before any is set.
        from ._values import assign

        assign(self, values, caller)


def text_repr(method: "Any") -> "Any":
    """A __repr__ made of the module's text method, which decodes strictly:
    bytes that are not UTF-8 show as \\xNN instead of failing the repr."""

    def __repr__(self: "Any") -> str:
        try:
            return str(method(self))
        except UnicodeDecodeError as error:
            return bytes(error.object).decode("utf-8", "backslashreplace")

    return __repr__


def _release_at_exit() -> None:
    # Owned records still alive at exit are handed to keepers before the
    # interpreter's teardown, which would otherwise report them as leaks on
    # standard output (see _values.release_at_exit).
    from ._values import release_at_exit

    release_at_exit()


def _register_exit_hook() -> None:
    import atexit

    atexit.register(_release_at_exit)


_register_exit_hook()

"""The base class of every record class: the pieces the binding module relies
on (the ``this`` slot, ``thisown``, ``_attach``) and what Python users expect
of a C record (a readable repr, ``bytes(record)``, ``X.from_bytes(data)``)."""

# Imported where used: importing the package stays cheap (ctypes and typing
# cost more than every record class together). Annotations naming typing-only
# names are quoted rather than deferred with a __future__ import, which would
# import the __future__ module with the package.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, ClassVar, Tuple, Type, TypeVar

    _R = TypeVar("_R", bound="_Record")


class _Record:
    """Common behaviour of the record classes."""

    # "this" lives in a slot so the module finds it at a fixed offset. A view
    # of memory inside a record this package owns holds that record's object
    # in "_holder", so the memory lives as long as the view.
    __slots__ = ("this", "_holder", "__dict__", "__weakref__")

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

"""len(), bounded indexing and iteration for records that hold a counted run
of items (flow entries of a query buffer, action entities of a flow entry,
destination ports, invalidation entries, hash statistics).

The module's item methods read wherever the index points; the bounds here
keep scripts inside what the record states it holds. The work is done in C
by the base type (len, indexing with slices, iter, reversed), which reads the
columns below once per class."""

from _libfc_fields import sequence as _sequence_base

# Annotations naming typing-only names are quoted rather than deferred with a
# __future__ import, which would import the __future__ module with the package.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Callable, ClassVar, Optional


class _Sequence(_sequence_base):
    """Mixed into a generated record class together with ``_Record``; the
    generated class sets the columns below.

    len() is the count field's value, capped by the capacity when there is
    one; a record whose items follow it in its buffer and that was made here
    (it owns its record) holds none. Indexing takes ints and slices (a slice
    is a list) and raises IndexError outside the length; iteration takes
    the length when the first item is asked for."""

    __slots__ = ()

    # The field stating how many items are in use; None when every element
    # of the array is.
    _count_field_: "ClassVar[Optional[str]]" = None
    # Elements the array can hold; 0 for items that follow the record in the
    # same buffer (the record's own size covers only its header).
    _capacity_: "ClassVar[int]" = 0
    # Module methods taking (record, index): the item in place (iteration),
    # and the item that indexing returns (a copy where the module makes one).
    _iter_item_: "ClassVar[Callable[[Any, int], Any]]"
    _index_item_: "ClassVar[Callable[[Any, int], Any]]"

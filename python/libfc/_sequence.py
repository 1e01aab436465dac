"""len(), bounded indexing and iteration for records that hold a counted run
of items (flow entries of a query buffer, action entities of a flow entry,
destination ports, invalidation entries, hash statistics).

The module's item methods read wherever the index points; the bounds here
keep scripts inside what the record states it holds."""

from __future__ import annotations

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Callable, ClassVar, Iterator, Optional, Union


class _Sequence:
    """Mixed into a generated record class together with ``_Record``; the
    generated class sets the columns below."""

    __slots__ = ()

    # The field stating how many items are in use; None when every element
    # of the array is.
    _count_field_: ClassVar[Optional[str]] = None
    # Elements the array can hold; 0 for items that follow the record in the
    # same buffer (the record's own size covers only its header).
    _capacity_: ClassVar[int] = 0
    # Module methods taking (record, index): the item in place (iteration),
    # and the item that indexing returns (a copy where the module makes one).
    _iter_item_: ClassVar[Callable[[Any, int], Any]]
    _index_item_: ClassVar[Callable[[Any, int], Any]]

    def __len__(self) -> int:
        cls = type(self)
        capacity = cls._capacity_
        if cls._count_field_ is None:
            return capacity
        if capacity == 0 and self.thisown:
            # Made here (new_X or from_bytes): only the header was allocated,
            # whatever its count says, so no item follows it.
            return 0
        count = getattr(self, cls._count_field_)
        return min(count, capacity) if capacity else count

    def _position(self, index: Any, length: int) -> int:
        from operator import index as as_index

        position = as_index(index)
        if position < 0:
            position += length
        if not 0 <= position < length:
            raise IndexError("%s index %d out of range (%d items)" % (type(self).__name__, index, length))
        return position

    def __getitem__(self, index: Union[int, slice]) -> Any:
        length = len(self)
        item = type(self)._index_item_
        if isinstance(index, slice):
            return [item(self, i) for i in range(*index.indices(length))]
        return item(self, self._position(index, length))

    def __iter__(self) -> Iterator[Any]:
        item = type(self)._iter_item_
        for i in range(len(self)):
            yield item(self, i)

    def __reversed__(self) -> Iterator[Any]:
        item = type(self)._iter_item_
        for i in reversed(range(len(self))):
            yield item(self, i)


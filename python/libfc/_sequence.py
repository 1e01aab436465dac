"""len(), bounded indexing and iteration for records that hold a counted run
of items (flow entries of a query buffer, action entities of a flow entry,
destination ports, invalidation entries, hash statistics).

The module's item methods read wherever the index points; the bounds here
keep scripts inside what the record states it holds. The work is done in C
by the base type (len, indexing with slices, iter, reversed), from the
record's sequence line in its description."""

from _libfc_fields import sequence as _sequence_base


class _Sequence(_sequence_base):
    """Mixed into a generated record class together with ``_Record``.

    len() is the count field's value, capped by the array's length when it
    has one; a record whose items follow it in its buffer and that was made
    here (it owns its record) holds none. Indexing takes ints and slices (a
    slice is a list) and raises IndexError outside the length; iteration
    takes the length when the first item is asked for."""

    __slots__ = ()

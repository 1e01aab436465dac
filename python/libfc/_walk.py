"""The whole flow cache, one query's worth at a time.

One ``FC_GetFlows`` answer holds at most ``FC_MAX_CACHE_FLOWS_IOC`` flows
while ``totalEntries`` counts every match, so a cache under pressure cannot
be seen through a single query.  The walk splits the filter into parts that
each fit in one answer and reads them one after the other:

* first by hash table (the ``tid`` criterion, tables 1 to the count the hash
  statistics report);
* then, for a part that still holds too many flows, by a further key
  criterion whose values can be enumerated exactly: the source port (the
  ports the invalidation table knows), the protocol (1 to 255), the VLAN id
  (1 to 4095), IPv6 or not.

A zero criterion is the library's wildcard, so flows whose value is zero
(or, for the port, not in the invalidation table) cannot be asked for by
value.  They are the part's *rest*: the walk reads them through the next
criterion and keeps, of each answer, only the flows no earlier split has
already produced.  Every part is defined by key values a flow keeps for its
whole life, so the parts never overlap: each flow is listed once even while
other processes add and remove flows, and a flow present for the whole walk
is in exactly one part that the walk reads.

Whether a split part has a rest is told by the counts (the values asked
for add up to less than the part's total) or by an answer of the part (a
flow in it has a value not asked for), whose key values are read, without
decoding the flows, before the next query reuses the buffer.  The counts
are trusted only while no flow came or went in the whole cache between the
part's first read and the last of its values (the cache's allocation
counters tell).  Under churn they prove nothing, so the rest of a part too
big for one answer is then always read through the next criterion: a flow
present for the whole walk is listed even when its value is the wildcard
and no answer happened to show it, at the price of reading such a part
twice while other processes change the cache.

When no criterion is left to split a part that is still too big, the flows
beyond the first answer cannot be reached through the library's filter; the
walk counts them in ``Walk.unreachable`` instead of pretending it saw them
(for a rest, whose part also holds flows already listed, an estimate).

An answer is decoded only when its flows are handed out: the first answer
of a part that is then split is never decoded.  An answer is decoded
completely before any flow of it is handed out, as the library reuses its
buffer at the next query, which the caller may well make, or another
thread: a query and what is taken from its answer happen under the flow
cache's lock.  The walk reads nothing ahead: a caller that stops after N
flows has made only the queries those N needed.

A writer that prints what it reads (``Walk.pages``) has each answer
rendered beside the next query, on the machine's other core: under the
lock, the answer's flows outside the rest are copied out of the library's
buffer (compact: an entry is 66 KB, nearly all of it unused ports), and the
C writer renders the copy on a thread of its own, without the interpreter
lock, while the walk makes the next query.  One answer is read ahead, no
more: a page is handed out once the next answer is copied, and the next
page is rendered only when the caller comes back for it, so a writer
rendering a page sees what the caller made of the page before.

The copy is worth it only while rendering a page takes longer than copying
its answer and waiting for the worker: a writer quicker than the copy (what
a diff keeps of a flow), or a worker without a processor of its own (every
processor busy: the walk's thread renders a page the worker has not begun
itself), has the next answers rendered in their turn, uncopied.  The worker
is tried again a few answers later.  A writer known to be quicker than the
copy (top's columns) or that must read the live answer (the IPFIX encoder)
asks for its turn from the start (``pages(render, beside=False)``).
"""

import itertools
import time

import _libfc

from ._flow import KEY_ATTRIBUTES, Flow, _decode_rows, answer_keys, decode_page
from ._locking import FLOW_CACHE, holding

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any, Callable, Dict, Iterable, Iterator, Optional, Sequence, Tuple

PAGE = _libfc.FC_MAX_CACHE_FLOWS_IOC

# Whether Walk.pages renders each answer beside the next query (off: in
# the query's turn, as a reader of live answers needs).
RENDER_BESIDE = True
# Answers rendered in their turn once rendering pages beside cost the
# walk's thread more than rendering them would have (the copies and the
# waits for the worker against the rendering, judged over some flows: a
# page of a few tells little); and after a page the worker had not begun
# when it was needed, a couple, twice as many after each further miss (a
# machine busy for a moment or for good), up to the most.
IN_TURN_AFTER_A_LOSS = 16
JUDGED_FLOWS = 1024
IN_TURN_AFTER_A_MISS = 2
IN_TURN_AFTER_MISSES = 64

try:
    from _libfc_fields import answer_copy
except ImportError:  # a build without the C fields module
    answer_copy = None

# The eleven criteria of FC_GetFlows, in its argument order.
FIELDS = ("sip", "dip", "isV6", "switchPort", "daddr", "vni", "ether", "vlanid", "proto", "innerdaddr", "tid")
_INDEX = {name: index for index, name in enumerate(FIELDS)}
WILDCARD = {name: (None if name.endswith("daddr") else 0) for name in FIELDS}


@holding(FLOW_CACHE)
def _source_ports():
    table = _libfc.FC_GetInvalTableEntries()
    if table is None:
        return []
    ports = set()
    for entity in table:
        key = entity.ikey
        if key.type == _libfc.FC_INVAL_HASH_KEY_TYPE_PORTID:
            ports.add(key.val.portId)
    ports.discard(0)
    return sorted(ports)


# The criteria a part is split by, in order, once split by table: the field,
# the attribute of a decoded Flow that holds it, and its values (a function,
# so the invalidation table is read only when a split needs it).  The VLAN
# comes last: 4095 queries for one split, and most flows have none.
SPLITS = (
    ("switchPort", "port", _source_ports),
    ("proto", "proto", lambda: range(1, 256)),
    ("isV6", "ipv6", lambda: (1,)),
    ("vlanid", "vlan", lambda: range(1, 4096)),
)


@holding(FLOW_CACHE)
def _flow_changes():
    """Flows allocated and freed so far: the pair moves at every change."""
    stats = _libfc.FC_GetFlowCacheStats()
    if stats is None:
        return None
    lookup = stats.lookup
    return lookup.alloc.fe, lookup.free.fe


def _unchanging():
    return None


@holding(FLOW_CACHE)
def _table_sizes():
    """Flows per table id: each table's bucket-length histogram summed."""
    stats = _libfc.FC_GetFlowCacheHashStats()
    if stats is None:
        return {}
    return {index: sum(length * count for length, count in enumerate(table)) for index, table in enumerate(stats, 1)}


@holding(FLOW_CACHE)
def _tables():
    stats = _libfc.FC_GetFlowCacheHashStats()
    return range(1, (stats.entries if stats is not None else 0) + 1)


class Walk:
    """An iterator over every flow that matches a filter, part by part.

    ``criteria`` maps names of ``FIELDS`` to values (a missing name or the
    wildcard matches every flow).  These can be replaced, for instance by a
    model of the library:

    * ``query``: ``FC_GetFlows``;
    * ``tables``: the table ids;
    * ``decode``: an answer into flows;
    * ``keys``: an answer into the ``KEY_ATTRIBUTES`` values of each flow
      (by default read from the flows ``decode`` makes, unless that is
      ``decode_page``);
    * ``changes``: a value that moves whenever a flow is added to or removed
      from the cache (by default the cache's allocation counters, or a
      constant when ``query`` is given);
    * ``table_sizes``: table id to flow count (by default from the hash
      statistics, or none when ``query`` is given).

    ``now_ms`` fixes the clock ages are computed against.
    Once the walk has begun, ``total`` tells how many flows matched the
    filter at its first query.
    After the walk, ``parts`` tells how many answers it read, ``decoded``
    how many flows it decoded and ``unreachable`` how many flows no split
    could bring within one answer."""

    total: "Optional[int]"
    parts: int
    decoded: int
    unreachable: int

    def __init__(self, criteria: "Optional[Dict[str, Any]]" = None, query: "Optional[Callable[..., Any]]" = None,
                 tables: "Optional[Callable[[], Iterable[int]]]" = None, splits: "Optional[Sequence[Any]]" = None,
                 now_ms: "Optional[int]" = None, decode: "Callable[..., Iterable[Flow]]" = decode_page,
                 keys: "Optional[Callable[[Any], Any]]" = None, changes: "Optional[Callable[[], Any]]" = None,
                 table_sizes: "Optional[Callable[[], Dict[int, int]]]" = None) -> None:
        self._arguments = [WILDCARD[name] for name in FIELDS]
        for name, value in (criteria or {}).items():
            self._arguments[_INDEX[name]] = value
        if changes is None:
            changes = _flow_changes if query is None else _unchanging
        if table_sizes is None:
            table_sizes = _table_sizes if query is None else dict
        self._table_sizes = table_sizes
        self._changes = changes
        self._stamp = None
        self._query = query or _libfc.FC_GetFlows
        self._tables = tables or _tables
        self._splits = SPLITS if splits is None else splits
        self._now_ms = now_ms
        self._decode = decode
        if keys is None:
            keys = answer_keys if decode is decode_page else self._decoded_keys
        self._keys = keys
        self._render = None
        self._beside = False
        self._beside_allowed = query is None
        self._in_turn = 0  # answers left to render in their turn
        self._after_a_miss = IN_TURN_AFTER_A_MISS
        self._copy_seconds = 0.0  # the processor time the last copy took
        self._judged = [0, 0.0, 0.0]  # flows rendered beside, their rendering's seconds, the walk's seconds for them
        self.total = None
        self.parts = 0
        self.decoded = 0
        self.unreachable = 0
        self._flows: "Optional[Iterator[Flow]]" = None

    def __iter__(self) -> "Iterator[Flow]":
        # The walk proper yields a (count, page) pair per answer, a page
        # being a list of flows; the flows come out of them one at a time
        # without a Python frame each. Made at the first flow asked for:
        # its generator holds the walk, which then holds it until the last
        # flow is out; a walk read by pages(), whose flows never start,
        # would otherwise live on in that cycle, with what its renderer
        # holds, until the collector found it.
        if self._flows is None:
            self._flows = itertools.chain.from_iterable(page for _, page in self._walk())
        return self._flows

    def __next__(self) -> Flow:
        return next(iter(self))

    def pages(self, render: "Callable[[Any, int, Any], Any]", beside: bool = True) -> "Iterator[Any]":
        """The walk for a writer that prints what it reads, instead of its
        flows: ``render(answer, now_ms, rest)`` turns the flows of an answer
        that match none of ``rest`` (pairs of an index into
        ``KEY_ATTRIBUTES`` and the values excluded) into ``(count, page)``;
        each non-empty such pair is yielded (``_libfc_fields.flow_text``
        writes pages of text).

        ``beside``: render gets a copy of the answer's flows outside the
        rest (an ``answer_copy``, rest ``()``), after the cache's lock is
        released, and may return a pending page (the C writers do: see the
        module's text); else it gets the answer, under the lock."""
        self._render = render
        self._beside = beside and self._copying()
        if self._beside:
            return self._rendered_beside(render)
        return (page for page in self._walk() if page[0])

    def copies(self) -> "Optional[Iterator[Tuple[int, Any, int]]]":
        """The walk for a writer that renders its pages on threads of its
        own: (count, copy, now_ms) for each answer with flows, the copy (an
        ``answer_copy`` of its flows outside the rest) taken under the
        cache's lock, for ``flow_text.json_lines_of``. None where the walk
        renders in the query's turn (``RENDER_BESIDE`` off, or a query of
        the caller's, whose answers it cannot copy)."""
        if not self._copying():
            return None
        self._render, self._beside = _not_rendered, True
        return ((count, page[0], page[1]) for count, page in self._walk() if count)

    def _copying(self) -> bool:
        """Whether the walk may copy its answers to be rendered elsewhere."""
        return RENDER_BESIDE and self._beside_allowed and answer_copy is not None

    def _rendered_beside(self, render):
        """The pages of the copies ``_walk`` yields, each rendered while the
        walk makes its next query; and of the answers it rendered in their
        turn, which it does only while no page is pending."""
        pending = None
        for count, page in self._walk():
            if not count:
                continue
            if type(page) is not _Copied:
                yield count, page
                continue
            if pending is not None:
                yield self._taken(pending)
            pending = render(*page[:2], ())
            self._copy_seconds = page[2]
            if self._in_turn:  # the answers after it are rendered in their turn
                yield self._taken(pending)
                pending = None
        if pending is not None:
            yield self._taken(pending)

    def _taken(self, page):
        """A page a writer rendered beside, once done; any other page as it is."""
        result = getattr(page, "result", None)
        if result is None:
            return page
        taken = result()
        judged = self._judged
        if page.rendered_here:
            self._in_turn = self._after_a_miss
            self._after_a_miss = min(2 * self._after_a_miss, IN_TURN_AFTER_MISSES)
            judged[:] = 0, 0.0, 0.0
            return taken
        self._after_a_miss = IN_TURN_AFTER_A_MISS
        judged[0] += taken[0]
        judged[1] += page.render_seconds
        judged[2] += self._copy_seconds + page.waited_seconds
        if judged[0] >= JUDGED_FLOWS:
            if judged[1] <= judged[2]:
                self._in_turn = IN_TURN_AFTER_A_LOSS
            judged[:] = 0, 0.0, 0.0
        return taken

    def _read(self, arguments, stamped=True):
        """(totalEntries, answer) of one query; the answer is not decoded.
        The caller holds the library's lock until it is done with the answer:
        any thread's next query replaces it.

        ``stamped``: the cache's changes are read first, into ``_stamp``.
        A split part is proven whole against a stamp taken before its read;
        an older one only makes the proof fail more often while flows come
        and go. So the parts a split asks for by value, thousands in a large
        cache, are read without a statistics read of their own each."""
        if stamped:
            self._stamp = self._changes()
        answer = self._query(*arguments)
        self.parts += 1
        if answer is None:
            return 0, ()
        return answer.totalEntries, answer

    def _take(self, arguments, depth, rest=()):
        """One query, taken in at once: (total, page, look), the page of the
        flows outside ``rest`` when the answer holds the whole part, else
        None and what _split needs of it."""
        with FLOW_CACHE:
            total, answer = self._read(arguments, stamped=depth == 0)
            if total <= len(answer):
                return total, self._shown(answer, rest), None
            return total, None, self._look(arguments, depth, answer, rest)

    def _look(self, arguments, depth, answer, rest=()):
        """What _split needs of a part's first answer: the split depth (past
        the criteria the part already sets), the answer's size, the page of
        its flows outside ``rest`` when no criterion is left, and its key
        values."""
        while depth < len(self._splits) and arguments[_INDEX[self._splits[depth][0]]] not in (0, None):
            depth += 1
        if depth == len(self._splits):
            return depth, len(answer), self._shown(answer, rest), []
        return depth, len(answer), None, list(self._keys(answer)) if answer else []

    def _shown(self, answer, rest):
        """(count, page) of the flows of an answer outside ``rest``, taken
        now: the library reuses the answer's buffer at its next query."""
        if not answer:
            return 0, []
        if self._render is None:
            flows = _outside(self._decoded(answer), rest)
            return len(flows), flows
        self.decoded += len(answer)
        now_ms = self._now_ms if self._now_ms is not None else int(time.time() * 1000)
        rest = tuple((_KEY_INDEX[attribute], values) for attribute, values in rest)
        if self._beside and not self._in_turn:
            started = time.thread_time()
            copy = answer_copy(_decode_rows, answer, rest, True)
            return len(copy), _Copied((copy, now_ms, time.thread_time() - started))
        self._in_turn = max(self._in_turn - 1, 0)
        return self._render(answer, now_ms, rest)

    def _decoded(self, answer):
        flows = self._decode(answer, self._now_ms)
        if type(flows) is not list:  # the stream hands out lists, whatever a decoder gives
            flows = list(flows)
        self.decoded += len(flows)
        return flows

    def _decoded_keys(self, answer):
        flows = self._decode(answer, self._now_ms)
        return [tuple(_value(flow, attribute) for attribute in KEY_ATTRIBUTES) for flow in flows]

    def _walk(self):
        # Without other criteria the hash statistics tell each table's size.
        # A cache far beyond one answer is then walked table by table at
        # once: the whole-cache answer would read every flow only to be
        # thrown away (and make `--limit 10` wait for it).
        # The sizes are trusted only while the flow counters stay where they
        # were before the sizes were read.
        stamp, sizes = None, {}
        if self._splits and all(value in (0, None) for value in self._arguments):
            stamp = self._changes()
            sizes = self._table_sizes()
        if sum(sizes.values()) > 2 * PAGE:
            self.total = sum(sizes.values())
            self._stamp = stamp
            yield from self._tables_walk(sizes, PAGE)
            return
        total, page, look = self._take(self._arguments, 0)
        self.total = total
        if page is not None:
            yield page
        elif self._arguments[_INDEX["tid"]] in (0, None):
            self._stamp = stamp if sizes else self._changes()
            yield from self._tables_walk(sizes, look[1])
        else:
            yield from self._split(self._arguments, (), look, total)

    def _tables_walk(self, sizes, page):
        """Table by table; a table well beyond one answer (by ``sizes``) is
        split without first reading an answer that would be thrown away."""
        stamp = self._stamp
        for table in self._tables():
            arguments = list(self._arguments)
            arguments[_INDEX["tid"]] = table
            if sizes.get(table, 0) > 2 * page:
                self._stamp = stamp
                yield from self._split(arguments, (), self._look(arguments, 0, ()), sizes[table])
            else:
                yield from self._part(arguments, (), 0)

    def _part(self, arguments, rest, depth):
        """The flows of one part: read it, and split it when it is too big.
        ``rest`` lists (attribute, values) pairs a flow must not match: the
        values earlier splits of this part asked for by value.  Returns how
        many flows the part held when it was read."""
        total, page, look = self._take(arguments, depth, rest)
        if page is not None:
            yield page
        else:
            yield from self._split(arguments, rest, look, total)
        return total

    def _split(self, arguments, rest, look, total):
        """A part too big for one answer; ``look`` is what its first answer
        showed (see _look)."""
        depth, count, page, keys = look
        if page is not None:
            # Nothing left to split by: one answer is all that can be seen.
            beyond = max(total - count, 0)
            # Of a rest, only the share of flows no earlier split produced
            # is missing: estimated from the answer that was seen.
            self.unreachable += round(beyond * page[0] / count) if rest and count else beyond
            yield page
            return
        field, attribute, values = self._splits[depth]
        index = _KEY_INDEX[attribute]
        keys = list(_outside_keys(keys, rest))
        # Values the first answer shows are asked for too: a port the
        # invalidation table did not name when it was read is no rest.
        asked = frozenset(values()) | {key[index] for key in keys if key[index]}
        yield from self._by_value(arguments, rest, depth, total, self._stamp, asked, 0,
                                  any(key[index] not in asked for key in keys))

    def _by_value(self, arguments, rest, depth, total, stamp, asked, covered, seen_rest, done=frozenset()):
        """The flows of a part with each value of ``asked`` (``done`` lists
        the values read already), then the part's rest.  ``total`` is the
        part's size when it was read, with the cache's ``changes`` then in
        ``stamp``; ``covered`` counts the flows of the values read so far,
        ``seen_rest`` tells whether an answer of the part showed a flow of
        the rest."""
        field, attribute, _ = self._splits[depth]
        index = _KEY_INDEX[attribute]
        for value in sorted(asked - done):
            narrower = list(arguments)
            narrower[_INDEX[field]] = value
            covered += yield from self._part(narrower, rest, depth + 1)
        done = done | asked
        # The counts tell that the part has no rest only when no flow came
        # or went anywhere in the cache between the part's read and now.
        if covered >= total and not seen_rest and self._changes() == stamp:
            return
        # The flows whose value cannot be asked for (zero, or a port the
        # invalidation table does not name) are read through the next split,
        # dropping what the values asked for already produced.
        narrowed = rest + ((attribute, done),)
        with FLOW_CACHE:
            now, answer = self._read(arguments)
            if now <= len(answer):
                page, keys, look = self._shown(answer, narrowed), None, None
            else:
                page, keys = None, list(_outside_keys(self._keys(answer), narrowed))
                new = frozenset(key[index] for key in keys if key[index])
                look = None if new else self._look(arguments, depth + 1, answer, narrowed)
        if page is not None:
            yield page
            return
        if new:
            # Values that came up meanwhile (a port added since) are asked
            # for by value too.
            yield from self._by_value(arguments, rest, depth, now, self._stamp, new, covered,
                                      any(not key[index] for key in keys), done)
        else:
            # No value this answer shows is new, and the answer is not the
            # whole part: the rest is read through the next split, as counts
            # that other processes may have moved cannot prove it empty.
            yield from self._split(arguments, narrowed, look, now)


def _not_rendered(answer, now_ms, rest):
    raise RuntimeError("a walk of copies renders no answer in the query's turn")


class _Copied(tuple):
    """(copy, now_ms, processor seconds the copy took) of an answer, to be
    rendered beside the next query."""


def _outside(flows, rest):
    """The flows that match none of the ``rest``, as a list."""
    if not rest:
        return flows
    return [flow for flow in flows if not any(_value(flow, attribute) in values for attribute, values in rest)]


_KEY_INDEX = {attribute: index for index, attribute in enumerate(KEY_ATTRIBUTES)}


def _outside_keys(keys, rest):
    for key in keys:
        if not any(key[_KEY_INDEX[attribute]] in values for attribute, values in rest):
            yield key


def _value(flow, attribute):
    value = getattr(flow, attribute)
    return int(value) if isinstance(value, bool) else value


def flows(**criteria: "Any") -> Walk:
    """Every cached flow that matches the criteria, as ``Flow`` objects,
    read lazily one query's worth at a time (see ``Walk``)."""
    return Walk(criteria)


__all__ = ["Flow", "PAGE", "Walk", "flows"]

"""The C decoder of whole query answers against the entry-by-entry Python
decoder, on the built-in cache's traffic and on buffers with damaged counts."""

import ctypes
import functools
import gzip
import ipaddress
import itertools
import json
import os
import pickle
import random
import struct
import time

import pytest

import _libfc
import libfc
from _libfc_fields import answer_copy, flow_hold, flow_rates, flow_rows, indented, top_page
from libfc import _flow, _walk, snapshot
from libfc.cli import flows, top

from _helpers import addr, builtin_library, cli_in_process, library_view, run_python_ok

HEADER = 8
ENTRY = 67670
MAX_ENTRIES = _libfc.FC_MAX_CACHE_FLOWS_IOC
NAMES = tuple(_flow.ACTION_NAMES.get(bit, "bit%d" % bit) for bit in range(64))


def by_entry(answer, now_ms):
    return [_flow.decode(entry, now_ms) for entry in answer]


@pytest.fixture
def traffic(flow_cache):
    """Fills the cache with the demo traffic of a seed; returns the answer."""
    def fill(flows, seed):
        assert builtin_library("libfc.so").fcemu_traffic(flows, seed) > 0
        return _libfc.FC_GetFlows(0, 0, "\x00", 0, None, 0, 0, 0, 0, None, 0)
    return fill


def copied(answer, entries=None):
    """A library-shaped copy of an answer's first `entries` entries, and a
    view of it: (buffer, view)."""
    count = answer.numEntries if entries is None else entries
    buffer = ctypes.create_string_buffer(HEADER + count * ENTRY)
    ctypes.memmove(buffer, addr(answer), HEADER + count * ENTRY)
    view = libfc.FC_IOCFlows.__new__(libfc.FC_IOCFlows)  # wrapped as the library's answers are
    view._attach(library_view("FC_IOCFlows", buffer))
    view.numEntries = count
    return buffer, view


@pytest.mark.parametrize("seed", [1, 7, 2024])
def test_bulk_and_entry_decoders_agree_on_demo_traffic(traffic, seed):
    answer = traffic(600, seed)
    now = int(time.time() * 1000)
    bulk = _flow.decode_page(answer, now)
    assert len(bulk) == answer.numEntries > 0
    # The traffic must exercise what the decoders differ in.
    assert {type(f.src) for f in bulk} == {ipaddress.IPv4Address, ipaddress.IPv6Address}
    assert len({name for f in bulk for name in f.actions}) >= 5
    assert any(len(f.entities) > 1 for f in bulk) and any(len(f.dst_ports) > 1 for f in bulk)
    for when in (now, 0, now + 10**9):
        reference = by_entry(answer, when)
        mismatched = [(b.as_dict(), r.as_dict()) for b, r in zip(_flow.decode_page(answer, when), reference)
                      if b != r or b.as_dict() != r.as_dict()]
        assert not mismatched, mismatched[:1]
    # The JSON line written for each flow is its dict, whichever decoder made it.
    for b, r in zip(bulk, by_entry(answer, now)):
        assert json.loads(b.json_text()) == json.loads(r.json_text()) == b.as_dict()
    # A flow nobody has read yet keeps its addresses and entities packed: what reads them as they are (the
    # texts, the JSON line, a pickle) sees what the entry-by-entry decoder made.
    for fresh, r in zip(_flow.decode_page(answer, now), by_entry(answer, now)):
        copied = pickle.loads(pickle.dumps(fresh))
        assert (fresh.src_text, fresh.dst_text, fresh.json_text()) == (r.src_text, r.dst_text, r.json_text())
        assert copied == r and repr(copied) == repr(r)
    # Flows with the same entities still get lists of their own.
    first, second = next((a, b) for a, b in itertools.combinations(_flow.decode_page(answer, now), 2)
                         if a.entities and a.entities == b.entities)
    assert first.entities is not second.entities and first.entities[0][1] is not second.entities[0][1]


@pytest.mark.parametrize("method, packed, error, match", [
    ("entities", b"\x01", ValueError, "no row of action"),                                  # shorter than a head
    ("entities", struct.pack("=QII", 1, 2, 0) + struct.pack("=I", 7), ValueError, "no row"),  # fewer ports than stated
    ("entities", struct.pack("=QII", 1, 4097, 0) + bytes(4 * 4097), ValueError, "no row"),  # more than an entity holds
    ("entities", struct.pack("=QII", 1, 0, 0) * 5, ValueError, "no row"),                   # more than an entry holds
    ("entities", [], TypeError, "is bytes, not list"),
    ("address", bytes(5), ValueError, "4 or 16 bytes, not 5"),
    ("address", "10.0.0.1", TypeError, "is bytes, not str"),
])
def test_packed_parts_no_entry_could_make_are_refused(method, packed, error, match):
    with pytest.raises(error, match=match):
        getattr(_flow._decode_rows, method)(packed)


@pytest.mark.parametrize("record, field, value, check", [
    (None, None, 0, None),
    # Counts beyond an entry's arrays read the whole array, as the sequences do.
    (lambda e: e, "numActionEntities", 0xFFFF, lambda f: len(f.entities) == 4),
    (lambda e: e[0], "dstPortsNum", 0xFFFFFFFF, lambda f: len(f.entities[0][1]) == 4096),
    # Values at the edges of their fields' ranges.
    (lambda e: e, "fcFlags", -1, lambda f: f.flags == -1),                 # a signed enum
    (lambda e: e.fkey, "flags", 0xFE, lambda f: f.ipv6 is False),          # every key flag but IPv6
    (lambda e: e.fkey, "flags", 0xFF, lambda f: f.ipv6 is True),
    (lambda e: e, "created", 2**64 - 1, lambda f: f.age_s == 0),           # created after now
    (lambda e: e, "flowId", 2**64 - 1, lambda f: f.id == 2**64 - 1),
])
def test_damaged_and_extreme_entries_decode_as_entry_by_entry(traffic, record, field, value, check):
    buffer, view = copied(traffic(300, 3), entries=3)
    if record is not None:
        setattr(record(list(view)[1]), field, value)  # iterating yields views; indexing, copies
    flows = _flow.decode_page(view, 10**6)
    assert flows == by_entry(view, 10**6)
    assert check is None or check(flows[1])


def test_entry_counts_beyond_an_answer_are_refused_and_a_header_made_here_has_none(traffic):
    buffer, view = copied(traffic(50, 5), entries=2)  # the buffer is kept: the view does not hold it
    view.numEntries = MAX_ENTRIES + 1
    with pytest.raises(ValueError, match="states %d entries" % (MAX_ENTRIES + 1)):
        _flow.decode_page(view)
    header = _libfc.new_FC_IOCFlows()
    _libfc.FC_IOCFlows_numEntries_set(header, 5)
    assert _flow.decode_page(header) == []


def test_what_is_no_answer_of_the_module_is_decoded_entry_by_entry(traffic):
    answer = traffic(100, 9)
    entries = list(answer)
    assert _flow.decode_page(entries, 5) == by_entry(answer, 5)
    decoder = flow_rows(_flow.Flow, NAMES, MAX_ENTRIES)
    for wrong in (entries, None, entries[0]):
        with pytest.raises(TypeError, match="FC_IOCFlows"):
            decoder(wrong, 0)


@pytest.mark.parametrize("flow_class, names, error, match", [
    (type("Plain", (), {"__slots__": ()}), NAMES, TypeError, "Plain is no flow_object class"),
    (type("Extra", (_flow.Flow,), {"__slots__": ("more",)}), NAMES, TypeError, "Extra is no flow_object class"),
    (type("WithDict", (_flow.Flow,), {}), NAMES, TypeError, "WithDict is no flow_object class"),
    (_flow.Flow, NAMES[:-1], ValueError, "64 action names"),
    (_flow.Flow, NAMES[:-1] + (5,), TypeError, "action name 63"),
])
def test_decoders_are_refused_for_classes_they_cannot_fill(flow_class, names, error, match):
    with pytest.raises(error, match=match):
        flow_rows(flow_class, names, MAX_ENTRIES)


def test_every_failed_allocation_raises_memory_error_and_leaves_nothing_behind(flow_cache):
    pytest.importorskip("_testcapi")
    result = run_python_ok(f"""
        import ctypes, gc, sys, _testcapi
        sys.path.insert(0, {os.path.dirname(os.path.abspath(__file__))!r})
        import _libfc, libfc
        from libfc import _flow
        from _helpers import builtin_library
        assert builtin_library("libfc.so").fcemu_traffic(40, 4) > 0
        answer = _libfc.FC_GetFlows(0, 0, "\\x00", 0, None, 0, 0, 0, 0, None, 0)
        expected = _flow.decode_page(answer, 1)
        assert {{f.ipv6 for f in expected}} == {{False, True}}
        expected_entities = [f.entities for f in expected]
        assert all(f == f for f in expected)  # each field made now, not while blocks are counted
        decode = _flow._decode_rows
        name = _flow.ACTION_NAMES[_libfc.FC_ACTION_DST_PORT]
        decode(answer, 1)
        gc.collect()
        names, blocks = sys.getrefcount(name), sys.getallocatedblocks()
        for n in range(100000):
            _testcapi.set_nomemory(n, n + 1)
            try:
                rows = decode(answer, 1)
                assert [f.entities for f in rows] == expected_entities  # built from each flow's row
            except MemoryError:
                rows = None
            finally:
                _testcapi.remove_mem_hooks()
            assert gc.isenabled()
            if rows is not None:
                break
        assert rows == expected and decode(answer, 1) == expected
        del rows
        gc.collect()
        assert sys.getrefcount(name) == names, "action names lost or gained references"
        assert sys.getallocatedblocks() - blocks < 100, "objects of abandoned flows leaked"
        print(n, len(expected))
    """)
    # The walk reached the end: every object of every flow (and of its entities, once read) failed once.
    failed, flows = map(int, result.stdout.split())
    assert failed > 5 * flows > 0


def test_decoded_flows_stay_out_of_the_collectors_view_until_given_a_container(traffic):
    import gc

    answer = traffic(300, 5)
    page = _flow.decode_page(answer, 1)
    # What a decoded flow makes of its values when read is no container, unlike its entities and addresses.
    plain = [name for name in _flow.Flow.FIELDS if name not in ("src", "dst", "entities")]
    assert not any(gc.is_tracked(obj) for flow in page for obj in [flow] + [getattr(flow, n) for n in plain])
    assert all(gc.is_tracked(flow.entities) and gc.is_tracked(flow) for flow in page)
    # A cycle through a flow given a container of its own is the collector's to find.
    flow = _flow.decode_page(answer, 1)[0]
    assert not gc.is_tracked(flow)
    flow.vni = [flow]
    del flow, page
    assert gc.collect() >= 2, "the flow and its list were left out of the collector's view"


@pytest.mark.parametrize("name", ["id", "src_mac", "_source", "_entities"])
def test_a_decoded_field_reads_set_and_deletes_as_a_slot(traffic, name):
    flow = _flow.decode_page(traffic(20, 2), 1)[0]
    assert getattr(flow, name) is getattr(flow, name)
    delattr(flow, name)
    with pytest.raises(AttributeError, match="'Flow' object has no attribute '%s'" % name):
        getattr(flow, name)
    with pytest.raises(AttributeError):
        delattr(flow, name)
    setattr(flow, name, "x")
    assert getattr(flow, name) == "x"
    assert getattr(_flow.Flow.__new__(_flow.Flow), name, None) is None


def test_text_writers_spell_entries_as_the_python_path(traffic):
    buffer, view = copied(traffic(300, 3), entries=6)
    entries = list(view)  # views: numbers without a name, no entity, no action or port, days, every bit
    entries[0].fkey.proto, entries[1].fkey.l2Key.etype, entries[2].numActionEntities = 200, 0x1234, 0
    entries[3][0].actionsBitMap, entries[3][0].dstPortsNum = 0, 0
    entries[4].created, entries[4].exprTime, entries[5][0].actionsBitMap = 1, 2**32 - 1, 2**64 - 1
    reference, writer = by_entry(view, now := int(time.time() * 1000)), _flow.TEXT_WRITER
    lines = "".join(f.json_text() + "\n" for f in reference)
    assert writer.json_lines(view, now, (), "{") == (6, lines)
    assert writer.table_cells(view, now, ()) == (6, [list(map(str, flows._row(f))) for f in reference])
    # A snapshot's lines read back as entries are written alike, up to a
    # line spelt otherwise than the writer would (an address here).
    odd = dict(json.loads(lines.split("\n", 1)[0]), ipv6=True, src="0::1", dst="::2")
    for form, more in (("json_lines", ("{",)), ("table_cells", ())):
        snapshot._LINES.aim(lines.encode() + json.dumps(odd).encode() + b"\n", 0)
        assert getattr(writer, form)(snapshot._LINES, -1, (), *more) == getattr(writer, form)(view, now, (), *more)
        assert snapshot._LINES.stopped() == len(lines)
    rest = ((0, frozenset({reference[1].port})), (3, frozenset({1})))  # by port, by IPv6 (KEY_ATTRIBUTES)
    shown = [f for f in reference if f.port != reference[1].port and not f.ipv6]
    text = "".join(f.json_text() + "\n" for f in shown)
    assert [writer.json_lines(view, now, rest, opening) for opening in ("{", b"{")] == [(len(shown), text),
                                                                                     (len(shown), text.encode())]
    # A copy of the answer (its rest applied as it is copied) is written as the answer, here or beside.
    for beside, (kept, forms) in itertools.product((False, True), ((rest, ()), ((), ("table_cells", "seen")))):
        copy = answer_copy(_flow._decode_rows, view, kept, beside)
        for form, more in (("json_lines", ("{",)),) + tuple((form, ()) for form in forms):
            page = getattr(writer, form)(copy, now, (), *more)
            assert (page.result() if beside else page) == getattr(writer, form)(view, now, kept, *more), form
        with pytest.raises(ValueError, match="outside the rest"):
            writer.seen(copy, now, rest)
        read = [top_page(_flow._decode_rows, answer, now, rests, 8, {}, len, False)
                for answer, rests in ((view, kept), (copy, ()))]
        assert (read[1].result() if beside else read[1]) == read[0]


def test_lines_of_many_copies_are_each_copys_lines_in_turn(traffic):
    buffer, view = copied(traffic(300, 3), entries=40)
    writer, now = _flow.TEXT_WRITER, int(time.time() * 1000)
    rest = ((0, frozenset({list(view)[1].fkey.portID})),)
    copies = [(answer_copy(_flow._decode_rows, view, kept, beside), now - shift)
              for kept, beside, shift in (((), True, 0), (rest, False, 86_400_000), ((), False, 5))]
    pages = [writer.json_lines(copy, when, (), b"{") for copy, when in copies]
    pages = [page.result() if hasattr(page, "result") else page for page in pages]
    assert writer.json_lines_of(copies, b"{") == (sum(n for n, _ in pages), b"".join(text for _, text in pages))
    assert writer.json_lines_of(iter(copies[1:]), "{") == (pages[1][0] + pages[2][0], (pages[1][1] + pages[2][1]).decode())
    assert writer.json_lines_of([], b"{") == (0, b"")


@pytest.mark.parametrize("pages, opening", [
    (None, b"{"), ([None], b"{"), ([()], b"{"), ([(1, 2)], b"{"), (["copy"], b"{"),
    ("view", b"{"), ("copy and float", b"{"), ("copy and huge", b"{"), ("copy, now, more", b"{"),
    ("copy", "\u00e9{"), ("copy", None),
])
def test_lines_of_anything_but_copies_are_refused(traffic, pages, opening):
    buffer, view = copied(traffic(300, 3), entries=4)
    copy = answer_copy(_flow._decode_rows, view, ())
    named = {"copy": [(copy, 0)], "view": [(view, 0)], "copy and float": [(copy, 1.5)],
             "copy and huge": [(copy, 2**63)], "copy, now, more": [(copy, 0, 0)]}
    pages = named[pages] if isinstance(pages, str) and pages in named else pages
    with pytest.raises((TypeError, OverflowError)):
        _flow.TEXT_WRITER.json_lines_of(pages, opening)


@pytest.mark.parametrize("key, largest, most", [("packets", True, 0), ("age_s", False, 7), ("id", True, 30),
                                                (None, False, 0), (None, False, 50)])
def test_a_hold_writes_its_flows_as_the_python_path_sorts_them(traffic, key, largest, most):
    buffer, view = copied(traffic(300, 3), entries=40)
    reference, writer = by_entry(view, now := int(time.time() * 1000)), _flow.TEXT_WRITER
    hold = flow_hold(_flow._decode_rows, key, largest, most)
    with pytest.raises(ValueError, match="after sort"):
        hold.aim(1)
    with pytest.raises(TypeError, match="not added"):
        hold.add(hold, now, ())
    # Each flow twice, from the answer and from a copy of it: the first
    # `most` are kept as the flows come, then written a page at a time.
    assert [hold.add(answer, now, ()) for answer in (view, answer_copy(_flow._decode_rows, view, ()))] == [(40, None)] * 2
    hold.sort()
    expected = reference * 2 if key is None else sorted(reference * 2, key=lambda f: (getattr(f, key), f.id), reverse=largest)
    expected = expected[:most or None]
    pages = [writer.json_lines(hold, 0, (), "{") for _ in iter(lambda: hold.aim(11), 0)]
    assert len(hold) == len(expected) and sum(count for count, _ in pages) == len(expected)
    assert "".join(text for _, text in pages) == "".join(f.json_text() + "\n" for f in expected)
    with pytest.raises(ValueError, match="takes no more"):
        hold.add(view, now, ())
    with pytest.raises(ValueError, match="outside the rest"):
        writer.seen(hold, now, ((0, frozenset({1})),))


@pytest.mark.parametrize("elapsed", [3.0, 0.1, 7e-13, 3e15, 1e22])
def test_a_writer_with_rates_spells_them_as_the_python_path(traffic, elapsed):
    buffer, view = copied(traffic(300, 3), entries=40)
    now, rates = int(time.time() * 1000), flow_rates()
    writer = _flow._text_writer(rates)
    list(view)[5].flowId = 2**64 - 1  # the one id a count table cannot mark a slot empty with
    before = [entry.pktCount for entry in view]
    assert writer.json_lines(view, now, (), "{")[1].count('"packets_per_second":null}') == 40
    # Rates of every size: repr()'s positional and exponent forms, "%.1f"'s longest; none for a count gone down.
    for n, entry in enumerate(view):
        entry.pktCount = before[n] + (n * 7919) ** (n % 4) if n % 13 != 4 else before[n] - 1
    rates.next(elapsed)
    rate = [None if e.pktCount < b else (e.pktCount - b) / elapsed for e, b in zip(view, before)]
    assert rate.count(None) == 3
    texts = writer.json_lines(view, now, (), "{")[1].splitlines()
    assert [text.rsplit(":", 1)[1] for text in texts] == [json.dumps(r) + "}" for r in rate]
    lines = [json.loads(line) for line in texts]
    assert [line.pop("packets_per_second") for line in lines] == rate
    assert lines == [json.loads(f.json_text()) for f in by_entry(view, now)]
    rates.next(elapsed)
    texts = writer.json_lines(view, now, (), "{")[1].splitlines()
    assert {text.rsplit(":", 1)[1] for text in texts} == {"0.0}"}  # a count gone down is the next one's base
    rates.next(elapsed)
    for n, entry in enumerate(view):
        entry.pktCount += n
    cells = writer.table_cells(view, now, ())[1]
    assert [row[flows.RATE_AT] for row in cells] == ["%.1f" % (n / elapsed) for n in range(40)]
    assert [row[:flows.RATE_AT] + row[flows.RATE_AT + 1:] for row in cells] == _flow.TEXT_WRITER.table_cells(view, now, ())[1]


def test_indented_lays_out_json_as_json_dumps_and_takes_any_text():
    docs = [{"a": 1, "b": [], "c": {}, "d": [{"x": 'q"\\\u00e9,:{}[]', "y": [1, -2.5e-07]}], "e": None}, {"z": True}]
    lines = "".join(json.dumps(doc, separators=(",", ":")) + "\n" for doc in docs)
    for level in (0, 3):
        laid = ",\n".join("\n".join("  " * level + line for line in json.dumps(doc, indent=2).split("\n")) for doc in docs)
        assert indented(lines, level) == laid and indented(lines.encode(), level) == laid.encode()
    # Text that is no JSON comes back laid out somehow, whole; what nests too deep or is not ASCII is refused.
    rng = random.Random(5)
    for text in [b'"\\', b"]]}}", b"{[\n,\n", b'"' * 7] + [bytes(rng.choice(b'{}[],:"\\a \n\xff') for _ in range(rng.randrange(300)))
                                                   for _ in range(300)]:
        assert len(indented(text, 1)) >= len(text.replace(b"\n", b""))
    # The deepest it lays out, at the deepest level: 64 levels of indentation.
    deepest = functools.reduce(lambda inner, _: [inner], range(30), [{"k": 1}])
    laid = "\n".join("  " * 32 + line for line in json.dumps(deepest, indent=2).split("\n"))
    assert indented(json.dumps(deepest, separators=(",", ":")), 32) == laid
    with pytest.raises(ValueError, match="too deep"):
        indented("[" * 40, 0)
    for wrong in (("é", 1), ("{}", -1), ("{}", 33), (b"{}",)):
        with pytest.raises(TypeError):
            indented(*wrong)


# Numbers at each edge of a count of digits, set (cut to its width) in every
# numeric field a line spells, and MACs that together hold every byte.
DIGIT_EDGES = sorted({0, 2**64 - 1} | {n for k in range(1, 20) for n in (10**k - 1, 10**k)})
NUMBER_FIELDS = ("flowId", "fcFlags", "tblId", "pktCount", "exprTime", "created", "fkey.portID", "fkey.vni",
                 "fkey.proto", "fkey.l2Key.etype", "fkey.l2Key.vlanid")
MAC_FIELDS = ("fkey.l2Key.saddr", "fkey.l2Key.daddr", "fkey.inner.l2Key.daddr")
# IPv6 addresses of each shape inet_ntop tells apart: runs of zero groups
# (none, one alone, first of equals, leading, trailing, all), groups of one
# to four digits, and the IPv4-mapped and -compatible forms.
V6_SHAPES = ("::", "::1", "1::", "1:0:2:0:3:0:4:0", "1:0:0:2:0:0:3:4", "1:0:0:2:0:0:0:3", "a:bc:def:1234:abcd:ef01:2:0",
             "fd00:1::ff:4c69", "::ffff:1.2.3.4", "::ffff:0.0.0.0", "::1.2.3.4", "::1:0:0:0", "1:2:3:4:5:6:7:8")


def _set_cut(record, name, value):
    """Sets record.name to value cut to the widest the field takes, read as
    signed when the field takes no other."""
    for bits in (64, 32, 16, 8):
        cut = value % 2**bits
        for number in (cut, cut - 2**bits * (cut >> (bits - 1))):
            try:
                return setattr(record, name, number)
            except (OverflowError, ValueError):
                continue
    raise AssertionError("%s takes no number" % name)


def test_text_writers_spell_every_count_of_digits_byte_and_address_shape_as_the_python_path(traffic):
    buffer, view = copied(traffic(300, 3), entries=len(DIGIT_EDGES))
    for n, (entry, value) in enumerate(zip(view, DIGIT_EDGES)):
        for path in NUMBER_FIELDS + MAC_FIELDS:
            *parents, name = path.split(".")
            record = functools.reduce(getattr, parents, entry)
            if path in MAC_FIELDS:
                first = 6 * (3 * n + MAC_FIELDS.index(path))
                setattr(record, name, ":".join("%02x" % (b % 256) for b in range(first, first + 6)))
            else:
                _set_cut(record, name, value)
        if n < len(V6_SHAPES):
            entry.fkey.flags |= _libfc.FC_FLOWKEY_IPV6
            key = entry.fkey.ipKey.ipv6Key
            key.sip_addr, key.dip_addr = V6_SHAPES[n], V6_SHAPES[n - 1]
        # Every action, and in the last line 4096 ports: lines past the room a page is made with.
        entry.numActionEntities, entry[0].actionsBitMap = max(entry.numActionEntities, 1), 2**64 - 1
    entry[0].dstPortsNum = 2**32 - 1
    reference, writer = by_entry(view, now := int(time.time() * 1000)), _flow.TEXT_WRITER
    assert {f.flags < 0 for f in reference} == {False, True}
    assert reference[8].src == ipaddress.ip_address("::ffff:1.2.3.4")
    lines = "".join(f.json_text() + "\n" for f in reference)
    assert len(lines) > 1100 * len(reference)
    assert writer.json_lines(view, now, (), b"{") == (len(reference), lines.encode())
    assert writer.table_cells(view, now, ()) == (len(reference), [list(map(str, flows._row(f))) for f in reference])


@pytest.mark.same_on_every_build
@pytest.mark.parametrize("columns", [None, "90"], ids=["pipe", "terminal"])
def test_listings_and_saves_written_in_c_equal_the_python_paths(flow_cache, capsys, monkeypatch, tmp_path, columns):
    # One table beyond two answers: split, rests and all; widths fixed by 300 rows, then widened or cut.
    library = builtin_library("libfc.so")
    assert library.fcemu_reset_sized(1, 8192) == 0 and library.fcemu_traffic(5000, 13) == 5000
    monkeypatch.setattr(_libfc, "FC_MAX_CACHE_FLOWS_IOC", 300)
    monkeypatch.setattr(time, "time", lambda now=time.time(): now)

    def steady(*arguments, query=_libfc.FC_GetFlows):  # the library counts expiry down by its own clock
        for entry in (answer := query(*arguments)) or ():
            entry.exprTime = 9
        return answer
    monkeypatch.setattr(_libfc, "FC_GetFlows", steady)
    monkeypatch.setenv("COLUMNS", columns) if columns else None
    outputs = []
    # Pages rendered beside the queries, in the queries' turn, and flow by flow in Python.
    for writer, beside in ((_flow.TEXT_WRITER, True), (_flow.TEXT_WRITER, False), (None, False)):
        [monkeypatch.setattr(module, "TEXT_WRITER", writer) for module in (flows, _flow)]
        monkeypatch.setattr(_walk, "RENDER_BESIDE", beside)
        monkeypatch.setattr(flows, "_decode_rows", writer and _flow._decode_rows)  # --top: each answer's best in C
        saved = str(tmp_path / "saved")
        runs = [cli_in_process(capsys, "flows", *options) for options in (
            ["--save", saved], [], ["--json-lines"], ["--vlan", "106"], ["--from", saved], ["--from", saved, "--json-lines"],
            ["--top", "250"], ["--top", "9", "--sort", "port", "--reverse", "--json-lines"],
            ["--top", "5", "--sort", "age", "--json"], ["--json"], ["--from", saved, "--json", "--vlan", "106"],
            ["--from", saved, "--vlan", "106"], ["--sort", "packets"], ["--sort", "age", "--reverse", "--json"],
            ["--top", "400", "--sort", "vni", "--json-lines"], ["--from", saved, "--sort", "port", "--limit", "7"],
            ["--sort", "expires", "--limit", "3000", "--json-lines"],
            ["--from", saved, "--sort", "id", "--reverse", "--json-lines", "--proto", "6"],
            ["--json", "--pretty"], ["--from", saved, "--json", "--pretty", "--sort", "vni", "--limit", "400"],
            ["--json", "--pretty", "--port", "1"], ["--limit", "450"], ["--json-lines", "--limit", "300"],
            ["--limit", "7", "--vlan", "106"], ["--from", saved, "--limit", "450"], ["--json", "--limit", "350"],
            ["--from", saved, "--json-lines", "--limit", "4500", "--proto", "6"],
            ["--from", saved, "--json", "--pretty", "--limit", "20"], ["--json", "--limit", "3", "--vlan", "106"])]
        runs.append(cli_in_process(capsys, "diff", saved, "live", "--json"))
        reading = top.live_reading()
        reading.finish()
        with gzip.open(tmp_path / "saved", "rt") as saved:
            outputs.append((runs, saved.read().split("\n", 1)[1], [bytes(getattr(reading.sample.table, name))
                                                                    for name in top.PAGE_COLUMNS]))
    assert outputs[0] == outputs[1] == outputs[2] and outputs[0][0][1][1].count("\n") == 5001
    assert [run[1:] for run in outputs[0][0][4:6]] == [run[1:] for run in outputs[0][0][1:3]]  # the file as the cache

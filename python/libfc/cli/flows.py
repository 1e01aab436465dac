"""``flows`` lists the cached flows that match a filter, over the whole
cache however many queries that takes; ``flows remove`` removes them.  The
filter options are the criteria of FC_GetFlows, in its argument order; an
option left out matches every flow.

The listing streams: rows (or JSON lines) are written as the walk reads
them, so memory stays bounded by one query's answer whatever the cache
holds, and --limit stops the walk once enough flows are out.  Only --sort
and --json (every flow, kept compact in C) and --top (N flows) hold flows
back."""

import contextlib
import heapq
import itertools
import json
import sys

import _libfc
from _libfc_fields import indented

from .. import _cache, snapshot
from .._flow import RATE_KEY, TEXT_WRITER, _decode_rows, _text_writer, decode_page
from . import _output, _snapshots, _values, _watch
from ._library import bad_input

# Typing names are quoted and imported only by type checkers.
TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse
    from typing import Any, Callable, Dict, Iterable, Iterator, List, Optional, Tuple

    from .._flow import Flow

    _Subparsers = argparse._SubParsersAction[Any]
    # The pages a listing prints: given how the C writer renders an answer
    # (render) and how to write the flows it cannot take (flow_page), each
    # non-empty (count, page).
    _Pages = Callable[[Callable[[Any, int, Any], Any], Callable[[List[Flow]], Tuple[int, Any]]],
                      Iterable[Tuple[int, Any]]]

# Option, keyword of libfc.flows(), parser, help; in the operations' argument order.
FILTERS = [
    ("--src", "src", _values.ip_address, "source address (IPv4, or IPv6: its last 4 bytes are compared)"),
    ("--dst", "dst", _values.ip_address, "destination address"),
    ("--v6", "v6", None, "IPv6 flows only"),
    ("--port", "port", _values.uint32, "switch port id the flow came in on"),
    ("--dmac", "dmac", _values.mac_address, "outer destination MAC"),
    ("--vni", "vni", _values.uint32, "overlay network id, 0 to 16777215"),
    ("--ether", "ether", _values.ether_type, "ether type, 0 to 65535 (number or ipv4, ipv6, arp, ...)"),
    ("--vlan", "vlan", _values.uint32, "VLAN id, 0 to 4095"),
    ("--proto", "proto", _values.protocol, "layer-4 protocol, 0 to 255 (number or tcp, udp, icmp, ...)"),
    ("--inner-dmac", "inner_dmac", _values.mac_address, "inner destination MAC"),
    ("--table", "table", _values.uint32, "hash table id"),
]

# Sort key: the Flow attribute it orders by.
SORT_KEYS = {"packets": "packets", "age": "age_s", "expires": "expires_in_s", "port": "port", "vni": "vni",
             "id": "id"}

# The listing's columns; on a narrow terminal the MACs go first, the id,
# addresses and packets never.
COLUMNS = [
    _output.Column("ID", numeric=True), _output.Column("PORT", numeric=True, drop=7),
    _output.Column("VNI", numeric=True, drop=5), _output.Column("SOURCE"), _output.Column("DESTINATION"),
    _output.Column("PROTO", drop=9), _output.Column("SRC MAC", drop=1), _output.Column("DST MAC", drop=2),
    _output.Column("ACTIONS", drop=8, shrink=10), _output.Column("DST PORTS", drop=6, shrink=9),
    _output.Column("PACKETS", numeric=True), _output.Column("AGE", drop=4), _output.Column("EXPIRES", drop=3),
]
HEADERS = [column.name for column in COLUMNS]
# With --watch, packets per second beside the packets (kept, as they are, on
# a narrow terminal); AGE and EXPIRES move right.
RATE_AT = HEADERS.index("PACKETS") + 1
RATED_COLUMNS = COLUMNS[:RATE_AT] + [_output.Column("PKTS/S", numeric=True)] + COLUMNS[RATE_AT:]


def spell(keyword: str) -> str:
    """A filter keyword as the option that sets it."""
    return "--" + keyword.replace("_", "-")


def _add_filters(parser):
    group = parser.add_argument_group(
        "filter", "Every given criterion must match. Zero, for any numeric criterion, and an all-zero MAC "
                  "match every flow, as leaving the option out does.")
    for option, keyword, parse, text in FILTERS:
        if parse is None:
            group.add_argument(option, dest=keyword, action="store_true", help=text)
        else:
            group.add_argument(option, dest=keyword, type=parse, metavar=keyword.upper(), help=text)


def register(subparsers: "_Subparsers") -> None:
    parser = subparsers.add_parser("flows", help="list cached flows",
                                   description="List the cached flows that match the filter, each once, "
                                               "as they are read.")
    _add_filters(parser)
    form = parser.add_mutually_exclusive_group()
    form.add_argument("--json", action="store_true", help="print one JSON document (for small listings)")
    form.add_argument("--json-lines", action="store_true", help="print one JSON object per flow and line")
    _output.add_pretty(parser)
    parser.add_argument("--limit", type=_values.positive, metavar="N",
                        help="show at most N flows (without --sort or --top, stop reading there: a snapshot's "
                             "lines after the N-th flow are neither read nor checked)")
    parser.add_argument("--sort", choices=SORT_KEYS, metavar="KEY",
                        help="order by %s, smallest first (holds every flow in memory)" % "|".join(SORT_KEYS))
    parser.add_argument("--top", type=_values.positive, metavar="N",
                        help="only the N flows with the largest sort key (default packets), largest first")
    parser.add_argument("--reverse", action="store_true",
                        help="reverse the order: largest first for --sort, the N smallest for --top")
    parser.add_argument("--watch", type=_watch.seconds, metavar="S",
                        help="list again every S seconds, with each flow's packets per second since the "
                             "listing before (until Ctrl-C)")
    files = parser.add_mutually_exclusive_group()
    files.add_argument("--save", metavar="FILE",
                       help="write the whole cache to FILE as a snapshot (gzip-compressed JSON lines)")
    files.add_argument("--from", dest="from_file", metavar="FILE",
                       help="list the flows of a snapshot FILE instead of the live cache")
    parser.set_defaults(handler=show)
    actions = parser.add_subparsers(dest="flows_action", metavar="{remove}")
    remove_parser = actions.add_parser("remove", help="remove the flows that match the filter",
                                       description="Remove the cached flows that match the filter.")
    _add_filters(remove_parser)
    remove_parser.add_argument("--all", action="store_true", help="needed to remove every flow (no filter)")
    remove_parser.set_defaults(handler=remove)


def filter_keywords(args):
    return {keyword: getattr(args, keyword) for _, keyword, _, _ in FILTERS}


def has_filter(args):
    return any(value not in (None, False, 0) for value in filter_keywords(args).values())


def _checked(call, *arguments, **keywords):
    """A filter the package refuses is the user's bad input."""
    try:
        return call(*arguments, **keywords)
    except ValueError as error:
        raise bad_input(str(error)) from None


def _order(args: "argparse.Namespace") -> "Optional[Tuple[str, bool, Optional[int]]]":
    """How a listing that orders its flows (--sort, --top) orders them: the
    Flow attribute, whether largest first, and how many it shows at most;
    None for a listing in the walk's order."""
    if args.top is None and args.sort is None:
        if args.reverse:
            raise bad_input("--reverse needs --sort or --top")
        return None
    most = args.limit if args.top is None else min(args.top, args.limit or args.top)
    return SORT_KEYS[args.sort or "packets"], (args.top is not None) != args.reverse, most


def _selected(flows, args):
    """The flows in the order and number the options ask for."""
    order = _order(args)
    if order is None:
        return flows
    attribute, largest, most = order

    def key(flow):
        return getattr(flow, attribute), flow.id

    if most is not None:
        pick = heapq.nlargest if largest else heapq.nsmallest
        return iter(pick(most, flows, key=key))
    return iter(sorted(flows, key=key, reverse=largest))


def _ports_text(ports, most=4):
    shown = ",".join(str(p) for p in ports[:most])
    return shown + (",+%d" % (len(ports) - most) if len(ports) > most else "")


def _row(flow):
    proto = _values.PROTOCOL_NAMES.get(flow.proto, str(flow.proto))
    actions = ";".join(",".join(names) or "-" for names, _ in flow.entities) or "-"
    ports = ";".join(_ports_text(ports) or "-" for _, ports in flow.entities) or "-"
    return [flow.id, flow.port, flow.vni, flow.src_text, flow.dst_text, proto, flow.src_mac, flow.dst_mac, actions, ports,
            flow.packets, _output.duration(flow.age_s), _output.duration(flow.expires_in_s)]


JSON_LINE_START = '{"schema":%d,' % _output.SCHEMA


def _read(walk, progress):
    for done, flow in enumerate(walk, 1):
        progress.update(done, walk.total)
        yield flow


def _picked_per_answer(walk: "Any", order: "Optional[Tuple[str, bool, Optional[int]]]") -> bool:
    """Whether an ordered listing (see _order) picks its first N from each
    answer, in C beside the queries: of the live cache, for N below one
    answer.  In the walk's order, those hold the best N of all flows, ties
    and all.  (An N as large as an answer would pick every flow.)"""
    return (order is not None and order[0] is not None and order[2] is not None
            and order[2] < _libfc.FC_MAX_CACHE_FLOWS_IOC and _decode_rows is not None
            and not isinstance(walk, snapshot.Snapshot))


def _candidates(walk, args, progress):
    """The flows _selected picks from: every flow, or the best N of each
    answer (_picked_per_answer)."""
    order = _order(args)
    if not _picked_per_answer(walk, order):
        return _read(walk, progress)
    return _answers_best(walk, progress, *order)


def _answers_best(walk, progress, key, largest, most):
    from _libfc_fields import top_flows

    done = 0
    def best(*page):
        return top_flows(_decode_rows, *page, key, most, largest)

    for count, (chosen, now_ms) in walk.pages(best):
        done += count
        progress.update(done, walk.total)
        yield from decode_page(chosen, now_ms)


def show(args: "argparse.Namespace") -> int:
    if args.save is not None:
        if args.watch is not None:
            raise bad_input("--watch lists the cache again and again: it does not go with --save")
        return _save(args)
    if args.watch is None:
        return _list(args)
    return watch(args)


def watch(args, clock=None, sleep=None):
    """The listing every --watch seconds.  A flow's rate is its packet count's
    change since the listing before, by flow id, over the time between the
    two listings' starts; a flow not seen in that listing has none yet."""
    import time

    from _libfc_fields import flow_rates

    seen = {}
    # The C writers take the rates of the flows they write from these.
    rates = flow_rates() if TEXT_WRITER is not None else None
    writer = _text_writer(rates) if rates is not None else None
    clear = _output._is_terminal(sys.stdout)
    for count, (_, elapsed) in enumerate(_watch.samples(lambda: None, args.watch, clock=clock or time.monotonic,
                                                        sleep=sleep or time.sleep)):
        current = {}

        def rate(flow):
            current[flow.id] = flow.packets
            before = seen.get(flow.id)
            if elapsed is None or not elapsed > 0 or before is None or flow.packets < before:
                return None
            return (flow.packets - before) / elapsed

        if rates is not None:
            rates.next(elapsed)
        if clear:
            sys.stdout.write("\033[H\033[J")
        elif count and not args.json_lines:
            sys.stdout.write("\n")
        _list(args, rate, writer)
        sys.stdout.flush()
        seen = current
    return 0


def _list(args, rate=None, writer=None):
    # A listing that holds every flow (to sort them, or in the document)
    # holds the collector off: each flow a row's spelling has touched is in
    # its view, and it would go through all of them again and again (half
    # of a sorted listing of a million flows).
    holds = args.sort is not None or args.json
    with _snapshots.holding_every_flow([args.from_file] if args.from_file is not None else []), \
            (_snapshots.without_collector() if holds else contextlib.nullcontext()):
        return _listing(args, rate, writer)


def _printed_pages(walk: "Any", progress: "_output.Progress", render: "Callable[[Any, int, Any], Any]",
                   flow_page: "Callable[[List[Flow]], Tuple[int, Any]]", beside: bool = True,
                   most: "Optional[int]" = None) -> "Iterator[Tuple[int, Any]]":
    """The walk's pages as render writes them (see Walk.pages), or a
    snapshot's, whose flows the C writer cannot take flow_page writes; the
    first `most` flows' only (the page that reaches them cut, the walk
    stopped there)."""
    done = 0
    pages = (walk.pages(render, flow_page) if isinstance(walk, snapshot.Snapshot)
             else walk.pages(render, beside=beside))
    for count, page in pages:
        if most is not None and done + count >= most:
            count, page = most - done, _first_rows(page, most - done)
        done += count
        progress.update(done, walk.total)
        yield count, page
        if done == most:
            return


def _listing(args: "argparse.Namespace", rate: "Optional[Callable[[Any], Optional[float]]]",
             rated_writer: "Any" = None) -> int:
    """The listing; with rates, rate(flow) gives a flow's rate on the paths
    that take the flows, rated_writer (a C writer made with rates, or None)
    on the others."""
    chosen = _checked(_cache.criteria, spell, **filter_keywords(args))
    if args.from_file is not None:
        stop = args.limit if args.sort is None and args.top is None else None
        walk = snapshot.Snapshot(args.from_file, chosen, stop)
    else:
        walk = _cache.walk(chosen)
    progress = _output.Progress("reading flows", 0)
    # A listing of every matching flow in the walk's (or the file's) order
    # is written in C a whole answer (or chunk of lines) at a time, without
    # a Flow per row; so is one in order of a key, from its flows held in
    # C, but for the first few of the live cache, picked from each answer
    # beside the queries (_candidates); and a JSON document, whose counts
    # come before its flows, from its flows held in C in the walk's order,
    # the first N of them for a limit.
    order = _order(args)
    writer = TEXT_WRITER if rate is None else rated_writer
    if writer is not None:
        if order is None and args.json:
            order = (None, False, args.limit)
        # A limit cuts the last page it reaches, and the walk stops there (a
        # snapshot's pages end at its limit-th flow); but with the rates of
        # --watch, which are kept only for the flows shown.
        if order is None and (args.limit is None or rate is None):
            def pages(render, flow_page):
                yield from _printed_pages(walk, progress, render, flow_page, most=args.limit)
                progress.finish()
            _report(args, walk, _print_pages(args, writer, walk, pages))
            return 0
        if order is not None and not _picked_per_answer(walk, order):
            _report(args, walk, _print_held(args, writer, walk, progress, *order))
            return 0
    flows = _selected(_candidates(walk, args, progress), args)
    if args.limit is not None:
        flows = itertools.islice(flows, args.limit)
    shown = 0
    if args.json:
        listed = []
        for flow in flows:
            listed.append(flow.as_dict())
            if rate is not None:
                listed[-1][RATE_KEY] = rate(flow)
        progress.finish()
        _count_rest(walk)
        shown = len(listed)
        _output.emit_json(_document(walk, shown, listed),
                          args)
    elif args.json_lines:
        write = sys.stdout.write
        for flow in flows:
            text = JSON_LINE_START + flow.json_text()[1:]
            if rate is not None:
                text = '%s,"%s":%s}' % (text[:-1], RATE_KEY, json.dumps(rate(flow)))
            write(text + "\n")
            shown += 1
        progress.finish()
    else:
        table = _output.StreamingTable(COLUMNS if rate is None else RATED_COLUMNS,
                                       sample=_libfc.FC_MAX_CACHE_FLOWS_IOC)
        for flow in flows:
            row = _row(flow)
            if rate is not None:
                per_second = rate(flow)
                row.insert(RATE_AT, "-" if per_second is None else "%.1f" % per_second)
            table.add(row)
        progress.finish()
        shown = table.rows
        if shown:
            table.finish()
        else:
            _output.footer("no flows match" if not walk.total else "%d flows match; none shown" % walk.total)
    _report(args, walk, shown)
    return 0


def _first_rows(page: "Any", count: int) -> "Any":
    """The first count rows of a page: of its lines (text) or of its rows of cells."""
    if type(page) is list:
        return page[:count]
    return "\n".join(page.split("\n", count)[:count]) + "\n"


def _json_lines_page(flows: "List[Flow]", start: str = JSON_LINE_START, end: str = "\n") -> "Tuple[int, str]":
    return len(flows), "".join(start + flow.json_text()[1:] + end for flow in flows)


def _cells_page(flows: "List[Flow]") -> "Tuple[int, List[List[Any]]]":
    return len(flows), [_row(flow) for flow in flows]


def _print_pages(args: "argparse.Namespace", writer: "Any", walk: "Any", pages: "_Pages",
                 shown: "Optional[int]" = None) -> int:
    """The listing of _listing, each of its pages written by the C writer
    (with rates, when made with them); returns how many flows it shows.
    shown: how many that is, known before the pages are written (as --json
    needs)."""
    if args.json:
        assert shown is not None
        return _print_document(writer, walk, pages, shown, args.pretty)
    if args.json_lines:
        write, json_lines = sys.stdout.write, writer.json_lines
        shown = 0
        for count, text in pages(lambda *page: json_lines(*page, JSON_LINE_START), _json_lines_page):
            write(text)
            shown += count
        return shown
    table = _output.StreamingTable(COLUMNS if writer is TEXT_WRITER else RATED_COLUMNS,
                                   sample=_libfc.FC_MAX_CACHE_FLOWS_IOC)

    def render(answer, now_ms, rest):
        # Cells until the table has fixed its widths, finished lines after.
        layout = table.layout()
        if layout is None:
            return writer.table_cells(answer, now_ms, rest)
        return writer.table_lines(answer, now_ms, rest, layout)

    for count, page in pages(render, _cells_page):
        if type(page) is list:
            for cells in page:
                table.add(cells)
        else:
            table.add_lines(count, page)
    if table.rows:
        table.finish()
    else:
        _output.footer("no flows match" if not walk.total else "%d flows match; none shown" % walk.total)
    return table.rows


def _document(walk: "Any", shown: int, flows: "List[Any]") -> "Dict[str, Any]":
    """--json's document of a listing, its flows as given."""
    return {"total": walk.total, "shown": shown, "unreachable": walk.unreachable, "flows": flows}


def _print_document(writer: "Any", walk: "Any", pages: "_Pages", shown: int, pretty: bool) -> int:
    """--json of _listing, of the `shown` flows of its pages, indented as
    json.dumps(indent=2) indents it for --pretty; returns shown."""
    document_flows = writer.json_document
    document = _output.json_text(_document(walk, shown, []), pretty)
    # The document up to the flows' "[", and what closes it after a flow and
    # after none.
    if pretty:
        head, end, empty_end = document[:-3], "\n  ]\n}\n", "]\n}\n"
    else:
        head, end, empty_end = document[:-2], "]}\n", "]}\n"
    write = sys.stdout.write
    write(head)
    written = False
    # Each flow with the comma before it, which the first goes without: a
    # page's text is written as the writer made it.
    for _, text in pages(lambda *page: document_flows(*page, pretty), lambda flows: _document_page(flows, pretty)):
        if text:
            write(text if written else text[1:])
            written = True
    write(end if written else empty_end)
    return shown


def _document_page(flows: "List[Flow]", pretty: bool) -> "Tuple[int, str]":
    """The flows of a --json document as the writer's json_document writes
    them, of flows only Python reads."""
    if pretty and flows:
        return len(flows), ",\n" + indented(_json_lines_page(flows, "{")[1], 2)
    return _json_lines_page(flows, ",{", "")


def _print_held(args: "argparse.Namespace", writer: "Any", walk: "Any", progress: "_output.Progress",
                key: "Optional[str]", largest: bool, most: "Optional[int]") -> int:
    """An ordered listing of _listing: the matching flows held in C (some
    hundred bytes each; for the first `most`, at most twice as many), put in
    order of key (None: as read), and the first `most` (all: None) written
    by the C writer a page at a time; returns how many it shows."""
    from _libfc_fields import flow_hold

    hold = flow_hold(_decode_rows, key, largest, most or 0)
    for _ in _printed_pages(walk, progress, hold.add, lambda flows: _held_flows(hold, flows), beside=False):
        if key is None and len(hold) == most:  # the first few, in the walk's order: the walk stops
            break
    progress.finish()
    hold.sort()
    shown = len(hold)

    def pages(render, flow_page):
        for left in range(shown, 0, -_libfc.FC_MAX_CACHE_FLOWS_IOC):
            hold.aim(min(left, _libfc.FC_MAX_CACHE_FLOWS_IOC))
            yield render(hold, 0, ())

    return _print_pages(args, writer, walk, pages, shown)


def _held_flows(hold: "Any", flows: "List[Flow]") -> "Tuple[int, None]":
    """Flows of a snapshot's lines only the Python reader takes, added to
    hold: as the lines the C reader takes, which are each flow's own."""
    lines = snapshot.lines_reader("".join(flow.json_text() + "\n" for flow in flows).encode())
    count, _ = hold.add(lines, -1, ())
    if count != len(flows):
        raise RuntimeError("flows read from a snapshot do not read back from their own lines: %r"
                           % flows[count].json_text())
    return count, None


def _count_rest(walk):
    """A snapshot counts its matching flows as it reads them: a listing cut
    short reads the rest to know the total."""
    count_rest = getattr(walk, "count_rest", None)
    if count_rest is not None:
        count_rest()


def _save(args):
    given = (("filter", has_filter(args)), ("--sort", args.sort), ("--top", args.top), ("--limit", args.limit),
             ("--json", args.json or args.json_lines), ("--reverse", args.reverse))
    used = [option for option, value in given if value]
    if used:
        raise bad_input("--save writes the whole cache: it takes no %s" % used[0])
    count = _snapshots.save(args.save)
    sys.stderr.write("saved %d flow%s to %s\n" % (count, "" if count == 1 else "s", args.save))
    return 0


def _report(args, walk, shown):
    """What the listing does not show, on stderr so the output stays data."""
    sys.stdout.flush()
    _count_rest(walk)
    if walk.unreachable:
        sys.stderr.write("%s: warning: %d matching flows could not be read: a filter cannot split their part "
                         "of the cache into answers of %d flows\n" % (args.command_name, walk.unreachable,
                                                                     _libfc.FC_MAX_CACHE_FLOWS_IOC))
    cut = args.limit is not None or args.top is not None
    if cut and walk.total and shown < walk.total:
        _output.footer("%d of %d matching flows shown" % (shown, walk.total))


def remove(args: "argparse.Namespace") -> int:
    if not has_filter(args) and not args.all:
        raise bad_input("flows remove without a filter removes every flow: add --all to confirm")
    values = _checked(_cache.query_arguments, spell, **filter_keywords(args))
    before = _libfc.FC_GetFlows(*values)
    matched = before.totalEntries if before is not None else 0
    _libfc.FC_RemoveFlows(*values)
    print("removed %d flow%s" % (matched, "" if matched == 1 else "s"))
    return 0

"""``libfc top``: the frames it computes from two reads of a cache of known
flows (order, rates, groups, filters, column fitting, flows that left), the
keys that change the view, and the full-screen view itself driven through a
pseudo-terminal, its screen rebuilt by a terminal emulator."""

import array
import contextlib
import itertools
import random
import sys
import time
import types

import pytest

import _libfc
from _helpers import builtin_library, child_env, cli_in_process
from libfc.cli import top
from test_builtin_libfc import ACTION, add_flow, new_entry

DST_PORT, DROP = 1 << ACTION["DST_PORT"], 1 << ACTION["DROP"]

# name: (port, source, protocol, actions, packets at the first read, packets added before the second)
FLOWS = {
    "a": (7, "10.0.0.1", 6, DST_PORT, 500, 0),
    "b": (8, "10.0.0.2", 17, DST_PORT, 50, 100),
    "c": (8, "10.0.0.3", 6, DST_PORT | DROP, 5, 900),
    "d": (9, "10.0.0.4", 17, DROP, 1, 0),
}
ELAPSED = 10.0


def entry(name, packets):
    port, source, proto, actions, _, _ = FLOWS[name]
    return new_entry(port=port, sip=int.from_bytes(bytes(map(int, source.split("."))), "little"), proto=proto,
                     actions=actions, packets=packets)


@pytest.fixture
def known_flows(flow_cache):
    for name, (_, _, _, _, packets, _) in FLOWS.items():
        assert add_flow(entry(name, packets)) == 0


def add_packets():
    """What happens between the two reads: packets of flows already cached."""
    for name, (*_, added) in FLOWS.items():
        if added:
            assert add_flow(entry(name, added)) == 0


@pytest.fixture
def clock(monkeypatch):
    """top's clock: the reads ELAPSED seconds apart, add_packets between them."""
    times = iter([1000.0, 1000.0 + ELAPSED])
    fake = types.SimpleNamespace(time=lambda: next(times), sleep=lambda seconds: add_packets(),
                                 monotonic=time.monotonic, strftime=time.strftime, localtime=time.localtime)
    monkeypatch.setattr(top, "time", fake)


@pytest.fixture
def once(capsys, monkeypatch, known_flows, clock):
    """top --once over the known flows and the clock: the lines of its frame."""
    def run(*options, width=200, height=40):
        monkeypatch.setenv("COLUMNS", str(width))
        monkeypatch.setenv("LINES", str(height))
        status, out, err = cli_in_process(capsys, "top", "--once", *options)
        assert status == 0 and err == "", err
        return out.splitlines()
    return run


def table(lines):
    """The table of a frame: its header cells and rows of cells."""
    header = lines[3].split()
    return header, [line.split() for line in lines[4:]]


def column(lines, name):
    header, rows = table(lines)
    return [row[header.index(name)] for row in rows]


# ---- frames of two reads ---------------------------------------------------------

@pytest.mark.parametrize("options, sources", [
    ([], ["10.0.0.3", "10.0.0.2", "10.0.0.4", "10.0.0.1"]),           # rate, ties by the later flow
    (["--reverse"], ["10.0.0.1", "10.0.0.4", "10.0.0.2", "10.0.0.3"]),
    (["--sort", "packets"], ["10.0.0.3", "10.0.0.1", "10.0.0.2", "10.0.0.4"]),
    (["--sort", "src", "--reverse"], ["10.0.0.4", "10.0.0.3", "10.0.0.2", "10.0.0.1"]),
    (["--filter", "udp"], ["10.0.0.2", "10.0.0.4"]),
    (["--filter", "8 tcp"], ["10.0.0.3"]),
    (["--filter", "0.0.1"], ["10.0.0.1"]),
])
def test_flows_are_ordered_by_the_packets_counted_between_two_reads(once, options, sources):
    lines = once(*options)
    assert column(lines, "SOURCE") == sources
    rates = dict(zip(column(lines, "SOURCE"), column(lines, "RATE")))
    expected = {source: "%.1f" % (FLOWS[name][5] / ELAPSED) for name, (_, source, *_) in FLOWS.items()}
    assert rates == {source: expected[source] for source in sources}
    assert "%d of %d flows" % (len(sources), len(sources)) in lines[2]
    # The lookups between the reads were the packets added: hits of cached flows.
    assert "lookups/s 100.0" in lines[1] and lines[1].startswith("4 flows")


@pytest.mark.parametrize("field, expected", [
    ("port", {"7": ("1", "500", "0.0", "25.0%"), "8": ("2", "1055", "100.0", "50.0%"),
              "9": ("1", "1", "0.0", "25.0%")}),
    ("proto", {"tcp": ("2", "1405", "90.0", "50.0%"), "udp": ("2", "151", "10.0", "50.0%")}),
    # A flow with two actions is in both actions' groups.
    ("action", {"dst_port": ("3", "1555", "100.0", "75.0%"), "drop": ("2", "906", "90.0", "50.0%")}),
])
def test_grouped_frames_sum_flows_packets_and_rates_per_value(once, field, expected):
    lines = once("--group-by", field)
    header, rows = table(lines)
    assert header == [field.upper(), "FLOWS", "PACKETS", "RATE", "SHARE"]
    assert {row[0]: tuple(row[1:]) for row in rows} == expected
    rates = [float(row[3]) for row in rows]
    assert rates == sorted(rates, reverse=True)


@pytest.mark.parametrize("width", [120, 80, 60, 40, 12])
def test_a_frame_drops_the_least_important_columns_to_fit_the_width(once, width):
    lines = once(width=width, height=6)
    assert len(lines) == 6 and all(len(line) <= width for line in lines)
    header, _ = table(lines)
    priority = {column.header.split()[0]: column.priority for column in top.FLOW_COLUMNS}
    dropped = set(priority) - set(header)
    assert "RATE" in header
    assert not dropped or max(priority[name] for name in header) < min(priority[name] for name in dropped)
    assert (width == 120) == (not dropped)


@pytest.fixture
def model(known_flows):
    """Two reads of the known flows; flow d left between them."""
    model = top.Model()
    model.add(top.live_reading().finish())
    _libfc.FC_RemoveFlows(0, 0, 0, 9, None, 0, 0, 0, 0, None, 0)
    add_packets()
    model.add(top.live_reading(model.sample).finish())
    return model


def test_flows_that_left_are_kept_in_accumulate_mode(model):
    view = top.View(sort="packets")
    assert "10.0.0.4" not in "\n".join(top.frame(model, view, 200))
    view.handle("a")
    lines = top.frame(model, view, 200)
    assert lines[-1].split()[3::7] == ["10.0.0.4", "gone"] and "with 1 that left" in lines[2]
    view.group = "port"
    assert {row[0]: row[1] for row in table(top.frame(model, view, 200))[1]} == {"7": "1", "8": "2", "9": "1"}


@pytest.mark.parametrize("held_most, rows_shown", [(100, [3, 0, 0, 1, 1, 1, 3]), (2, [3, 3, 3, 3, 1, 1, 3])])
def test_a_filter_being_typed_applies_at_each_key_only_to_a_small_cache(model, monkeypatch, held_most, rows_shown):
    monkeypatch.setattr(top, "LIVE_FILTER_ROWS", held_most)
    view = top.View()
    shown = []
    for key in ["/", "u", "d", "p", "\n", "/", "\x1b"]:
        view.handle(key)
        shown.append(len(table(top.frame(model, view, 200))[1]))
    assert shown == rows_shown


@pytest.mark.parametrize("at", range(len(top.FLOW_COLUMNS)))
def test_a_screenful_and_the_groups_are_those_of_every_row_sorted_and_folded(flow_cache, at):
    sort, reverse, field = top.FLOW_COLUMNS[at].name, at % 2 == 1, list(top.GROUP_FIELDS)[at % len(top.GROUP_FIELDS)]
    model, traffic = top.Model(), builtin_library("libfc.so").fcemu_traffic
    for seed in (3, 4):  # the second read: some flows again with more packets, some new
        model.add(traffic(150, seed) and top.live_reading(model.sample).finish())
    table, folded = model.sample.table, {}
    rows = [table.row(i) for i in range(len(table))]
    assert len(rows) > 20 and 0 < sum(row[top.DELTA] > 0 for row in rows) < len(rows)
    view = top.View(sort=sort, reverse=reverse)
    column, value = view.sort_column(), view.sort_column().key or (lambda v: v)
    full = sorted(rows, key=lambda r: (value(r[column.index]), r[0]), reverse=column.numeric != reverse)
    assert [list(model.shown(view, column, room)[0]) for room in (20, None)] == [full[:20], full]
    # The read's lines are written in C: as the columns spell each row's cells.
    assert any(len(row[top.SRC]) == 16 for row in rows) and any(len(row[top.SRC]) == 4 for row in rows)
    width = (1 << 30, 70)[at % 2]
    written, spelt = ("".join(top.table_text(top.FLOW_COLUMNS, shown, model.sample.elapsed, width))
                      for shown in (model.shown(view, column, None)[0], full))
    assert written == spelt
    for row, key in ((row, key) for row in rows for key in top.GROUP_FIELDS[field][1](row)):
        folded[key] = [a + b for a, b in zip(folded.get(key, (0, 0, 0)), (1, row[top.PACKETS], row[top.DELTA]))]
    assert {g[0]: list(g[1:4]) for g in top.groups(table, range(len(table)), [], field)} == folded


def test_a_refresh_takes_no_page_while_the_screen_answers_keys(flow_cache):
    builtin_library("libfc.so").fcemu_traffic(3 * _libfc.FC_MAX_CACHE_FLOWS_IOC, 5)
    refresh = top.Refresh(top.Model(), top.View(), 20)
    taken = lambda: len(refresh.reading.sample.table)
    with top.KEYS_FIRST:
        refresh.start()
        deadline = time.monotonic() + 30
        while not taken() and time.monotonic() < deadline:
            time.sleep(0.001)
        first = taken()
        refresh.join(0.2)
        assert refresh.is_alive() and 0 < taken() == first < 3 * _libfc.FC_MAX_CACHE_FLOWS_IOC
    refresh.join(30)
    assert refresh.error is None and len(refresh.model.sample.table) == 3 * _libfc.FC_MAX_CACHE_FLOWS_IOC


def random_address(rng, v6):
    """Addresses of a few kinds, so that typed parts of them match several rows:
    IPv4 in two networks, IPv6 with runs of zero groups, IPv4-mapped ones."""
    if not v6:
        return bytes([10, rng.randrange(2), rng.randrange(3), rng.randrange(12)])
    if rng.random() < 0.2:
        return bytes(10) + b"\xff\xff" + random_address(rng, False)
    return bytes(rng.choice((0, 0, 0, 1, 0x1a, 0xfd)) for _ in range(16))


def random_sample(rng, size):
    """A read of random flows in top's columns, held as a live read holds them."""
    v6 = [rng.random() < 0.4 for _ in range(size)]
    pairs = [random_address(rng, six) + random_address(rng, six) for six in v6]
    values = {"ids": range(size), "packets": [rng.randrange(5) for _ in v6], "tables": [rng.randrange(6) for _ in v6],
              "ports": [rng.randrange(1, 20) for _ in v6], "vnis": [rng.randrange(8) for _ in v6],
              "actions": [top._text_position(rng.choice(("", "drop", "drop,dst_port"))) for _ in v6], "protos": [rng.choice((1, 6, 17, 58, 132)) for _ in v6],
              "ipv6": v6, "ages": [0] * size, "expires": [0] * size,
              "address_at": [sum(map(len, pairs[:i])) for i in range(size)]}
    sample = top.Sample("live", "host.example.net", 0.0, {}, 1, size)
    sample.table.take([array.array(code, values[name]).tobytes() for name, code in zip(top.PAGE_COLUMNS, "QQQIIIBBqII")]
                      + [b"".join(pairs)])
    sample.table.deltas = array.array("Q", [rng.randrange(4) for _ in v6])
    return sample


@pytest.mark.parametrize("seed", range(3))
def test_the_filter_matched_in_c_keeps_the_rows_the_python_test_keeps(seed):
    rng = random.Random(seed)
    table = random_sample(rng, 300).table
    rows = [table.row(i) for i in range(len(table))]
    some = array.array("I", sorted(rng.sample(range(len(rows)), 100)))
    texts = ["udp", "TCP 1", "6", "17 10.1", "٣", "²", "4294967302", "sctp fd", ":ffff:10", "::", "tcp x"]
    for row in rng.sample(rows, 25):
        source, destination = top._text(row[top.SRC]), top._text(row[top.DST])
        start = rng.randrange(len(source))
        other = rng.choice((destination[-3:], row[top.PORT]))
        texts.append("%s %s" % (source[start:start + rng.randrange(1, 6)], other))
    kept = set()
    for text in texts:
        test = top.matcher(text)
        for positions in (None, some):
            chosen = top.top_select(table.columns(), positions, top.filter_words(text))
            expected = [i for i in (some if positions else range(len(rows))) if test(rows[i])]
            assert array.array("I", chosen).tolist() == expected, text
            kept.add(len(expected))
    assert min(kept) == 0 and max(kept) > len(rows) // 4 and len(kept) > len(texts) // 2


@pytest.mark.parametrize("field", [field for field in top.GROUP_FIELDS])
def test_a_screenful_of_groups_is_the_first_of_every_group_sorted_and_written_as_python_spells_it(field):
    rng = random.Random(field)
    model = top.Model()
    model.add(random_sample(rng, 400))
    table = model.sample.table
    # Sums past 64 bits: more IPv4 flows than there are IPv4 addresses, each counting nearly 2 ** 64
    # (for some fields in the rates too: in the others' a rate of 9999.x is the widest).
    huge_rates = list(top.GROUP_FIELDS).index(field) % 2 == 0
    for i in [i for i in range(400) if not table.ipv6[i]][:80]:
        table.packets[i] = (1 << 64) - 1 - i
        table.deltas[i] = (1 << 64) - 1 - 3 * i if huge_rates else table.deltas[i]
    view = top.View(group=field)
    full = top.groups(table, range(400), [], field)
    assert len(full) > 2 and max(group[top.GROUP_PACKETS] for group in full) >> 64
    for (at, column), reverse in itertools.product(enumerate(top.group_columns(field)), (False, True)):
        view.sort, view.reverse = column.name, reverse
        key = (lambda g: (g[column.index], g[0])) if field != "proto" or at else (lambda g: g[0])
        expected = sorted(full, key=key, reverse=column.numeric != view.reverse)
        for room in (3, None):
            shown = model.shown(view, column, room)[0]
            assert list(shown) == expected[:room], (column.name, room)
            # A fold by one value per flow is written in C, as the columns spell each group's cells;
            # the rates: none, with a decimal, and on both sides of 10000 a second.
            # The shares also of 80 flows: of 23 of them, 100 * 23 / 80 is spelt otherwise.
            assert isinstance(shown, top.Groups) == (field != "action")
            of_80 = [top.Groups(shown.fold, shown.places, field, 80)] if field != "action" else []
            for rows, elapsed, width in itertools.product([shown, *of_80], (None, 0.7, 3.0003e-4), (1 << 30, 40, 13)):
                written, spelt = ("".join(top.table_text(top.group_columns(field), shown_rows, elapsed, width))
                                  for shown_rows in (rows, list(rows)))
                assert written == spelt, (column.name, reverse, room, elapsed, width)


def corrupt(fold, value):
    """A fold whose first group says it is of a kind no fold makes."""
    return fold[:16] + value.to_bytes(4, "little") + fold[20:]


def laid_out(kept, widths):
    """A layout of the widths' columns, as the fitter's as_tuple() gives one."""
    return kept, widths, (False,) * len(widths), (False,) * len(widths), 80, "~"


@pytest.mark.parametrize("call, error", [
    (lambda f, n: top.top_pick(f[:-1], top.KEY, False, -1), ValueError),
    (lambda f, n: top.top_pick(corrupt(f, 7), top.KEY, False, -1), ValueError),
    (lambda f, n: top.top_pick(f + top.top_fold(*n), top.KEY, False, -1), ValueError),  # numbers and addresses
    (lambda f, n: top.top_group_rows(memoryview(f), None), ValueError),
    (lambda f, n: top.top_group_rows(f, array.array("I", [1 << 31])), IndexError),
    (lambda f, n: top.top_group_rows(f, array.array("Q", [0])), ValueError),
    (lambda f, n: top.top_group_widths(corrupt(f, 1 << 20), None, None, None, 1), ValueError),
    (lambda f, n: top.top_group_widths(f, None, None, ("\xe9",) * 256, 1), ValueError),
    (lambda f, n: top.top_group_widths(f, None, 1.0, None, 0), ValueError),
    (lambda f, n: top.top_group_widths(top.top_fold(*n), None, 1.0, ("tcp",), 1), ValueError),  # no cell for 17
    (lambda f, n: top.top_group_lines(f, None, None, None, 1, laid_out((5,), [1] * 5)), ValueError),
    (lambda f, n: top.top_group_lines(f, None, None, None, 1, laid_out((0,), [-1] * 5)), ValueError),
    (lambda f, n: top.top_group_lines(f, None, None, None, 1, laid_out((0,), [9] * 4)), ValueError),
    (lambda f, n: top.top_group_lines(f, None, None, None, 1, laid_out((0,), [9] * 5)[:-1]), ValueError),
    (lambda f, n: top.top_group_lines(f, None), TypeError),
])
def test_the_group_functions_refuse_what_a_fold_and_its_places_are_not(call, error):
    table = random_sample(random.Random(1), 50).table
    with pytest.raises(error):
        call(top.top_fold(table.columns(), None, top.SRC), (table.columns(), None, top.PROTO))


# ---- keys --------------------------------------------------------------------------

@pytest.mark.parametrize("keys, expected", [
    ([">"], {"sort": "age"}),
    (["<", "<"], {"sort": "actions"}),
    (["KEY_RIGHT", "r"], {"sort": "age", "reverse": True}),
    (["/", "u", "d", "p", "x", "KEY_BACKSPACE", "\n"], {"filter": "udp", "editing": False}),
    (["/", "q", "p"], {"filter": "qp", "editing": True, "paused": False}),   # typed, not commands
    (["/", "t", "\x1b"], {"filter": "", "editing": False}),
    (["f", "f", ">"], {"group": "vni", "sort": "share"}),
    ([">", "f"], {"group": "port", "sort": "rate"}),
    (["f"] * len(top.GROUP_ORDER), {"group": None}),
    (["a", "p", " ", "p"], {"accumulate": True, "paused": True}),
])
def test_keys_change_the_view(keys, expected):
    view = top.View()
    for key in keys:
        assert view.handle(key) is True, key
    assert {name: getattr(view, name) for name in expected} == expected
    assert view.handle("q") == (top.QUIT if not view.editing else True)


# ---- the full-screen view ----------------------------------------------------------

@pytest.fixture
def terminal(known_flows):
    """top in a pseudo-terminal, its output fed to a terminal emulator: the
    child, its end of output (eof), and wait(test) reading the output until
    test(lines of the screen) holds, which returns those lines."""
    pexpect = pytest.importorskip("pexpect")
    pyte = pytest.importorskip("pyte")
    env = dict(child_env(), TERM="xterm")
    screen = pyte.Screen(120, 16)
    stream = pyte.ByteStream(screen)
    child = pexpect.spawn(sys.executable, ["-m", "libfc", "top", "--interval", "0.5"], dimensions=(16, 120), env=env)

    def wait(test, timeout=15):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                stream.feed(child.read_nonblocking(1 << 16, timeout=0.05))
            except pexpect.TIMEOUT:
                pass
            lines = [line.rstrip() for line in screen.display]
            if test(lines):
                return lines
        raise AssertionError("the screen never showed it:\n" + "\n".join(screen.display))

    yield types.SimpleNamespace(child=child, screen=screen, wait=wait, eof=pexpect.EOF)
    child.close(force=True)


def cells(lines, at=0):
    """One column of the rows on the screen (None in a row not yet drawn)."""
    return [(line.split() + [None] * at)[at] for line in lines[4:] if line.strip()]


def sources(lines):
    header = lines[3].split()
    return cells(lines, header.index("SOURCE")) if "SOURCE" in header else []


# Each wait names the whole state it expects: the screen is read while curses
# may still be drawing it.

@pytest.mark.python_only
def test_the_screen_follows_the_cache_the_keys_and_resizes(terminal):
    terminal.wait(lambda lines: sources(lines) and "lookups/s" in lines[1])
    assert add_flow(entry("c", 900)) == 0  # one call: no read sees half of it
    terminal.wait(lambda lines: sources(lines) == ["10.0.0.3", "10.0.0.4", "10.0.0.2", "10.0.0.1"]
                  and "sort rate, largest first" in lines[2])  # ties: the later flow first
    terminal.child.send(">r")  # sort by age, youngest first
    terminal.wait(lambda lines: "sort age, smallest first" in lines[2])
    terminal.child.send("/udp\n")
    terminal.wait(lambda lines: "filter: udp " in lines[2] and sorted(sources(lines)) == ["10.0.0.2", "10.0.0.4"])
    terminal.child.send("f<<")  # folded by port, sorted by flow count, still smallest first
    terminal.wait(lambda lines: "sort flows, smallest first" in lines[2]
                  and lines[3].split()[:2] == ["PORT", "FLOWS"]
                  and dict(zip(cells(lines), cells(lines, 1))) == {"8": "1", "9": "1"})
    terminal.child.setwinsize(8, 30)
    terminal.screen.resize(8, 30)
    lines = terminal.wait(lambda lines: lines[3].split() == ["PORT", "FLOWS", "PACKETS", "RATE"])
    assert all(len(line) <= 30 for line in lines)
    terminal.child.send("f")
    terminal.wait(lambda lines: lines[3].split()[:2] == ["VNI", "FLOWS"] and cells(lines, 1) == ["2"])
    terminal.child.send("q")
    terminal.child.expect(terminal.eof, timeout=10)
    terminal.child.close()
    assert terminal.child.exitstatus == 0


@pytest.mark.parametrize("order", ["kept", "reversed", "shuffled", "two runs"])
def test_rates_match_each_flow_with_the_read_before_as_a_dict_would(order):
    # Reads of 2,000 flows keyed by (table, id): some leave, some come, some
    # counts go back; the second read in the first's order or another.
    rng = random.Random(order)
    before = [(rng.randrange(3), flow_id, rng.randrange(100)) for flow_id in rng.sample(range(10**12), 2000)]
    now = [(table, flow_id, max(packets + rng.randrange(-5, 50), 0))
           for table, flow_id, packets in before if rng.random() < 0.9]
    for _ in range(150):
        now.insert(rng.randrange(len(now) + 1), (rng.randrange(3), rng.randrange(10**12), rng.randrange(100)))
    if order == "reversed":
        now.reverse()
    elif order == "shuffled":
        rng.shuffle(now)
    elif order == "two runs":
        now = now[len(now) // 2:] + now[:len(now) // 2]
    columns = [array.array("Q", values) for values in zip(*before)] + [array.array("Q", values) for values in zip(*now)]
    deltas = array.array("Q", bytes(8 * len(now)))
    gone = array.array("I", top.top_match(*columns, deltas))
    counted = {(table, flow_id): packets for table, flow_id, packets in before}
    assert list(deltas) == [max(packets - counted.pop((table, flow_id), 0), 0) for table, flow_id, packets in now]
    assert [before[i][:2] for i in gone] == list(counted)


@pytest.mark.parametrize("processors", [1, 2])
@pytest.mark.parametrize("failing", [None, 3, 4])
def test_pieces_made_two_at_once_come_in_order_and_a_failure_at_its_place(monkeypatch, processors, failing):
    monkeypatch.setattr(top, "PROCESSORS", processors)

    def make(key):
        if key == failing:
            raise LookupError(key)
        time.sleep(0.002 * (key % 2))  # the odd pieces, made on the other thread, finish last
        return str(key)
    made = []
    with pytest.raises(LookupError) if failing is not None else contextlib.nullcontext() as raised:
        for piece in top.in_order_two_at_once(make, range(7)):
            made.append(piece)
    assert made == [str(key) for key in range(7 if failing is None else failing)]
    assert failing is None or raised.value.args == (failing,)

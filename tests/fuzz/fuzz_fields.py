"""Hostile calls over the flow-data functions of `_libfc_fields`: the text
writers, holds, rates, diffs, copies and top's column functions, given
arguments drawn from odd values and from real answers, copies, pages and
folds of a small cache, in any number and order.

    python tests/fuzz/fuzz_fields.py [--calls N] [--seed S]

Any ordinary exception is an acceptable answer. A crash or a sanitizer
report is the module's fault, and so is a SystemError: a function that
raised without setting an exception, or ran Python code with one already
set. The IPFIX sender is left out (it sends to whatever descriptor it is
given); the snapshot reader's lines are fuzzed in full by its own harness. The last line printed is "fields fuzz: <calls> calls, seed <seed>,
<functions> functions", so a failure replays with the same seed."""

import argparse
import ctypes
import os
import random
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.environ.get("LIBFC_BUILD_DIR", os.path.join(os.path.dirname(os.path.dirname(HERE)), "build"))
sys.path[:0] = [path for path in (BUILD,) if path not in sys.path]
# The built-in cache keeps its state in files: never the user's own.
_STATE = tempfile.TemporaryDirectory(prefix="libfc-fields-fuzz-")
os.environ["FC_EMU_DIR"] = os.path.join(_STATE.name, "fc")

import _libfc  # noqa: E402
import _libfc_fields as F  # noqa: E402
from libfc import _emulator, snapshot  # noqa: E402
from libfc._flow import TEXT_WRITER, _decode_rows, _text_writer  # noqa: E402
from libfc.cli import top  # noqa: E402


def corpus():
    """Odd values, and the real objects of a cache of a few hundred flows
    that the functions take from one another."""
    library = _emulator.declare(ctypes.CDLL(os.path.join(BUILD, "libfc.so")), "libfc.so")
    library.fcemu_traffic(300, 5)
    answer = _libfc.FC_GetFlows(0, 0, "\x00", 0, None, 0, 0, 0, 0, None, 0)
    copy = F.answer_copy(_decode_rows, answer, ())
    count, page = F.top_page(_decode_rows, copy, 0, (), 0, {}, len, False)
    table = top.live_reading().finish().table  # top's columns of the whole cache
    columns, positions = table.columns(), table.every_position()
    fold = F.top_fold(columns, positions[::2], top._GROUP_COLUMN["dst"])
    seen = TEXT_WRITER.seen(copy, 0, ())[1]
    lines = TEXT_WRITER.json_lines(copy, 0, (), b"{")[1]
    batch = snapshot._fast_reader().parse_chunk(lines)
    odd = [None, 0, 1, -1, 7, 2**31, 2**63, 2**64, 1.5, float("nan"), "", "x", "\u00e9", "\ud800", b"", b"{",
           bytearray(8), b"\x01" * 96, (), [], {}, object(), ((0, frozenset({1})),), (0, 0), "packets", "id",
           True, (1, 2, 3, 4, 5, 6), ((), (), (), (), 0, ""), [(copy, 0)], (copy, 0)]
    real = [answer, copy, _decode_rows, page, columns, columns[:3], positions, fold, seen, bytearray(seen), len, {},
            lines, lines[:999], batch]
    # By a parameter's name, values it takes: a call mostly of these gets
    # past its checks, with an odd value or two among them.
    places = F.top_pick(fold, 0, False, -1)[1]
    numbers = [0, 1, 3, 7, -1, 2**40]
    taken = {
        "answer": [answer, copy, batch], "decoder": [_decode_rows], "rest": [(), ((0, frozenset({1})),)],
        "opening": [b"{", "{", '{"x":1,'], "pages": [[(copy, 0)], [(copy, 1), (copy, 2)]],
        "key": ["packets", "id", "age_s"], "columns": [columns], "positions": [positions, None],
        "fold": [fold], "places": [places, None], "lines": [lines, lines[:500]], "chunk": [lines, lines[:777], b""],
        "page": [seen], "packed": [b"\x00" * 16, b"\x01" * 4], "criteria": [()], "words": [()],
        "action_texts": [("x",), ()], "protocol_names": [{6: "tcp"}, {}], "key_cells": [()], "action_rank": [()],
        "known_actions": [{}], "learn_actions": [len], "elapsed": [0.5, 2.0, 0.0], "clock": [1.0e9, 0.0],
        "before_tables": [columns[12]], "before_ids": [columns[0]], "before_packets": [columns[1]],
        "tables": [columns[12]], "ids": [columns[0]], "packets": [columns[1]], "deltas": [bytearray(columns[2])],
    }
    for name in ("indented", "descending", "largest", "counts_only"):
        taken[name] = [True, False]
    for name in ("now_ms", "n", "count", "column", "by", "start", "most", "address_base", "expiry_s", "export_s",
                 "level"):
        taken[name] = numbers
    return odd + real, taken, seen


class Renewed:
    """An object made anew after every `uses` calls of its methods: a diff
    keeps every flow it lists, and listing the same page over and over
    would hold gigabytes."""

    def __init__(self, make, uses):
        self.make, self.uses, self.made, self.left = make, uses, make(), uses

    def method(self, name):
        def call(*arguments):
            self.left -= 1
            if self.left < 0:
                self.made, self.left = self.make(), self.uses
            return getattr(self.made, name)(*arguments)
        call.__text_signature__ = getattr(getattr(self.made, name), "__text_signature__", None)
        call.__qualname__ = "flow_diff." + name
        return call


def functions(seen):
    """What is called: the functions, and the methods of objects made here."""
    rates = F.flow_rates()
    writers = (TEXT_WRITER, _text_writer(rates))
    hold = F.flow_hold(_decode_rows, "packets", True, 3)
    diff = Renewed(lambda: F.flow_diff(bytearray(seen), False), 100)
    encoder = F.ipfix_records(_decode_rows, 1, 1400)
    reader = snapshot._fast_reader()
    found = [getattr(writer, name) for writer in writers
             for name in ("json_lines", "json_lines_of", "json_document", "table_cells", "table_lines", "seen")]
    found += [getattr(F, name) for name in sorted(dir(F)) if name.startswith("top_")]
    found += [F.indented, F.answer_copy, F.flow_hold, F.flow_rates, F.flow_diff, rates.next,
              hold.add, hold.sort, hold.aim, diff.method("add"), diff.method("finish"), _decode_rows, _decode_rows.address,
              _decode_rows.entities, F.ipfix_records, encoder.encode, encoder.ended, encoder.templates,
              encoder.resend_templates, F.snapshot_lines, reader.aim, reader.keep, reader.parse_chunk, reader.read,
              reader.stopped, reader.taken]
    return found


def parameters(function):
    """The names of the function's parameters (its signature's), or None."""
    signature = getattr(function, "__text_signature__", None)
    if not signature:
        return None
    names = [name.strip().split("=")[0] for name in signature.strip("()").split(",")]
    return [name for name in names if name and name != "/" and not name.startswith("$")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=100000)
    parser.add_argument("--seed", type=int, default=random.SystemRandom().randrange(2**32))
    args = parser.parse_args()
    rng = random.Random(args.seed)
    values, taken, seen = corpus()
    called = functions(seen)
    for done in range(args.calls):
        function = rng.choice(called)
        # Mostly the arguments the function takes, in number and mostly in
        # kind: past its first checks.
        names = parameters(function)
        if names is None or rng.random() < 0.2:
            names = [""] * rng.randrange(0, 10)
        arguments = [rng.choice(taken[name] if name in taken and rng.random() < 0.8 else values) for name in names]
        try:
            function(*arguments)
        except SystemError:
            print("call %d: %s%r" % (done, getattr(function, "__qualname__", function), tuple(arguments)))
            raise
        except Exception:
            pass
    print("fields fuzz: %d calls, seed %d, %d functions" % (args.calls, args.seed, len(called)))


if __name__ == "__main__":
    main()

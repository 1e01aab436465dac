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
    return odd + real, seen


def functions(seen):
    """What is called: the functions, and the methods of objects made here."""
    rates = F.flow_rates()
    writers = (TEXT_WRITER, _text_writer(rates))
    hold = F.flow_hold(_decode_rows, "packets", True, 3)
    diff = F.flow_diff(bytearray(seen), False)
    encoder = F.ipfix_records(_decode_rows, 1, 1400)
    reader = snapshot._fast_reader()
    found = [getattr(writer, name) for writer in writers
             for name in ("json_lines", "json_lines_of", "json_document", "table_cells", "table_lines", "seen")]
    found += [getattr(F, name) for name in sorted(dir(F)) if name.startswith("top_")]
    found += [F.indented, F.answer_copy, F.flow_hold, F.flow_rates, F.flow_diff, rates.next,
              hold.add, hold.sort, hold.aim, diff.add, diff.finish, _decode_rows, _decode_rows.address,
              _decode_rows.entities, F.ipfix_records, encoder.encode, encoder.ended, encoder.templates,
              encoder.resend_templates, F.snapshot_lines, reader.aim, reader.keep, reader.parse_chunk, reader.read,
              reader.stopped, reader.taken]
    return found


def arity(function):
    """How many arguments the function's signature names (its docstring's
    first line), or None."""
    signature = getattr(function, "__text_signature__", None) or ""
    names = [name.strip() for name in signature.strip("()").split(",")]
    names = [name for name in names if name and name != "/" and not name.startswith("$")]
    return len(names) if signature else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--calls", type=int, default=100000)
    parser.add_argument("--seed", type=int, default=random.SystemRandom().randrange(2**32))
    args = parser.parse_args()
    rng = random.Random(args.seed)
    values, seen = corpus()
    called = functions(seen)
    for done in range(args.calls):
        function = rng.choice(called)
        # Mostly as many arguments as the function takes: past the count's check.
        count = arity(function)
        count = rng.randrange(0, 10) if count is None or rng.random() < 0.2 else count
        arguments = [rng.choice(values) for _ in range(count)]
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

"""How quickly interactive `libfc top` answers its keys on a large cache,
and how long one of its refreshes takes next to the package's walk.

`libfc top` runs in a pseudo-terminal, its output fed to a terminal
emulator; each key is timed from being sent to the first screen that shows
what it changed (a grouping, a sort column, a filter's rows), and marked
when a refresh was reading the cache as it was sent; each key follows the
frame of the one before by PAUSE, as a person reads a frame first.  The
refreshes are timed in this process, flat and grouped by source in turn,
each (its read and what its frame needs) right after a walk of
`libfc.flows()` it is compared with.

    python bench/top_keys.py [--flows 1000000]
"""

import argparse
import os
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
WIDTH, HEIGHT = 120, 30
PAUSE = 0.25  # between a key's frame and the next key, as a person reads the frame first


def _grouped(name):
    header = {"port": "PORT", "vni": "VNI", "src": "SOURCE", "dst": "DESTINATION", "proto": "PROTO",
              "action": "ACTION", "table": "TABLE"}[name]
    return lambda lines: "group %s " % name in lines[2] + " " and lines[3].split()[:1] == [header] \
        and len(lines[4].split()) > 1


def _flat(lines):
    return "group " not in lines[2] and "SOURCE" in lines[3].split() and len(lines[4].split()) > 1


def _flows_shown(lines):
    """(shown, of) from "N of M flows", None while no frame tells."""
    words = lines[2].split()
    for at in range(len(words) - 3):
        if words[at + 1] == "of" and words[at + 3] == "flows" and words[at].isdigit() and words[at + 2].isdigit():
            return int(words[at]), int(words[at + 2])
    return None


# (what is timed, keys sent, what the screen shows once they are answered)
STEPS = [("group " + name, "f", _grouped(name)) for name in ("port", "vni", "src", "dst", "proto", "action", "table")]
STEPS += [
    ("group off", "f", _flat),
    ("sort column", ">", lambda lines: "sort age," in lines[2]),
    ("/ opens a filter", "/", lambda lines: "filter: _" in lines[2]),
    ("a key typed", "1", lambda lines: "filter: 1_" in lines[2]),
    ("Enter keeps it", "0.1\n", lambda lines: "filter: 10.1 " in lines[2] + " "
     and (_flows_shown(lines) or (0, 0))[1] not in (0, FLOWS[0])),
    ("group src, filtered", "fff", _grouped("src")),
    ("group off, filtered", "fffff", _flat),
    ("Escape clears it", "/\x1b", lambda lines: "filter" not in lines[2]
     and (_flows_shown(lines) or (0, 0))[1] == FLOWS[0]),
]
FLOWS = [0]


def keys(env, rounds):
    import pexpect
    import pyte

    screen = pyte.Screen(WIDTH, HEIGHT)
    stream = pyte.ByteStream(screen)
    child = pexpect.spawn(sys.executable, ["-m", "libfc", "top", "--interval", "2"], dimensions=(HEIGHT, WIDTH),
                          env=dict(env, TERM="xterm"))

    def feed():
        try:
            stream.feed(child.read_nonblocking(1 << 20, timeout=0.005))
        except pexpect.TIMEOUT:
            pass

    def wait(test, timeout=60):
        end = time.perf_counter() + timeout
        while time.perf_counter() < end:
            feed()
            lines = [line.rstrip() for line in screen.display]
            if test(lines):
                return time.perf_counter(), lines
        raise SystemExit("the screen never showed it:\n" + "\n".join(screen.display))

    try:
        _, lines = wait(lambda lines: _flat(lines) and "lookups/s" in lines[1] and (_flows_shown(lines) or (0,))[0])
        FLOWS[0] = _flows_shown(lines)[1]
        times = {}
        for _ in range(rounds):
            for name, sent, test in STEPS:
                paused = time.perf_counter() + PAUSE
                while time.perf_counter() < paused:
                    feed()
                reading = "reading" in [line.rstrip() for line in screen.display][0]
                started = time.perf_counter()
                child.send(sent)
                answered, _ = wait(test)
                times.setdefault(name, []).append((answered - started, reading))
        return times
    finally:
        child.close(force=True)


def refresh_ratios(rounds):
    """[(view, walk seconds, walk processor seconds, refresh seconds, refresh processor seconds)] of this
    process, each refresh right after a walk of its own: on a shared host the load moves within seconds, and
    the processor time moves less with it."""
    import libfc
    from libfc.cli import top

    def walk():
        started, used = time.perf_counter(), time.thread_time()
        for _ in libfc.flows():
            pass
        return time.perf_counter() - started, time.thread_time() - used

    model = top.Model().following(top.live_reading().finish(), top.View(), HEIGHT - 4)
    timed = []
    for group in (None, "src") * rounds:
        walked = walk()
        refresh = top.Refresh(model, top.View(group=group), HEIGHT - 4)
        started, used = time.perf_counter(), time.thread_time()
        refresh.run()
        timed.append((group or "flat", *walked, time.perf_counter() - started, time.thread_time() - used))
        model = refresh.model
    return timed


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--flows", type=int, default=1000000)
    parser.add_argument("--rounds", type=int, default=2)
    args = parser.parse_args()
    sys.path.insert(0, HERE)
    from walk import fill

    with tempfile.TemporaryDirectory(prefix="libfc-top-") as state:
        os.chmod(state, 0o700)
        os.environ["FC_EMU_DIR"] = state
        installed = fill(args.flows)
        import _libfc

        # The flows stay as long as the library lets an idle flow stay: the run outlasts the default.
        _libfc.FC_IOCSetConfigOption(_libfc.FC_IOC_EXPR_TIME, _libfc.FC_MAX_FLOW_EXPR_TIME_SEC)
        print("# %d flows; each refresh after a walk of its own (its thread's processor time)" % installed)
        ratios = []
        for view, walk, walk_used, seconds, used in refresh_ratios(args.rounds):
            ratios.append(seconds / walk)
            print("refresh %-6s %6.2f s  walk %5.2f s  %5.2f x walk  %6.2f processor s  %5.2f x walk" % (
                view, seconds, walk, seconds / walk, used, used / walk_used))
        print("# refresh / walk, median: %.2f" % sorted(ratios)[len(ratios) // 2])
        for name, answers in keys(dict(os.environ), args.rounds).items():
            print("key %-22s %s" % (name, "  ".join("%.3f%s" % (s, "*" if r else "") for s, r in answers)))
        print("# * sent while a refresh was reading the cache")


if __name__ == "__main__":
    main()

"""Repeated reads for the commands that watch the cache (``stats
--interval``, ``flows --watch``): the loop that reads every S seconds, and
per-second rates from two reads.

The clock, the sleep and the reads are parameters, so the loop can be
driven without waiting.  Ctrl-C ends a watch by the KeyboardInterrupt the
tool turns into its "interrupted" status."""

import time


def rates(before, after, elapsed):
    """Per-second rates of the counters in `after` (name -> value) since
    `before`.  A counter that went backwards was reset in between: what it
    counted since is its whole value.  A counter new in `after` counts from
    zero."""
    if elapsed <= 0:
        raise ValueError("elapsed time must be positive, not %r" % elapsed)
    result = {}
    for name, value in after.items():
        previous = before.get(name, 0)
        result[name] = (value - previous if value >= previous else value) / elapsed
    return result


def samples(read, interval, count=None, clock=time.monotonic, sleep=time.sleep):
    """(reading, elapsed) every `interval` seconds, `count` times (forever
    when None): the first at once with elapsed None, each later one with
    the seconds since the one before, measured, not assumed.  Sleeps are
    aimed at a fixed schedule, so a slow read does not make the watch drift."""
    taken = 0
    start = clock()
    previous = None
    while count is None or taken < count:
        if taken:
            sleep(max(0.0, start + taken * interval - clock()))
        now = clock()
        reading = read()
        yield reading, (None if previous is None else now - previous)
        previous = now
        taken += 1


def seconds(text):
    """An interval on the command line: seconds, 0.01 to a day."""
    import argparse

    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not 0.01 <= value <= 86400:  # refuses nan too
        raise argparse.ArgumentTypeError("%r is not a number of seconds from 0.01 to 86400" % text)
    return value

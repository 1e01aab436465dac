"""How many processors this process may run on: its affinity where the
system tells it (a container or `taskset` gives fewer than the machine
has), else the machine's count."""

import os


def _count() -> int:
    try:
        return len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        return os.cpu_count() or 1


PROCESSORS = _count()

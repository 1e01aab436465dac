"""Field access speed against a do-nothing extension function of the same
calling convention, measured in the same run. Prints one ratio per case
(getter time / peer time); the target for a getter is 1.15 or less.

Run after an in-tree build with the test module:
    cmake -S . -B build -G Ninja -DLIBFC_BUILD_TESTS=ON && cmake --build build
    python3 bench/bench_field_access.py
"""

import os
import sys
import timeit

sys.path.insert(0, os.environ.get("LIBFC_BUILD_DIR", os.path.join(os.path.dirname(__file__), "..", "build")))

import _libfc  # noqa: E402
import _swigtest  # noqa: E402
import libfc  # noqa: E402

NUMBER = 200_000
REPEAT = 15


def best(stmt, env):
    return min(timeit.repeat(stmt, globals=env, number=NUMBER, repeat=REPEAT)) / NUMBER


def main():
    # Small values come back as the interpreter's cached ints; large ones
    # need a new int object, which the do-nothing peer never pays for.
    small = _libfc.new_hyp_FabPortStatistics()
    large = _libfc.new_hyp_FabPortStatistics()
    _libfc.hyp_FabPortStatistics_pktsInUnicast_set(small, 7)
    _libfc.hyp_FabPortStatistics_pktsInUnicast_set(large, 123_456_789)
    instance = libfc.hyp_FabPortStatistics()
    instance.pktsInUnicast = 7
    name = _libfc.new_hyp_Name()
    _libfc.hyp_Name_string_set(name, "uplink0")

    class Peer:
        value = property(_swigtest.swigtest_do_nothing)

    env = {
        "noop": _swigtest.swigtest_do_nothing,
        "get_u64": _libfc.hyp_FabPortStatistics_pktsInUnicast_get,
        "set_u64": _libfc.hyp_FabPortStatistics_pktsInUnicast_set,
        "get_name": _libfc.hyp_Name_string_get,
        "small": small,
        "large": large,
        "name": name,
        "instance": instance,
        "peer": Peer(),
    }
    cases = [
        ("u64 getter, small value", "get_u64(small)", "noop(small)"),
        ("u64 getter, large value", "get_u64(large)", "noop(large)"),
        ("u64 setter", "set_u64(small, 7)", "noop(small, 7)"),
        ("u64 getter, companion instance", "get_u64(instance)", "noop(instance)"),
        ("attribute read, companion", "instance.pktsInUnicast", "peer.value"),
        ("char[32] getter", "get_name(name)", "noop(name)"),
    ]
    print(f"{'case':36} {'getter ns':>10} {'peer ns':>10} {'ratio':>7}")
    for label, stmt, peer in cases:
        mine, theirs = best(stmt, env), best(peer, env)
        print(f"{label:36} {mine * 1e9:10.1f} {theirs * 1e9:10.1f} {mine / theirs:7.2f}")


if __name__ == "__main__":
    main()

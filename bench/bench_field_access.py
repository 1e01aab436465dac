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
    bare = _libfc.new_hyp_FabPortStatistics()
    _libfc.hyp_FabPortStatistics_pktsInUnicast_set(bare, 12345)
    instance = libfc.hyp_FabPortStatistics()
    status = libfc.hyp_LinkStatus()

    class Peer:
        value = property(_swigtest.swigtest_do_nothing)

    env = {
        "_libfc": _libfc,
        "noop": _swigtest.swigtest_do_nothing,
        "get_u64": _libfc.hyp_FabPortStatistics_pktsInUnicast_get,
        "get_u32": _libfc.hyp_LinkStatus_speed_get,
        "get_name": _libfc.hyp_Name_string_get,
        "set_u64": _libfc.hyp_FabPortStatistics_pktsInUnicast_set,
        "bare": bare,
        "status_bare": _libfc.new_hyp_LinkStatus(),
        "name_bare": _libfc.new_hyp_Name(),
        "instance": instance,
        "status": status,
        "peer": Peer(),
    }
    cases = [
        ("u64 getter, bare pointer", "get_u64(bare)", "noop(bare)"),
        ("u32 getter, bare pointer", "get_u32(status_bare)", "noop(status_bare)"),
        ("u64 setter, bare pointer", "set_u64(bare, 7)", "noop(bare, 7)"),
        ("u64 getter, companion instance", "get_u64(instance)", "noop(instance)"),
        ("attribute read, companion", "instance.pktsInUnicast", "peer.value"),
        ("char[32] getter, bare pointer", "get_name(name_bare)", "noop(name_bare)"),
    ]
    print(f"{'case':36} {'getter ns':>10} {'peer ns':>10} {'ratio':>7}")
    for label, stmt, peer in cases:
        mine, theirs = best(stmt, env), best(peer, env)
        print(f"{label:36} {mine * 1e9:10.1f} {theirs * 1e9:10.1f} {mine / theirs:7.2f}")


if __name__ == "__main__":
    main()

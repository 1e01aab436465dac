#!/usr/bin/env bash
# Builds and runs the test suite on other CPythons that this machine has
# besides the default one, each in its own virtual environment
# and build directory (build-py<version>), and says which versions it did
# not find. The built-in libraries and the two generators (companion package,
# signatures) do not depend on the interpreter: they are taken from the plain
# build (build/), which is brought up to date first. The modules are compiled at -O1: the matrix
# checks behaviour, not speed.
#   run_version_matrix.sh [VERSION...]              build and test these
#   run_version_matrix.sh --available [VERSION...]  print those it would test
# Without versions: $LIBFC_VERSIONS ("" runs none), else 3.9 and 3.13: the
# oldest and newest supported, which with the default interpreter put each
# side of every version test in the module's sources (3.10, 3.13) under test.
# LIBFC_VERSIONS="3.9 3.10 3.12 3.13" runs the whole range.
# The versions in $LIBFC_PUBLIC_API_VERSIONS (default 3.9) are built with
# LIBFC_PUBLIC_API_ONLY, so the public paths an interpreter outside 3.9-3.13
# takes are tested at no cost in time; 3.9 runs the same fast paths as the
# default interpreter, while 3.13 keeps its own (runtime/python_compat.hpp).
# LIBFC_PLAIN_BUILT=1 says build/ is already up to date (run_tests.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
source scripts/build_env.sh
default="$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')"

list_only=0
if [ "${1:-}" = --available ]; then list_only=1; shift; fi
if [ $# -gt 0 ]; then versions="$*"; else versions="${LIBFC_VERSIONS-3.9 3.13}"; fi

find_python() {
  local v="$1" candidate
  for candidate in "$(command -v "python$v" || true)" "$HOME"/.pyenv/versions/"$v"*/bin/python"$v" \
                   /usr/bin/python"$v" /usr/local/bin/python"$v"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ] && "$candidate" -c 'import sysconfig, sys; sys.exit(not sysconfig.get_paths()["include"])' 2>/dev/null \
       && [ -f "$("$candidate" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')/Python.h" ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

found=()
for v in $versions; do
  [ "$v" = "$default" ] && continue
  if python="$(find_python "$v")"; then
    found+=("$v")
  else
    echo "== CPython $v: not on this machine (with its headers), skipped" >&2
  fi
done
if [ "$list_only" = 1 ]; then
  echo "${found[*]}"
  exit 0
fi
[ ${#found[@]} -eq 0 ] && exit 0

if [ "${LIBFC_PLAIN_BUILT:-0}" != 1 ]; then
  (
    source scripts/venv.sh requirements-test.txt
    if [ ! -f build/build.ninja ]; then
      cmake -S . -B build -G Ninja -DLIBFC_BUILD_TESTS=ON -DPython_EXECUTABLE="$(command -v python)" >/dev/null
    fi
    cmake --build build --target builtin_libfc fabPublic gen_companion gen_signatures >/dev/null
  )
fi

# CMake and ninja are those of the default environment, which built build/;
# the other environments get only what the suite imports. The bounded fuzz
# test makes fewer calls here than in the sanitized pass.
tools="$root/.venv/bin"
for v in "${found[@]}"; do
  python="$(find_python "$v")"
  echo "== CPython $v: $python"
  (
    export PYTHON="$python"
    mkdir -p "build-py$v"
    grep -v -i -E '^(cmake|ninja|scikit-build-core)([^a-z_-]|$)' requirements-test.txt >"build-py$v/requirements.txt"
    # The type checkers, scapy and the terminal emulation serve tests that
    # only the plain pass runs.
    LIBFC_EXTRA_SKIP="mypy basedpyright scapy pexpect pyte" source scripts/venv.sh "build-py$v/requirements.txt"
    case " ${LIBFC_PUBLIC_API_VERSIONS-3.9} " in
      *" $v "*) public_only=ON; echo "== CPython $v: public API only" ;;
      *) public_only=OFF ;;
    esac
    "$tools/cmake" -S . -B "build-py$v" -G Ninja -DCMAKE_MAKE_PROGRAM="$tools/ninja" \
      -DLIBFC_PUBLIC_API_ONLY="$public_only" -DLIBFC_BUILD_TESTS=ON -DPython_EXECUTABLE="$(command -v python)" -DLIBFC_PREBUILT_DIR="$root/build" \
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O1 -DNDEBUG" >/dev/null
    if ! "$tools/cmake" --build "build-py$v" >"build-py$v/build.log" 2>&1; then cat "build-py$v/build.log"; exit 1; fi
    # Every module of the package byte-compiles here, also those whose tests
    # only the plain pass runs.
    python -m compileall -q "build-py$v/libfc"
    LIBFC_BUILD_DIR="$root/build-py$v" LIBFC_PASS=matrix LIBFC_PUBLIC_API_ONLY="$public_only" LIBFC_SKIP_INSTALL_TEST=1 \
      python -m pytest -q -p no:cacheprovider
  )
done

#!/usr/bin/env bash
# Builds the modules with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the test suite against that build. The interpreter itself is not
# instrumented, so the sanitizer runtime is preloaded; leak reports are off
# because the interpreter keeps memory until exit by design. Compiled at -O1,
# the level the sanitizers are made for, with line tables only (-g1): the
# reports' stacks keep their files and lines, and the build skips the rest of
# the debug information. With LIBFC_PLAIN_BUILT=1 (run_tests.sh) the two
# generators are taken from the plain build.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh requirements-test.txt
source scripts/build_env.sh

companion="" signatures=""
if [ "${LIBFC_PLAIN_BUILT:-0}" = 1 ]; then companion="$PWD/build/gen_companion" signatures="$PWD/build/gen_signatures"; fi
cmake -S . -B build-asan -G Ninja -DLIBFC_BUILD_TESTS=ON -DLIBFC_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
  -DLIBFC_GEN_COMPANION="$companion" -DLIBFC_GEN_SIGNATURES="$signatures" -DPython_EXECUTABLE="$(command -v python)" >/dev/null
cmake --build build-asan
python -m compileall -q build-asan/libfc  # bytecode for the interpreters the tests start

export LIBFC_BUILD_DIR="$PWD/build-asan"
export LIBFC_SANITIZED=1
export LIBFC_PASS=sanitized
export LD_PRELOAD="$(gcc -print-file-name=libasan.so)"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
python -m pytest -q -p no:cacheprovider "$@"

#!/usr/bin/env bash
# Builds the modules with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the test suite against that build. The interpreter itself is not
# instrumented, so the sanitizer runtime is preloaded; leak reports are off
# because the interpreter keeps memory until exit by design.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh requirements-test.txt

cmake -S . -B build-asan -G Ninja -DLIBFC_BUILD_TESTS=ON -DLIBFC_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPython_EXECUTABLE="$(command -v python)"
cmake --build build-asan

export LIBFC_BUILD_DIR="$PWD/build-asan"
export LIBFC_SANITIZED=1
export LD_PRELOAD="$(gcc -print-file-name=libasan.so)"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
python -m pytest -q -p no:cacheprovider "$@"

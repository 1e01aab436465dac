#!/usr/bin/env bash
# The benchmark in one command: sets up the project's virtual environment
# with the peers' packages, builds _libfc (Release) in build-bench/ and the
# peer extensions in build-bench/peers/, then prints the table.
# Arguments are passed to bench.py; LIBFC_BENCH_SECONDS and
# LIBFC_BENCH_REPEATS shorten the loops for a quick look.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh bench/requirements.txt

python="$(command -v python)"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DLIBFC_BUILD_TESTS=ON \
  -DPython_EXECUTABLE="$python" >/dev/null
cmake --build build-bench -j2 >/dev/null

cmake -S bench/peers -B build-bench/peers/cmake -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_LIBRARY_OUTPUT_DIRECTORY="$PWD/build-bench/peers" -DPython_EXECUTABLE="$python" >/dev/null
cmake --build build-bench/peers/cmake -j2 >/dev/null
python bench/peers/cffi_records.py build-bench/peers >/dev/null

python bench/bench.py "$@"

#!/usr/bin/env bash
# Sets up the project's virtual environment, builds the modules in-tree (with
# the test-only module), runs every test, runs the suite again against a
# build with AddressSanitizer and UndefinedBehaviorSanitizer, then once more
# on every other CPython from 3.9 to 3.13 this machine has.
# LIBFC_VERSIONS="" skips the other interpreters.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh requirements-test.txt

cmake -S . -B build -G Ninja -DLIBFC_BUILD_TESTS=ON -DPython_EXECUTABLE="$(command -v python)"
cmake --build build

python -m pytest -q "$@"

# The install test needs no second run; everything else runs sanitized.
LIBFC_SKIP_INSTALL_TEST=1 bash scripts/run_sanitized_tests.sh "$@"

bash scripts/run_version_matrix.sh

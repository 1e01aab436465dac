#!/usr/bin/env bash
# Installs what the tests need, builds the modules in-tree (with the
# test-only module), runs every test, then runs the suite again against a
# build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

python3 -m pip install --quiet --disable-pip-version-check -r requirements-test.txt

cmake -S . -B build -G Ninja -DLIBFC_BUILD_TESTS=ON
cmake --build build

python3 -m pytest -q "$@"

# The install test needs no second run; everything else runs sanitized.
LIBFC_SKIP_INSTALL_TEST=1 bash scripts/run_sanitized_tests.sh "$@"

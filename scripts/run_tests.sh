#!/usr/bin/env bash
# Installs what the tests need, builds the modules in-tree (with the
# test-only module) and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

python3 -m pip install --quiet --disable-pip-version-check -r requirements-test.txt

cmake -S . -B build -G Ninja -DLIBFC_BUILD_TESTS=ON
cmake --build build

python3 -m pytest -q "$@"

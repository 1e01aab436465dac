#!/usr/bin/env bash
# Builds and runs the test suite on every CPython from 3.9 to 3.13 that this
# machine has besides the default one, each in its own virtual environment
# and build directory, and says which versions it did not find.
# LIBFC_VERSIONS overrides the list ("" runs none).
set -euo pipefail
cd "$(dirname "$0")/.."
default="$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
versions="${LIBFC_VERSIONS-3.9 3.10 3.11 3.12 3.13}"

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

for v in $versions; do
  [ "$v" = "$default" ] && continue
  if ! python="$(find_python "$v")"; then
    echo "== CPython $v: not on this machine (with its headers), skipped"
    continue
  fi
  echo "== CPython $v: $python"
  (
    export PYTHON="$python"
    source scripts/venv.sh requirements-test.txt
    cmake -S . -B "build-py$v" -G Ninja -DLIBFC_BUILD_TESTS=ON -DPython_EXECUTABLE="$(command -v python)" >/dev/null
    cmake --build "build-py$v" >/dev/null
    LIBFC_BUILD_DIR="$PWD/build-py$v" LIBFC_SKIP_INSTALL_TEST=1 python -m pytest -q -p no:cacheprovider
  )
done

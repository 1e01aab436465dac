#!/usr/bin/env bash
# Sets up the project's virtual environment, builds the modules in-tree (with
# the test-only module), runs every test, runs the suite again against a
# build with AddressSanitizer and UndefinedBehaviorSanitizer, then once more
# on CPython 3.9 and 3.13 where this machine has them (LIBFC_VERSIONS picks
# others; see run_version_matrix.sh).
#
# The plain suite runs in front and prints as it goes; the sanitized suite
# and the other interpreters run beside it, up to LIBFC_JOBS passes at a time
# (default: one per processor), each into build-logs/<pass>.log, which is
# printed when the pass ends. The status is that of the first pass to fail.
# The plain pass samples the tests over every field and record as the other
# interpreters do (LIBFC_PASS=plain, tests/conftest.py); the sanitized pass
# runs them all, and alone the long ones no build changes (marked
# same_on_every_build). Extra arguments go to pytest in the plain and
# sanitized passes.
# LIBFC_VERSIONS="" skips the other interpreters.
# The 3.9 pass is built with LIBFC_PUBLIC_API_ONLY: it tests the public paths
# an interpreter outside 3.9-3.13 takes, while the plain, sanitized and 3.13
# passes run the fast paths into the interpreter's internals.
set -euo pipefail
cd "$(dirname "$0")/.."
# The build tools first: the plain build runs while the packages the tests
# import are installed.
LIBFC_NO_EXTRA=1 source scripts/venv.sh requirements-test.txt
source scripts/build_env.sh

cmake -S . -B build -G Ninja -DLIBFC_BUILD_TESTS=ON -DPython_EXECUTABLE="$(command -v python)" >/dev/null
cmake --build build &
build=$!
source scripts/venv.sh requirements-test.txt
wait "$build"
# The package's bytecode, for the many interpreters the tests start (read
# even where PYTHONDONTWRITEBYTECODE keeps them from writing it).
python -m compileall -q build/libfc

passes=(sanitized)
read -r -a versions <<<"$(bash scripts/run_version_matrix.sh --available)"
for v in "${versions[@]}"; do passes+=("py$v"); done

run_pass() {
  case "$1" in
    # The install test needs no second run; everything else runs sanitized.
    sanitized) LIBFC_PLAIN_BUILT=1 LIBFC_SKIP_INSTALL_TEST=1 bash scripts/run_sanitized_tests.sh "${@:2}" ;;
    py*) LIBFC_PLAIN_BUILT=1 bash scripts/run_version_matrix.sh "${1#py}" ;;
  esac
}

logs=build-logs
mkdir -p "$logs"
lanes="${LIBFC_JOBS:-$(nproc 2>/dev/null || echo 1)}"
declare -A pass_of=()
failed=""
next=0
start_passes() {  # fills the free lanes; $1 lanes are taken in front
  while [ "$next" -lt ${#passes[@]} ] && [ $((${#pass_of[@]} + $1)) -lt "$lanes" ]; do
    local pass="${passes[$next]}"
    run_pass "$pass" "${pytest_args[@]}" >"$logs/$pass.log" 2>&1 &
    pass_of[$!]="$pass"
    next=$((next + 1))
  done
}
report() {  # prints a finished pass's log and notes its status
  echo "== $1 (build-logs/$1.log)"
  cat "$logs/$1.log"
  if [ "$2" != 0 ] && [ -z "$failed" ]; then failed="$1"; status="$2"; fi
}

pytest_args=("$@")
status=0
start_passes 1
plain=0
LIBFC_PASS=plain python -m pytest -q "$@" || plain=$?
if [ "$plain" != 0 ]; then failed=plain; status=$plain; fi
while [ ${#pass_of[@]} -gt 0 ] || [ "$next" -lt ${#passes[@]} ]; do
  start_passes 0
  pass_status=0
  wait -n -p done_pid || pass_status=$?
  report "${pass_of[$done_pid]}" "$pass_status"
  unset "pass_of[$done_pid]"
done
if [ -n "$failed" ]; then
  echo "run_tests: the $failed pass failed" >&2
fi
exit "$status"

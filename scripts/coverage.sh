#!/usr/bin/env bash
# Line and branch coverage of the runtime and the built-in libraries by the
# project's own tests: builds everything with gcov instrumentation in
# build-cov/, runs the suite against that build and prints gcovr's summary
# per file (reports in build-cov/coverage/). Extra arguments go to pytest.
# LIBFC_COVERAGE_MIN=95 makes the script fail below that line coverage.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh requirements-test.txt
source scripts/build_env.sh
python -m pip install --quiet --disable-pip-version-check gcovr

flags="--coverage -O0 -g"
cmake -S . -B build-cov -G Ninja -DLIBFC_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DCMAKE_MODULE_LINKER_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DPython_EXECUTABLE="$(command -v python)" >/dev/null
cmake --build build-cov
find build-cov -name '*.gcda' -delete

# The install test builds its own, uninstrumented modules: it adds nothing here.
LIBFC_BUILD_DIR="$PWD/build-cov" LIBFC_SKIP_INSTALL_TEST=1 LIBFC_FUZZ_CALLS="${LIBFC_FUZZ_CALLS:-50000}" \
  python -m pytest -q -p no:cacheprovider "$@" || echo "coverage: some tests failed under instrumentation (see above)"

mkdir -p build-cov/coverage
# Generated sources (build-cov/generated) expand the record tables: their
# lines are the runtime's templates, counted where the templates live.
common=(--root . --object-directory build-cov --gcov-ignore-parse-errors=negative_hits.warn_once_per_file
        --gcov-ignore-errors=source_not_found --gcov-ignore-errors=no_working_dir_found -j 2
        --merge-lines --exclude-unreachable-branches --exclude-throw-branches)
# gcov reads the counts once, into one tracefile; each part's reports are
# taken from that.
gcovr "${common[@]}" --json build-cov/coverage/all.json >/dev/null
for part in runtime libfc_module ptr fields switchstate builtin/libfc builtin/libfabPublic; do
  name="${part//\//_}"
  echo "== $part"
  gcovr --root . --add-tracefile build-cov/coverage/all.json --filter "$part/" \
    --txt-metric branch --txt "build-cov/coverage/$name-branches.txt" \
    --json-summary "build-cov/coverage/$name.json" --txt "build-cov/coverage/$name.txt" >/dev/null
  python - "build-cov/coverage/$name.json" "$part" <<'PY'
import json, os, sys
data = json.load(open(sys.argv[1]))
print("%s: lines %.1f%% (%d/%d), branches %.1f%% (%d/%d)" % (
    sys.argv[2], data["line_percent"], data["line_covered"], data["line_total"],
    data["branch_percent"], data["branch_covered"], data["branch_total"]))
minimum = float(os.environ.get("LIBFC_COVERAGE_MIN", "0"))
if data["line_percent"] < minimum:
    sys.exit("%s: line coverage below %s%%" % (sys.argv[2], minimum))
PY
done
echo "per-file reports: build-cov/coverage/*.txt (uncovered lines listed)"

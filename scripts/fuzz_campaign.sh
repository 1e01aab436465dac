#!/usr/bin/env bash
# The full reliability campaign, one command (the test suite runs bounded
# versions of each part):
#   1. the method fuzzer under AddressSanitizer/UBSan: FUZZ_CALLS calls
#      (default 1 000 000) with FUZZ_SEED (default: a new one, printed),
#      and as many over the fields module's flow functions;
#   2. the coverage-guided harnesses (atheris, over the plain build): the
#      conversions, pointer and packed texts and the trap, and the parsers
#      of untrusted input (records made from data, snapshot files, HTTP
#      requests): ATHERIS_RUNS inputs each (default 200 000); the parsers'
#      harnesses also run PARSER_INPUTS seeded random inputs each (default
#      1 000 000) under the sanitizers in part 1 (with gcc's libasan
#      preloaded atheris gets no coverage, so there they run unguided);
#   3. valgrind --leak-check=full over a representative part of the suite and
#      20 000 fuzz calls, with scripts/valgrind.supp for the interpreter's own
#      noise; fails on any definite or indirect leak or memory error with a
#      frame in this project's code;
#   4. the mutation check (scripts/mutation_check.py), unless SKIP_MUTATION=1.
# Logs go to build-campaign/. Parts can be chosen: scripts/fuzz_campaign.sh asan atheris valgrind mutation
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh requirements-test.txt
parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(asan atheris valgrind mutation)
want() { [[ " ${parts[*]} " == *" $1 "* ]]; }
# The parsers of untrusted input.
PARSER_HARNESSES=(fuzz_records_atheris.py fuzz_snapshot_atheris.py fuzz_http_atheris.py)
logs=build-campaign
mkdir -p "$logs"
seed="${FUZZ_SEED:-$(python -c 'import random; print(random.SystemRandom().randrange(2**32))')}"
echo "campaign: seed $seed, logs in $logs/"

cmake -S . -B build -G Ninja -DLIBFC_BUILD_TESTS=ON -DPython_EXECUTABLE="$(command -v python)" >/dev/null
cmake --build build -j2

if want asan; then
  cmake -S . -B build-asan -G Ninja -DLIBFC_BUILD_TESTS=ON -DLIBFC_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DPython_EXECUTABLE="$(command -v python)" >/dev/null
  cmake --build build-asan -j2
  echo "== method fuzzer under the sanitizers"
  LIBFC_BUILD_DIR="$PWD/build-asan" LIBFC_SANITIZED=1 LD_PRELOAD="$(gcc -print-file-name=libasan.so)" \
    ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    python tests/fuzz/fuzz_methods.py --calls "${FUZZ_CALLS:-1000000}" --seed "$seed" 2>&1 | tee "$logs/fuzz-asan.log" | tail -3
  echo "== the fields module's flow functions under the sanitizers"
  LIBFC_BUILD_DIR="$PWD/build-asan" LIBFC_SANITIZED=1 LD_PRELOAD="$(gcc -print-file-name=libasan.so)" \
    ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    python tests/fuzz/fuzz_fields.py --calls "${FUZZ_CALLS:-1000000}" --seed "$seed" >"$logs/fields-asan.log" 2>&1 \
    || { tail -40 "$logs/fields-asan.log"; exit 1; }
  tail -1 "$logs/fields-asan.log"
  for harness in "${PARSER_HARNESSES[@]}"; do
    echo "== $harness under the sanitizers"
    LIBFC_BUILD_DIR="$PWD/build-asan" LIBFC_SANITIZED=1 LD_PRELOAD="$(gcc -print-file-name=libasan.so)" \
      ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
      python "tests/fuzz/$harness" --random "${PARSER_INPUTS:-1000000}" "$seed" >"$logs/${harness%.py}-asan.log" 2>&1 \
      || { tail -40 "$logs/${harness%.py}-asan.log"; exit 1; }
    tail -1 "$logs/${harness%.py}-asan.log"
  done
fi

if want atheris; then
  python -m pip install --quiet --disable-pip-version-check atheris
  echo "== coverage-guided harness (atheris)"
  python tests/fuzz/fuzz_conversions_atheris.py -runs="${ATHERIS_RUNS:-200000}" -seed="$((seed % 2147483647))" \
    >"$logs/atheris.log" 2>&1 || { tail -40 "$logs/atheris.log"; exit 1; }
  grep -E "^Done|DONE" "$logs/atheris.log" | tail -2
  for harness in "${PARSER_HARNESSES[@]}"; do
    python "tests/fuzz/$harness" -runs="${ATHERIS_RUNS:-200000}" -seed="$((seed % 2147483647))" \
      >"$logs/${harness%.py}.log" 2>&1 || { tail -40 "$logs/${harness%.py}.log"; exit 1; }
    echo "$harness: $(grep -E "^Done|DONE" "$logs/${harness%.py}.log" | tail -1)"
  done
fi

if want valgrind; then
  echo "== valgrind over part of the suite and the method fuzzer"
  vg=(valgrind --leak-check=full --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect
      --suppressions="$PWD/scripts/valgrind.supp" --num-callers=40)
  rm -f "$logs"/valgrind-*.txt
  (cd tests && PYTHONMALLOC=malloc "${vg[@]}" --log-file="../$logs/valgrind-suite.txt" \
     python -m pytest -q -p no:cacheprovider test_operations.py test_inval_stats_records.py test_trap.py \
       test_boundaries.py test_runtime_probes.py test_pointer_objects.py test_libfc_ptr.py \
       test_field_layout_edges.py -k "not exported and not do_not_leak") \
     >"$logs/valgrind-suite.out" 2>&1 || true
  tail -1 "$logs/valgrind-suite.out"
  PYTHONMALLOC=malloc "${vg[@]}" --log-file="$logs/valgrind-fuzz.txt" \
    python tests/fuzz/fuzz_methods.py --calls 20000 --seed "$seed" >"$logs/valgrind-fuzz.out" 2>&1 || true
  tail -1 "$logs/valgrind-fuzz.out"
  python - "$logs"/valgrind-suite.txt "$logs"/valgrind-fuzz.txt <<'PY'
import re, sys
# A record is one error or leak report: its first line and its frames.
ours = re.compile(r"(_libfc|_swigtest|libfc\.so|libfabPublic\.so|/runtime/|/libfc_module/|/flowcache/|/builtin/|/packet_headers/|/kernel/)")
bad = 0
for path in sys.argv[1:]:
    text = open(path).read()
    for block in re.split(r"\n==\d+== \n", text):
        lines = [l.split("== ", 1)[-1] for l in block.splitlines()]
        if not lines:
            continue
        head = next((l for l in lines if l.strip()), "")
        is_leak = re.search(r"(definitely|indirectly) lost in loss record", head)
        is_error = re.match(r"(Invalid|Conditional|Use of uninitialised|Mismatched|Syscall param|Source and destination)", head)
        if (is_leak or is_error) and any(ours.search(l) for l in lines):
            bad += 1
            print("%s:\n  %s" % (path, "\n  ".join(lines[:25])))
    summary = re.findall(r"(definitely lost: .*|indirectly lost: .*|ERROR SUMMARY: .*)", text)
    if not any(s.startswith("ERROR SUMMARY") for s in summary):
        bad += 1  # the run never finished
    print("%s: %s" % (path, "; ".join(summary[-3:]) or "no summary: the run did not finish"))
print("valgrind: %d reports attributed to the project" % bad)
sys.exit(1 if bad else 0)
PY
fi

if want mutation && [ "${SKIP_MUTATION:-0}" != 1 ]; then
  echo "== mutation check"
  python scripts/mutation_check.py | tee "$logs/mutation.log" | tail -8
fi
echo "campaign: done, seed $seed"

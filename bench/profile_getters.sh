#!/usr/bin/env bash
# Instructions per getter call under callgrind, after bench/run.sh has built
# build-bench/ (apt-get install valgrind where it is missing).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh
python bench/profile_getters.py "$@"

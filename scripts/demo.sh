#!/usr/bin/env bash
# Installs the module with pip into the project's virtual environment and runs
# the demo from outside the source tree.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/venv.sh"
python -m pip install --quiet --disable-pip-version-check "$root"
cd "$(mktemp -d)"
python "$root/scripts/demo.py"

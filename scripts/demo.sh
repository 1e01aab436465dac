#!/usr/bin/env bash
# Installs the module with pip and runs the demo from outside the source tree.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
python3 -m pip install --quiet --disable-pip-version-check "$root"
cd "$(mktemp -d)"
python3 "$root/scripts/demo.py"

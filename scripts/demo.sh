#!/usr/bin/env bash
# Installs the project with pip into the project's virtual environment, then,
# from outside the source tree, fills the built-in flow cache with traffic and
# shows it with the command-line tool, then tours the module itself.
# The built-in cache keeps its state in $FC_EMU_DIR, the built-in switch state
# store is $FAB_EMU_DB; by default both are in the user's private directory
# $XDG_RUNTIME_DIR/libfc, or /tmp/libfc-<uid> (flowcache.state and fabemu.db).
# `libfc emu traffic` only adds flows there, and running it again adds none;
# `libfc emu populate` replaces the store's contents.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/venv.sh"
python -m pip install --quiet --disable-pip-version-check "$root"
cd "$(mktemp -d)"
run() { echo "\$ $*"; "$@"; echo; }
run libfc emu traffic --flows 200 --seed 1
run libfc flows --limit 10
run libfc stats
run libfc emu populate --switches 2 --ports 3
run libfc dvs switches
python "$root/scripts/demo.py"

# Sourced by the other scripts: makes (once) and activates the project's own
# virtual environment for the interpreter $PYTHON (default python3), so
# nothing is installed into the system's Python. The environment lives in
# .venv, or .venv-<version> for another interpreter than the default.
# The requirements are installed again only when their file has changed
# since the last install into that environment.
# Usage: [LIBFC_NO_EXTRA=1] source scripts/venv.sh [requirements file]
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${PYTHON:-python3}"
version="$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
if [ -z "${PYTHON:-}" ]; then venv="$root/.venv"; else venv="$root/.venv-$version"; fi
if [ ! -x "$venv/bin/python" ]; then
  "$python" -m venv "$venv"
  "$venv/bin/python" -m pip install --quiet --disable-pip-version-check --upgrade pip
fi
# shellcheck disable=SC1091
source "$venv/bin/activate"
if [ -n "${1:-}" ]; then
  # The file holds the build tools; what the tests import is the project's
  # `test` extra, read from pyproject.toml so that it is listed only there.
  # Both are installed again only when either list changed.
  stamp="$venv/installed-$(basename "$1")"
  extra=""
  if [ -n "${LIBFC_NO_EXTRA:-}" ]; then
    # The file's packages alone (the build tools, so that a build can start
    # while the extra is installed by a second call).
    stamp="$stamp-alone"
  else
    extra="$(python - "$root/pyproject.toml" <<'EOF'
import os
import re
import sys
try:
    import tomllib
except ImportError:  # before 3.11: the parser pip carries
    from pip._vendor import tomli as tomllib
with open(sys.argv[1], "rb") as f:
    extra = tomllib.load(f)["project"]["optional-dependencies"]["test"]
# LIBFC_EXTRA_SKIP: packages of the extra this environment does without.
skipped = os.environ.get("LIBFC_EXTRA_SKIP", "").split()
print(" ".join(p for p in extra if re.split(r"[<>=!~\[ ;]", p, maxsplit=1)[0] not in skipped))
EOF
)"
  fi
  wanted="$(cat "$1"; echo "$extra")"
  if [ "$wanted" != "$(cat "$stamp" 2>/dev/null)" ]; then
    # shellcheck disable=SC2086
    python -m pip install --quiet --disable-pip-version-check -r "$1" $extra && printf '%s' "$wanted" > "$stamp"
  fi
fi

#!/usr/bin/env bash
# Installs korvane into the project's virtual environment with pip and runs the
# quick-start example on the bundled network.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_venv

echo "== pip install ."
"$PY" -m pip install --quiet --no-build-isolation "$ROOT"
cd "$ROOT/examples"
"$PY" quickstart.py

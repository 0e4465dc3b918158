#!/usr/bin/env bash
# Installs korvane into the project's virtual environment with pip, runs the
# quick-start example on the bundled network, then the korvane command on it: a
# 24-instance suite made in a temporary folder and verified.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_venv
ensure_debian_packages "${LIBRARY_PACKAGES[@]}"

echo "== pip install ."
"$PY" -m pip install --quiet --no-build-isolation "$ROOT"
cd "$ROOT/examples"
"$PY" quickstart.py

echo
echo "== korvane info network.min"
"$VENV/bin/korvane" info network.min
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
echo "== korvane suite suite.toml (24 instances), then --verify"
"$VENV/bin/korvane" suite suite.toml --output "$out/suite" --quiet
"$VENV/bin/korvane" suite suite.toml --output "$out/suite" --verify --quiet

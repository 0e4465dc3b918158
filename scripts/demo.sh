#!/usr/bin/env bash
# Installs korvane into the project's virtual environment with pip (the build
# tools are all it installs there; test.sh adds the test tools), runs the
# quick-start example on the bundled network, then the korvane command on it: a
# 24-instance suite made in a temporary folder and verified.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_venv "${BUILD_REQUIREMENTS[@]}"
ensure_debian_packages "${LIBRARY_PACKAGES[@]}"

# The build folder outlives the install, so a second run recompiles only what changed.
echo "== pip install ."
"$PY" -m pip install --quiet --disable-pip-version-check --no-build-isolation \
  --config-settings=build-dir="$ROOT/build-pip/{wheel_tag}" "$ROOT"
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

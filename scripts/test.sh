#!/usr/bin/env bash
# Builds korvane with its GoogleTest suite and runs every test: the native core
# tests through CTest, then the Python tests with pytest against the build tree.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_venv
ensure_gtest

BUILD="$ROOT/build"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=ON \
  -DKORVANE_WERROR=ON -DPython_EXECUTABLE="$PY" >/dev/null
cmake --build "$BUILD" -j "$(nproc)"

echo "== native tests"
ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)"

echo "== Python tests"
cd "$ROOT"
# -P keeps the source folder korvane/ (which has no native module) off sys.path.
PYTHONPATH="$BUILD/python" "$PY" -P -m pytest -q "$@"

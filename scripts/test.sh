#!/usr/bin/env bash
# Builds korvane and runs every test, once with GCC and once with Clang
# (warnings are errors in both): the native core tests through CTest, then the
# Python tests with pytest against the build tree, then the type checks
# (stubtest of the package's stubs, mypy --strict on the examples).
# Arguments after the options go to pytest.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_venv
ensure_debian_packages

run_suite() {  # run_suite LABEL CXX BUILD_DIR [pytest args...]
  local label=$1 cxx=$2 build=$3
  shift 3
  echo "== [$label] build"
  cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
    -DKORVANE_TESTS=ON -DKORVANE_WERROR=ON -DPython_EXECUTABLE="$PY" >/dev/null
  cmake --build "$build" -j "$(nproc)"
  echo "== [$label] native tests"
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
  echo "== [$label] Python tests"
  # -P keeps the current folder off sys.path, so only the build tree provides korvane.
  # A temporary folder of its own per build keeps concurrent runs out of each other's way.
  (cd "$ROOT" && PYTHONPATH="$build/python" "$PY" -P -m pytest -q --basetemp="$build/pytest-tmp" "$@")
}

run_suite gcc g++ "$ROOT/build" "$@"
run_suite clang clang++ "$ROOT/build-clang" "$@"

echo "== type checks"
(cd "$ROOT" && PYTHONPATH="$ROOT/build/python" "$PY" -P -m mypy.stubtest korvane \
  --allowlist "$ROOT/tests/stubtest-allowlist.txt")
(cd "$ROOT" && MYPYPATH="$ROOT/build/python" "$PY" -m mypy --strict --no-incremental examples)

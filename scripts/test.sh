#!/usr/bin/env bash
# Builds korvane and runs every test, once with GCC and once with Clang
# (warnings are errors in both): the native core tests through CTest, then the
# Python tests with pytest against the build tree, then the type checks
# (stubtest of the package's stubs, mypy --strict on the examples); then a
# build for each older supported Python (3.11, 3.12) that must write the same
# file from one seed; then the whole suite again against an ASan/UBSan build,
# and a bounded run of each fuzz target. This is what CI runs.
#
#   ./scripts/test.sh [pytest args]   everything above
#   ./scripts/test.sh --sanitize      only the ASan/UBSan suite
#   ./scripts/test.sh --fuzz          only the fuzz targets (KORVANE_FUZZ_SECONDS each, default 35)
#   ./scripts/test.sh --quick         only the GCC and Clang suites and the type checks
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_venv
ensure_debian_packages

MODE=all
case "${1:-}" in
  --sanitize | --fuzz | --quick) MODE=${1#--}; shift ;;
esac

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

# The whole suite against an ASan/UBSan build of the core, the module and the
# native tests. The interpreter itself is not instrumented, so the sanitizer
# runtime is preloaded, with libstdc++ (else the first C++ throw aborts); leak
# detection is off because the interpreter keeps memory until exit.
run_sanitized() {
  local build="$ROOT/build-asan"
  echo "== [asan+ubsan] build"
  cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
    -DKORVANE_TESTS=ON -DKORVANE_SANITIZE=ON -DKORVANE_WERROR=ON -DPython_EXECUTABLE="$PY" >/dev/null
  cmake --build "$build" -j "$(nproc)"
  local asan_env=(
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  )
  echo "== [asan+ubsan] native tests"
  env "${asan_env[@]}" ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
  echo "== [asan+ubsan] Python tests"
  # Temporary folders of its own: other pytest runs on the machine clean up the shared ones.
  mkdir -p "$build/pytest-tmp"
  (cd "$ROOT" && env "${asan_env[@]}" KORVANE_SANITIZED=1 PYTHONPATH="$build/python" \
    PYTEST_DEBUG_TEMPROOT="$build/pytest-tmp" \
    LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
    "$PY" -P -m pytest -q "$@")
}

# Each fuzz target (Clang's libFuzzer, ASan and UBSan) replays its kept crash
# inputs, then runs for KORVANE_FUZZ_SECONDS from seeds written by korvane itself.
# A new crash fails the run; keep its input in tests/fuzz/regressions/<target>.
run_fuzz() {
  local build="$ROOT/build-fuzz" seconds="${KORVANE_FUZZ_SECONDS:-35}"
  echo "== [fuzz] build"
  cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DKORVANE_FUZZ=ON -DKORVANE_WERROR=ON -DPython_EXECUTABLE="$PY" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target fuzz_min_reader fuzz_mc_reader fuzz_numbers
  ctest --test-dir "$build" --output-on-failure
  rm -rf "$build/seeds"
  PYTHONPATH="$ROOT/build/python" "$PY" -P "$ROOT/tests/fuzz/make_seeds.py" "$build/seeds"
  local target seeds
  for target in fuzz_min_reader:min fuzz_mc_reader:mc fuzz_numbers:numbers; do
    seeds=${target#*:}
    target=${target%%:*}
    echo "== [fuzz] $target for ${seeds} seeds, ${seconds}s"
    mkdir -p "$build/corpus/$target" "$build/artifacts"
    "$build/$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" "$build/corpus/$target" "$build/seeds/$seeds" \
      "$ROOT/tests/fuzz/regressions/$target" 2>"$build/$target.log" ||
      { tail -n 40 "$build/$target.log"; exit 1; }
    grep -E '^stat::number_of_executed_units' "$build/$target.log" | sed "s/^/  $target /"
  done
}

case "$MODE" in
  sanitize) run_sanitized "$@"; exit 0 ;;
  fuzz) run_fuzz; exit 0 ;;
esac

run_suite gcc g++ "$ROOT/build" "$@"
run_suite clang clang++ "$ROOT/build-clang" "$@"

echo "== type checks"
(cd "$ROOT" && PYTHONPATH="$ROOT/build/python" "$PY" -P -m mypy.stubtest korvane \
  --allowlist "$ROOT/tests/stubtest-allowlist.txt")
(cd "$ROOT" && MYPYPATH="$ROOT/build/python" "$PY" -m mypy --strict --no-incremental examples)

[ "$MODE" = quick ] && exit 0
source "$ROOT/scripts/older_pythons.sh"
run_older_pythons
run_sanitized "$@"
# The fuzz seeds are written by the GCC build of the module above.
run_fuzz

#!/usr/bin/env bash
# Builds korvane and runs every test, once with GCC and once with Clang
# (warnings are errors in both): the native core tests through CTest, then the
# Python tests with pytest against the build tree, then the type checks
# (stubtest of the package's stubs, mypy --strict on the examples); then a
# build for each older supported Python (3.11, 3.12) that must write the same
# file from one seed; then the whole suite again against an ASan/UBSan build,
# a bounded run of each fuzz target, and a build of the core with the zlib and
# zstd headers hidden. It ends with one summary line per stage and the total
# time. This is what CI runs. KORVANE_DIMACS_DIR points the tests that read the
# DIMACS sample networks elsewhere than ../shared/data/dimacs.
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

# Each stage adds its summary lines to SUMMARY, printed with the total time on
# exit (also after a failure, which then names the stage that stopped the run).
LOGS="$(mktemp -d)"
SUMMARY="$LOGS/summary"
STAGE=set-up
: > "$SUMMARY"
summarize() { printf '%-24s %s\n' "$1" "$2" >> "$SUMMARY"; }
# "312 tests passed" from CTest's output; "1530 passed, 12 skipped in 95.1s" from pytest's.
# (CTest 4 leaves out ", 0 tests failed" when none did.)
ctest_count() { grep -Eo '[0-9]+% tests passed(, [0-9]+ tests failed)? out of [0-9]+' "$1" | tail -n 1; }
pytest_count() { grep -E '^=* ?[0-9]+ (passed|failed)' "$1" | tail -n 1 | sed -E 's/=//g; s/^ +| +$//g'; }
print_summary() {
  local status=$?
  echo
  echo "== summary"
  cat "$SUMMARY"
  [ "$status" -ne 0 ] && summarize "FAILED" "in stage: $STAGE (exit status $status)" &&
    tail -n 1 "$SUMMARY"
  printf '%-24s %dm%02ds\n' "total" $((SECONDS / 60)) $((SECONDS % 60))
  rm -rf "$LOGS"
}
trap print_summary EXIT

run_suite() {  # run_suite LABEL CXX BUILD_DIR [pytest args...]
  local label=$1 cxx=$2 build=$3
  shift 3
  local started=$SECONDS
  STAGE="[$label] build"
  echo "== [$label] build"
  cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
    -DKORVANE_TESTS=ON -DKORVANE_WERROR=ON -DPython_EXECUTABLE="$PY" >/dev/null
  cmake --build "$build" -j "$(nproc)"
  summarize "[$label] build" "ok, $((SECONDS - started)) s"
  STAGE="[$label] native tests"
  echo "== [$label] native tests"
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)" | tee "$LOGS/ctest"
  summarize "[$label] native tests" "$(ctest_count "$LOGS/ctest")"
  STAGE="[$label] pytest"
  echo "== [$label] Python tests"
  # -P keeps the current folder off sys.path, so only the build tree provides korvane.
  # A temporary folder of its own per build keeps concurrent runs out of each other's way.
  (cd "$ROOT" && PYTHONPATH="$build/python" "$PY" -P -m pytest -q --basetemp="$build/pytest-tmp" "$@") |
    tee "$LOGS/pytest"
  summarize "[$label] pytest" "$(pytest_count "$LOGS/pytest")"
}

# The whole suite against an ASan/UBSan build of the core, the module and the
# native tests. The interpreter itself is not instrumented, so the sanitizer
# runtime is preloaded, with libstdc++ (else the first C++ throw aborts); leak
# detection is off because the interpreter keeps memory until exit.
run_sanitized() {
  local build="$ROOT/build-asan" started=$SECONDS
  STAGE="[asan+ubsan] build"
  echo "== [asan+ubsan] build"
  cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
    -DKORVANE_TESTS=ON -DKORVANE_SANITIZE=ON -DKORVANE_WERROR=ON -DPython_EXECUTABLE="$PY" >/dev/null
  cmake --build "$build" -j "$(nproc)"
  local asan_env=(
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1
    UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  )
  summarize "[asan+ubsan] build" "ok, $((SECONDS - started)) s"
  STAGE="[asan+ubsan] native tests"
  echo "== [asan+ubsan] native tests"
  env "${asan_env[@]}" ctest --test-dir "$build" --output-on-failure -j "$(nproc)" | tee "$LOGS/ctest"
  summarize "[asan+ubsan] native tests" "$(ctest_count "$LOGS/ctest")"
  STAGE="[asan+ubsan] pytest"
  echo "== [asan+ubsan] Python tests"
  # Temporary folders of its own: other pytest runs on the machine clean up the shared ones.
  mkdir -p "$build/pytest-tmp"
  (cd "$ROOT" && env "${asan_env[@]}" KORVANE_SANITIZED=1 PYTHONPATH="$build/python" \
    PYTEST_DEBUG_TEMPROOT="$build/pytest-tmp" \
    LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
    "$PY" -P -m pytest -q "$@") | tee "$LOGS/pytest"
  summarize "[asan+ubsan] pytest" "$(pytest_count "$LOGS/pytest")"
}

# The core built with the zlib and zstd headers hidden (an empty folder named as
# where they are): the build goes on without them, and reading or writing such a
# file says so. Only the core and one native test are built.
run_without_compression() {
  local build="$ROOT/build-no-compression" started=$SECONDS
  STAGE="[no zlib/zstd] build"
  echo "== [no zlib/zstd] build of the core and test_compression_support"
  mkdir -p "$build/no-headers"
  cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=ON \
    -DKORVANE_WERROR=ON -DPython_EXECUTABLE="$PY" -DZLIB_INCLUDE_DIR="$build/no-headers" \
    -DZSTD_INCLUDE_DIR="$build/no-headers" > "$LOGS/configure" 2>&1
  # CMake wraps its messages: compare the words.
  tr -s ' \n' '  ' < "$LOGS/configure" > "$LOGS/configure.flat"
  grep -qF 'install zlib1g-dev (Debian/Ubuntu), zlib-devel (Fedora/RHEL) or zlib (conda)' \
    "$LOGS/configure.flat"
  grep -qF 'install libzstd-dev (Debian/Ubuntu), libzstd-devel (Fedora/RHEL) or zstd (conda)' \
    "$LOGS/configure.flat"
  cmake --build "$build" -j "$(nproc)" --target test_compression_support
  "$build/test_compression_support" | tee "$LOGS/gtest"
  summarize "[no zlib/zstd]" "configure names the packages; test_compression_support: \
$(grep -Eo '\[  PASSED  \] [0-9]+ tests?' "$LOGS/gtest" | sed 's/.*\] //') passed, $((SECONDS - started)) s"
}

# Each fuzz target (Clang's libFuzzer, ASan and UBSan) replays its kept crash
# inputs, then runs for KORVANE_FUZZ_SECONDS from seeds written by korvane itself.
# A new crash fails the run; keep its input in tests/fuzz/regressions/<target>.
run_fuzz() {
  local build="$ROOT/build-fuzz" seconds="${KORVANE_FUZZ_SECONDS:-35}"
  echo "== [fuzz] build"
  cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DKORVANE_FUZZ=ON -DKORVANE_WERROR=ON -DPython_EXECUTABLE="$PY" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target fuzz_min_reader fuzz_mc_reader fuzz_numbers \
    fuzz_four_file_reader
  ctest --test-dir "$build" --output-on-failure
  rm -rf "$build/seeds"
  PYTHONPATH="$ROOT/build/python" "$PY" -P "$ROOT/tests/fuzz/make_seeds.py" "$build/seeds"
  local target seeds
  for target in fuzz_min_reader:min fuzz_mc_reader:mc fuzz_numbers:numbers \
    fuzz_four_file_reader:fourfile; do
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

# Fuzz executions per target, from run_fuzz's output.
fuzz_stage() {
  STAGE="fuzz"
  run_fuzz | tee "$LOGS/fuzz"
  summarize "fuzz" "$(awk '/stat::number_of_executed_units/ { printf "%s%s %s runs", sep, $1, $3; sep = ", " }' \
    "$LOGS/fuzz")"
}

case "$MODE" in
  sanitize) run_sanitized "$@"; exit 0 ;;
  fuzz) fuzz_stage; exit 0 ;;
esac

run_suite gcc g++ "$ROOT/build" "$@"
run_suite clang clang++ "$ROOT/build-clang" "$@"

echo "== type checks"
STAGE="stubtest"
(cd "$ROOT" && PYTHONPATH="$ROOT/build/python" "$PY" -P -m mypy.stubtest korvane \
  --allowlist "$ROOT/tests/stubtest-allowlist.txt") | tee "$LOGS/stubtest"
STAGE="mypy"
(cd "$ROOT" && MYPYPATH="$ROOT/build/python" "$PY" -m mypy --strict --no-incremental examples) |
  tee "$LOGS/mypy"
summarize "type checks" "stubtest: $(tail -n 1 "$LOGS/stubtest"); mypy --strict: $(tail -n 1 "$LOGS/mypy")"

[ "$MODE" = quick ] && exit 0
source "$ROOT/scripts/stages/cpp_consumers.sh"
run_cpp_consumers
source "$ROOT/scripts/older_pythons.sh"
STAGE="older Pythons"
run_older_pythons | tee "$LOGS/older"
summarize "older Pythons" "$(sed -nE 's/^== \[python ([0-9.]+)\] not on this machine.*/\1 absent/p;
  s/^== \[python ([0-9.]+)\] build and round trip.*/\1 same file as 3.13/p' "$LOGS/older" | paste -sd, - |
  sed 's/,/, /g')"
run_sanitized "$@"
# The fuzz seeds are written by the GCC build of the module above.
fuzz_stage
run_without_compression

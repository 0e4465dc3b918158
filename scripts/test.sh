#!/usr/bin/env bash
# Builds korvane and runs every test, once with GCC and once with Clang
# (warnings are errors in both): the native core tests through CTest, then the
# Python tests with pytest against the build tree, then the type checks
# (stubtest of the package's stubs, mypy --strict on the examples); then a
# build for each older supported Python (3.11, 3.12) that must write the same
# file from one seed; then the whole suite again against an ASan/UBSan build,
# a bounded run of each fuzz target, and a build of the core with the zlib and
# zstd headers hidden; the documentation is built after the type checks. It
# ends with one summary line per stage and the total time. This is what CI
# runs. KORVANE_DIMACS_DIR and KORVANE_MNETGEN_DIR point the tests that read the
# sample files elsewhere than ../shared/data/dimacs and ../shared/data/mnetgen.
# A failing stage does not stop the run: the summary gives every stage's counts
# (and pytest's skip reasons), and the run then fails.
#
#   ./scripts/test.sh [pytest args]   everything above
#   ./scripts/test.sh --sanitize      only the ASan/UBSan suite
#   ./scripts/test.sh --fuzz          only the fuzz targets (KORVANE_FUZZ_SECONDS each, default 35)
#   ./scripts/test.sh --quick         only the GCC and Clang suites, the type checks and the docs
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_venv
ensure_debian_packages

MODE=all
case "${1:-}" in
  --sanitize | --fuzz | --quick) MODE=${1#--}; shift ;;
esac

# Each stage adds its summary lines to SUMMARY (scripts/summary.sh), printed with
# the total time on exit, after a failure too.
LOGS="$(mktemp -d)"
SUMMARY="$LOGS/summary"
STAGE=set-up
: > "$SUMMARY"
source "$ROOT/scripts/summary.sh"
print_summary() {
  local status=$?
  echo
  echo "== summary"
  cat "$SUMMARY"
  if [ ${#FAILED_STAGES[@]} -gt 0 ]; then
    printf '%-24s %s\n' "FAILED" "$(printf '%s; ' "${FAILED_STAGES[@]}" | sed 's/; $//')"
  elif [ "$status" -ne 0 ]; then
    printf '%-24s %s\n' "FAILED" "in stage: $STAGE (exit status $status)"
  fi
  printf '%-24s %dm%02ds\n' "total" $((SECONDS / 60)) $((SECONDS % 60))
  rm -rf "$LOGS"
}
trap print_summary EXIT
# The end of the run: it fails if any stage did.
finish() { if [ ${#FAILED_STAGES[@]} -gt 0 ]; then exit 1; fi; exit 0; }

# A stage's pytest temporaries (hundreds of MB) are removed once it passed; a failed
# stage keeps them for inspection and says where.
drop_temporaries() {  # drop_temporaries STATUS FOLDER
  if [ "$1" -eq 0 ]; then rm -rf "$2"; else echo "  temporaries kept in $2" >> "$SUMMARY"; fi
}

build_tree() {  # build_tree CXX BUILD_DIR
  cmake -S "$ROOT" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$1" \
    -DKORVANE_TESTS=ON -DKORVANE_WERROR=ON -DPython_EXECUTABLE="$PY" >/dev/null
  cmake --build "$2" -j "$(nproc)"
}

run_pytest() {  # run_pytest BUILD_DIR [pytest args...]
  local build=$1
  shift
  # -P keeps the current folder off sys.path, so only the build tree provides korvane.
  # A temporary folder of its own per build keeps concurrent runs out of each other's way.
  cd "$ROOT" && PYTHONPATH="$build/python" "$PY" -P -m pytest -q -rs --basetemp="$build/pytest-tmp" "$@"
}

run_suite() {  # run_suite LABEL CXX BUILD_DIR [pytest args...]
  local label=$1 cxx=$2 build=$3
  shift 3
  run_stage "[$label] build" "$LOGS/build" built build_tree "$cxx" "$build"
  if [ "$STAGE_STATUS" -ne 0 ]; then
    summarize "[$label] tests" "not run: the build failed"
    return 0
  fi
  run_stage "[$label] native tests" "$LOGS/ctest" ctest_count \
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
  run_stage "[$label] pytest" "$LOGS/pytest" pytest_count run_pytest "$build" "$@"
  pytest_skips "$LOGS/pytest"
  drop_temporaries "$STAGE_STATUS" "$build/pytest-tmp"
}

# The whole suite against an ASan/UBSan build of the core, the module and the
# native tests. The interpreter itself is not instrumented, so the sanitizer
# runtime is preloaded, with libstdc++ (else the first C++ throw aborts); leak
# detection is off because the interpreter keeps memory until exit.
sanitized_tests() {  # sanitized_tests BUILD_DIR ctest|pytest [pytest args...]
  local build=$1 what=$2
  shift 2
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1
  export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  if [ "$what" = ctest ]; then
    ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
    return
  fi
  # Temporary folders of its own: other pytest runs on the machine clean up the shared ones.
  mkdir -p "$build/pytest-tmp"
  cd "$ROOT" && KORVANE_SANITIZED=1 PYTHONPATH="$build/python" PYTEST_DEBUG_TEMPROOT="$build/pytest-tmp" \
    LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so)" \
    "$PY" -P -m pytest -q -rs "$@"
}

sanitized_build() {
  cmake -S "$ROOT" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=g++ \
    -DKORVANE_TESTS=ON -DKORVANE_SANITIZE=ON -DKORVANE_WERROR=ON -DPython_EXECUTABLE="$PY" >/dev/null
  cmake --build "$1" -j "$(nproc)"
}

run_sanitized() {
  local build="$ROOT/build-asan"
  run_stage "[asan+ubsan] build" "$LOGS/build" built sanitized_build "$build"
  if [ "$STAGE_STATUS" -ne 0 ]; then
    summarize "[asan+ubsan] tests" "not run: the build failed"
    return 0
  fi
  run_stage "[asan+ubsan] native tests" "$LOGS/ctest" ctest_count sanitized_tests "$build" ctest
  run_stage "[asan+ubsan] pytest" "$LOGS/pytest" pytest_count sanitized_tests "$build" pytest "$@"
  pytest_skips "$LOGS/pytest"
  drop_temporaries "$STAGE_STATUS" "$build/pytest-tmp"
}

# The core built with the zlib and zstd headers hidden (an empty folder named as
# where they are): the build goes on without them, and reading or writing such a
# file says so. Only the core and one native test are built.
without_compression() {
  local build="$ROOT/build-no-compression"
  echo "(a build of the core and test_compression_support)"
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
  "$build/test_compression_support"
}
no_compression_count() {
  echo "configure names the packages; test_compression_support: \
$(grep -Eo '\[  PASSED  \] [0-9]+ tests?' "$1" | sed 's/.*\] //') passed, $((SECONDS - STAGE_STARTED)) s"
}
run_without_compression() {
  run_stage "[no zlib/zstd]" "$LOGS/gtest" no_compression_count without_compression
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
    fuzz_four_file_reader fuzz_record_codec
  ctest --test-dir "$build" --output-on-failure
  rm -rf "$build/seeds"
  PYTHONPATH="$ROOT/build/python" "$PY" -P "$ROOT/tests/fuzz/make_seeds.py" "$build/seeds"
  local target seeds
  for target in fuzz_min_reader:min fuzz_mc_reader:mc fuzz_numbers:numbers \
    fuzz_four_file_reader:fourfile fuzz_record_codec:records; do
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
fuzz_count() {
  awk '/stat::number_of_executed_units/ { printf "%s%s %s runs", sep, $1, $3; sep = ", " }' "$1"
}
fuzz_stage() { run_stage "fuzz" "$LOGS/fuzz" fuzz_count run_fuzz; }

case "$MODE" in
  sanitize) run_sanitized "$@"; finish ;;
  fuzz) fuzz_stage; finish ;;
esac

run_suite gcc g++ "$ROOT/build" "$@"
run_suite clang clang++ "$ROOT/build-clang" "$@"

last_line() { tail -n 1 "$1"; }
stubtest() {
  cd "$ROOT" && PYTHONPATH="$ROOT/build/python" "$PY" -P -m mypy.stubtest korvane \
    --allowlist "$ROOT/tests/stubtest-allowlist.txt"
}
mypy_examples() { cd "$ROOT" && MYPYPATH="$ROOT/build/python" "$PY" -m mypy --strict --no-incremental examples; }
run_stage "stubtest" "$LOGS/stubtest" last_line stubtest
run_stage "mypy --strict" "$LOGS/mypy" last_line mypy_examples
source "$ROOT/scripts/stages/docs.sh"
run_stage "docs" "$LOGS/docs" last_line build_docs

[ "$MODE" = quick ] && finish
source "$ROOT/scripts/stages/cpp_consumers.sh"
# Each step of the C++ stage adds its own summary line.
cpp_steps() { grep -cE '^== \[c\+\+\]' "$1" | sed 's/$/ steps, every output compared with Python'"'"'s/'; }
run_stage "[c++] consumers" "$LOGS/cpp" cpp_steps run_cpp_consumers
source "$ROOT/scripts/older_pythons.sh"
older_count() {
  sed -nE 's/^== \[python ([0-9.]+)\] not on this machine.*/\1 absent/p;
    s/^== \[python ([0-9.]+)\] build and round trip.*/\1 same file as 3.13/p' "$1" | paste -sd, - |
    sed 's/,/, /g'
}
run_stage "older Pythons" "$LOGS/older" older_count run_older_pythons
run_sanitized "$@"
# The fuzz seeds are written by the GCC build of the module above.
fuzz_stage
run_without_compression
finish

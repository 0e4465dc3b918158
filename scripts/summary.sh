# The test command's stages and its summary, sourced by test.sh (and by the test of these
# helpers). A stage that fails is recorded with the counts it reached and the run goes on;
# the run fails at the end if any stage did. Needs SUMMARY (the summary file) set.

FAILED_STAGES=()
STAGE_STARTED=$SECONDS
STAGE_STATUS=0

summarize() { printf '%-24s %s\n' "$1" "$2" >> "$SUMMARY"; }

# "312 tests passed, 2 skipped" from CTest's output (CTest 4 leaves out ", 0 tests failed"
# when none did); a skipped test is listed under "The following tests did not run".
ctest_count() {
  local counts skipped
  counts=$(grep -Eo '[0-9]+% tests passed(, [0-9]+ tests failed)? out of [0-9]+' "$1" | tail -n 1)
  skipped=$(grep -cE '^[[:space:]]*[0-9]+ - .* \((Skipped|Disabled|Not Run)\)$' "$1" || true)
  echo "${counts:-no test ran}, $skipped skipped"
}

# "1530 passed, 12 skipped in 95.1s" from pytest's output.
pytest_count() {
  local counts
  counts=$(grep -E '^=* ?[0-9]+ (passed|failed|skipped|error)' "$1" | tail -n 1 | sed -E 's/=//g; s/^ +| +$//g')
  echo "${counts:-no test ran}"
}

# pytest's skip reasons (its -rs lines), one summary line each under the counts.
pytest_skips() {
  grep -E '^SKIPPED \[[0-9]+\] ' "$1" | sed -E 's/^SKIPPED (\[[0-9]+\]) /  skipped \1 /' >> "$SUMMARY" || true
}

built() { echo "ok, $((SECONDS - STAGE_STARTED)) s"; }

# run_stage LABEL LOG COUNT CMD...: run CMD (a function or command, with errexit on) with
# its standard output also written to LOG, then add LABEL's line to the summary: what the
# function COUNT makes of LOG, marked FAILED when CMD failed. CMD's status is left in
# STAGE_STATUS; run_stage itself always succeeds. Do not call it in a condition (if, ||,
# &&): bash ignores errexit in everything such a call runs, and the stage would go on past
# a failing command.
run_stage() {
  local label=$1 log=$2 count=$3
  shift 3
  STAGE=$label
  STAGE_STARTED=$SECONDS
  echo "== $label"
  set +e
  (set -e; "$@") | tee "$log"
  STAGE_STATUS=${PIPESTATUS[0]}
  set -e
  if [ "$STAGE_STATUS" -eq 0 ]; then
    summarize "$label" "$("$count" "$log")"
  else
    summarize "$label" "FAILED (exit status $STAGE_STATUS): $("$count" "$log")"
    FAILED_STAGES+=("$label")
  fi
}

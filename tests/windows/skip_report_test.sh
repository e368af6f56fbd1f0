#!/usr/bin/env bash
# The Wine harness reports a GoogleTest program that passed with a test skipped as skipped (77),
# naming the test and its reason; a failure wins over a skip, and its status is told.
#   skip_report_test.sh WINE_SH PREFIX PROBE_EXE
set -uo pipefail
wine_sh="$1" prefix="$2" probe="$3"
output="$(mktemp)"
trap 'rm -f "$output"' EXIT

run() {
  "$wine_sh" run-gtest "$prefix" "$probe" "--gtest_filter=$1" >"$output" 2>&1
}

run 'SkipReport.Passes'
status=$?
[ "$status" -eq 0 ] || { echo "FAIL: a pass ended with $status"; cat "$output"; exit 1; }

run 'SkipReport.Passes:SkipReport.Skips'
status=$?
[ "$status" -eq 77 ] || { echo "FAIL: a skip ended with $status"; cat "$output"; exit 1; }
grep -qx 'skipped SkipReport.Skips: no such facility here' "$output" ||
  { echo "FAIL: the skip was not named with its reason"; cat "$output"; exit 1; }

run 'SkipReport.Skips:SkipReport.Fails'
status=$?
[ "$status" -ne 0 ] && [ "$status" -ne 77 ] ||
  { echo "FAIL: a failure beside a skip ended with $status"; cat "$output"; exit 1; }
grep -qx "wine.sh: $probe ended with status $status" "$output" ||
  { echo "FAIL: the failure's status was not told"; cat "$output"; exit 1; }
echo "PASS"

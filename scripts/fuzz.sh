#!/usr/bin/env bash
# Installs what is missing, builds the fuzzers of fuzz/ with Clang (build-fuzz/, SUITE_FUZZ=ON)
# and runs each for SECONDS (default 60) on a scratch copy of its seed corpus. A fuzzer that finds
# a failing input saves it and prints its path; the script then goes on with the next fuzzer and
# exits with 1 at the end.
#
# Usage: scripts/fuzz.sh [SECONDS] [FUZZER...]     e.g. scripts/fuzz.sh 3600 relay_cycle_fuzzer
# Scratch corpora: build-fuzz/fuzz-run/<fuzzer>/; failing inputs: build-fuzz/fuzz-crashes/<fuzzer>/.
# SUITE_FUZZ_JOBS runs that many fuzzing processes per fuzzer (libFuzzer's -fork), default 1.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
case "$seconds" in
  ''|*[!0-9]*) echo "Usage: scripts/fuzz.sh [SECONDS] [FUZZER...]" >&2; exit 2 ;;
esac
build="$root/build-fuzz"
parallel=()
[ "${SUITE_FUZZ_JOBS:-1}" -gt 1 ] && parallel=(-fork="$SUITE_FUZZ_JOBS" -ignore_crashes=0)

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DSUITE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" --target fuzzers --parallel "$(nproc)"

if [ $# -gt 0 ]; then
  fuzzers=("$@")
else
  mapfile -t fuzzers <"$build/fuzz/fuzzers.txt"
fi

failed=()
for fuzzer in "${fuzzers[@]}"; do
  binary="$build/fuzz/$fuzzer"
  [ -x "$binary" ] || { echo "No fuzzer named $fuzzer (see $build/fuzz/fuzzers.txt)" >&2; exit 2; }
  corpus="$build/fuzz-run/$fuzzer"
  crashes="$build/fuzz-crashes/$fuzzer"
  log="$build/fuzz-run/$fuzzer.log"
  # The checked-in seeds stay as they are; what a run learns stays in the scratch copy.
  rm -rf "$corpus"
  mkdir -p "$corpus" "$crashes"
  cp -R "$root/fuzz/corpus/$fuzzer/." "$corpus/"
  echo "== $fuzzer: $seconds s"
  # Standard output is closed: the relay prints lines of its own there. Leaks are looked for
  # after each input that left more allocations than it freed (libFuzzer's -detect_leaks), not
  # again as the process ends: that last check found nothing the runs had not, and its tracer has
  # crashed after a run that had finished, failing a fuzzer that found no fault.
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=leak_check_at_exit=0 \
      UBSAN_OPTIONS=print_stacktrace=1 \
      "$binary" -max_total_time="$seconds" -timeout=30 -close_fd_mask=1 -print_final_stats=1 \
      ${parallel[@]+"${parallel[@]}"} -artifact_prefix="$crashes/" "$corpus" >"$log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec' "$log" || true
  else
    grep -E 'Property broken|ERROR:|SUMMARY:' "$log" | head -5 || true
    saved="$(grep -o 'Test unit written to .*' "$log" | sed 's/Test unit written to //' | tail -1)"
    echo "$fuzzer FAILED; the failing input: ${saved:-see $log}; the whole output: $log"
    failed+=("$fuzzer")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzzers that failed: ${failed[*]}"
  exit 1
fi
echo "Every fuzzer ran $seconds s without a failure"

#!/usr/bin/env bash
# Runs the Windows tests' programs under Wine, in one prefix that a CTest run makes for all of
# its Windows tests and removes after them:
#   wine.sh make-prefix DIR              a fresh prefix (the setup of a CTest fixture)
#   wine.sh run DIR PROGRAM [ARGS...]    a Windows program in it; exits with the program's code
#   wine.sh run-gtest DIR PROGRAM [ARGS...]
#                                        the same for a GoogleTest program, which exits with 77
#                                        (CTest's skip) when it passed with tests skipped, after a
#                                        line for each skipped test with the reason it gave
#   wine.sh restart-services DIR         starts the prefix's Wine processes again, so that the
#                                        service manager takes the system's environment anew
#                                        from the registry (it reads it once, when it starts)
#   wine.sh remove-prefix DIR            ends the prefix's Wine processes and removes it
# Wine's output goes to files, never to CTest's pipe: a wineserver still running would hold the
# pipe open, and CTest would wait for it.
set -euo pipefail
command="$1"
export WINEPREFIX="$2"
shift 2
# No Mono or Gecko installs into the prefix, and no debug channels unless a test names some
# (WINEDEBUG=+eventlog shows the event-log reports): the programs' output alone.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
# The programs run as on a Chinese Windows desktop, whose ANSI code page is GBK (936). Only Wine
# is given the locale: this machine's C library need not have it.
desktop=(env LC_ALL=zh_CN.UTF-8)

# The prefix's server starts again, alone, with the one services.exe that runs the tests'
# services. The server stays until remove-prefix (a run that stops early leaves it to the next
# make-prefix), so that the programs of the run start fast and services.exe lives as long: the
# services inherit its environment and its standard output and error. Their event-log reports
# (Wine's eventlog channel) and what they write there go to services.log beside the prefix.
start_services() {
  local log="$1"
  wineserver -k >>"$log" 2>&1 || true
  wineserver -w >>"$log" 2>&1 || true
  wineserver -p >>"$log" 2>&1 </dev/null
  if ! WINEDEBUG=-all,+eventlog "${desktop[@]}" wineboot >>"$WINEPREFIX.services.log" 2>&1 \
      </dev/null; then
    cat "$log" "$WINEPREFIX.services.log"
    exit 1
  fi
}

case "$command" in
make-prefix)
  # A prefix left by a run that stopped early goes first, with its Wine processes.
  if [ -d "$WINEPREFIX" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  rm -rf "$WINEPREFIX" "$WINEPREFIX.services.log"
  mkdir -p "$WINEPREFIX"
  log="$WINEPREFIX.log"
  wineserver -p30 >"$log" 2>&1 </dev/null
  if ! "${desktop[@]}" wineboot -i >>"$log" 2>&1 </dev/null; then
    cat "$log"
    exit 1
  fi
  # The prefix is made; wineboot -i leaves two services.exe, each with a database of its own.
  start_services "$log"
  rm -f "$log"
  ;;
restart-services)
  log="$(mktemp)"
  trap 'rm -f "$log"' EXIT
  start_services "$log"
  ;;
run | run-gtest)
  output="$(mktemp)"
  trap 'rm -f "$output"' EXIT
  status=0
  "${desktop[@]}" wine "$@" >"$output" 2>&1 </dev/null || status=$?
  cat "$output"
  # A program can end without a word of why (GoogleTest's death tests hold back their own error
  # output while a child runs): its status at least is told.
  if [ "$status" -ne 0 ]; then
    echo "wine.sh: $1 ended with status $status"
  fi
  # A GoogleTest program that ends without its closing line did not run all its tests: under
  # Wine a program that crashes may still end with 0, once the debugger has written its report.
  if [ "$command" = run-gtest ] && [ "$status" -eq 0 ] &&
      ! grep -q '^\[==========\] [0-9]* tests\? from .* ran\.' <(tr -d '\r' <"$output"); then
    echo "wine.sh: $1 ended without GoogleTest's closing line"
    exit 1
  fi
  # A failure wins over a skip. GoogleTest writes the reason of a skip on the line after the one
  # that ends in "Skipped", within the test's run.
  if [ "$command" = run-gtest ] && [ "$status" -eq 0 ] &&
      grep -q '^\[  SKIPPED \] [A-Za-z]' <(tr -d '\r' <"$output"); then
    tr -d '\r' <"$output" | awk '
      /^\[ RUN      \] / { test = $4; reason = "" }
      taking { reason = $0; taking = 0 }
      /: Skipped$/ { taking = 1 }
      /^\[  SKIPPED \] [A-Za-z].* \(/ { print "skipped " test ": " (reason == "" ? "no reason given" : reason) }'
    exit 77
  fi
  exit "$status"
  ;;
remove-prefix)
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX.services.log"
  ;;
*)
  echo "usage: wine.sh make-prefix|run|run-gtest|restart-services|remove-prefix DIR [PROGRAM ARGS...]" >&2
  exit 2
  ;;
esac

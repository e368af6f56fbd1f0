#!/usr/bin/env bash
# Runs the Windows tests' programs under Wine, in one prefix that a CTest run makes for all of
# its Windows tests and removes after them:
#   wine.sh make-prefix DIR              a fresh prefix (the setup of a CTest fixture)
#   wine.sh run DIR PROGRAM [ARGS...]    a Windows program in it; exits with the program's code
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
# The programs run as on a Chinese Windows desktop, whose ANSI code page is GBK (936).
export LC_ALL=zh_CN.UTF-8

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
  if ! wineboot -i >>"$log" 2>&1 </dev/null; then
    cat "$log"
    exit 1
  fi
  # The prefix is made; its server starts again, alone, with the one services.exe that runs the
  # tests' services (wineboot -i leaves two, each with a database of its own). The server stays
  # until remove-prefix (a run that stops early leaves it to the next make-prefix), so that the
  # programs of the run start fast and services.exe lives as long: the services inherit its
  # environment and its standard output and error. Their event-log reports (Wine's eventlog
  # channel) and what they write there go to services.log beside the prefix.
  wineserver -k >>"$log" 2>&1 || true
  wineserver -w >>"$log" 2>&1 || true
  wineserver -p >>"$log" 2>&1 </dev/null
  if ! WINEDEBUG=-all,+eventlog wineboot >"$WINEPREFIX.services.log" 2>&1 </dev/null; then
    cat "$log" "$WINEPREFIX.services.log"
    exit 1
  fi
  rm -f "$log"
  ;;
run)
  output="$(mktemp)"
  trap 'rm -f "$output"' EXIT
  status=0
  wine "$@" >"$output" 2>&1 </dev/null || status=$?
  cat "$output"
  exit "$status"
  ;;
remove-prefix)
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX.services.log"
  ;;
*)
  echo "usage: wine.sh make-prefix|run|remove-prefix DIR [PROGRAM ARGS...]" >&2
  exit 2
  ;;
esac

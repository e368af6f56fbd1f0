#!/usr/bin/env bash
# ReadOstrel through the relay library against the box stand-in and the sim-decoder and
# sim-configserver programs, for the demo's five dialogues: the results and printed lines, the
# transfers at the box and the bytes at the server must be those of the expected files, on Linux
# and, for the Windows build, under Wine (where the printed lines are GBK and end in CR LF).
#   demo_dialogues_test.sh linux|wine CALLS_PROGRAM DECODER CONFIGSERVER SCENARIO DIALOGUE
#                          EXPECTED_DIR WORK_DIR [BOX_STAND_IN_DIR]
# CALLS_PROGRAM is ostrel-calls, linked against the relay library whose libusb 0.1 is the box
# stand-in: on Linux found in BOX_STAND_IN_DIR through the library path, under Wine beside the
# program. Under Wine, WINEPREFIX names the run's prefix.
set -euo pipefail
side="$1" calls="$2" decoder="$3" configserver="$4" scenario="$5" dialogue="$6"
expected="$7" work="$8" box_dir="${9:-}"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

rm -rf "$work"
mkdir -p "$work"
run=()
path() { printf '%s' "$1"; }
if [ "$side" = wine ]; then
  export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
  # As on a Chinese desktop, whose ANSI code page is GBK.
  run=(env LC_ALL=zh_CN.UTF-8 wine)
  path() { printf 'Z:%s' "${1//\//\\}"; }
else
  export LD_LIBRARY_PATH="$box_dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
fi

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT

# Starts a stand-in program with its output in $work/NAME.out; the port it listens on in $port.
start() {
  local name="$1"
  shift
  "${run[@]}" "$@" >"$work/$name.out" 2>&1 </dev/null &
  pids+=($!)
  port=""
  for _ in $(seq 600); do
    port="$(sed -n 's/^.*listening on 127\.0\.0\.1:\([0-9]*\).*$/\1/p' "$work/$name.out" |
      tr -d '\r')"
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  fail "$name did not start: $(cat "$work/$name.out")"
}

start decoder "$decoder" --port 0 --script "$(path "$dialogue")" \
  --record "$(path "$work/server.record")"
decoder_port="$port"
start configserver "$configserver" --port 0 --server "127.0.0.1:$decoder_port"
config_port="$port"

# Five calls: the demo's five dialogues, a box session each.
status=0
USBBOX_SIM_SCENARIO="$(path "$scenario")" USBBOX_SIM_LOG="$(path "$work/box.log")" \
  USBBOX_SIM_SUMMARY=1 OSTREL_CONFIG_HOST="127.0.0.1:$config_port" \
  OSTREL_DEFAULT_SERVER=127.0.0.1 no_proxy="127.0.0.1" \
  timeout 120 "${run[@]}" "$calls" 5 >"$work/output" 2>"$work/summaries" </dev/null || status=$?
[ "$status" -eq 0 ] || fail "ostrel-calls ended with $status: $(cat "$work/output" "$work/summaries")"

# The server's three sessions have been recorded once it has printed their lines.
for _ in $(seq 300); do
  [ "$(grep -c '^sim-decoder: session' "$work/decoder.out")" -ge 3 ] && break
  sleep 0.1
done

# What the relay printed, with each call's result: on Windows in GBK with CR LF.
if [ "$side" = wine ]; then
  iconv -f UTF-8 -t GBK "$expected/output" | sed 's/$/\r/' >"$work/expected-output"
else
  cp "$expected/output" "$work/expected-output"
fi
cmp -s "$work/expected-output" "$work/output" ||
  fail "the printed lines differ:$(diff <(od -c "$work/expected-output") <(od -c "$work/output"))"

# Each box session's summary, its duration left out; every transfer that carried bytes each way.
sed 's/ ([0-9.]* s)//' "$work/summaries" | tr -d '\r' >"$work/box-summaries"
diff "$expected/box-summaries" "$work/box-summaries" || fail "the box's sessions differ"
sed -n -e 's/^usb_open .*/open/p' -e 's/^usb_close .*/close/p' \
  -e 's/^usb_interrupt_read .* -> [1-9][0-9]* /from the box: /p' \
  -e 's/^usb_interrupt_write [^ ]* [^ ]* size=[1-9][0-9]* timeout=[0-9]* \(.*\) -> .*/to the box: \1/p' \
  "$work/box.log" >"$work/box"
diff "$expected/box" "$work/box" >/dev/null || fail "the box's transfers differ: $(diff \
  <(cut -c1-80 "$expected/box") <(cut -c1-80 "$work/box"))"
tr -d '\r' <"$work/server.record" >"$work/server"
diff "$expected/server" "$work/server" >/dev/null || fail "the server's bytes differ: $(diff \
  <(cut -c1-80 "$expected/server") <(cut -c1-80 "$work/server"))"
grep -c '^sim-decoder: session' "$work/decoder.out" | grep -qx 3 ||
  fail "the server's sessions: $(cat "$work/decoder.out")"
echo "PASS"

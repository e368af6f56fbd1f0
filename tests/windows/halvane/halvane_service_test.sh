#!/usr/bin/env bash
# Halvane.exe as a Windows service under Wine, driven from outside as an administrator would:
# installed with sc create and started, its relay fetches the configuration once through WinINet
# from the configuration-endpoint stand-in and relays the demo's box dialogues (the box stand-in,
# linked into a test build of Ostrel.dll) with sim-decoder.exe; controls other than stop change
# nothing; a stop in the middle of a call is answered once the call and its pause have ended.
#   halvane_service_test.sh PREFIX HALVANE_EXE OSTREL_DLL BOX_DLL DECODER_EXE CONFIGSERVER_EXE
#                           SERVICE_CONTROL_EXE SCENARIO DIALOGUE WORK_DIR
# OSTREL_DLL is the test build of Ostrel.dll whose libusb 0.1 is BOX_DLL, libusb0.dll.
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
export WINEPREFIX="$1"
halvane_exe="$2"
ostrel_dll="$3"
box_dll="$4"
decoder_exe="$5"
configserver_exe="$6"
service_control_exe="$7"
scenario="$8"
dialogue="$9"
work="${10}"

source "$(dirname "$0")/../service_test.sh"

readonly kService=Halvane
readonly wine_sh="$(dirname "$0")/../wine.sh"
readonly kSystemEnvironment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'

readonly kSettings=(OSTREL_CONFIG_HOST USBBOX_SIM_SCENARIO USBBOX_SIM_LOG)

windows_path() { printf 'Z:%s' "${1//\//\\}"; }

rm -rf "$work"
mkdir -p "$work/app"
cp "$halvane_exe" "$ostrel_dll" "$box_dll" "$work/app/"
app_windows="$(windows_path "$work/app/Halvane.exe")"
requests="$work/requests"
requests_windows="$(windows_path "$requests")"
box_log="$work/box.log"

configserver_pid=""
decoder_pid=""
cleanup() {
  service_control stop "$kService" || true
  service_control wait "$kService" 1 60 || true
  run_wine sc delete "$kService" || true
  local setting removed=""
  for setting in "${kSettings[@]}"; do
    run_wine reg delete "$kSystemEnvironment" /v "$setting" /f && removed=yes
  done
  if [ -n "$removed" ]; then
    "$wine_sh" restart-services "$WINEPREFIX" >/dev/null || true
  fi
  [ -n "$configserver_pid" ] && stop_configserver
  if [ -n "$decoder_pid" ]; then
    kill "$decoder_pid" 2>/dev/null || true
    wait "$decoder_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

# The port a stand-in program says it listens on, in its output file; empty when it did not start.
listening_port() {
  local output="$1" found=""
  for _ in $(seq 600); do
    found="$(sed -n 's/^.*listening on 127\.0\.0\.1:\([0-9]*\).*$/\1/p' "$output" | tr -d '\r')"
    [ -n "$found" ] && break
    sleep 0.1
  done
  printf '%s' "$found"
}

# The configuration endpoint on the port given (0: a free one), naming the decoding server on
# the port given, recording each request it gets; its port in $port.
start_configserver() {
  wine "$configserver_exe" --port "$1" --server "127.0.0.1:$2" --record "$requests_windows" \
    >"$work/configserver.out" 2>&1 </dev/null &
  configserver_pid=$!
  port="$(listening_port "$work/configserver.out")"
  [ -n "$port" ] || fail "the configuration endpoint did not start: $(cat "$work/configserver.out")"
}

stop_configserver() {
  kill "$configserver_pid" 2>/dev/null || true
  wait "$configserver_pid" 2>/dev/null || true
  configserver_pid=""
}

# Wine's service manager gives services the system's environment, which it reads from the
# registry when it starts (it ignores a service's own Environment value, which Windows honours).
# Its new start ends every Wine process: the endpoint is started once to find a free port, and
# again on that port afterwards.
# The box stand-in takes its scenario and call log from the service's environment too.
start_configserver 0 9977
stop_configserver
config_port="$port"
values=("127.0.0.1:$config_port" "$(windows_path "$scenario")" "$(windows_path "$box_log")")
for i in "${!kSettings[@]}"; do
  run_wine reg add "$kSystemEnvironment" /v "${kSettings[$i]}" /t REG_SZ /d "${values[$i]}" /f ||
    fail "the setting ${kSettings[$i]} could not be made: $(cat "$work/out")"
done
"$wine_sh" restart-services "$WINEPREFIX" >"$work/restart" ||
  fail "the service manager did not start again: $(cat "$work/restart")"
wine "$decoder_exe" --port 0 --script "$(windows_path "$dialogue")" >"$work/decoder.out" 2>&1 \
  </dev/null &
decoder_pid=$!
decoder_port="$(listening_port "$work/decoder.out")"
[ -n "$decoder_port" ] || fail "the decoding server did not start: $(cat "$work/decoder.out")"
start_configserver "$config_port" "$decoder_port"

run_wine sc create "$kService" binPath= "$app_windows" ||
  fail "sc create: $(cat "$work/out")"
service_control config "$kService" || fail "no service: $(cat "$work/out")"
expect_lines "path=$app_windows"

run_wine sc start "$kService" || true
service_control wait "$kService" 4 60 ||
  fail "the service did not report running: $(cat "$work/out")"
# No start pending was reported first, and only stop and shutdown are accepted.
expect_lines state=4 controls=0x5

# The first call fetches the configuration, exactly as on every system.
expected="$work/expected-request"
printf 'POST /server/KS/queryDataInfo.html HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nUser-Agent: My User Agent v1.0\r\nAccept: */*\r\nCache-Control: no-cache\r\nOsmer-Magic: My Magic Header\r\nUser-Magic: User'"'"'s Magic Header\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n\r\n' \
  "$port" >"$expected"
for _ in $(seq 600); do
  [ -s "$requests" ] && [ "$(stat -c %s "$requests")" -ge "$(stat -c %s "$expected")" ] && break
  sleep 0.1
done
cmp -s "$expected" "$requests" ||
  fail "the configuration request differs: got $(od -c "$requests" | head -20)"

# Box sessions in the call log so far: opened, closed.
count() {
  local n
  n="$(grep -c "^$1 " "$box_log" 2>/dev/null || true)"
  printf '%s' "${n:-0}"
}

# The first call relays the demo's first dialogue whole: the card is read, and the server's final
# packet goes to the box in one transfer.
for _ in $(seq 600); do
  grep -q 'card read (1301 bytes)' "$work/decoder.out" && [ "$(count usb_close)" -ge 1 ] && break
  sleep 0.1
done
grep -q '^sim-decoder: session 1, dialogue 1 of 3 "a card is read": 1342 bytes received, client closed; sent the final packet: card read (1301 bytes)' \
  <(tr -d '\r' <"$work/decoder.out") || fail "no card was read: $(cat "$work/decoder.out")"
grep -q '^usb_interrupt_write 001/001 ep=0x03 size=1301 timeout=100 AA 05 11 A0 .* -> 1301$' \
  "$box_log" || fail "the final packet did not reach the box: $(grep -v -- '-> -110' "$box_log")"

# The third dialogue keeps its call waiting 10 s for a first packet that never comes.
for _ in $(seq 600); do
  [ "$(count usb_open)" -ge 3 ] && break
  sleep 0.1
done
[ "$(count usb_open)" -ge 3 ] || fail "no third call: $(grep -v -- '-> -110' "$box_log")"
third_call="$(date +%s%N)"

# Pause, continue and interrogate change nothing and report nothing.
for control in pause continue interrogate; do
  service_control "$control" "$kService" || true
  service_control status "$kService"
  expect_lines state=4
done
service_control control "$kService" 128 || true
service_control status "$kService"
expect_lines state=4
[ "$(count usb_close)" -eq 2 ] || fail "the third call ended before the stop could come in its middle"

# A stop in the middle of the call is answered once the call and its pause have ended: the
# service reports stopped, once, after the box's session (its self-check included) has closed, and
# its process ends without another call.
# (Wine's service manager may lose the answer to the stop, error 109, a broken pipe, when the
# service's process ends as soon as it has reported stopped, as Halvane's does.)
if ! service_control stop "$kService"; then
  grep -qx 'error=109' <(tr -d '\r' <"$work/out") || fail "stop: $(cat "$work/out")"
fi
service_control wait "$kService" 1 60 ||
  fail "the service did not stop: $(cat "$work/out")"
stopped="$(date +%s%N)"
[ "$(count usb_close)" -eq 3 ] || fail "stopped before the call in progress had ended"
grep -q '^usb_interrupt_write 001/001 ep=0x03 size=6 timeout=100 AA 00 03 00 00 03 -> 6$' \
  "$box_log" || fail "the silent box was not checked"
(( (stopped - third_call) / 1000000 >= 9000 )) ||
  fail "stopped $(( (stopped - third_call) / 1000000 )) ms after the call began, before its first-packet wait could end"
for _ in $(seq 300); do
  pgrep -f 'app\\Halvane\.exe' >/dev/null || break
  sleep 0.1
done
pgrep -f 'app\\Halvane\.exe' >/dev/null && fail "Halvane.exe still runs after its stop"
[ "$(count usb_open)" -eq 3 ] || fail "a call began after the stop"
# The configuration was fetched by the first call alone.
cmp -s "$expected" "$requests" || fail "the configuration was fetched again"

run_wine sc delete "$kService" || fail "sc delete: $(cat "$work/out")"
service_control config "$kService" && fail "the service is still installed"
echo "PASS"

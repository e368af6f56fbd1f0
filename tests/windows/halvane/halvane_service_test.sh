#!/usr/bin/env bash
# Halvane.exe as a Windows service under Wine, driven from outside as an administrator would:
# installed with sc create and started, its relay fetches the configuration once through WinINet
# from the configuration-endpoint stand-in and then keeps calling with no box to find; controls
# other than stop change nothing; a stop waits for the call and its pause, and ends the service.
#   halvane_service_test.sh PREFIX HALVANE_EXE OSTREL_DLL CONFIGSERVER_EXE SERVICE_CONTROL_EXE
#                           WORK_DIR
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
export WINEPREFIX="$1"
halvane_exe="$2"
ostrel_dll="$3"
configserver_exe="$4"
service_control_exe="$5"
work="$6"

source "$(dirname "$0")/../service_test.sh"

readonly kService=Halvane
readonly wine_sh="$(dirname "$0")/../wine.sh"
readonly kSystemEnvironment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'

rm -rf "$work"
mkdir -p "$work/app"
cp "$halvane_exe" "$ostrel_dll" "$work/app/"
app_windows="Z:${work//\//\\}\\app\\Halvane.exe"
requests="$work/requests"
requests_windows="Z:${requests//\//\\}"

configserver_pid=""
cleanup() {
  service_control stop "$kService" || true
  service_control wait "$kService" 1 30 || true
  run_wine sc delete "$kService" || true
  if run_wine reg delete "$kSystemEnvironment" /v OSTREL_CONFIG_HOST /f; then
    "$wine_sh" restart-services "$WINEPREFIX" >/dev/null || true
  fi
  [ -n "$configserver_pid" ] && stop_configserver
}
trap cleanup EXIT

# The configuration endpoint on the port given (0: a free one), recording each request it gets;
# its port in $port.
start_configserver() {
  wine "$configserver_exe" --port "$1" --record "$requests_windows" >"$work/configserver.out" \
    2>&1 </dev/null &
  configserver_pid=$!
  port=""
  for _ in $(seq 600); do
    port="$(sed -n 's/^sim-configserver listening on 127\.0\.0\.1:\([0-9]*\).*$/\1/p' \
      "$work/configserver.out" | tr -d '\r')"
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  fail "the configuration endpoint did not start: $(cat "$work/configserver.out")"
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
start_configserver 0
stop_configserver
run_wine reg add "$kSystemEnvironment" /v OSTREL_CONFIG_HOST /t REG_SZ /d "127.0.0.1:$port" /f ||
  fail "the relay's setting could not be made: $(cat "$work/out")"
"$wine_sh" restart-services "$WINEPREFIX" >"$work/restart" ||
  fail "the service manager did not start again: $(cat "$work/restart")"
start_configserver "$port"

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

# The calls go on, 300 ms apart, and ask for the configuration no more: with no box every call
# ends at once.
sleep 3
cmp -s "$expected" "$requests" || fail "the configuration was fetched again"
service_control status "$kService"
expect_lines state=4

# Pause, continue and interrogate change nothing and report nothing.
for control in pause continue interrogate; do
  service_control "$control" "$kService" || true
  service_control status "$kService"
  expect_lines state=4
done
service_control control "$kService" 128 || true
service_control status "$kService"
expect_lines state=4

# A stop is answered once the call in progress and its pause have ended: the service reports
# stopped, once, and its process ends.
# (Wine's service manager may lose the answer to the stop, error 109, a broken pipe, when the
# service's process ends as soon as it has reported stopped, as Halvane's does.)
if ! service_control stop "$kService"; then
  grep -qx 'error=109' <(tr -d '\r' <"$work/out") || fail "stop: $(cat "$work/out")"
fi
service_control wait "$kService" 1 30 ||
  fail "the service did not stop: $(cat "$work/out")"
for _ in $(seq 300); do
  pgrep -f 'app\\Halvane\.exe' >/dev/null || break
  sleep 0.1
done
pgrep -f 'app\\Halvane\.exe' >/dev/null && fail "Halvane.exe still runs after its stop"

run_wine sc delete "$kService" || fail "sc delete: $(cat "$work/out")"
service_control config "$kService" && fail "the service is still installed"
echo "PASS"

#!/usr/bin/env bash
# The Windows installers of build-packages/ under Wine's msiexec, silently, as an administrator
# pushes them. Zembra's: the files in Program Files\Zembra (the simulated reader SDK left out unless
# asked for), the program registered by its own -Service and the service started, answering on
# port 19196 byte for byte; removal leaves no file, no service, no AppID and no type library; a
# newer installer of the same upgrade code replaces it. Halvane's: the service installed and
# started, the relay's setting given as a property in its environment, which its relay fetches the
# configuration with from sim-configserver.exe; removal leaves no file and no service.
#   installers_test.sh PREFIX PACKAGES_DIR ZEMBRA_EXE PAGE SERVICE_CONTROL_EXE CONFIGSERVER_EXE
#                      WORK_DIR DIST
# DIST is the folder of the Windows deliverables the installers were built from, for a newer one.
# Exits with 77 (skipped) when build-packages/ holds no installers.
set -euo pipefail
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
packages="$2"
configserver_exe="$6"
dist="$8"
msi_script="$(dirname "$0")/../../../packaging/windows/build-msi.sh"
zembra_msi="$(compgen -G "$packages/Zembra-*-x64.msi" | head -n 1 || true)"
halvane_msi="$(compgen -G "$packages/Halvane-*-x64.msi" | head -n 1 || true)"
if [ -z "$zembra_msi" ] || [ -z "$halvane_msi" ]; then
  echo "SKIPPED: no installers in $packages: build them with scripts/package.sh"
  exit 77
fi
# The helpers of Zembra's Wine tests: answers compared byte for byte, the registry read back.
set -- "$1" "$3" "$4" "$5" "$7"
source "$(dirname "$0")/../zembra/zembra_wine.sh"

readonly wine_sh="$(dirname "$0")/../wine.sh"
readonly kSystemEnvironment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
readonly kUninstallKey='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
program_files="$WINEPREFIX/drive_c/Program Files"

windows_path() {
  printf 'Z:%s' "${1//\//\\}"
}

# msiexec with the arguments, silently; its log in $work/msiexec.log.
msiexec_expect_success() {
  run_wine msiexec /qn "$@" /l*v "$(windows_path "$work/msiexec.log")" ||
    fail "msiexec $*: $(cat "$work/out") $(tr -d '\0' <"$work/msiexec.log" |
      grep -iE 'error|return value 3' | head -20)"
}

# The product code of an installer.
product_code() {
  msiinfo export "$1" Property | tr -d '\r' | sed -n 's/^ProductCode\t//p'
}

configserver_pid=""
cleanup() {
  [ -z "$configserver_pid" ] || kill "$configserver_pid" 2>/dev/null || true
  run_wine msiexec /qn /x "$(windows_path "$zembra_msi")" || true
  run_wine msiexec /qn /x "$(windows_path "$work/Zembra-newer.msi")" || true
  run_wine msiexec /qn /x "$(windows_path "$halvane_msi")" || true
  if run_wine reg delete "$kSystemEnvironment" /v OSTREL_CONFIG_HOST /f; then
    "$wine_sh" restart-services "$WINEPREFIX" >/dev/null || true
  fi
}
trap cleanup EXIT

curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$kPort/" &&
  fail "port $kPort is held by another program; the test needs it free"

# Zembra.
msiexec_expect_success /i "$(windows_path "$zembra_msi")"
for file in Zembra.exe readcard.html zembra.conf.example; do
  [ -f "$program_files/Zembra/$file" ] || fail "Zembra's installer did not install $file"
done
[ ! -e "$program_files/Zembra/Trovik.dll" ] || fail "the simulated reader SDK is installed unasked"
service_control wait "$kServiceName" 4 60 || fail "the service does not run: $(cat "$work/out")"
service_control config "$kServiceName"
expect_lines type=0x110 start=2 'path="C:\Program Files\Zembra\Zembra.exe"'
expect_value "HKLM\\Software\\Classes\\$kAppIdKey" LocalService "$kServiceName"
wait_for_port open
expect_answer /getdevicestatus < <(operation_body -99 '读卡器异常')

# Removal leaves nothing of Zembra.
expect_removed() {
  service_control status "$kServiceName" && fail "Zembra's service is still installed"
  expect_lines error=1060
  wait_for_port closed
  expect_no_key "HKLM\\Software\\Classes\\$kAppIdKey"
  expect_no_key "HKLM\\Software\\Classes\\$kProgramKey"
  expect_no_key "HKLM\\Software\\Classes\\$kTypeLibKey"
  [ ! -e "$program_files/Zembra" ] || fail "Zembra's removal left: $(ls -R "$program_files/Zembra")"
}
msiexec_expect_success /x "$(windows_path "$zembra_msi")"
expect_removed

# A newer installer replaces the installed one: one Zembra is installed. (Wine's msiexec removes
# the older product after installing the newer one, where Windows removes it first, and so the
# older one's removal unregisters the newer one's service: the service is not looked at here.)
newer="$work/Zembra-newer.msi"
"$msi_script" Zembra 9.0.0 "$dist" "$newer"
old_code="$(product_code "$zembra_msi")"
new_code="$(product_code "$newer")"
msiexec_expect_success /i "$(windows_path "$zembra_msi")" ADDLOCAL=ALL
[ -f "$program_files/Zembra/Trovik.dll" ] || fail "the simulated reader SDK was not installed when asked for"
msiexec_expect_success /i "$(windows_path "$newer")"
[ -z "$(reg_query "$kUninstallKey\\$old_code")" ] || fail "the older Zembra is still installed"
[ -n "$(reg_query "$kUninstallKey\\$new_code")" ] || fail "the newer Zembra is not installed"

msiexec_expect_success /x "$(windows_path "$newer")"
expect_removed

# Halvane, with the configuration endpoint's host, on a port found free first, as a property. Windows
# gives a service the environment of its Environment value; Wine's service manager ignores that
# value and gives every service the system's environment, which it reads when it starts: the
# setting goes there too, before the installer starts the service, as Windows would hand it on.
requests="$work/requests"
start_configserver() {
  wine "$configserver_exe" --port "$1" --record "$(windows_path "$requests")" \
    >"$work/configserver.out" 2>&1 </dev/null &
  configserver_pid=$!
  port=""
  for _ in $(seq 600); do
    port="$(tr -d '\r' <"$work/configserver.out" |
      sed -n 's/^sim-configserver listening on 127\.0\.0\.1:\([0-9]*\).*$/\1/p')"
    [ -n "$port" ] && return 0
    sleep 0.1
  done
  fail "the configuration endpoint did not start: $(cat "$work/configserver.out")"
}
start_configserver 0
run_wine reg add "$kSystemEnvironment" /v OSTREL_CONFIG_HOST /t REG_SZ /d "127.0.0.1:$port" /f ||
  fail "the setting could not be made: $(cat "$work/out")"
# The service manager's new start ends every Wine process, the endpoint's too.
"$wine_sh" restart-services "$WINEPREFIX" >"$work/restart" ||
  fail "the service manager did not start again: $(cat "$work/restart")"
start_configserver "$port"

msiexec_expect_success /i "$(windows_path "$halvane_msi")" "OSTREL_CONFIG_HOST=127.0.0.1:$port"
for file in Halvane.exe Ostrel.dll; do
  [ -f "$program_files/Halvane/$file" ] || fail "Halvane's installer did not install $file"
done
service_control wait Halvane 4 60 || fail "Halvane does not run: $(cat "$work/out")"
service_control config Halvane
expect_lines type=0x10 start=2
# (Wine's msiexec registers the path without the quotes Windows puts around it.)
tr -d '"' <"$work/out" | grep -qF 'path=C:\Program Files\Halvane\Halvane.exe' ||
  fail "Halvane's service does not run the installed program: $(cat "$work/out")"
expect_value 'HKLM\System\CurrentControlSet\Services\Halvane' Environment \
  "OSTREL_CONFIG_HOST=127.0.0.1:$port\\0OSTREL_DEFAULT_SERVER=" REG_MULTI_SZ
for _ in $(seq 600); do
  grep -qF "Host: 127.0.0.1:$port" "$requests" 2>/dev/null && break
  sleep 0.1
done
grep -qF 'POST /server/KS/queryDataInfo.html HTTP/1.1' "$requests" 2>/dev/null ||
  fail "Halvane did not fetch its configuration from 127.0.0.1:$port"

msiexec_expect_success /x "$(windows_path "$halvane_msi")"
service_control config Halvane && fail "Halvane's service is still installed"
[ ! -e "$program_files/Halvane" ] || fail "Halvane's removal left: $(ls -R "$program_files/Halvane")"
echo "PASS"

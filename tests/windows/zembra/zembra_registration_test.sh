#!/usr/bin/env bash
# Zembra.exe's registration switches under Wine, read back with reg.exe: the application id's
# keys and the type library, for the machine and for the current user, and what the program does
# without a switch once registered.
source "$(dirname "$0")/zembra_wine.sh"
unregister_all

machine='HKLM\Software\Classes'
user='HKCU\Software\Classes'

expect_app_id() {
  local classes="$1"
  expect_default "$classes\\$kAppIdKey" Zembra
  expect_value "$classes\\$kProgramKey" AppID '{BC559BEB-5FE4-485F-B35A-5EFC07B07324}'
}

expect_no_app_id() {
  local classes="$1"
  expect_no_key "$classes\\$kAppIdKey"
  expect_no_key "$classes\\$kProgramKey"
}

# Wine's registry keeps per-user type libraries with the machine's; HKEY_CLASSES_ROOT shows them
# wherever they are.
expect_type_library() {
  expect_default "HKCR\\$kTypeLibKey\\1.0" 'Zembra 1.0 Type Library'
  expect_default "HKCR\\$kTypeLibKey\\1.0\\409\\win64" "$app_windows"
}

# Unregistered, the program does nothing and ends with the registry's "file not found"; a word
# that only begins like a switch is none.
zembra_expect 2
zembra_expect 2 /RegServerX

zembra_expect 0 -RegServer
expect_app_id "$machine"
expect_no_value "$machine\\$kAppIdKey" LocalService
expect_type_library

# Registered as a plain server, it runs as a plain process: the web server, and its messages on
# standard output.
curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$kPort/" &&
  fail "port $kPort is held by another program; the test needs it free"
wine "$app" >"$work/plain" 2>&1 </dev/null &
plain=$!
wait_for_port open
expect_answer /getdevicestatus < <(operation_body -99 '读卡器异常')
kill "$plain"
wait "$plain" || true
wait_for_port closed
for line in 'QMX Service Start Successfully~!' "Starting web server on port $kPort"; do
  grep -qxF -- "$line" <(tr -d '\r' <"$work/plain") ||
    fail "the plain process did not print '$line': $(cat "$work/plain")"
done

# The letter case and the leading character of a switch do not matter.
zembra_expect 0 /unregserver
expect_no_app_id "$machine"
expect_no_key "HKCR\\$kTypeLibKey\\1.0"
# Unregistering what is not registered fails with the type library's refusal (E_INVALIDARG).
zembra_expect 87 -UnregServer

zembra_expect 0 -RegServerPerUser
expect_app_id "$user"
expect_no_app_id "$machine"
expect_type_library
zembra_expect 0 -UnregServerPerUser
expect_no_app_id "$user"
expect_no_key "HKCR\\$kTypeLibKey\\1.0"

# As a service: the service's name beside the application id, and the service installed.
zembra_expect 0 -Service
expect_app_id "$machine"
expect_value "$machine\\$kAppIdKey" LocalService "$kServiceName"
expect_type_library
service_control status "$kServiceName" || fail "the service is not installed: $(cat "$work/out")"
# A service started from a command prompt finds no service manager to connect to.
zembra_expect $((1063 % 256))
# A plain registration removes the service and its name.
zembra_expect 0 -RegServer
expect_no_value "$machine\\$kAppIdKey" LocalService
service_control status "$kServiceName" && fail "the service is still installed"
expect_lines error=1060
zembra_expect 0 -UnregServer
expect_no_app_id "$machine"
echo "PASS"

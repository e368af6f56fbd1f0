# What the Wine tests of Zembra.exe share; sourced by their scripts, which are called as
#   SCRIPT PREFIX ZEMBRA_EXE PAGE SERVICE_CONTROL_EXE WORK_DIR [TROVIK_DLL]
# PREFIX is the run's Wine prefix (its services.log beside it), WORK_DIR a directory of the
# test's own that is laid out afresh: the program and its page side by side in WORK_DIR/app.
# TROVIK_DLL, when given, is the simulated reader SDK, for a test to put beside them.
set -euo pipefail
export WINEPREFIX="$1"
zembra_exe="$2"
page="$3"
service_control_exe="$4"
work="$5"
trovik_dll="${6:-}"
source "$(dirname "${BASH_SOURCE[0]}")/../service_test.sh"


readonly kServiceName='Pelidor身份证读卡器服务'
readonly kDescription='该服务用于创建身份证读卡器webservice，以便网页访问读卡内容'
readonly kAppIdKey='AppID\{BC559BEB-5FE4-485F-B35A-5EFC07B07324}'
readonly kProgramKey='AppID\Zembra.EXE'
readonly kTypeLibKey='TypeLib\{77E66AD9-7AEF-4D3A-AF0B-DE064CA1BE5A}'
readonly kServiceKey="HKLM\\System\\CurrentControlSet\\Services\\$kServiceName"
readonly kPort=19196
services_log="$WINEPREFIX.services.log"

rm -rf "$work"
mkdir -p "$work/app"
cp "$zembra_exe" "$page" "$work/app/"
app="$work/app/Zembra.exe"
# The program's path as Windows programs see it: Wine's drive Z: is the root.
app_windows="Z:${app//\//\\}"


# Runs Zembra.exe with the arguments and checks its exit status.
zembra_expect() {
  local expected="$1"
  shift
  local status=0
  run_wine "$app" "$@" || status=$?
  [ "$status" -eq "$expected" ] ||
    fail "Zembra.exe $* exited with $status, not $expected: $(cat "$work/out")"
}

# Leaves no registration of Zembra behind, whatever an earlier run left: a plain registration
# removes the service, and unregistration the rest.
unregister_all() {
  local scope
  for scope in "" PerUser; do
    run_wine "$app" "-RegServer$scope" || true
    run_wine "$app" "-UnregServer$scope" || true
  done
}


# The registry key as reg.exe lists it, in UTF-8; an empty answer when the key does not exist.
# reg.exe writes in the console's code page: from a Chinese locale its texts come in GBK, but a
# key named in Chinese then does not reach it intact, and is asked for from the UTF-8 locale
# (where only ASCII texts come back whole).
reg_query() {
  local status=0 locale=zh_CN.UTF-8
  LC_ALL=C grep -q '[^ -~]' <<<"$1" && locale=C.UTF-8
  LC_ALL="$locale" wine reg query "$@" >"$work/reg" 2>&1 </dev/null || status=$?
  if [ "$status" -ne 0 ]; then
    : >"$work/reg"
  fi
  if [ "$locale" = C.UTF-8 ]; then
    tr -d '\r' <"$work/reg"
  else
    iconv -f GBK -t UTF-8 <"$work/reg" | tr -d '\r'
  fi
}

# Checks that the registry key holds the named value with the text (type REG_SZ unless given).
expect_value() {
  local key="$1" name="$2" expected="$3" type="${4:-REG_SZ}"
  reg_query "$key" /v "$name" | tr -s ' ' | grep -qxF -- " $name $type $expected" ||
    fail "expected $name = '$expected' under $key, found: $(reg_query "$key")"
}

# Checks the key's default value (whose name reg.exe gives in the desktop's language).
expect_default() {
  local key="$1" expected="$2"
  reg_query "$key" /ve | tr -s ' ' | grep -qx -- " ([^ ]*) REG_SZ $(printf '%s' "$expected" |
    sed 's/[][\\.^$*]/\\&/g')" ||
    fail "expected the default value '$expected' under $key, found: $(reg_query "$key")"
}

expect_no_value() {
  local key="$1" name="$2"
  [ -z "$(reg_query "$key" /v "$name")" ] ||
    fail "expected no value $name under $key, found: $(reg_query "$key")"
}

expect_no_key() {
  local key="$1"
  [ -z "$(reg_query "$key")" ] || fail "expected no key $key, found: $(reg_query "$key")"
}

# The event-log reports made since the test began, one text per line.
events_since_start() {
  tail -c +"$((events_start + 1))" "$services_log" |
    sed -n 's/^.*trace:eventlog:ReportEventW L"\(.*\)"$/\1/p'
}
events_start="$(stat -c %s "$services_log" 2>/dev/null || echo 0)"

# Waits (up to 30 s) until the event log has received the text since the test began.
expect_event() {
  local text="$1"
  for _ in $(seq 300); do
    events_since_start | grep -qxF -- "$text" && return 0
    sleep 0.1
  done
  fail "the event log did not receive '$text'; it received: $(events_since_start)"
}

# Waits (up to 30 s, however long each try takes) until something answers on the port, or no
# longer does.
wait_for_port() {
  local wanted="$1"
  local deadline=$((SECONDS + 30))
  while [ "$SECONDS" -lt "$deadline" ]; do
    if curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$kPort/getdevicestatus"; then
      [ "$wanted" = open ] && return 0
    else
      [ "$wanted" = closed ] && return 0
    fi
    sleep 0.1
  done
  fail "port $kPort did not become $wanted; Wine's programs: $(pgrep -af '\.exe' | tr '\n' ';')"
}

# The answer object of an operation route.
operation_body() {
  printf '{\n   "errorMsg" : "%s",\n   "resultFlag" : %s\n}\n' "$2" "$1"
}

# The "/samid" answer object.
samid_body() {
  printf '{\n   "errorMsg" : "%s",\n   "resultFlag" : %s,\n   "samid" : "%s"\n}\n' "$2" "$1" "$3"
}

# The "/readcard" answer object: the result, its message and the twelve person values in the
# order of their keys (all empty when none are given).
readcard_body() {
  local flag="$1" message="$2"
  shift 2
  local keys=(bornDay certAddress certNumber certOrg certType effDate expDate gender identityPic
    nation nationCode partyName)
  local values=("$@") i
  printf '{\n'
  for i in "${!keys[@]}"; do
    [ "${keys[$i]}" = expDate ] && printf '   "errorMsg" : "%s",\n' "$message"
    printf '   "%s" : "%s",\n' "${keys[$i]}" "${values[$i]:-}"
  done
  printf '   "resultFlag" : %s\n}\n' "$flag"
}

# Checks the whole answer to a GET of the path, byte for byte: the head, the body read from
# standard input as one chunk (none when it is empty), and the last chunk.
expect_answer() {
  local path="$1"
  cat >"$work/body"
  {
    printf 'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nAccess-Control-Allow-Origin: *\r\n\r\n'
    if [ -s "$work/body" ]; then
      printf '%X\r\n' "$(stat -c %s "$work/body")"
      cat "$work/body"
      printf '\r\n'
    fi
    printf '0\r\n\r\n'
  } >"$work/expected"
  curl -s --raw -i --max-time 30 "http://127.0.0.1:$kPort$path" >"$work/answer" ||
    fail "no answer to $path"
  cmp -s "$work/answer" "$work/expected" ||
    fail "the answer to $path differs from the expected one: $(diff <(od -c "$work/expected") \
      <(od -c "$work/answer") | head -20)"
}

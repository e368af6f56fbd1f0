#!/usr/bin/env bash
# Zembra.exe as a Windows service under Wine: -Service installs it as the service host asks,
# net start runs it, every route answers on port 19196 (without the reader SDK and with it), its
# messages reach the event log, pause, continue and stop through the service control manager are
# reported as the host reports them, -Service again reinstalls a running service, and
# -UnregServer removes it.
source "$(dirname "$0")/zembra_wine.sh"
unregister_all

curl -s -o /dev/null --max-time 2 "http://127.0.0.1:$kPort/" &&
  fail "port $kPort is held by another program; the test needs it free"

zembra_expect 0 -Service
service_control config "$kServiceName" || fail "no service installed: $(cat "$work/out")"
expect_lines type=0x110 start=2 error=0 "path=\"$app_windows\"" account=LocalSystem \
  "display=$kServiceName" "description=$kDescription"
# Wine's service manager reports no dependencies; the registry holds them.
expect_value "$kServiceKey" DependOnService RPCSS REG_MULTI_SZ

start_service() {
  # net start may say the service is running already after starting it, and exit with 1.
  run_wine net start "$kServiceName" || true
  service_control wait "$kServiceName" 4 60 ||
    fail "the service did not report running: $(cat "$work/out")"
  wait_for_port open
}

start_service
# (sc query cannot write the service's name where its arguments reach it intact: the state comes
# from the service manager through service-control.exe.)
service_control status "$kServiceName"
expect_lines state=4 controls=0x3
expect_event 'QMX Service Start Successfully~!'

# Without the reader SDK beside it every reader route answers -12.
expect_answer /opendevice < <(operation_body -12 '无法打开读卡器')
expect_answer /getdevicestatus < <(operation_body -99 '读卡器异常')
expect_answer /closedevice < <(operation_body -12 '关闭读卡器失败')
expect_answer /getsamid < <(samid_body -12 '获取安全模块号失败' '')
expect_answer /readcard < <(readcard_body -12 '读卡失败')
expect_answer /unknown < <(operation_body -101 '不支持未知指令')
expect_answer /mainpage <"$page"

# Pause changes the reported state alone: requests are still served.
service_control pause "$kServiceName" || fail "pause: $(cat "$work/out")"
expect_lines state=7
expect_answer /getdevicestatus < <(operation_body -99 '读卡器异常')
service_control continue "$kServiceName" || fail "continue: $(cat "$work/out")"
expect_lines state=4
service_control interrogate "$kServiceName" || fail "interrogate: $(cat "$work/out")"
expect_lines state=4
service_control control "$kServiceName" 128 || fail "control 128: $(cat "$work/out")"
expect_event 'Bad service request'

# Stop reports stopped, then stop pending; the service's main function reports stopped again
# once the web server has ended, and the process ends.
service_control stop "$kServiceName" || fail "stop: $(cat "$work/out")"
expect_lines state=3
service_control wait "$kServiceName" 1 60 || fail "the service did not stop: $(cat "$work/out")"
expect_event 'Service stopped'
wait_for_port closed
# The web server ran: the start hook never came back to say "Service started".
events_since_start | grep -qxF 'Service started' && fail "'Service started' was logged"

# With the reader SDK beside the program, the card routes reach the simulated reader. Its photo
# is left out first, so that the answer compares whole, and then checked to be a JPEG in base64.
cp "$trovik_dll" "$work/app/"
printf 'card.photo = no\n' >"$work/app/trovik-sim.conf"
start_service
expect_answer /readcard < <(readcard_body -3 '读卡失败')
expect_answer /opendevice < <(operation_body 0 '打开成功')
expect_answer /getsamid < <(samid_body 0 '获取安全模块号成功' '05.01-20240101-0123456789-9999999999')
expect_answer /readcard < <(readcard_body 0 '读卡成功' 19900101 '示例省示例市样例区测试路1号' \
  990000199001010011 '示例市公安局样例分局' '身份证' 20200101 20400101 '男' '' '汉' 01 '样例人')
printf 'card.photo = yes\n' >"$work/app/trovik-sim.conf"
curl -s --max-time 30 "http://127.0.0.1:$kPort/readcard" | grep -qF '"identityPic" : "/9j/' ||
  fail "the card's photo is not a JPEG in base64"
expect_answer /closedevice < <(operation_body 0 '关闭读卡器成功')
service_control stop "$kServiceName" || fail "stop: $(cat "$work/out")"
service_control wait "$kServiceName" 1 60 || fail "the service did not stop: $(cat "$work/out")"
wait_for_port closed

# -Service on a running service stops it, installs it again and sets it to start automatically.
start_service
zembra_expect 0 -Service
service_control status "$kServiceName" || fail "the service is gone: $(cat "$work/out")"
expect_lines state=1
wait_for_port closed
service_control config "$kServiceName"
expect_lines type=0x110 start=2 error=0 "path=\"$app_windows\""

zembra_expect 0 -UnregServer
service_control status "$kServiceName" && fail "the service is still installed"
expect_lines error=1060
expect_no_key "HKLM\\Software\\Classes\\$kAppIdKey"
echo "PASS"

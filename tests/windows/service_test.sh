# What the Wine tests of the services share; sourced by their scripts once they have set
# WINEPREFIX, $work (a directory of the test's own) and $service_control_exe.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
# Without a display Wine's MessageBoxW returns at once (no window can be made); with one, a box
# of a registration failure would wait for a click that never comes.
unset DISPLAY WAYLAND_DISPLAY
# Wine passes arguments to a program in the locale's encoding and writes console text in the
# console's code page: a service's name reaches programs intact from a UTF-8 locale, and reg.exe
# writes the registry's texts in GBK from a Chinese one, as on a Chinese desktop.
export LC_ALL=C.UTF-8

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs a Windows program with its output in $work/out; the program's exit status is the
# function's (Wine passes its low eight bits).
run_wine() {
  local status=0
  timeout 120 wine "$@" >"$work/out" 2>&1 </dev/null || status=$?
  return "$status"
}

# service-control.exe with the arguments; its lines in $work/out.
service_control() {
  run_wine "$service_control_exe" "$@"
}

# Checks that service-control.exe's last answer holds each "key=value" line given.
expect_lines() {
  local line
  for line in "$@"; do
    grep -qxF -- "$line" <(tr -d '\r' <"$work/out") ||
      fail "expected the line '$line' in: $(cat "$work/out")"
  done
}

#!/usr/bin/env bash
# The Debian packages of build-packages/ in a throwaway root, never in this machine's own: an overlay
# with the machine's / as its lower layer and a scratch upper layer, in a mount and network
# namespace of the test's own, entered with chroot. There they are installed; their files, users,
# udev rules and Zembra's registration as a service are checked; both units' exposure in
# `systemd-analyze security` must be 2.0 or below; each installed unit's program runs under the
# service-manager stand-in as its service user: Zembra answering on its port, with the simulated
# reader, and Halvane relaying a card dialogue between the box and decoding-server stand-ins with
# the endpoint named in /etc/default/halvane; an upgrade keeps an edited zembra.conf; and a purge
# leaves nothing of them.
#   debian_packages_test.sh PACKAGES_DIR BUILD_DIR
# Exits with 77 (skipped) where it cannot make the throwaway root, or finds no packages.
set -euo pipefail
packages="$(realpath "$1")"
build="$(realpath "$2")"

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

if [ -z "${THROWAWAY_ROOT:-}" ]; then
  [ "$(id -u)" -eq 0 ] || skip "the throwaway root needs root (unshare --mount, overlay, chroot)"
  compgen -G "$packages/zembra_*.deb" >/dev/null ||
    skip "no packages in $packages: build them with scripts/package.sh"
  # Again, in namespaces of its own: what it mounts, and the ports its programs take, vanish with
  # it; the scratch directory is where it mounts the root's layers.
  scratch="$(mktemp -d)"
  status=0
  unshare --mount --net env THROWAWAY_ROOT="$scratch" "$0" "$@" || status=$?
  rmdir "$scratch"
  exit "$status"
fi

ip link set lo up
mount --make-rprivate /
scratch="$THROWAWAY_ROOT"
mount -t tmpfs throwaway "$scratch"
mkdir "$scratch/upper" "$scratch/work" "$scratch/root"
mount -t overlay throwaway -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" \
  "$scratch/root"
root="$scratch/root"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount -t tmpfs run "$root/run"
mount -t tmpfs tmp "$root/tmp"
# Outside the root: the stand-ins' output and the expected answers.
work="$scratch/work-files"
mkdir "$work"
# The stand-ins that run as the services' users, inside the root where those users can reach them
# (the build tree may lie in a directory closed to them).
stand_ins=/tmp/stand-ins
mkdir -p "$root$stand_ins/usbbox"
cp "$build/bin/sim-servicemanager" "$root$stand_ins/"
cp "$build/sim/usbbox/libusb-0.1.so.4" "$root$stand_ins/usbbox/"
# The packages too: the build tree may lie where the root does not show it (its /tmp is its own).
mkdir "$root/tmp/packages"
cp "$packages"/*.deb "$root/tmp/packages/"
packages=/tmp/packages

inside() {
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 "$@"
}

pids=()
finish() {
  local pid process
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  # Whatever still runs in the throwaway root, as when a check failed half-way, ends with it.
  for process in /proc/[0-9]*; do
    [ "$(readlink "$process/root" 2>/dev/null)" = "$root" ] && kill -KILL "${process#/proc/}" 2>/dev/null
  done
  return 0
}
trap finish EXIT

# Waits (up to 60 s) until the file holds a line that matches the pattern.
wait_for_line() {
  local file="$1" pattern="$2" deadline=$((SECONDS + 60))
  while [ "$SECONDS" -lt "$deadline" ]; do
    grep -qE -- "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "no line '$pattern' in $file: $(cat "$file" 2>/dev/null)"
}

# The value of a setting of a unit file (the last, when it is given more than once).
unit_setting() {
  sed -n "s/^$2=//p" "$root$1" | tail -n 1
}

# The packages' names as the root sees them.
in_root() {
  local file
  for file in "$root$packages"/$1_*.deb; do echo "${file#"$root"}"; done
}
mapfile -t debs < <(in_root zembra; in_root zembra-reader-sim; in_root libostrel1
  in_root libostrel-dev; in_root halvane)
inside dpkg -i "${debs[@]}" >"$work/install" 2>&1 || fail "dpkg -i: $(cat "$work/install")"

# The files where they belong.
for file in /usr/lib/zembra/zembra /usr/lib/zembra/readcard.html /usr/lib/zembra/zembra.conf.example \
  /etc/zembra/zembra.conf /usr/lib/zembra/libTrovik.so /usr/lib/zembra/trovik-sim.conf \
  /usr/lib/zembra/trovik-sim/no-base64/libTrovik.so /usr/lib/libostrel.so.1 \
  /usr/include/ostrel/ostrel.h /usr/include/ostrel/ostrel_export.h /usr/bin/halvane \
  /lib/systemd/system/halvane.service /etc/default/halvane /lib/udev/rules.d/60-zembra.rules \
  /lib/udev/rules.d/60-halvane.rules /usr/lib/sysusers.d/zembra.conf \
  /usr/lib/sysusers.d/halvane.conf; do
  [ -f "$root$file" ] || fail "$file is not installed"
done
[ "$(readlink "$root/usr/bin/zembra")" = ../lib/zembra/zembra ] || fail "/usr/bin/zembra"
[ "$(readlink "$root/usr/lib/zembra/zembra.conf")" = /etc/zembra/zembra.conf ] ||
  fail "zembra.conf beside the program does not lead to /etc/zembra/zembra.conf"
[ "$(readlink -f "$root/usr/lib/libostrel.so")" = "$(readlink -f "$root/usr/lib/libostrel.so.1")" ] ||
  fail "libostrel.so does not lead to the library"

# The services' system users; Zembra's in group dialout for a reader on a serial port.
for user in zembra halvane; do
  entry="$(inside getent passwd "$user")" || fail "no user $user"
  uid="$(cut -d: -f3 <<<"$entry")"
  [ "$uid" -lt 1000 ] && [ "$uid" -ne 0 ] || fail "$user is not a system user: $entry"
done
inside id -nG zembra | grep -qw dialout || fail "zembra is not in group dialout"

# Zembra is registered as a service by its own -Service: the registration knows it, and its unit
# runs it as its user, enabled.
grep -qF '"LocalService"="Pelidor身份证读卡器服务"' "$root/var/lib/zembra/machine.reg" ||
  fail "Zembra is not registered as a service: $(cat "$root/var/lib/zembra/machine.reg")"
zembra_unit=/etc/systemd/system/zembra.service
[ "$(unit_setting $zembra_unit ExecStart)" = '"/usr/lib/zembra/zembra"' ] ||
  fail "the unit does not run the installed program: $(cat "$root$zembra_unit")"
[ "$(unit_setting $zembra_unit User)" = zembra ] || fail "the unit does not run as zembra"
[ "$(readlink "$root/etc/systemd/system/multi-user.target.wants/zembra.service")" = \
  "$zembra_unit" ] || fail "Zembra's service is not enabled"
[ -L "$root/etc/systemd/system/multi-user.target.wants/halvane.service" ] ||
  fail "Halvane's service is not enabled"
halvane_unit=/lib/systemd/system/halvane.service
[ "$(unit_setting $halvane_unit User)" = halvane ] || fail "the unit does not run as halvane"

# systemd's sandbox of both units, as the packages install them.
for unit in $zembra_unit $halvane_unit; do
  inside systemd-analyze security --offline=yes "$unit" >"$work/analysis" 2>&1 || true
  exposure="$(sed -n 's/^.*Overall exposure level for [^:]*: \([0-9.]*\) .*$/\1/p' "$work/analysis")"
  [ -n "$exposure" ] || fail "systemd-analyze security rated no $unit: $(cat "$work/analysis")"
  echo "exposure of $(basename $unit): $exposure"
  awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' ||
    fail "$unit is exposed at $exposure, above 2.0: $(grep '✗' "$work/analysis")"
done

# Runs the program of an installed unit under the service-manager stand-in, as the unit's user with
# the unit's environment file (when it names one) and the environment the test adds; its output in
# $work/NAME.
run_unit() {
  local name="$1" unit="$2"
  shift 2
  local user program settings=()
  user="$(unit_setting "$unit" User)"
  program="$(unit_setting "$unit" ExecStart | tr -d '"')"
  local file
  file="$(unit_setting "$unit" EnvironmentFile)"
  file="${file#-}"
  if [ -n "$file" ] && [ -f "$root$file" ]; then
    mapfile -t settings < <(grep -E '^[A-Za-z_][A-Za-z0-9_]*=' "$root$file")
  fi
  chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 \
    setpriv --reuid="$user" --regid="$user" --init-groups \
    env HOME=/ "${settings[@]}" "$@" "$stand_ins/sim-servicemanager" "$program" \
    >"$work/$name" 2>&1 </dev/null &
  pids+=($!)
}

# A stand-in as a program of its own; its port in the variable named.
start_stand_in() {
  local variable="$1" name="$2"
  shift 2
  "$@" >"$work/$name" 2>&1 </dev/null &
  pids+=($!)
  wait_for_line "$work/$name" 'listening on 127\.0\.0\.1:[0-9]+'
  printf -v "$variable" '%s' "$(sed -n 's/^.*listening on 127\.0\.0\.1:\([0-9]*\).*$/\1/p' \
    "$work/$name" | head -n 1)"
}

# Ends what run_unit or start_stand_in started last, and waits for it.
stop_last() {
  local pid="${pids[-1]}"
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  unset 'pids[-1]'
}

# Zembra, its answers read byte for byte.
run_unit zembra $zembra_unit
for _ in $(seq 600); do
  curl -s -o /dev/null --max-time 2 http://127.0.0.1:19196/getdevicestatus && break
  sleep 0.1
done
grep -qF 'zembra: READY=1' "$work/zembra" || fail "Zembra did not report ready: $(cat "$work/zembra")"
printf 'HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nAccess-Control-Allow-Origin: *\r\n\r\n' \
  >"$work/expected"
body='{\n   "errorMsg" : "读卡器异常",\n   "resultFlag" : -99\n}\n'
printf "%X\r\n$body\r\n0\r\n\r\n" "$(printf "$body" | wc -c)" >>"$work/expected"
curl -s --raw -i --max-time 30 http://127.0.0.1:19196/getdevicestatus >"$work/answer" ||
  fail "no answer to /getdevicestatus: $(cat "$work/zembra")"
cmp -s "$work/expected" "$work/answer" ||
  fail "/getdevicestatus answered otherwise: $(od -c "$work/answer" | head -20)"
curl -s --max-time 30 http://127.0.0.1:19196/opendevice | grep -qF '"resultFlag" : 0' ||
  fail "the simulated reader did not open"
curl -s --max-time 30 http://127.0.0.1:19196/readcard >"$work/card"
grep -qF '"partyName" : "样例人"' "$work/card" && grep -qF '"resultFlag" : 0' "$work/card" ||
  fail "the card was not read: $(head -c 400 "$work/card")"
inside ps -o user= -C zembra | grep -qx zembra || fail "zembra does not run as its user"
stop_last
grep -qF 'zembra exited with status 0' "$work/zembra" ||
  fail "Zembra did not stop cleanly: $(cat "$work/zembra")"

# Halvane, with the endpoint named where the package says.
start_stand_in decoder_port decoder "$build/bin/sim-decoder" --port 0
start_stand_in config_port configserver "$build/bin/sim-configserver" --port 0 \
  --server "127.0.0.1:$decoder_port"
printf 'OSTREL_CONFIG_HOST=127.0.0.1:%s\n' "$config_port" >>"$root/etc/default/halvane"
run_unit halvane $halvane_unit LD_LIBRARY_PATH="$stand_ins/usbbox" USBBOX_SIM_SUMMARY=1
wait_for_line "$work/decoder" 'sent the final packet: card read'
grep -qF 'halvane: READY=1' "$work/halvane" || fail "Halvane did not report ready"
inside ps -o user= -C halvane | grep -qx halvane || fail "halvane does not run as its user"
stop_last
grep -qF 'halvane exited with status 0' "$work/halvane" ||
  fail "Halvane did not stop cleanly: $(cat "$work/halvane")"

# An upgrade from the same version keeps the administrator's settings, and Zembra's service.
echo 'idle_timeout = 30' >>"$root/etc/zembra/zembra.conf"
cp "$root/etc/zembra/zembra.conf" "$work/settings"
inside dpkg -i "$(in_root zembra)" >"$work/upgrade" 2>&1 || fail "upgrade: $(cat "$work/upgrade")"
cmp -s "$work/settings" "$root/etc/zembra/zembra.conf" || fail "the upgrade changed zembra.conf"
[ "$(unit_setting $zembra_unit User)" = zembra ] || fail "the upgrade lost Zembra's service"

# A purge leaves nothing of them: no file, no user, no group.
inside dpkg --purge zembra-reader-sim zembra halvane libostrel-dev libostrel1 >"$work/purge" 2>&1 ||
  fail "dpkg --purge: $(cat "$work/purge")"
left="$(cd "$scratch/upper" && find . | grep -iE 'zembra|halvane|ostrel|trovik' || true)"
[ -z "$left" ] || fail "the purge left: $left"
# (Also as a member of another group, as zembra is of dialout.)
for file in passwd group shadow gshadow; do
  ! grep -qwE 'zembra|halvane' "$root/etc/$file" || fail "the purge left an entry in /etc/$file"
done
echo "PASS"

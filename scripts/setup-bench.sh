#!/usr/bin/env bash
# Installs the outside tools the benchmarks measure with: nginx with one worker as the status
# route's yardstick (nginx-light), the load generator wrk, strace for the system calls per request
# and perf for the profile. Does nothing when they are present.
set -euo pipefail

# Installing nginx would start Debian's own server on port 80; the bench runs an nginx of its own,
# so service starts are refused while it is installed.
policy=/usr/sbin/policy-rc.d
sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
if [ ! -e "$policy" ] &&
   ! dpkg-query -W -f='${Status}' nginx-light 2>/dev/null | grep -q 'install ok installed'; then
  printf '#!/bin/sh\nexit 101\n' | $sudo_cmd tee "$policy" >/dev/null
  $sudo_cmd chmod 755 "$policy"
  trap '$sudo_cmd rm -f "$policy"' EXIT
fi
"$(dirname "$0")/install-packages.sh" nginx-light wrk strace linux-perf

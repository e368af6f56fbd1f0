#!/usr/bin/env bash
# Installs those of the named Debian packages that are not installed yet; does nothing when all
# are. Usage: scripts/install-packages.sh <package>...
set -euo pipefail

missing=()
for p in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
echo "Installing: ${missing[*]}"
$sudo_cmd apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"

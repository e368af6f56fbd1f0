#!/usr/bin/env bash
# Installs what building the suite's packages and testing them needs: debhelper and the Debian
# package tools, lintian, wixl (msitools) for the Windows installers, systemd for
# systemd-analyze, and what the throwaway root of the package tests uses (util-linux's unshare,
# iproute2). Idempotent, like scripts/setup.sh.
set -euo pipefail
"$(dirname "$0")/install-packages.sh" \
  debhelper dpkg-dev fakeroot lintian wixl msitools systemd adduser util-linux iproute2 curl

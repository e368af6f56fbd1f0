#!/usr/bin/env bash
# Installs every Debian package the build, the demo and the tests need.
# Usage: scripts/setup.sh [--demos]
# Idempotent: packages already present are left alone, so a second run is quick.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang-format
  libboost-dev libjsoncpp-dev libusb-dev libcurl4-openssl-dev libsystemd-dev
  libgtest-dev libgmock-dev libbenchmark-dev libjpeg-dev
  # The fuzzers (scripts/fuzz.sh): Clang with libFuzzer and its sanitizer runtimes.
  clang libclang-rt-14-dev
  chromium nodejs npm
  # Chinese glyphs for the default page in the browser on this machine.
  fonts-wqy-microhei
)

# nodejs and npm may come from outside Debian on some images; a working node and npm are enough.
if command -v node >/dev/null && command -v npm >/dev/null; then
  filtered=()
  for p in "${packages[@]}"; do [ "$p" != nodejs ] && [ "$p" != npm ] && filtered+=("$p"); done
  packages=("${filtered[@]}")
fi
"$(dirname "$0")/install-packages.sh" "${packages[@]}"

# The browser test's driver (playwright-core, from the npm registry), when missing or older than
# its lock file; the demos (--demos, from ./run) need none.
[ "${1:-}" != --demos ] || exit 0
browser_tests="$(cd "$(dirname "$0")/.." && pwd)/tests/browser"
if [ ! -f "$browser_tests/node_modules/.package-lock.json" ] ||
   [ "$browser_tests/package-lock.json" -nt "$browser_tests/node_modules/.package-lock.json" ]; then
  (cd "$browser_tests" && npm ci --no-audit --no-fund)
fi

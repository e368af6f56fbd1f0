#!/usr/bin/env bash
# Configures the suite into a build directory and builds it: everything, or only the targets
# named (with what they need).
# Usage: scripts/build.sh <build-dir> [--target <name>]... [extra cmake arguments...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$1"
shift
targets=()
while [ $# -ge 2 ] && [ "$1" = --target ]; do
    targets+=("$2")
    shift 2
done
cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" --parallel "$(nproc)" ${targets[@]+--target "${targets[@]}"}

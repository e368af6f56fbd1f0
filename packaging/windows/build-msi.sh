#!/usr/bin/env bash
# Builds one of the suite's Windows installers with wixl from its .wxs file beside this script.
#   build-msi.sh Zembra|Halvane VERSION DIST OUTPUT
# VERSION is the installer's (Windows Installer compares three numbers), DIST the folder of the
# Windows deliverables as ./build-windows lays them out (build-win/dist), OUTPUT the .msi to write.
set -euo pipefail
product="$1"
version="$2"
output="$(realpath "$4")"
here="$(cd "$(dirname "$0")" && pwd)"
# wixl finds the files relative to the .wxs file.
dist="$(realpath --relative-to="$here" "$3")"
wixl --arch x64 -D Version="$version" -D Dist="$dist" -o "$output" "$here/${product,,}.wxs"
if [ "$product" = Zembra ]; then
  # wixl keeps no text outside ASCII: the service's name goes into the finished database, whose
  # code page becomes GBK, that of a Chinese Windows.
  codepage="$(mktemp -d)"
  trap 'rm -rf "$codepage"' EXIT
  printf '\r\n\r\n936\t_ForceCodepage\r\n' >"$codepage/_ForceCodepage.idt"
  msibuild "$output" -i "$codepage/_ForceCodepage.idt" \
    -q "UPDATE \`Property\` SET \`Value\` = 'Pelidor身份证读卡器服务' WHERE \`Property\` = 'ZEMBRA_SERVICE'"
fi

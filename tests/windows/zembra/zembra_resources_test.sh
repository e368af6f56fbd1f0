#!/usr/bin/env bash
# Zembra.exe's resources as windres reads them back from the program: the service name as string
# 100, the version, and the manifest's execution level. (The type library is checked where it is
# registered.)
#   zembra_resources_test.sh WINDRES ZEMBRA_EXE
set -euo pipefail
windres="$1"
program="$2"

listing="$("$windres" -J coff -i "$program" -O rc)"
expect() {
  grep -qF -- "$1" <<<"$listing" || { echo "FAIL: no '$1' among the resources" >&2; exit 1; }
}
expect '100, L"Pelidor\x8eab\x4efd\x8bc1\x8bfb\x5361\x5668\x670d\x52a1"'
expect 'FILEVERSION 1, 0, 0, 1'
expect 'PRODUCTVERSION 1, 0, 0, 1'
expect 'VALUE "FileVersion", "1.0.0.1"'
expect 'VALUE "ProductVersion", "1.0.0.1"'
expect 'VALUE "InternalName", "Zembra.exe"'
expect 'VALUE "OriginalFilename", "Zembra.exe"'
expect '1 24 /* RT_MANIFEST */'
expect '1 "TYPELIB"'
grep -qaF 'requestedExecutionLevel level="asInvoker"' "$program" ||
  { echo "FAIL: the manifest asks for no asInvoker level" >&2; exit 1; }
echo PASS

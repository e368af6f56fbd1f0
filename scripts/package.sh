#!/usr/bin/env bash
# Builds the suite's packages into build-packages/: the Debian packages zembra, zembra-reader-sim,
# libostrel1, libostrel-dev and halvane from debian/ (checked with lintian, which must report no
# error and no warning), and the Windows installers Zembra-<version>-x64.msi and
# Halvane-<version>-x64.msi from packaging/windows/ with wixl. Installs what it needs, and builds
# build/ and build-win/ first, which does nothing once ./test has built them.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/setup.sh
scripts/setup-packages.sh
scripts/build.sh build
./build-windows >/dev/null

version="$(dpkg-parsechangelog -l debian/changelog -S Version)"
suite_version="$(sed -n 's/^project(CardReaderSuite VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
if [ "$version" != "$suite_version" ]; then
  echo "debian/changelog is at $version, the suite at $suite_version: add a changelog entry" >&2
  exit 1
fi

out="$root/build-packages"
rm -rf "$out"
mkdir -p "$out/source"
# dpkg-buildpackage leaves the packages beside the folder it builds in: a copy of debian/ in
# build-packages/ that builds from this tree.
cp -r debian "$out/source/"
log="$out/dpkg-buildpackage.log"
if ! (cd "$out/source" && SUITE_TREE="$root" dpkg-buildpackage -b -us -uc) >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "dpkg-buildpackage failed (whole output in $log)" >&2
  exit 1
fi
rm -rf "$out/source"
lintian --fail-on error,warning "$out"/*.changes

# The Windows installers, of the suite's version's first three numbers: all that Windows Installer
# compares.
for product in Zembra Halvane; do
  packaging/windows/build-msi.sh "$product" "$(cut -d. -f1-3 <<<"$version")" build-win/dist \
    "$out/$product-$version-x64.msi"
done
echo "Packages in build-packages/: $(cd "$out" && ls ./*.deb ./*.msi | tr '\n' ' ')"

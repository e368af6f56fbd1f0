#!/usr/bin/env bash
# Installs what the Windows cross-build and its tests need (MinGW-w64, Wine), and builds the
# Windows libraries the suite links, static, for x86_64-w64-mingw32: JsonCpp, libusb-1.0 and
# libjpeg-turbo (for the simulated reader's photo) from Debian's source packages (apt-get source;
# deb-src entries for the Debian archive are added when none are configured) and GoogleTest from
# libgtest-dev's sources. The Boost headers of libboost-dev sit beside them through a link, so
# that the cross-compiler never sees the host's /usr/include.
#
# Prints the prefix that holds them (and nothing else on standard output). The prefix is a cache
# keyed by the package versions and this recipe, so a second run finds it and does nothing;
# SUITE_WIN_DEPS_CACHE overrides where the cache lives.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
exec 3>&1 1>&2

sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"

"$root/scripts/install-packages.sh" \
  g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 dpkg-dev make cmake ninja-build libboost-dev \
  googletest

# The source packages built here, and the versions `apt-get source` would fetch, read from the
# names of their .dsc files ("libjsoncpp_1.9.5-4.dsc"); nothing when a deb-src entry is missing.
sources=(libjsoncpp libusb-1.0 libjpeg-turbo)
source_versions() {
  { apt-get source --print-uris -qq "${sources[@]}" 2>/dev/null || true; } |
    awk '$2 ~ /\.dsc$/ { sub(/^[^_]*_/, "", $2); sub(/\.dsc$/, "", $2); print $2 }'
}

# deb-src twins of the Debian archive's entries, in the format of the file they come from.
add_debian_sources() {
  local entries
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    entries="$(awk 'BEGIN { RS = ""; ORS = "\n\n" }
      !/(^|\n)Enabled: *no/ { sub(/(^|\n)Types:[^\n]*/, "\nTypes: deb-src"); sub(/^\n/, ""); print }' \
      /etc/apt/sources.list.d/debian.sources)"
    target=/etc/apt/sources.list.d/card-reader-suite-src.sources
  else
    entries="$(sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' /etc/apt/sources.list)"
    target=/etc/apt/sources.list.d/card-reader-suite-src.list
  fi
  if [ -z "$entries" ]; then
    echo "No Debian archive entry found in /etc/apt to add deb-src entries for" >&2
    exit 1
  fi
  echo "Adding Debian's source packages: $target"
  printf '# Added by the card-reader suite for apt-get source.\n%s\n' "$entries" |
    $sudo_cmd tee "$target" >/dev/null
}

versions="$(source_versions)"
if [ -z "$versions" ]; then
  if ! grep -qsE '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' \
      /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
    add_debian_sources
  fi
  $sudo_cmd apt-get update -qq
  versions="$(source_versions)"
fi
read -r jsoncpp_version libusb_version jpeg_version <<<"${versions//$'\n'/ }"
if [ -z "$jpeg_version" ]; then
  echo "apt-get source offers no ${sources[*]} source packages" >&2
  exit 1
fi
googletest_version="$(dpkg-query -W -f='${Version}' googletest)"
compiler_version="$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)"
if [ -n "${SUITE_WIN_DEPS_CACHE:-}" ]; then
  cache="$SUITE_WIN_DEPS_CACHE"
elif [ -n "${XDG_CACHE_HOME:-}${HOME:-}" ]; then
  cache="${XDG_CACHE_HOME:-$HOME/.cache}/card-reader-suite/mingw-w64"
else
  cache="$root/build-win-deps"
fi
toolchain="$root/cmake/mingw-w64-x86_64.cmake"
jobs="$(nproc)"

# Runs a build step with its output in the log, which is shown when the step fails.
step() {
  if ! "$@" >>"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "Failed: $* (whole output in $log)" >&2
    exit 1
  fi
}

build_libraries() {
  local work
  work="$(mktemp -d "$cache/.work.XXXXXX")"
  trap 'rm -rf "$work"' EXIT
  rm -rf "$prefix"
  log="$cache/build.log"
  : >"$log"

  echo "Building the Windows libraries into $prefix"
  # apt's download user cannot write into a private directory of root's; root fetches itself.
  local apt_options=()
  [ "$(id -u)" -eq 0 ] && apt_options=(-o APT::Sandbox::User=root)
  (cd "$work" && step apt-get source "${apt_options[@]}" "${sources[@]}")

  local cmake_static=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF)

  step cmake -S "$work/libjsoncpp-${jsoncpp_version%-*}" -B "$work/jsoncpp-build" \
    "${cmake_static[@]}" -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF -DJSONCPP_WITH_TESTS=OFF \
    -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF
  step cmake --build "$work/jsoncpp-build" --parallel "$jobs"
  step cmake --install "$work/jsoncpp-build"

  local libusb="$work/libusb-1.0-${libusb_version%-*}"
  (cd "$libusb" && step ./configure --host=x86_64-w64-mingw32 --prefix="$prefix" \
    --enable-static --disable-shared CC=x86_64-w64-mingw32-gcc-posix)
  step make -C "$libusb" -j"$jobs"
  step make -C "$libusb" install

  # The library alone, without the SIMD code (it would need an assembler) or the TurboJPEG API.
  step cmake -S "$work/libjpeg-turbo-${jpeg_version%-*}" -B "$work/jpeg-build" \
    "${cmake_static[@]}" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF \
    -DWITH_TURBOJPEG=OFF
  step cmake --build "$work/jpeg-build" --parallel "$jobs"
  step cmake --install "$work/jpeg-build"

  step cmake -S /usr/src/googletest -B "$work/googletest-build" "${cmake_static[@]}"
  step cmake --build "$work/googletest-build" --parallel "$jobs"
  step cmake --install "$work/googletest-build"

  ln -s /usr/include/boost "$prefix/include/boost"
  touch "$prefix/.complete"
  rm -rf "$work"
  trap - EXIT
}

# The cache key: the versions of what goes in, and the recipe (the build steps above and the
# toolchain file).
recipe="$({ declare -f step build_libraries; cat "$toolchain"; } | sha256sum | cut -c1-12)"
key="jsoncpp-$jsoncpp_version.libusb-$libusb_version.jpeg-$jpeg_version"
key="$key.googletest-$googletest_version"
key="$key.gcc-$compiler_version.recipe-$recipe"
prefix="$cache/$(printf '%s' "$key" | tr -c 'A-Za-z0-9.+-' '_')"

if [ ! -f "$prefix/.complete" ]; then
  mkdir -p "$cache"
  exec 9>"$cache/.lock"
  flock 9
  if [ ! -f "$prefix/.complete" ]; then
    # Libraries of an earlier recipe or of older packages are not used again.
    find "$cache" -mindepth 1 -maxdepth 1 -not -name .lock -exec rm -rf {} +
    build_libraries
  fi
  flock -u 9
fi
echo "$prefix" >&3

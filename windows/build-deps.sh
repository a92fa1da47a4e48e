#!/usr/bin/env bash
# Builds the Windows libraries of the program, static, for x86_64-w64-mingw32:
#   mbedTLS and PCRE from Debian's own source packages, of the versions the Linux build
#   links (libmbedtls-dev, libpcre3-dev), and GoogleTest from /usr/src/googletest.
# mbedTLS gets MBEDTLS_THREADING_C and MBEDTLS_THREADING_ALT without the pthread option;
# its lock record is src/native/win32/threading_alt.h, which the program fills with
# critical sections.
#
# Usage: windows/build-deps.sh [DEPS_DIR]   (default: build-windows-deps)
#        windows/build-deps.sh --sources    prints the sources it fetches: SOURCE=VERSION ...
# Result: DEPS_DIR/prefix/{include,lib}. A second run does nothing once the prefix is
# complete. Fetching the sources adds deb-src entries for the configured Debian suites
# while apt-get source runs and removes them again; that needs root (or sudo).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
# The source version of an installed package, so that Windows gets what Linux links.
source_version() { dpkg-query -W -f='${source:Version}' "$1" 2>/dev/null || true; }
mbedtls_version=$(source_version libmbedtls-dev)
pcre_version=$(source_version libpcre3-dev)
fetched="mbedtls=$mbedtls_version pcre3=$pcre_version"
if [ "${1:-}" = --sources ]; then echo "$fetched"; exit 0; fi

deps=$(mkdir -p "${1:-$repo/build-windows-deps}" && cd "${1:-$repo/build-windows-deps}" && pwd)
prefix=$deps/prefix
toolchain=$repo/windows/mingw-w64-x86_64.cmake
stamp=$prefix/.complete

sudo=$([ "$(id -u)" = 0 ] || echo sudo)
gtest=$([ -d /usr/src/googletest ] && echo yes || echo no)
wanted="mbedtls=${mbedtls_version:-any} pcre3=${pcre_version:-any} gtest=$gtest threading_alt=$(sha256sum "$repo/src/native/win32/threading_alt.h" | cut -c1-16) paths=relative"

if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$wanted" ]; then
  echo "Windows libraries are complete in $prefix"
  exit 0
fi
rm -rf "$prefix" "$deps/build"
mkdir -p "$deps/src" "$deps/build"

# --- Sources -------------------------------------------------------------------------
fetch_sources() {
  # The same archives, suites and keys as the configured binary entries, for sources.
  local list=/etc/apt/sources.list.d/streamlaunch-deb-src
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    list=$list.sources
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$list" >/dev/null
  else
    list=$list.list
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | $sudo tee "$list" >/dev/null
  fi
  trap "$sudo rm -f $list; $sudo apt-get update -qq || true" EXIT
  $sudo apt-get update -qq
  (cd "$deps/src" && apt-get source -qq "mbedtls${mbedtls_version:+=$mbedtls_version}" \
                                        "pcre3${pcre_version:+=$pcre_version}")
  $sudo rm -f "$list"
  $sudo apt-get update -qq
  trap - EXIT
}
source_dir() { find "$deps/src" -maxdepth 1 -mindepth 1 -type d -name "$1" | head -n 1; }
if [ "$(cat "$deps/src/.fetched" 2>/dev/null)" != "$fetched" ]; then
  rm -rf "$deps/src" && mkdir -p "$deps/src"
  fetch_sources
  echo "$fetched" >"$deps/src/.fetched"
fi

# mbedTLS's debug messages name their source files: paths relative to DEPS_DIR keep the
# place of this build out of the libraries and of the program made from them.
common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_C_FLAGS="-ffile-prefix-map=$deps/=" -DCMAKE_CXX_FLAGS="-ffile-prefix-map=$deps/="
        -DCMAKE_INSTALL_PREFIX="$prefix" -Wno-dev)

# --- mbedTLS -------------------------------------------------------------------------
mbedtls=$deps/build/mbedtls-src
cp -a "$(source_dir 'mbedtls-*')" "$mbedtls"
python3 "$mbedtls/scripts/config.py" -f "$mbedtls/include/mbedtls/config.h" set MBEDTLS_THREADING_C
python3 "$mbedtls/scripts/config.py" -f "$mbedtls/include/mbedtls/config.h" set MBEDTLS_THREADING_ALT
python3 "$mbedtls/scripts/config.py" -f "$mbedtls/include/mbedtls/config.h" unset MBEDTLS_THREADING_PTHREAD
cp "$repo/src/native/win32/threading_alt.h" "$mbedtls/include/mbedtls/threading_alt.h"
cmake -S "$mbedtls" -B "$deps/build/mbedtls" "${common[@]}" -DUSE_STATIC_MBEDTLS_LIBRARY=ON \
  -DUSE_SHARED_MBEDTLS_LIBRARY=OFF -DENABLE_PROGRAMS=OFF -DENABLE_TESTING=OFF \
  -DMBEDTLS_FATAL_WARNINGS=OFF >/dev/null
cmake --build "$deps/build/mbedtls" -j2
cmake --install "$deps/build/mbedtls" >/dev/null
install -m644 "$mbedtls/include/mbedtls/threading_alt.h" "$prefix/include/mbedtls/"

# --- PCRE ----------------------------------------------------------------------------
cmake -S "$(source_dir 'pcre3-*')" -B "$deps/build/pcre" "${common[@]}" -DBUILD_SHARED_LIBS=OFF \
  -DPCRE_BUILD_PCRECPP=OFF -DPCRE_BUILD_PCREGREP=OFF -DPCRE_BUILD_TESTS=OFF \
  -DPCRE_SUPPORT_UTF=ON -DPCRE_SUPPORT_UNICODE_PROPERTIES=ON -DPCRE_SUPPORT_JIT=ON \
  -DPCRE_SHOW_REPORT=OFF >/dev/null
cmake --build "$deps/build/pcre" -j2
cmake --install "$deps/build/pcre" >/dev/null

# --- GoogleTest (for the Windows test programs) --------------------------------------
if [ "$gtest" = yes ]; then
  cmake -S /usr/src/googletest -B "$deps/build/googletest" "${common[@]}" -DBUILD_GMOCK=OFF \
    -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$deps/build/googletest" -j2
  cmake --install "$deps/build/googletest" >/dev/null
fi

# The libraries of the configured threading option, checked where it matters.
grep -q '^#define MBEDTLS_THREADING_ALT' "$prefix/include/mbedtls/config.h"
! grep -q '^#define MBEDTLS_THREADING_PTHREAD' "$prefix/include/mbedtls/config.h"
echo "$wanted" >"$stamp"
echo "Windows libraries built into $prefix"

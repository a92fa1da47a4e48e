#!/usr/bin/env bash
# One source, the same bytes: each artefact named is built twice, from two fresh copies of
# the source tree at different paths, one after the other, in another time zone, locale
# and umask. The two must be identical; otherwise diffoscope's report of what differs is
# printed and the check fails.
#
#   tests/package/check-repro.sh [binary] [zip] [deb] [tarball]
#     binary  build/streamlaunch, configured as `make` does (only the program is built)
#     zip     `make windows-dist`'s zip, against the Windows libraries in WINDOWS_DEPS
#             (default build-windows-deps), which both copies share rather than build
#             them twice; windows/build-deps.sh keeps their own build paths out of them
#     deb     `make deb`'s package
#     tarball `make dist`'s source tarball, from two clones of the last commit; it is then
#             unpacked elsewhere, where its program must build and tell its version
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
deps=$(realpath -m "${WINDOWS_DEPS:-$repo/build-windows-deps}")
for what in "$@"; do
  case $what in binary | zip | deb | tarball) ;; *) echo "usage: check-repro.sh [binary] [zip] [deb] [tarball]"; exit 2 ;; esac
done
# Every date comes from the sources (debian/changelog), never from the caller, and each
# make is one of its own rather than a sub-make of whatever runs this.
unset SOURCE_DATE_EPOCH MAKEFLAGS MFLAGS MAKELEVEL
work=$(mktemp -d "${TMPDIR:-/tmp}/streamlaunch-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT

copy() {  # copy WHAT DIR: the source tree without its builds; for the tarball a clone
  if [ "$1" = tarball ]; then
    git clone -q "$repo" "$2" && git -C "$2" checkout -q --detach "$(git -C "$repo" rev-parse HEAD)"
  else
    mkdir -p "$2"
    tar -C "$repo" -c --exclude=./.git --exclude=./.cache --exclude=./build --exclude='./build-*' . | tar -x -C "$2"
  fi
}

make_artefact() {  # make_artefact WHAT DIR: its make's output to DIR.log, its path on standard output
  local what=$1 dir=$2
  case $what in
    binary) { make -C "$dir" build/build.ninja && cmake --build "$dir/build" -j2 --target streamlaunch; } \
              >"$dir.log" 2>&1 && ls "$dir/build/streamlaunch" ;;
    zip) make -C "$dir" windows-dist WINDOWS_DEPS="$deps" >"$dir.log" 2>&1 &&
         ls "$dir"/build-windows/streamlaunch-*-windows.zip ;;
    deb) make -C "$dir" deb >"$dir.log" 2>&1 && ls "$dir"/build/streamlaunch_*.deb ;;
    tarball) make -C "$dir" dist >"$dir.log" 2>&1 && ls "$dir"/build/streamlaunch-*.tar.gz ;;
  esac
}

from_tarball() {  # from_tarball TARBALL: unpacked, it builds a program of its version
  local name program
  name=$(basename "$1" .tar.gz)
  { mkdir -p "$work/unpacked" && tar -xzf "$1" -C "$work/unpacked"; } || { echo "FAIL: $name does not unpack"; return 1; }
  program=$(make_artefact binary "$work/unpacked/$name") || { tail -n 40 "$work/unpacked/$name.log"; echo "FAIL: $name does not build"; return 1; }
  [ "$("$program" --version | head -n 1)" = "streamlaunch ${name#streamlaunch-}" ] ||
    { echo "FAIL: the program built from $name says $("$program" --version | head -n 1)"; return 1; }
  echo "tarball: unpacks into $name/, whose program builds and says streamlaunch ${name#streamlaunch-}"
}

failures=0
for what in "$@"; do
  start=$SECONDS
  first=$work/$what/first/streamlaunch
  second=$work/$what/second-copy/at/a/deeper/path/streamlaunch
  copy "$what" "$first" && copy "$what" "$second"
  a=$(umask 022; TZ=UTC LC_ALL=C.UTF-8 make_artefact "$what" "$first")
  sleep 1  # the second build starts at a later second, however fast the first one was
  b=$(umask 002; TZ=XYZ-13 LC_ALL=C make_artefact "$what" "$second")
  if [ ! -f "$a" ] || [ ! -f "$b" ]; then
    tail -n 40 "$first.log" "$second.log"
    echo "FAIL: $what: a build made no artefact"
    failures=$((failures + 1))
  elif cmp -s "$a" "$b"; then
    echo "$what: identical across two builds ($(basename "$a"), $(stat -c %s "$a") bytes, $((SECONDS - start)) s)"
    [ "$what" = tarball ] && ! from_tarball "$a" && failures=$((failures + 1))
  else
    diffoscope --text - --max-text-report-size 262144 "$a" "$b"
    echo "FAIL: $what: two builds differ (diffoscope's report above; $((SECONDS - start)) s)"
    failures=$((failures + 1))
  fi
  rm -rf "${work:?}/$what"
done
[ "$failures" = 0 ]

#!/usr/bin/env bash
# The Debian package as a user meets it: installed with apt, run (its version, its manual,
# the direct-address road through the packaged youtube-dl link on a loopback page), then
# purged, after which nothing of it may be left. What apt brought in with it is purged
# too, also when a step fails, so that the machine keeps the packages it had.
#
#   tests/package/check-deb.sh build/streamlaunch_<version>_<arch>.deb   (as root)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
deb=$(realpath "${1:?usage: check-deb.sh PACKAGE.deb}")
version=$(dpkg-deb -f "$deb" Version)
export DEBIAN_FRONTEND=noninteractive

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check NAME EXPECTED ACTUAL
  [ "$2" == "$3" ] || fail "$1: expected $(printf %q "$2"), got $(printf %q "$3")"
}
packages() { dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' | awk '$1 != "un" { print $2 }' | sort; }

case $(dpkg-query -W -f='${db:Status-Abbrev}' streamlaunch 2>/dev/null) in
  "" | un*) ;;
  *) echo "FAIL: streamlaunch is already on this machine; the check would not leave it as found"; exit 1 ;;
esac
work=$(mktemp -d)
before=$work/packages-before
packages >"$before"
server=
restore() {
  [ -z "$server" ] || kill "$server" 2>/dev/null
  local added
  added=$(packages | comm -13 "$before" -)
  # shellcheck disable=SC2086
  [ -z "$added" ] || apt-get purge -y -q $added >/dev/null || fail "apt-get purge of $added failed"
  packages | cmp -s "$before" - || fail "the installed packages differ from before the check"
  rm -rf "$work"
  [ "$failures" = 0 ] || exit 1
}
trap restore EXIT

echo "== apt-get install $deb"
apt-get install -y -q --no-install-recommends "$deb" >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get install failed"; exit 1; }

check "--version" "streamlaunch $version"$'\n'"License: MIT" "$(timeout 10 streamlaunch --version)"
check "man -w" /usr/share/man/man1/streamlaunch.1.gz "$(man -w streamlaunch 2>&1)"
check "the manual's version" 1 "$(zgrep -c "\"streamlaunch $version\"" /usr/share/man/man1/streamlaunch.1.gz)"
check "youtube-dl beside the program" /usr/bin/yt-dlp "$(readlink -f /usr/lib/streamlaunch/youtube-dl)"

# The direct-address road: the packaged link runs Debian's yt-dlp on a page served on
# loopback, and the player gets the clip's address.
mkdir -p "$work/page" "$work/home"
ffmpeg -loglevel error -nostdin -f lavfi -i testsrc=duration=1:size=160x120:rate=10 -pix_fmt yuv420p \
  -movflags +faststart "$work/page/clip.mp4" || fail "ffmpeg made no clip"
printf '<!doctype html>\n<video src="clip.mp4"></video>\n' >"$work/page/index.html"
printf '#!/bin/sh\nprintf %%s "$*" > "%s"\n' "$work/played.tmp" >"$work/player"
printf 'mv "%s" "%s"\n' "$work/played.tmp" "$work/played" >>"$work/player"
chmod +x "$work/player"
coproc SERVE { exec python3 "$here/../support/serve_dir.py" "$work/page" 2>/dev/null; }
server=$SERVE_PID
read -r -t 10 port <&"${SERVE[0]}" || fail "the page's server did not start within 10 s"
page=http://127.0.0.1:${port:-0}/index.html
out=$(HOME=$work/home XDG_CACHE_HOME=$work/home/cache timeout 60 streamlaunch "$page" best --player "$work/player" 2>"$work/err")
check "direct road: status" 0 "$?"
check "direct road: output" "" "$out"
for _ in $(seq 100); do [ -f "$work/played" ] && break; sleep 0.1; done
check "direct road: player argument" "http://127.0.0.1:$port/clip.mp4" "$(cat "$work/played" 2>/dev/null)"
[ "$failures" = 0 ] || cat "$work/err"

echo "== apt-get purge streamlaunch"
apt-get purge -y -q streamlaunch >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge failed"; }
check "package state after purge" "" "$(dpkg-query -W -f='${db:Status-Abbrev}' streamlaunch 2>/dev/null | grep -v '^un')"
# Every file and link the package held, and its own folders.
while read -r path; do
  if [ -e "$path" ] || [ -L "$path" ]; then fail "left after purge: $path"; fi
done < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -n 's|^\./|/|; /[^/]$/p'; echo /usr/lib/streamlaunch; echo /usr/share/doc/streamlaunch)

echo "Package check: $failures failures"
[ "$failures" = 0 ]

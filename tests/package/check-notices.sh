#!/usr/bin/env bash
# THIRD-PARTY-NOTICES held to what is built. Each part of it names its source on a line
# "Debian source: SOURCE VERSION (of PACKAGE)" and the archives that bring it into the
# Windows program on lines "Archives: NAME.a ...".
#
#   check-notices.sh versions PACKAGE...   the Debian source and version each installed
#                                          PACKAGE comes from are those its part names
#   check-notices.sh fetched "SRC=VER ..." the sources windows/build-deps.sh fetches are
#                                          of the versions named
#   check-notices.sh archives MAP          every archive the linker map takes members
#                                          from is on a part's Archives line
# NOTICES names another notices file (default: the tree's THIRD-PARTY-NOTICES; the zip's
# THIRD-PARTY-NOTICES.txt serves as well).
set -uo pipefail
notices=${NOTICES:-$(cd "$(dirname "$0")/../.." && pwd)/THIRD-PARTY-NOTICES}
text=$(tr -d '\r' <"$notices") || exit 1  # the zip's copy has CR LF line ends
mode=${1:-}
shift || true

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
named() {  # named SOURCE: the versions the notices name for SOURCE, one a line
  sed -n "s/^Debian source: $1 \([^ ]*\) .*/\1/p" <<<"$text" | sort -u
}
hold() {  # hold SOURCE VERSION WHAT-HAS-IT
  local names
  names=$(named "$1")
  [ -n "$names" ] || { fail "THIRD-PARTY-NOTICES has no part for the Debian source $1, which $3"; return; }
  [ "$names" = "$2" ] || fail "THIRD-PARTY-NOTICES names $1 ${names//$'\n'/ }, but $3 $1 $2:" \
    "update that part: its 'Debian source:' line to $1 $2, its licence text to that version's" \
    "(/usr/share/doc/<package>/copyright)"
}

case $mode in
  versions)
    for package in "$@"; do
      source=$(dpkg-query -W -f='${source:Package} ${source:Version}' "$package" 2>/dev/null) ||
        { fail "$package is not installed"; continue; }
      hold "${source% *}" "${source#* }" "the installed $package comes from"
    done ;;
  fetched)
    for pair in $1; do hold "${pair%%=*}" "${pair#*=}" "windows/build-deps.sh fetches"; done ;;
  archives)
    map=${1:?usage: check-notices.sh archives MAP}
    # The map's first section lists each archive member taken in, as "path/libX.a(member)".
    taken=$(sed -n '/^Archive member included/,/^Discarded input sections/p' "$map" |
            sed -n 's|^\([^ (]*/\)\{0,1\}\([^/ (]*\.a\)(.*|\2|p' | sort -u)
    [ -n "$taken" ] || fail "$map names no archive: is it a linker map?"
    listed=$(sed -n 's/^Archives: //p' <<<"$text" | tr ' ' '\n' | sort -u)
    for archive in $taken; do
      grep -qxF "$archive" <<<"$listed" ||
        fail "the Windows program takes in $archive, which no part of THIRD-PARTY-NOTICES lists:" \
          "add it to the part of its source, with that source's notice or why none is owed"
    done
    [ "$failures" != 0 ] || echo "Notices cover the $(wc -w <<<"$taken") archives of the link: $(tr '\n' ' ' <<<"$taken")" ;;
  *) echo "usage: check-notices.sh versions PACKAGE... | fetched 'SRC=VER ...' | archives MAP"; exit 2 ;;
esac
[ "$failures" = 0 ]

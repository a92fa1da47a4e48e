#!/usr/bin/env bash
# Times the launcher's whole run on the "NO ARGUMENTS." road and on the direct-address
# road (fake youtube-dl that prints an address, no-op player), beside the fake youtube-dl
# alone and the floor: a C program that starts two children with posix_spawn.
#
#   bench/launch.sh build/streamlaunch [markdown-output]
set -euo pipefail
launcher=$(realpath "${1:?usage: bench/launch.sh <streamlaunch> [markdown-output]}")
out=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cc -O2 -o "$work/youtube-dl" "$here/fake_youtube_dl.c"
cc -O2 -o "$work/noop" "$here/noop.c"
cc -O2 -o "$work/spawn_floor" "$here/spawn_floor.c"
cp "$launcher" "$work/streamlaunch"

cd "$work"
hyperfine -N --warmup 50 --runs "${RUNS:-1000}" ${out:+--export-markdown "$out"} \
  -n 'floor: two posix_spawn starts' "./spawn_floor ./noop" \
  -n 'fake youtube-dl alone' "./youtube-dl" \
  -n 'launcher: NO ARGUMENTS.' "./streamlaunch" \
  -n 'launcher: direct address road' "./streamlaunch http://x/v best --player ./noop"

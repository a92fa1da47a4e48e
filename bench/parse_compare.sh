#!/usr/bin/env bash
# Two builds of parse_bench side by side: for each row, ROUNDS alternating runs of the old
# and the new binary (so that load on the machine falls on both alike), then the median
# MB/s of each and the change. Peak memory per input byte from each build's parse_memory.
#
#   bench/parse_compare.sh old-build/bench/parse_bench build-bench/bench/parse_bench
#   ROUNDS=10 ROWS='Json_Ours/json_5MB' bench/parse_compare.sh ...
set -euo pipefail
old=${1:?usage: bench/parse_compare.sh <old parse_bench> <new parse_bench>}
new=${2:?usage: bench/parse_compare.sh <old parse_bench> <new parse_bench>}
rows=${ROWS:-Json_Ours/channel_status Json_Ours/json_5MB Xml_Ours/embed_fragment Xml_Ours/xml_5MB}
# As in parse.sh: freed memory stays with the process, so that page faults do not decide.
tunables=glibc.malloc.mmap_threshold=1073741824:glibc.malloc.trim_threshold=1073741824

speed() {
  GLIBC_TUNABLES=$tunables "$1" --benchmark_min_time="${MIN_TIME:-0.5}" --benchmark_format=csv \
    --benchmark_filter="^$2\$" 2>/dev/null | awk -F, -v row="\"$2\"" '$1 == row { print $6 / 1e6 }'
}
runs=$(mktemp -d)
trap 'rm -rf "$runs"' EXIT
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

echo "| row | old MB/s | new MB/s | change | old bytes/byte | new bytes/byte |"
echo "|---|---:|---:|---:|---:|---:|"
for row in $rows; do
  : >"$runs/old"; : >"$runs/new"
  for _ in $(seq "${ROUNDS:-5}"); do
    speed "$old" "$row" >>"$runs/old"
    speed "$new" "$row" >>"$runs/new"
  done
  o=$(median <"$runs/old"); n=$(median <"$runs/new")
  om=$("$(dirname "$old")/parse_memory" "$row" | awk '{ print $5 }')
  nm=$("$(dirname "$new")/parse_memory" "$row" | awk '{ print $5 }')
  printf '| %s | %.0f | %.0f | %+.1f %% | %s | %s |\n' "$row" "$o" "$n" "$(echo "$n $o" | awk '{ print ($1 / $2 - 1) * 100 }')" "$om" "$nm"
done

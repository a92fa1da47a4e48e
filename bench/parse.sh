#!/usr/bin/env bash
# Parser throughput and peak memory beside the peer libraries, each row in a process of its
# own; prints one markdown table per document (progress goes to standard error).
#
#   bench/parse.sh build-bench/bench/parse_bench     # parse_memory is taken from beside it
#   MIN_TIME=0.1 bench/parse.sh ...                  # shorter rows, for a quick check
set -euo pipefail
bench=${1:?usage: bench/parse.sh <parse_bench>}
memory=$(dirname "$bench")/parse_memory
results=$(mktemp)
trap 'rm -f "$results"' EXIT

# For the throughput rows glibc is told to keep freed memory instead of handing it back to
# the system: on these virtual machines a page fault costs more than parsing the page, so
# without this each row would mostly measure how often its allocator returns memory and
# faults it in again (and one row's heap would change the next one's). With it the parsers
# themselves are compared. The memory rows run with glibc's defaults, as any program would.
tunables=glibc.malloc.mmap_threshold=1073741824:glibc.malloc.trim_threshold=1073741824

for row in $("$bench" --benchmark_list_tests); do
  # The median of five runs: single runs of the allocation-heavy peers vary by a quarter
  # from run to run here.
  speed=$(GLIBC_TUNABLES=$tunables "$bench" --benchmark_min_time="${MIN_TIME:-1}" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true --benchmark_format=csv --benchmark_filter="^$row\$" 2>/dev/null |
    awk -F, -v median="\"${row}_median\"" '$1 == median { print $6 / 1e6 }')
  read -r _ bytes copies _ perbyte < <("$memory" "$row")
  [[ -n $speed && -n $perbyte ]] || { echo "parse.sh: no result for $row" >&2; exit 1; }
  printf '%-42s %10.1f MB/s %8.2f bytes per input byte\n' "$row" "$speed" "$perbyte" >&2
  echo "$row $bytes $copies $speed $perbyte" >>"$results"
done

# Rows come parser by parser, ours first; the tables go document by document.
awk '
  {
    split($1, name, "/"); doc = name[2]
    if (!(doc in rows)) { order[++docs] = doc; bytes[doc] = $2; copies[doc] = $3 }
    if (name[1] ~ /_Ours$/) { ourSpeed[doc] = $4; ourMemory[doc] = $5 }
    line[doc, ++rows[doc]] = name[1] " " $4 " " $5
  }
  function speed(v) { return sprintf(v >= 100 ? "%.0f" : "%.1f", v) }
  END {
    for (d = 1; d <= docs; ++d) {
      doc = order[d]
      printf "%s### %s: %d bytes", (d > 1 ? "\n" : ""), doc, bytes[doc]
      if (copies[doc] > 1) printf " (memory: %d trees kept at once)", copies[doc]
      print "\n\n| parser | MB/s | MB/s ÷ ours | peak bytes per input byte | ÷ ours |"
      print "|---|---:|---:|---:|---:|"
      for (r = 1; r <= rows[doc]; ++r) {
        split(line[doc, r], f, " ")
        printf "| %s | %s | %.2f | %.2f | %.2f |\n", f[1], speed(f[2]), f[2] / ourSpeed[doc], f[3], f[3] / ourMemory[doc]
      }
    }
  }' "$results"

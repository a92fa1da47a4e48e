#!/usr/bin/env bash
# Parser throughput beside the peer libraries, each row in a process of its own.
#
#   bench/parse.sh build-bench/bench/parse_bench
#
# glibc is told to keep freed memory instead of handing it back to the system: on these
# virtual machines a page fault costs more than parsing the page, so without this each
# row would mostly measure how often its allocator returns memory and faults it in again
# (and one row's heap would change the next one's). With it the parsers themselves are
# compared.
set -euo pipefail
bench=${1:?usage: bench/parse.sh <parse_bench>}
export GLIBC_TUNABLES=glibc.malloc.mmap_threshold=1073741824:glibc.malloc.trim_threshold=1073741824
# The median of five runs of each row: single runs of the allocation-heavy peers vary by
# a quarter from run to run here.
rows=$("$bench" --benchmark_list_tests | sed 's|/.*||' | uniq)
for row in $rows; do
  "$bench" --benchmark_min_time="${MIN_TIME:-1}" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_filter="^$row/" 2>/dev/null | grep -E "^$row/.*_median"
done

#!/usr/bin/env bash
# HTTP client latency and throughput beside libcurl and the floors, against a local nginx
# that the program starts itself.
#
#   bench/http.sh build-bench/bench/http_bench
#
# Five runs of every row, interleaved at random so that a burst of load elsewhere on the
# machine does not land on one row alone; each figure is the median of the five.
set -euo pipefail
bench=${1:?usage: bench/http.sh <http_bench>}
"$bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true | grep -E '_median ' | sort

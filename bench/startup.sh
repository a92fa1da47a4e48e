#!/usr/bin/env bash
# What loading PCRE and mbedTLS as shared libraries costs one run of the launcher: the
# build's own objects linked once against their static archives (as the build links them)
# and once against the shared libraries, both timed on the shortest road (no youtube-dl
# beside the program: one line, exit).
#
#   bench/startup.sh build [markdown-output]
set -euo pipefail
build=$(realpath "${1:?usage: bench/startup.sh <build-dir> [markdown-output]}")
out=${2:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

objects=("$build/src/CMakeFiles/streamlaunch.dir/launcher/entry.cpp.o" "$build/src/libstreamlaunch_core.a")
runtime=(-static-libstdc++ -static-libgcc)
c++ -o "$work/static" "${objects[@]}" -l:libpcre.a -l:libmbedtls.a -l:libmbedx509.a -l:libmbedcrypto.a "${runtime[@]}"
c++ -o "$work/shared" "${objects[@]}" -lpcre -lmbedtls -lmbedx509 -lmbedcrypto "${runtime[@]}"

cd "$work"
for variant in shared static; do
    echo "$variant: $(LD_DEBUG=statistics ./$variant 2>&1 | grep -m1 'final number of relocations:' | sed 's/.*: *//') symbol relocations at start"
done
hyperfine -N --warmup 200 --runs "${RUNS:-3000}" ${out:+--export-markdown "$out"} \
  -n 'PCRE and mbedTLS shared' ./shared \
  -n 'PCRE and mbedTLS static (the build)' ./static

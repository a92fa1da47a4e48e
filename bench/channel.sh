#!/usr/bin/env bash
# The whole channel road (start, status request, JSON, XML, player start with a no-op
# player) beside what a user would otherwise run to get the same playlist to a player:
# streamlink and yt-dlp, all on the same local stand-in of the service, inside private
# namespaces where its host names lead there (tests/support/in_namespace.sh). The
# launcher's two youtube-dl roads, with Debian's yt-dlp beside it, run on the same playlist.
# Wall time by hyperfine (median), peak memory by GNU time (largest of 5 runs).
#
#   bench/channel.sh build/streamlaunch [markdown-output]
set -euo pipefail

if [ "${1:-}" = --inside ]; then
    cd "$2"
    out=$3
    export HOME=$PWD/home XDG_CACHE_HOME=$PWD/home/cache
    playlist=http://hls.goodgame.ru/hls/bench_720.m3u8
    names=('streamlaunch: channel road' 'streamlink' 'yt-dlp -g'
           'streamlaunch: direct address road (yt-dlp)' 'streamlaunch: format list road (yt-dlp)')
    commands=("./channel/streamlaunch http://goodgame.ru/channel/Miker 720 --player ./noop"
              "streamlink --player-passthrough hls --player ./noop hls://$playlist best"
              "yt-dlp -g $playlist"
              "./youtube-dl-road/streamlaunch $playlist best --player ./noop"
              "./youtube-dl-road/streamlaunch $playlist --player ./noop")
    args=()
    for i in "${!names[@]}"; do args+=(-n "${names[$i]}" "${commands[$i]}"); done
    hyperfine -N --warmup 3 --min-runs "${RUNS:-20}" --export-json times.json "${args[@]}"
    for i in "${!names[@]}"; do
        for _ in 1 2 3 4 5; do
            # shellcheck disable=SC2086
            /usr/bin/time -f %M -a -o "rss.$i" ${commands[$i]} > /dev/null 2>&1
        done
    done
    python3 - "$out" "${#names[@]}" <<'EOF'
import json, sys
results = json.load(open("times.json"))["results"]
rss = [max(int(l) for l in open(f"rss.{i}") if l.strip().isdigit()) for i in range(int(sys.argv[2]))]
base_time, base_rss = results[0]["median"], rss[0]
rows = ["| Command | Median [ms] | Mean ± σ [ms] | Runs | Max RSS [MB] | Time ÷ channel road | RSS ÷ channel road |",
        "|:---|---:|---:|---:|---:|---:|---:|"]
for r, m in zip(results, rss):
    rows.append(f"| `{r['command']}` | {r['median'] * 1e3:.1f} | {r['mean'] * 1e3:.1f} ± {r['stddev'] * 1e3:.1f} "
                f"| {len(r['times'])} | {m / 1024:.1f} | {r['median'] / base_time:.3g} | {m / base_rss:.3g} |")
table = "\n".join(rows) + "\n"
print(table)
if sys.argv[1]:
    open(sys.argv[1], "w").write(table)
EOF
    exit 0
fi

launcher=$(realpath "${1:?usage: bench/channel.sh <streamlaunch> [markdown-output]}")
out=${2:+$(realpath "$2")}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/channel" "$work/youtube-dl-road" "$work/www/hls" "$work/home"
cc -O2 -o "$work/noop" "$here/noop.c"
# The channel road never runs youtube-dl, but the launcher checks that one lies beside it.
cc -O2 -o "$work/channel/youtube-dl" "$here/fake_youtube_dl.c"
cp "$launcher" "$work/channel/streamlaunch"
cp "$launcher" "$work/youtube-dl-road/streamlaunch"
ln -s "$(command -v yt-dlp)" "$work/youtube-dl-road/youtube-dl"

ffmpeg -loglevel error -nostdin -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine -t 10 \
    -pix_fmt yuv420p -c:v libx264 -preset ultrafast -c:a aac -f hls -hls_time 2 -hls_list_size 0 \
    -hls_segment_filename "$work/www/hls/bench_720_%d.ts" "$work/www/hls/bench_720.m3u8"
cat > "$work/answer.json" <<'EOF'
{"Miker":{"stream_id":"bench","key":"Miker","premium":"true","status":"Live","viewers":"1",
 "embed":"<iframe frameborder=\"0\" width=\"100%\" height=\"100%\" src=\"https://goodgame.ru/player?bench\"></iframe>"}}
EOF

LINGER=1 "$here/../tests/support/in_namespace.sh" --answer "$work/answer.json" --hls "$work/www" -- \
    "$0" --inside "$work" "$out"

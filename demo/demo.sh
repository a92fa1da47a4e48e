#!/usr/bin/env bash
# Shows both roads of the launcher on this machine alone, with mpv as the player:
#  1. a GoodGame channel: in private namespaces where goodgame.ru and hls.goodgame.ru lead
#     to a local stand-in of the service, which serves a live-like HLS stream that ffmpeg
#     makes on the spot;
#  2. youtube-dl (Debian's yt-dlp) on a local web page holding a video.
# With a display mpv opens a window (closing it moves on); without one it plays headless
# for DEMO_SECONDS (default 6) and the demo prints what it played. Everything started
# here, the launcher's players included, is stopped at the end, on a failure and on Ctrl-C.
#
#   demo/demo.sh build/streamlaunch
set -euo pipefail

if [ "${1:-}" = --play ]; then
    # One launcher run, then a look at the mpv it started (called again, in a process group
    # of its own and maybe inside the namespaces, with the settings exported below).
    shift
    status=0
    "$@" || status=$?
    echo "  launcher exit status: $status"
    [ "$status" = 0 ] || exit "$status"
    socket=$DEMO_WORK/mpv.sock
    ask() { "$DEMO_PYTHON" "$DEMO_ROOT/demo/mpv_ipc.py" "$socket" "$@" 2>/dev/null; }
    # mpv answers between its own steps only: while it opens a window it probes the video
    # outputs and stays silent for a second or more (past the 2 s of one question on a
    # busy machine). So a question is asked again until a bound, not once, or until the
    # mpv that was found has gone.
    ask_until() {
        local deadline=$((SECONDS + DEMO_START_SECONDS))
        until ask "$@"; do
            [ $SECONDS -lt $deadline ] || return 1
            [ -z "${pid:-}" ] || kill -0 "$pid" 2>/dev/null || return 1
            sleep 0.2
        done
    }
    if ! pid=$(ask_until get pid); then
        echo "  mpv did not answer within ${DEMO_START_SECONDS} s"
        exit 1
    fi
    echo "  mpv plays: $(ask_until get path)"
    if [ -n "$DEMO_DISPLAY" ]; then
        echo "  (close the mpv window to go on; it closes by itself after ${DEMO_WINDOW_SECONDS}s)"
        for _ in $(seq $((DEMO_WINDOW_SECONDS * 10))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    else
        sleep "$DEMO_SECONDS"
    fi
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "  mpv has been closed"
    else
        position=$(ask_until get time-pos) && echo "  playback position reached: ${position} s"
        ask_until quit || true
    fi
    for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$socket"
    exit 0
fi

launcher=$(realpath "${1:?usage: demo/demo.sh <streamlaunch>}")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
children=()  # this script's own background jobs
roads=()     # process groups: one launcher run each, with all it started
# Processes still running (zombies aside) among the children and in the roads' groups.
left() {
    local stat line rest state pgid
    for stat in /proc/[0-9]*/stat; do
        read -r line 2>/dev/null < "$stat" || continue
        rest=${line##*) }
        state=${rest%% *}
        rest=${rest#* }
        rest=${rest#* }
        pgid=${rest%% *}
        [ "$state" != Z ] || continue
        case " ${children[*]} " in *" ${line%% *} "*) echo "${line%% *}"; continue ;; esac
        case " ${roads[*]} " in *" $pgid "*) echo "${line%% *}" ;; esac
    done
}
stop() {
    local pid
    for pid in "${roads[@]}"; do kill -TERM -- "-$pid" 2>/dev/null || true; done
    for pid in "${children[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
    for _ in $(seq 30); do [ -n "$(left)" ] || break; sleep 0.1; done
    for pid in $(left); do kill -KILL "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT
trap 'echo; echo "Stopped."; exit 130' INT TERM

# Runs a road in a process group of its own, so that what the launcher started (youtube-dl,
# mpv) is stopped with it even when mpv never answered; in the background, so that Ctrl-C
# (which reaches this script's group only) is taken at once.
road() {
    setsid "$@" &
    roads+=($!)
    wait $!
}

export DEMO_WORK=$work DEMO_ROOT=$root DEMO_SECONDS=${DEMO_SECONDS:-6} DEMO_WINDOW_SECONDS=${DEMO_WINDOW_SECONDS:-60}
export DEMO_START_SECONDS=${DEMO_START_SECONDS:-30}
export DEMO_DISPLAY=${DISPLAY:-${WAYLAND_DISPLAY:-}}
DEMO_PYTHON=$(command -v /usr/bin/python3 || command -v python3)
export DEMO_PYTHON

# The launcher as a user lays it out: youtube-dl beside it.
mkdir -p "$work/bin" "$work/www/hls" "$work/page" "$work/mpv" "$work/home"
cp "$launcher" "$work/bin/streamlaunch"
ln -s "$(command -v youtube-dl || command -v yt-dlp)" "$work/bin/youtube-dl"

# mpv's settings for the demo only: its IPC socket, and no window without a display. The
# display's key stays where X clients look for it without the demo's HOME.
if [ -z "${XAUTHORITY:-}" ] && [ -f "${HOME:-}/.Xauthority" ]; then export XAUTHORITY=$HOME/.Xauthority; fi
export MPV_HOME=$work/mpv HOME=$work/home XDG_CACHE_HOME=$work/home/cache
{
    echo "ytdl=no"
    echo "input-ipc-server=$work/mpv.sock"
    [ -n "$DEMO_DISPLAY" ] || printf 'vo=null\nao=null\n'
} > "$work/mpv/mpv.conf"

echo "== Channel road: streamlaunch https://goodgame.ru/channel/Miker 720 --player mpv"
echo "   making a live-like HLS stream with ffmpeg..."
ffmpeg -loglevel error -nostdin -re -f lavfi -i testsrc=size=640x360:rate=25 \
    -f lavfi -i sine=frequency=440:beep_factor=4 -t 600 -pix_fmt yuv420p \
    -c:v libx264 -preset ultrafast -g 50 -c:a aac -f hls -hls_time 2 -hls_list_size 5 \
    -hls_flags delete_segments -hls_segment_filename "$work/www/hls/demo_720_%05d.ts" \
    "$work/www/hls/demo_720.m3u8" &
children+=($!)
segments=0
for _ in $(seq 200); do
    segments=$(grep -c '\.ts$' "$work/www/hls/demo_720.m3u8" 2>/dev/null || true)
    [ "${segments:-0}" -ge 2 ] && break
    sleep 0.1
done
if [ "${segments:-0}" -lt 2 ]; then
    echo "   ffmpeg made no stream within 20 s" >&2
    exit 1
fi
cat > "$work/answer.json" <<'EOF'
{"Miker":{"stream_id":"demo","key":"Miker","premium":"true","status":"Live","viewers":"1",
 "embed":"<iframe frameborder=\"0\" width=\"100%\" height=\"100%\" src=\"https://goodgame.ru/player?demo\"></iframe>"}}
EOF
status=0
road env LINGER=0 "$root/tests/support/in_namespace.sh" --answer "$work/answer.json" --hls "$work/www" -- \
    "$0" --play "$work/bin/streamlaunch" https://goodgame.ru/channel/Miker 720 --player mpv || status=$?
if [ "$status" = 77 ]; then
    echo "   skipped: this machine gives no private namespaces (see the line above)"
elif [ "$status" != 0 ]; then
    exit "$status"
fi
kill "${children[0]}" 2>/dev/null || true

echo
echo "== youtube-dl road on a local page"
# The page's server takes no range requests, so the clip's index must come first.
ffmpeg -loglevel error -nostdin -f lavfi -i testsrc=size=640x360:rate=25 -f lavfi -i sine=frequency=330 \
    -t 60 -pix_fmt yuv420p -c:v libx264 -preset ultrafast -c:a aac -movflags +faststart "$work/page/clip.mp4"
printf '<!doctype html>\n<title>Demo clip</title>\n<video controls src="clip.mp4"></video>\n' > "$work/page/index.html"
coproc server { exec "$DEMO_PYTHON" "$root/tests/support/serve_dir.py" "$work/page" 2>/dev/null; }
children+=("$server_PID")
read -r -t 10 port <&"${server[0]}"
page=http://127.0.0.1:$port/index.html
echo "-- streamlaunch $page --player mpv   (format list)"
"$work/bin/streamlaunch" "$page" --player mpv
echo "-- streamlaunch $page best --player mpv"
road "$0" --play "$work/bin/streamlaunch" "$page" best --player mpv
echo
echo "Demo done."

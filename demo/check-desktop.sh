#!/usr/bin/env bash
# `make demo` on a virtual X desktop (Xvfb), with mpv's own video output in a window:
#  1. a whole run: a screenshot while each road plays must show ffmpeg's test pattern in
#     the middle of the screen, where mpv centres its window; the pictures stay in
#     PICTURES (channel.png, youtube-dl.png);
#  2. a run interrupted as Ctrl-C would, while the second road plays.
# After each, no process the demo started may be left (all carry a tag in their
# environment); any found is named, killed, and fails the check.
#
#   demo/check-desktop.sh BUILD_DIR PICTURES
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: check-desktop.sh BUILD_DIR PICTURES}
pictures=${2:?usage: check-desktop.sh BUILD_DIR PICTURES}
mkdir -p "$pictures"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# A display number nobody uses.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null' EXIT
for _ in $(seq 100); do [ -S "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -S "/tmp/.X11-unix/X$display" ] || { echo "FAIL: Xvfb did not start within 10 s"; exit 1; }
# Each road plays for 20 s: a loaded machine can take several seconds to show mpv's first
# picture after mpv has answered.
export DISPLAY=:$display DEMO_WINDOW_SECONDS=20

# Four of the test pattern's bars (80 columns wide) by the column of their middle, at row
# 60 of 360; the 640x360 window sits in the middle of the 1280x720 screen, at 320,180.
bars=("magenta 200 255,0,255" "blue 280 0,0,255" "yellow 360 255,255,0" "green 440 0,255,0")
shows_pattern() {  # shows_pattern PICTURE: silent when every bar has its colour
    local bar name x want got wanted c
    for bar in "${bars[@]}"; do
        read -r name x want <<<"$bar"
        # The mean of a 20x20 patch in the bar's middle, as 8-bit R G B.
        got=$(convert "$1" -crop "20x20+$((320 + x - 10))+$((180 + 60 - 10))" +repage -scale '1x1!' -depth 8 rgb:- |
              od -An -tu1 | xargs)
        IFS=, read -ra wanted <<<"$want"
        read -ra c <<<"$got"
        for i in 0 1 2; do
            if [ $(( ${c[i]:-999} - wanted[i] )) -gt 48 ] || [ $(( wanted[i] - ${c[i]:-999} )) -gt 48 ]; then
                echo "$name bar: $got, not $want"
                break
            fi
        done
    done
}
# Screenshots every half second, for up to 18 s, until one shows the pattern.
shoot() {  # shoot NAME
    local picture=$pictures/$1.png wrong
    for _ in $(seq 36); do
        import -window root "$picture" 2>/dev/null && wrong=$(shows_pattern "$picture") && [ -z "$wrong" ] && return
        sleep 0.5
    done
    fail "$1 road: the screen does not show the stream: ${wrong:-no screenshot}"
}

# Processes carrying the run's tag in their environment (only the demo's get it).
left() {  # left TAG
    local environ pid
    for environ in /proc/[0-9]*/environ; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        if tr '\0' '\n' 2>/dev/null <"$environ" | grep -qx "DEMO_CHECK_TAG=$1"; then echo "$pid"; fi
    done
}
check_nothing_left() {  # check_nothing_left TAG RUN
    local pids pid
    # The demo has ended; what it stopped may take a moment to go.
    for _ in $(seq 30); do pids=$(left "$1"); [ -z "$pids" ] && return; sleep 0.1; done
    for pid in $pids; do
        fail "$2: left running: $pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
        kill -KILL "$pid" 2>/dev/null
    done
}

# Runs `make demo` in a process group of its own, as a terminal runs a command; passes
# each line on and calls ON_LINE with it and the count of roads that have started to play.
run_demo() {  # run_demo TAG ON_LINE
    local line played=0
    exec 3< <(DEMO_CHECK_TAG=$1 exec setsid make --no-print-directory -C "$root" demo BUILD_DIR="$build" 2>&1)
    demo=$!
    while IFS= read -r -t 300 line <&3; do
        echo "  | $line"
        case $line in *"mpv plays: "*) played=$((played + 1)) ;; esac
        "$2" "$line" "$played"
    done
    exec 3<&-
    wait "$demo"
}

echo "== make demo on the virtual desktop :$display"
tag=whole-$$-$RANDOM
on_whole() {
    case $1 in *"mpv plays: "*)
        case $2 in 1) shoot channel ;; 2) shoot youtube-dl ;; esac ;;
    esac
}
start=$SECONDS
run_demo "$tag" on_whole
status=$?
echo "   took $((SECONDS - start)) s"
[ "$status" = 0 ] || fail "make demo ended with status $status"
for road in channel youtube-dl; do [ -f "$pictures/$road.png" ] || fail "$road road: never played"; done
check_nothing_left "$tag" "whole run"

echo "== make demo interrupted while the second road plays"
tag=interrupted-$$-$RANDOM
on_interrupted() {
    case $1 in *"mpv plays: "*) [ "$2" = 2 ] && kill -INT -- "-$demo" ;; esac
}
run_demo "$tag" on_interrupted
status=$?
[ "$status" != 0 ] || fail "the interrupted demo ended with status 0"
check_nothing_left "$tag" "interrupted run"

echo "Desktop check: $failures failures; pictures in $pictures"
[ "$failures" = 0 ]

#!/usr/bin/env bash
# Runs the Windows build's tests under Wine, headless:
#   - the test programs of tests/windows (GoogleTest), with openssl s_server as TLS peer;
#   - the launcher as a user runs it: streamlaunch.exe in a folder with a youtube-dl.exe
#     and a player.exe that record what they were given (tests/windows/recorder.cpp),
#     checked byte for byte (CR LF line ends), with the exit status the shell sees;
#   - the channel road in private namespaces where the service's host names lead to a
#     local stand-in (tests/support/in_namespace.sh), when such namespaces can be made;
#   - make windows-dist's zip unpacked in a fresh folder and run from there; its notices
#     cover every archive the link took in (BUILD_DIR/streamlaunch.map) and name the
#     mingw-w64 and GCC runtimes installed here.
#
# Usage: windows/run-tests.sh BUILD_DIR ZIP   (a configured and built Windows build, its zip
#        streamlaunch-<version>-windows.zip)
# One Wine prefix serves every run: BUILD_DIR-wine/prefix, made on the first run.
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: run-tests.sh BUILD_DIR ZIP}" && pwd)
zip=$(realpath "${2:?usage: run-tests.sh BUILD_DIR ZIP}")
tests=$build/tests/windows

export WINEPREFIX=$build-wine/prefix
export WINEDEBUG=-all
# No Mono or Gecko installers, and no debugger dump on standard output after a crash.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY
# Wine reads the command line of a Windows program in the locale's character set.
export LANG=C.UTF-8 LC_ALL=C.UTF-8

failures=0
checks=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() {  # check NAME EXPECTED ACTUAL
  checks=$((checks + 1))
  [ "$2" == "$3" ] || fail "$1: expected $(printf %q "$2"), got $(printf %q "$3")"
}

mkdir -p "$build-wine"
work=$(mktemp -d "$build-wine/run.XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  wineserver -k 2>/dev/null  # players and anything else left running in the prefix
  rm -rf "$work"
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Making the Wine prefix $WINEPREFIX (once)"
  mkdir -p "$WINEPREFIX"
  wine wineboot --init >/dev/null 2>&1
  wineserver -w
fi
# A running server and its services, so that no run waits for them to start or to end.
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
wait_for() {  # wait_for SECONDS COMMAND...: true once COMMAND succeeds
  local until=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -lt $until ] || return 1; sleep 0.05; done
}

# --- Test programs ------------------------------------------------------------------
mkdir -p "$work/certs"
sh "$repo/tests/support/make_certs.sh" "$work/certs"
tls_port=$(free_port)
openssl s_server -accept "127.0.0.1:$tls_port" -cert "$work/certs/localhost.crt" \
  -key "$work/certs/localhost.key" -www -quiet </dev/null >/dev/null 2>&1 &
server_pid=$!
wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$tls_port" 2>/dev/null || fail "openssl s_server did not start"

passed=0
for program in windows_unit_tests windows_system_tests; do
  log=$work/$program.log
  STREAMLAUNCH_TLS_PORT=$tls_port STREAMLAUNCH_TLS_CA=$(winepath -w "$work/certs/ca.crt") \
    timeout 300 wine "$tests/$program.exe" >"$log" 2>&1
  status=$?
  count=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log")
  passed=$((passed + ${count:-0}))
  if [ $status -ne 0 ]; then
    cat "$log"
    fail "$program ended with status $status"
  else
    grep -E '^\[==========\] .* ran' "$log"
  fi
done

# --- The launcher as a user runs it -------------------------------------------------
app=$work/app
mkdir -p "$app"
cp "$build/streamlaunch.exe" "$app/"
elsewhere=$work/elsewhere  # the launcher is started from another folder
mkdir -p "$elsewhere"
launch() {  # launch ARGS...: sets out, err, status
  (cd "$elsewhere" && timeout 60 wine "$app/streamlaunch.exe" "$@" >"$work/out" 2>"$work/err")
  status=$?
  out=$(cat -v "$work/out"; echo .)  # CR as ^M, and trailing line ends kept
  out=${out%.}
}
recorded() { [ -f "$app/$1.args" ] && tr '\0' '\n' <"$app/$1.args"; }
reset_records() { rm -f "$app"/*.args "$app"/*.alive "$app"/*.out "$app"/*.best "$app"/*.err-bytes "$app"/*.linger; }

launch
check "no youtube-dl: message" $'Put youtube-dl near this file.^M\n' "$out"
check "no youtube-dl: status" 0 "$status"

cp "$tests/recorder.exe" "$app/youtube-dl.exe"
cp "$tests/recorder.exe" "$app/player.exe"
player_dir="$app/my player é✓"
mkdir -p "$player_dir"
cp "$tests/recorder.exe" "$player_dir/player.exe"
player_dir_win=$(winepath -w "$player_dir")

launch
check "no arguments" $'NO ARGUMENTS.^M\n' "$out"
check "no arguments: status" 0 "$status"
for args in "http://x/v 720" "http://x/v 720 --player" "--player"; do
  # shellcheck disable=SC2086
  launch $args
  check "no player ($args)" $'No player argument.^M\n' "$out"
done
launch "http://x/v" "720" "--player" ""
check "empty player" $'No player argument.^M\n' "$out"

# The direct road: youtube-dl found beside the program by the bare name; the player by
# the program search (bare name) and by a full path with a blank and characters outside
# ASCII, as are the page's (the arguments are UTF-8 inside, UTF-16 at the system).
reset_records
printf 'http://media.test/a.m3u8\r\n' >"$app/youtube-dl.out"
: >"$app/player.linger"
launch "http://x/v?a=1&b=2" "720p" "--player" "player.exe"
check "direct road: output" "" "$out"
check "direct road: status" 0 "$status"
check "direct road: youtube-dl arguments" $'-g\nhttp://x/v?a=1&b=2\n-f\n720p' "$(recorded youtube-dl)"
wait_for 10 test -f "$app/player.args" || fail "the player was not started"
check "direct road: player argument" "http://media.test/a.m3u8" "$(recorded player)"
# The launcher has ended and its pipes with it; the player writes to them and lives on.
wait_for 10 test -f "$app/player.alive" || fail "the player did not outlive the launcher"

reset_records
printf 'http://media.test/b.m3u8' >"$app/youtube-dl.out"
launch "http://x/v?q=café" "BeSt" "--player" "$player_dir_win\\player.exe"
check "best: youtube-dl arguments" $'-g\nhttp://x/v?q=café' "$(recorded youtube-dl)"
wait_for 10 test -f "$player_dir/player.args" || fail "the player given by its full path was not started"
check "best: player argument" "http://media.test/b.m3u8" "$(tr '\0' '\n' <"$player_dir/player.args")"

# youtube-dl's output as the launcher reads it, a row each: the quality ("" for the format
# list), what youtube-dl prints (and what it prints for -f best), the status and output,
# the player's argument. Picture and sound apart are asked again as best; no player
# starts unless there is one address.
several='Error : youtube-dl gave 2 stream addresses'
while IFS='|' read -r quality output best ending played; do
  reset_records
  printf "$output" >"$app/youtube-dl.out"
  printf "$best" >"$app/youtube-dl.best"
  launch "http://x/v" ${quality:+"$quality"} "--player" "player.exe"
  check "youtube-dl printed $output: ending" "$(printf %b "$ending")" "$status ${out%$'\n'}"
  [ -z "$played" ] && sleep 0.2 || wait_for 10 test -f "$app/player.args"
  check "youtube-dl printed $output: player" "$played" "$(recorded player)"
done <<EOF
720|\n\nhttp://m/a\r||0 |http://m/a
best|http://m/v\r\nhttp://m/a\r\n|http://m/av\r\n|0 |http://m/av
best|http://m/v\nhttp://m/a\n|http://m/v\nhttp://m/a\n|255 $several, and 2 for -f best; the player takes one: ask for a format that holds picture and sound together (the list without a quality names them)^M|
720|http://m/v\nhttp://m/a\n||255 $several and the player takes one: ask for a quality that holds picture and sound together, such as best^M|
720|\r\n\n||255 Error : youtube-dl gave no stream address^M|
|||255 Error : youtube-dl listed no formats^M|
|l1\r\nfmt  resolution note\r\na1\r\n y\r\nb2 z\r\n||0 l1^M\nAvailable streams: a1,b2^M|
EOF

# The format list and its summary, after a 1 MiB flood on youtube-dl's standard error,
# which reaches ours whole without stalling either side.
reset_records
printf '[info] formats\nformat code  extension  resolution note\na1 x\nb2 y\n' >"$app/youtube-dl.out"
echo 1048576 >"$app/youtube-dl.err-bytes"
launch "http://x/v" "--player" "player.exe"
check "format list" $'[info] formats^M\nAvailable streams: a1,b2^M\n' "$out"
check "format list: status" 0 "$status"
check "format list: youtube-dl arguments" $'-F\nhttp://x/v' "$(recorded youtube-dl)"
check "format list: youtube-dl's standard error" 1048576 "$(stat -c %s "$work/err")"
[ -f "$app/player.args" ] && fail "format list: a player was started"

# Errors that no check catches: the error line and -1, which the shell sees as 255.
reset_records
printf 'u' >"$app/youtube-dl.out"
launch "http://x/v" "best" "--player" "no-such-player.exe"
check "missing player" $'Error : Process creation failure : no-such-player.exe^M\n' "$out"
check "missing player: status" 255 "$status"

# --- The channel road ---------------------------------------------------------------
channel_road() {  # channel_road NAME ANSWER PRINTED PLAYER-ARGUMENT
  local answer=$work/answer record=$work/request
  reset_records
  rm -f "$record"
  printf '%s' "$2" >"$answer"
  LINGER=3 timeout 120 "$repo/tests/support/in_namespace.sh" --answer "$answer" --record "$record" -- \
    bash -c 'cd "$1" && wine "$2/streamlaunch.exe" https://goodgame.ru/channel/Name 720 --player player.exe; s=$?
              [ -z "$3" ] || for _ in $(seq 200); do [ -f "$2/player.args" ] && break; sleep 0.05; done  # the player starts
              wineserver -k; exit $s' \
    _ "$elsewhere" "$app" "$4" >"$work/out" 2>"$work/err"
  status=$?
  if [ $status -eq 77 ]; then echo "SKIP: channel road: $(cat "$work/err")"; return; fi
  check "channel road, $1: status" 0 "$status"
  check "channel road, $1: output" "$3" "$(cat -v "$work/out")"
  check "channel road, $1: request" "GET /api/getchannelstatus?fmt=json&id=Name HTTP/1.1" \
    "$(head -n 1 "$record" 2>/dev/null | tr -d '\r')"
  check "channel road, $1: player argument" "$4" "$(recorded player)"
}
# The namespace needs a wineserver of its own (the process numbers of one outside mean
# nothing there), and Wine would find the outer one, so that one ends first; each run
# ends the one it started.
wineserver -k 2>/dev/null
wineserver -w
channel_road live '{"channel":{"key":"name","status":"Live","embed":"<iframe src=\"//goodgame.ru/player?1234\"></iframe>","premium":"false"}}' \
  "" "http://hls.goodgame.ru/hls/1234_720.m3u8"
channel_road offline '{"channel":{"key":"name","status":"Dead","embed":""}}' "Channel is offline.^M" ""
channel_road missing '{}' "Channel doesn't exist!^M" ""

# --- The zip as a user downloads it -------------------------------------------------
# make windows-dist's zip unpacked in a fresh folder, youtube-dl.exe put beside the program
# as its README.txt says, and the program run from there. A Windows yt-dlp ends its lines
# with CR LF, which are printed as any line end is.
app=$work/download
elsewhere=$app
mkdir -p "$app"
python3 -m zipfile -e "$zip" "$app"
check "zip: its files" $'LICENSE.txt\nREADME.txt\nTHIRD-PARTY-NOTICES.txt\nstreamlaunch.exe' "$(LC_ALL=C ls "$app")"
# The version in the zip's name is the program's.
version=${zip##*/streamlaunch-}
launch --version
check "zip: --version" "streamlaunch ${version%-windows.zip}^M"$'\n'"License: MIT^M"$'\n' "$out"
notices() { checks=$((checks + 1)); NOTICES=$app/THIRD-PARTY-NOTICES.txt "$repo/tests/package/check-notices.sh" "$@"; }
notices archives "$build/streamlaunch.map" || fail "zip: THIRD-PARTY-NOTICES.txt leaves archives of the link out"
notices versions mingw-w64-x86-64-dev g++-mingw-w64-x86-64-posix || fail "zip: THIRD-PARTY-NOTICES.txt names other runtimes"
cp "$tests/recorder.exe" "$app/youtube-dl.exe"
cp "$tests/recorder.exe" "$app/player.exe"
printf '%s\r\n' '[info] Available formats for v:' 'ID  EXT RESOLUTION | PROTO' '--------------------------' \
  '22  mp4 1280x720   | https' '18  mp4 640x360    | https' >"$app/youtube-dl.out"
launch "http://x/v" "--player" "player.exe"
check "zip: format list" $'[info] Available formats for v:^M\nID  EXT RESOLUTION | PROTO^M\n--------------------------^M\n22  mp4 1280x720   | https^M\n18  mp4 640x360    | https^M\n^M\nAvailable streams: 22,18^M\n' "$out"
check "zip: format list: youtube-dl arguments" $'-F\nhttp://x/v' "$(recorded youtube-dl)"
reset_records
printf 'http://media.test/z.m3u8\n' >"$app/youtube-dl.out"
launch "http://x/v" "best" "--player" "player.exe"
check "zip: direct road: status" 0 "$status"
wait_for 10 test -f "$app/player.args" || fail "zip: the player was not started"
check "zip: player argument" "http://media.test/z.m3u8" "$(recorded player)"

echo "Windows tests under Wine: $passed GoogleTest tests passed, $checks launcher checks, $failures failures"
[ $failures -eq 0 ]

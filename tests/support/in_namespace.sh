#!/usr/bin/env bash
# Runs a command in private mount, network and process namespaces in which goodgame.ru and
# hls.goodgame.ru lead to a local stand-in of the channel service on port 80
# (channel_standin.py beside this script).
#
#   in_namespace.sh [stand-in options] -- command [arguments]
#   in_namespace.sh --no-standin -- command [arguments]
#
# Stand-in options (--answer, --record, --hls) go to the stand-in. The script ends with the
# command's status; 77 means that no private namespace can be made here, with the reason
# on standard error. Processes the command leaves behind (a player it started) get LINGER
# seconds (default 5) to finish; then the namespace ends, and everything in it with it,
# also when this script is killed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${IN_NAMESPACE_INSIDE:-}" != 1 ]; then
    flags=(--mount --net --pid --fork --mount-proc --kill-child)
    if ! unshare "${flags[@]}" true 2>/dev/null; then
        flags=(--user --map-root-user "${flags[@]}")
        if ! reason=$(unshare "${flags[@]}" true 2>&1); then
            echo "in_namespace: no private namespace for user $(id -un): unshare without and" \
                 "with a user namespace failed: $reason" >&2
            exit 77
        fi
    fi
    IN_NAMESPACE_INSIDE=1 exec unshare "${flags[@]}" "$0" "$@"
fi

# From here on this shell is the namespace's first process.
standin=()
use_standin=1
while [ $# -gt 0 ] && [ "$1" != -- ]; do
    if [ "$1" = --no-standin ]; then use_standin=0; else standin+=("$1"); fi
    shift
done
[ $# -ge 2 ] || { echo "usage: in_namespace.sh [stand-in options] -- command [arguments]" >&2; exit 64; }
shift

# An interrupt ends the namespace's first process, and so everything in the namespace;
# without a trap it would be ignored here.
trap 'exit 130' INT
trap 'exit 143' TERM

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ip link set lo up
# Name resolution with AI_ADDRCONFIG finds nothing while the only addresses are loopback.
ip addr add 192.0.2.1/32 dev lo
printf '127.0.0.1 localhost\n127.0.0.1 goodgame.ru hls.goodgame.ru\n' > "$work/hosts"
mount --bind "$work/hosts" /etc/hosts

standin_pid=
if [ "$use_standin" = 1 ]; then
    python=/usr/bin/python3
    [ -x "$python" ] || python=python3
    "$python" "$here/channel_standin.py" --ready "$work/ready" "${standin[@]}" > "$work/standin.log" 2>&1 &
    standin_pid=$!
    for _ in $(seq 250); do
        [ -s "$work/ready" ] || ! kill -0 "$standin_pid" 2>/dev/null && break
        sleep 0.02
    done
    if [ ! -s "$work/ready" ]; then
        echo "in_namespace: the stand-in did not start within 5 s:" >&2
        cat "$work/standin.log" >&2
        exit 70
    fi
fi
# The mount keeps the hosts file and the stand-in its log: nothing is left behind even
# when the namespace is killed.
rm -rf "$work"

# In the background, so that this shell can take a signal while the command runs.
"$@" <&0 &
command_pid=$!
status=0
wait "$command_pid" || status=$?

# Whatever the command left running, besides this shell and the stand-in, may finish.
lingering() {
    local p line
    for p in /proc/[0-9]*; do
        p=${p#/proc/}
        [ "$p" = 1 ] || [ "$p" = "$standin_pid" ] && continue
        read -r line < "/proc/$p/stat" 2>/dev/null || continue
        line=${line##*) }
        [ "${line%% *}" = Z ] || return 0
    done
    return 1
}
for _ in $(seq $((${LINGER:-5} * 20))); do
    lingering || break
    sleep 0.05
done
exit "$status"

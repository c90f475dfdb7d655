#!/usr/bin/env bash
# Starts the client on a private Xvfb, waits until its windows exist and keeps
# a screenshot of the whole screen with the test output
# (screenshot-client.sh CLIENT.EXE OUTPUT.png). The outpost is not started
# (there is no server), so the client stays up until it is stopped here.
source "$(dirname "$0")/../../tools/lib/common.sh"
client=$1
out=$2
trap hv_cleanup EXIT
hv_start_xvfb 24 || exit 1
wine "$client" -nostartimmediate </dev/null >/dev/null 2>&1 &
pid=$!
hv_started_pids+=("$pid")
up=
for i in $(seq 1 150); do
    kill -0 "$pid" 2>/dev/null || break
    # Wine names the X windows of a program's top-level windows after it.
    if xdotool search --class "$(basename "$client")" >/dev/null 2>&1; then
        up=1
        break
    fi
    sleep 0.2
done
[ -n "$up" ] || { echo "the client made no window"; exit 1; }
sleep 1 # let start-up finish and the first paint happen
kill -0 "$pid" 2>/dev/null || { echo "the client ended during start-up"; exit 1; }
import -window root "$out" || exit 1
echo "screenshot: $out"
echo "windows of the client:"
for w in $(xdotool search --class "$(basename "$client")"); do
    echo "  [$(xdotool getwindowname "$w")] $(xwininfo -id "$w" | sed -n 's/.*Map State: //p')"
done

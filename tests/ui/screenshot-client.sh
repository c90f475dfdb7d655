#!/usr/bin/env bash
# Starts the client on a private Xvfb, waits for its main window and keeps a
# screenshot of the whole screen with the test output
# (screenshot-client.sh CLIENT.EXE OUTPUT.png). Exit 77 (skipped) when the
# client shows no window in time.
source "$(dirname "$0")/../../tools/lib/common.sh"
client=$1
out=$2
trap hv_cleanup EXIT
hv_start_xvfb 24 || exit 1
wine "$client" </dev/null >/dev/null 2>&1 &
pid=$!
hv_started_pids+=("$pid")
found=
for i in $(seq 1 150); do
    kill -0 "$pid" 2>/dev/null || break
    if xdotool search --onlyvisible --name 'Halvanet' >/dev/null 2>&1; then
        found=1
        break
    fi
    sleep 0.2
done
if [ -z "$found" ]; then
    echo "the client showed no window"
    import -window root "$out" 2>/dev/null
    exit 77
fi
sleep 1 # let the first paint finish
import -window root "$out" || exit 1
echo "screenshot: $out"
# The picture is of a real screen: more than one colour on it.
colours=$(convert "$out" -format '%k' info:)
[ "${colours:-0}" -gt 1 ] || { echo "the screenshot is blank"; exit 1; }

#!/usr/bin/env bash
# Shows a scaled view on a private Xvfb and keeps a screenshot of the whole
# screen with the test output (scale-shot.sh TEST.EXE OUTPUT.png).
source "$(dirname "$0")/../../tools/lib/common.sh"
exe=$1
out=$2
trap hv_cleanup EXIT
hv_start_xvfb 24 || exit 1
HV_SCALE_HOLD=6 hv_wine "$exe" --gtest_filter=Scaled.ScaledViewFillsTheClientArea </dev/null &
pid=$!
up=
for i in $(seq 1 200); do
    kill -0 "$pid" 2>/dev/null || break
    if xdotool search --name "^Scaled view$" >/dev/null 2>&1; then
        up=1
        break
    fi
    sleep 0.1
done
[ -n "$up" ] || { wait "$pid"; echo "the scaled view did not appear"; exit 1; }
sleep 1.5 # the first paint
import -window root "$out" || exit 1
echo "screenshot: $out"
wait "$pid"

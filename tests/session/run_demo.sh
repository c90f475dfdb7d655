#!/usr/bin/env bash
# The demo as the README gives it: tools/run with no options, on a private
# Xvfb. Both applications' frames are viewable and titled, with the X
# application's fills and the character application's banner on the screen,
# for 20 s; then Ctrl-C (SIGINT to the process group, as a terminal sends it)
# ends the client with code 0, the server's transcript is printed, and
# nothing before it comes from the sound driver.
# Usage: run_demo.sh ROOT
set -u
root=$1
source "$root/tools/lib/common.sh"
trap hv_cleanup EXIT
hv_start_xvfb 24 || exit 1
out=$(mktemp)
# A terminal's job has Ctrl-C at its default; one started with "&" here
# would ignore it for good.
setsid env --default-signal=INT "$root/tools/run" </dev/null >"$out" 2>&1 &
run=$!
hv_started_pids+=("$run")
fail() {
    echo "FAILED: $*"
    echo "--- tools/run"
    cat "$out"
    kill -INT -"$run" 2>/dev/null
    rm -f "$out"
    exit 1
}
seen=$(/usr/bin/python3 "$root/tests/session/screen_check.py" demo 120 20) ||
    fail "the demo is not on the screen as it should be: $seen"
kill -INT -"$run"
for i in $(seq 1 600); do
    kill -0 "$run" 2>/dev/null || break
    sleep 0.1
done
wait "$run"
rc=$?
[ "$rc" = 0 ] || fail "tools/run ended with $rc"
grep -qx "halvanet exited with code 0" "$out" || fail "the client did not end with code 0"
grep -q "application shown" "$out" || fail "no transcript"
sed '/^--- server transcript/,$d' "$out" | grep -qiE "ALSA|pulse|audio" &&
    fail "the sound driver's lines reached the terminal"
echo "passed: $seen"
rm -f "$out"

#!/usr/bin/env bash
# The local listener and local programs under Wine. The client starts
# without connecting (-nostartimmediate) and waits for a helper. A helper
# (fake_helper.py) first tries as a foreign web page would: a foreign Host,
# a foreign Origin and two Host headers each get "403 Forbidden" and change
# nothing (the server sees no connection). Then a real helperInit makes the
# client connect; the server (fake_halvanet.py, scenario "local") launches
# launch_probe.exe (placement 6), which writes its command line, and a
# program that does not exist: answers status true, then false. A request
# that waits for its session shows its launch dialog until the server
# cancels it. The helper runs in-place applications itself: the browser
# launch it announced is handed to it as ns1:doLaunch; the one of a helper
# that hosts applications in its window is connected by the client itself
# (its display may be scaled), and the client is still running afterwards.
# Usage: run_helpers.sh ROOT PROBE-EXE
set -u
root=$1
probe=$2
source "$root/tests/session/session_lib.sh"
fail_details() { echo "--- helper log"; cat "$work/h" 2>/dev/null; }
cp "$probe" "$work/launch_probe.exe"
python3 "$root/tests/peers/fake_halvanet.py" --scenario local --port-file "$work/sp" \
    --transcript "$work/t" --probe "Z:$work/launch_probe.exe" --probe-out "Z:$work/out" \
    --dialog-seen "$work/seen" --dialog-gone "$work/gone" \
    --lifetime 120 </dev/null >/dev/null 2>&1 &
server=$!
await 100 test -s "$work/sp" || fail "the server did not start"
wine "$HV_WIN32/halvanet.exe" -nostartimmediate -portfile "Z:$work/cp" \
    -connectioncookie demo </dev/null >/dev/null 2>&1 &
client=$!
python3 "$root/tests/peers/fake_helper.py" --client-port-file "$work/cp" \
    --steps foreign-host,foreign-origin,two-hosts --server-port "$(cat "$work/sp")" \
    --log "$work/h" --lifetime 0 || fail "the hostile helper failed"
[ "$(grep -c ' refused ' "$work/h")" = 3 ] || fail "not every foreign request was refused"
grep -q "accept on port" "$work/t" && fail "a foreign request made the client connect"
python3 "$root/tests/peers/fake_helper.py" --client-port-file "$work/cp" --steps init,ready \
    --server-port "$(cat "$work/sp")" --log "$work/h" --lifetime 30 &
helper=$!
python3 "$root/tests/peers/fake_helper.py" --client-port-file "$work/cp" --steps init,ready \
    --helper-id h2 --inplace hosts --request-id r2 --window 77 --server-port "$(cat "$work/sp")" \
    --log "$work/h2" --lifetime 30 &
hosting=$!
await 300 test -s "$work/out" || fail "launch_probe.exe did not run"
grep -q "launch_probe.exe.*out" "$work/out" || fail "its command line: $(cat "$work/out")"
# Any viewable launch dialog on the display (the test runs alone on it);
# xwininfo, since xdotool's --onlyvisible can go on naming a window Wine
# has already hidden.
dialog() {
    local id
    for id in $(xdotool search --name "^Connection Progress" 2>/dev/null); do
        xwininfo -id "$id" 2>/dev/null | grep -q "IsViewable" && return 0
    done
    return 1
}
await 300 dialog || fail "a waiting launch request showed no launch dialog"
touch "$work/seen"
await 300 eval '! dialog' || fail "the cancelled request's dialog stayed"
touch "$work/gone"
wait "$server" || fail "the server saw something it did not expect"
kill -0 "$client" 2>/dev/null || fail "the client did not survive its launches"
await 100 grep -q "recv doLaunch" "$work/h" || fail "the helper that runs applications got no doLaunch"
kill "$client" "$helper" "$hosting" 2>/dev/null
wait "$client" 2>/dev/null
echo passed
rm -rf "$work"

#!/usr/bin/env bash
# The local listener and local programs under Wine. The client starts
# without connecting (-nostartimmediate) and waits for a helper. A program
# that is no Windows program of the user (fake_helper.py's own socket) sends
# a helperInit naming the server: the connection is closed unanswered,
# logged once, and changes nothing. The helpers that follow reach the
# listener through helper_relay.exe, a Windows program of the user. One
# first tries as a foreign web page would: a foreign Host, a foreign Origin
# and two Host headers each get "403 Forbidden" and change nothing (the
# server sees no connection). Then a real helperInit makes the client
# connect; the server (fake_halvanet.py, scenario "local") launches
# launch_probe.exe (placement 6), which writes its command line, and a
# program that does not exist: answers status true, then false. A request
# that waits for its session shows its launch dialog until the server
# cancels it. The helper runs in-place applications itself: the browser
# launch it announced is handed to it as ns1:doLaunch; the one of a helper
# that hosts applications in its window is connected by the client itself
# (its display may be scaled), and the client is still running afterwards.
# Usage: run_helpers.sh ROOT PROBE-EXE RELAY-EXE
set -u
root=$1
probe=$2
relay=$3
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
    -connectioncookie demo -logdir "Z:$work" </dev/null >/dev/null 2>&1 &
client=$!
python3 "$root/tests/peers/fake_helper.py" --client-port-file "$work/cp" --steps native \
    --server-port "$(cat "$work/sp")" --log "$work/h" --lifetime 0 || fail "the native helper failed"
grep -q "^native refused" "$work/h" || fail "the native program's helperInit was served"
refusals() {
    iconv -f UTF-16LE -t UTF-8 "$work/drx.txt" 2>/dev/null |
        grep -ac "local listener was refused: the program at its other end could not be told"
}
await 50 test "$(refusals)" -ge 1
[ "$(refusals)" = 1 ] || fail "the native program's connection was logged $(refusals) times"
python3 "$root/tests/peers/fake_helper.py" --client-port-file "$work/cp" --relay "$relay" \
    --steps foreign-host,foreign-origin,two-hosts --server-port "$(cat "$work/sp")" \
    --log "$work/h" --lifetime 0 || fail "the hostile helper failed"
[ "$(grep -c ' refused ' "$work/h")" = 4 ] || fail "not every foreign connection was refused"
grep -q "accept on port" "$work/t" && fail "a foreign request made the client connect"
# This helper is silent for a while after connecting: some systems name a
# connection's owner only once it has sent.
python3 "$root/tests/peers/fake_helper.py" --client-port-file "$work/cp" --steps init,ready \
    --relay "$relay" --hold 2 --server-port "$(cat "$work/sp")" --log "$work/h" --lifetime 30 &
helper=$!
python3 "$root/tests/peers/fake_helper.py" --client-port-file "$work/cp" --steps init,ready \
    --helper-id h2 --inplace hosts --request-id r2 --window 77 --server-port "$(cat "$work/sp")" \
    --relay "$relay" --log "$work/h2" --lifetime 30 &
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

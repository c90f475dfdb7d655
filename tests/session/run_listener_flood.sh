#!/usr/bin/env bash
# A native program floods the local listener with 3,000 connections opened
# and closed at once (tests/peers/listener_flood.py) while the user's own
# Windows program (helper_relay.exe) asks to be served, during the flood and
# right after it. The main window keeps answering (ui_probe ping, 200 ms a
# message), the user's program is served, and the refusals are logged in a
# few lines, not one per connection. The figures are printed.
# Usage: run_listener_flood.sh ROOT UI-PROBE-EXE RELAY-EXE
set -u
root=$1
ui_probe=$2
relay=$3
source "$root/tests/session/session_lib.sh"
probe=
fail_details() {
    echo "--- flood"
    cat "$work/flood" 2>/dev/null
    echo "--- main window"
    cat "$work/ping" 2>/dev/null
    [ -n "$probe" ] && kill "$probe" 2>/dev/null
}
wine "$HV_WIN32/halvanet.exe" -nostartimmediate -portfile "Z:$work/cp" \
    -connectioncookie demo -logdir "Z:$work" </dev/null >/dev/null 2>&1 &
client=$!
await 300 test -s "$work/cp" || fail "the client wrote no port file"
wine "$ui_probe" ping "Z:$work/pingstop" </dev/null >"$work/ping" 2>&1 &
probe=$!
timeout -k 5 150 python3 "$root/tests/peers/listener_flood.py" --client-port-file "$work/cp" \
    --relay "$relay" --count 3000 >"$work/flood" 2>&1
rc=$?
touch "$work/pingstop"
wait "$probe"
probe=
[ $rc = 0 ] || fail "the flood: $(cat "$work/flood")"
grep -q "answered [1-9]" "$work/ping" || fail "the main window never answered"
grep -q "went away" "$work/ping" && fail "the client ended"
lines=$(iconv -f UTF-16LE -t UTF-8 "$work/drx.txt" 2>/dev/null | grep -ac "local listener was refused")
[ "$lines" -le 5 ] || fail "$lines refusal lines logged for the flood"
echo "$(cat "$work/flood"); main window: $(cat "$work/ping"); $lines refusal lines"
kill "$client" 2>/dev/null
wait "$client" 2>/dev/null
echo passed
rm -rf "$work"

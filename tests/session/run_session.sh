#!/usr/bin/env bash
# The client's whole session under Wine against the scripted server
# (fake_halvanet.py, scenario "session"), started as tools/run starts it:
# ns1:init carries the cookie, message id 0, the port the port file holds and
# the log file's path;
# getState is answered; a fault's box (312) holds back the next request until
# xdotool dismisses it, then the reply comes unprompted; a drop 3 s after
# connecting is reconnected with "reconnecting"; ns1:security moves the
# client to a second port and cookie; when that server goes, two attempts
# fail, box 307 is shown (kept as a screenshot); a WM_CLOSE meanwhile waits
# for the box, and the client ends with 0, its port file gone. The server
# checks every byte it gets.
# Usage: run_session.sh ROOT SHOT-DIR HELPER (tests/core/hv_closemain) [server options...]
set -u
root=$1
shots=$2
helper=$3
shift 3
source "$root/tests/session/session_lib.sh"

python3 "$root/tests/peers/fake_halvanet.py" --scenario session --port-file "$work/sp" \
    --transcript "$work/t" --lifetime 120 "$@" </dev/null >/dev/null 2>&1 &
server=$!
await 100 test -s "$work/sp" || fail "the server did not start"
wine "$HV_WIN32/halvanet.exe" -server 127.0.0.1 -port "$(cat "$work/sp")" \
    -portfile "Z:$work/cp" -connectioncookie demo -logdir "Z:$work" </dev/null >/dev/null 2>&1 &
client=$!

await 300 grep -q "recv request init" "$work/t" || fail "no ns1:init"
await 50 test -s "$work/cp" || fail "no port file"
grep -q "recv request init .*port='$(cat "$work/cp")'" "$work/t" ||
    fail "init's port is not the port file's $(cat "$work/cp")"
grep -q "recv request init .*'logfile=Z:[^']*drx.txt'" "$work/t" || fail "init lacks the log file"

await 300 has_box "SOAP Fault" || fail "no box for the fault"
grep -q "recv response getStateResponse id=5" "$work/t" && fail "answered while the box was up"
dismiss "SOAP Fault"
await 300 grep -q "recv response getStateResponse id=5" "$work/t" ||
    fail "the request held back by the box was not answered"

await 600 has_box "Error" || fail "no box 307 after the second server went"
mkdir -p "$shots"
import -window root "$shots/session_box307.png" 2>/dev/null
hv_wine "$helper" close wait </dev/null || fail "no main window to close"
has_box "Error" || fail "the close ended the session under box 307"
dismiss "Error"
await 300 eval '! kill -0 $client 2>/dev/null' || fail "the client did not end"
wait "$client"
rc=$?
[ "$rc" = 0 ] || fail "client exit code $rc"
[ -e "$work/cp" ] && fail "the port file is still there"
wait "$server" || fail "the server saw something it did not expect"
grep -c "accept on port" "$work/t" | grep -qx 3 || fail "not three connections"
port2=$(grep -o "accept on port [0-9]*" "$work/t" | tail -n 1 | cut -d' ' -f4)
attempts=$(iconv -f UTF-16LE -t UTF-8 "$work/drx.txt" | grep -c "Could not connect to 127.0.0.1:$port2")
[ "$attempts" = 2 ] || fail "$attempts attempts on the second port, not 2"
echo "--- server transcript"
cat "$work/t"
rm -rf "$work"
echo ok

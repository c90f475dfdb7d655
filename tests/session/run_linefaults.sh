#!/usr/bin/env bash
# The control channel under the faults of a real network, under Wine against
# fake_halvanet.py:
#   slowlink  requests written one byte at a time, each CR read alone: every
#             request is answered and the session goes on (a drop is
#             reconnected, which needs the user that ns1:userinfo named);
#   stall     a server that stops reading: within about the write time-out
#             the client closes that connection and connects again, and its
#             main window answers again (WM_NULL) before the sign-out.
# Usage: run_linefaults.sh ROOT SCENARIO UI-PROBE-EXE
set -u
root=$1
scenario=$2
ui_probe=$3
source "$root/tests/session/session_lib.sh"
probe=
fail_details() {
    [ -n "$probe" ] && kill "$probe" 2>/dev/null
    cat "$work/ping" 2>/dev/null
}
start_server_and_client --scenario "$scenario" --flood 20000 --logout-when "$work/go" \
    --lifetime 200
if [ "$scenario" = stall ]; then
    await 600 grep -q "the client stopped reading" "$work/t" || fail "the client never stalled"
    wine "$ui_probe" ping "Z:$work/pingstop" </dev/null >"$work/ping" 2>&1 &
    probe=$!
    await 600 grep -q "session goes on" "$work/t" || fail "no reconnection after the stall"
    sleep 1
    touch "$work/pingstop"
    wait "$probe"
    probe=
    grep -q "answered [1-9]" "$work/ping" || fail "the main window never answered: $(cat "$work/ping")"
    echo "main window from the stall on: $(cat "$work/ping")"
    touch "$work/go"
fi
await 1200 eval '! kill -0 $client 2>/dev/null' || fail "the client did not end"
wait "$client"
rc=$?
[ "$rc" = 0 ] || fail "client exit code $rc"
wait "$server" || fail "the server saw something it did not expect"
echo "--- server transcript"
cat "$work/t"
rm -rf "$work"
echo ok

#!/usr/bin/env bash
# One row of the launch orders: the scripted server (scenario "orders")
# launches APPS one right after the other, each of its own application
# server; the frames titled SHOWN must become viewable and those titled GONE
# must not be ("-" for none; read from the X server, as a user sees them).
# APPS "asking,...": the login dialog of the first is cancelled once the
# second's frame shows; the first's server must get the close of the
# exchange (message 7), and the second's connection must stay open.
# Usage: run_launch_orders.sh ROOT APPS "SHOWN..." "GONE..." [server options]
set -u
root=$1 apps=$2 shown=$3 gone=${4#-}
shift 4
source "$root/tests/session/session_lib.sh"
fail_details() {
    echo "--- client log"
    iconv -f UTF-16LE -t UTF-8 "$work/drx.txt" 2>/dev/null | tail -n 40
}
python3 "$root/tests/peers/fake_halvanet.py" --scenario orders --apps "$apps" "$@" \
    --port-file "$work/sp" --transcript "$work/t" --lifetime 120 </dev/null >/dev/null 2>&1 &
server=$!
await 100 test -s "$work/sp" || fail "the server did not start"
wine "$HV_WIN32/halvanet.exe" -server 127.0.0.1 -port "$(cat "$work/sp")" \
    -portfile "Z:$work/cp" -connectioncookie demo -logdir "Z:$work" </dev/null >/dev/null 2>&1 &
client=$!
check() { /usr/bin/python3 "$root/tests/session/screen_check.py" frames "$@"; }
# shellcheck disable=SC2086 # the names are words
if [ "${apps%%,*}" = asking ]; then
    seen=$(check 60 $shown) || fail "not shown: $seen"
    w=$(xdotool search --name "^Authentication for" | head -n 1)
    xdotool windowraise "$w"
    eval "$(xdotool getwindowgeometry --shell "$w")"
    xdotool mousemove $((X + WIDTH * 88 / 100)) $((Y + HEIGHT * 78 / 100)) click 1 # Cancel
    await 100 eval '[ -z "$(xdotool search --name "^Authentication for")" ]' ||
        fail "the login dialog was not cancelled"
fi
seen=$(check 60 $shown --gone $gone) || fail "$apps: $seen"
if [ "${apps%%,*}" = asking ]; then
    await 100 grep -q "login dialog closed (message 7)" "$work/t" ||
        fail "the first application's server got no close after its cancelled login dialog"
    grep -q "application connection closed\|application ended" "$work/t" &&
        fail "the second application's connection was closed"
fi
kill "$client" "$server" 2>/dev/null
wait "$client" "$server" 2>/dev/null
echo "passed: $seen"
rm -rf "$work"

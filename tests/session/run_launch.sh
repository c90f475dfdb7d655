#!/usr/bin/env bash
# An X application launched by the server, under Wine, started as tools/run
# starts the client: the scripted server (fake_halvanet.py, scenario
# "launch") signs the client in and sends requestLaunch ("awtwindow") for
# its application server, which checks the login-dialog connect request byte
# for byte and then plays a one-window X application. The launch reaches
# state 5 (message 386 "Connected"); the window's pixels are on the X screen
# (read with python3-xlib; kept as the one screenshot); a key typed with
# xdotool arrives as its X-AIP message; when the application server closes,
# the launch is suspended (state 6), leaves the list (no out-of-place
# application left) and the server gets exactly one ns1:applicationsEnded.
# Usage: run_launch.sh ROOT SHOT-DIR
set -u
root=$1
shots=$2
source "$root/tests/session/session_lib.sh"
fail_details() {
    echo "--- client log"
    iconv -f UTF-16LE -t UTF-8 "$work/drx.txt" 2>/dev/null | tail -n 40
}
# The client's log (drx.txt in "-logdir", UTF-16LE).
in_log() { iconv -f UTF-16LE -t UTF-8 "$work/drx.txt" 2>/dev/null | grep -aq "$1"; }

start_server_and_client --scenario launch --close-file "$work/close" --lifetime 120

await 300 grep -q "connect request as expected" "$work/t" || fail "no connect request"
await 300 in_log "Launch cn=awtwindow switching state from .* to Connected" ||
    fail "state 5 not reached"
# The application's picture: a red and a blue fill on white, somewhere on
# the screen (no window manager places it).
at=$(x_app_shown) || fail "the application's pixels are not on the screen: $at"
mkdir -p "$shots"
import -window root "$shots/launch_awtwindow.png" 2>/dev/null
# The user clicks into the application, then types.
xdotool mousemove $at click 1
xdotool key --delay 60 a
await 100 grep -q "key 23 " "$work/t" || fail "the key did not arrive as message 23"
touch "$work/close"
await 300 in_log "Launch cn=awtwindow switching state from Connected to Session suspended" ||
    fail "state 6 not reached after the application server closed"
await 100 in_log "Number of out-of-place apps is 0" || fail "the launch is still listed"
wait "$server" || fail "the server saw something it did not expect"
kill "$client" 2>/dev/null
wait "$client" 2>/dev/null
echo "passed"
rm -rf "$work"

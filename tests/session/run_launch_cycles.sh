#!/usr/bin/env bash
# Launch cycles against the scripted server (fake_halvanet.py, scenario
# "cycles"): the X application, then the character application started
# while the X frame is the active one. MODE:
#   type     the X application ends: the character frame stays on the X
#            screen, a line typed into it reaches its server and its echo
#            shows; the server's end of it gives ns1:applicationsEnded.
#   repeat   HV_LAUNCH_CYCLES (20) such cycles in one session, every launch
#            accepted, none 20 s longer than the median (the server checks).
#   outside  the X frame is destroyed from outside: its launch ends, the
#            character application stays connected past it, and
#            ns1:applicationsEnded comes once its server ends it.
# The application servers' connections close in order, and the launch
# list is empty at the end.
# Usage: run_launch_cycles.sh ROOT HOOK-DLL MODE
set -u
root=$1 hook=$2 mode=$3
source "$root/tests/session/session_lib.sh"
log() { iconv -f UTF-16LE -t UTF-8 "$work/drx.txt" 2>/dev/null; }
fail_details() { echo "--- client log" && log | tail -n 40; }
listed() { log | grep -ao "out-of-place apps is [0-9]*" | tail -n 1; }
check() { /usr/bin/python3 "$root/tests/session/screen_check.py" "$@"; }

case $mode in
type) start_server_and_client --scenario cycles --close-file "$work/close" --lifetime 120 ;;
repeat)
    n=${HV_LAUNCH_CYCLES:-20}
    start_server_and_client --scenario cycles --cycles "$n" --lifetime $((n * 20)) ;;
outside) start_server_and_client --scenario cycles --x-stays --lifetime 120 ;;
esac
if [ "$mode" = type ]; then
    await 600 grep -q "application closing" "$work/t" || fail "the X application did not end"
    seen=$(check frames 20 character1 --gone awtwindow1) || fail "$seen"
    w=$(xdotool search --name '^character1$' | head -n 1)
    eval "$(xdotool getwindowgeometry --shell "$w")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
    xdotool type --delay 60 hello
    xdotool key Return
    await 100 grep -q "line hello" "$work/t" || fail "the typed line did not arrive"
    seen=$(check red 10) || fail "no echo: $seen"
    touch "$work/close"
elif [ "$mode" = outside ]; then
    await 600 eval '[ "$(grep -c "application shown" "$work/t")" -ge 2 ]' || fail "not shown"
    wine C:/windows/syswow64/rundll32.exe "Z:$hook,destroyFrame" awtwindow1 \
        </dev/null >/dev/null 2>&1
fi
wait "$server" || fail "the server saw something it did not expect"
grep -q "application ended:" "$work/t" && fail "a connection did not close in order"
await 100 eval '[ "$(listed)" = "out-of-place apps is 0" ]' || fail "a launch is still listed"
kill "$client" 2>/dev/null
wait "$client" 2>/dev/null
grep -a "cycles: median" "$work/t"
echo "passed"
rm -rf "$work"

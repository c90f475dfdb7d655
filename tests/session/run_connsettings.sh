#!/usr/bin/env bash
# No profile and no server: the client asks for its connection settings in
# dialog 210. A URL the parser refuses gets the "Error: Invalid URL!" box
# and the dialog stays; the URL typed with blanks and a line break around
# it, with an HTTP proxy chosen, opens the browser (a recorder registered
# for .htm pages) trimmed, with "drxport" and "javaprobe".
# Usage: run_connsettings.sh ROOT RECORDER-EXE SHOTS
set -u
root=$1
helper=$2
shots=$3
source "$root/tools/lib/common.sh"
work=$(mktemp -d)
client=
winhelper="Z:$(echo "$helper" | tr / '\\')"
temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
local_app=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)
folder="$local_app/Vek/VHVN"
mkdir -p "$folder" "$shots"
[ -e "$folder/profile.xml" ] && mv "$folder/profile.xml" "$work/profile.saved"
finish() {
    [ -n "$client" ] && kill "$client" 2>/dev/null
    wine reg delete 'HKCR\HvSessionPage' /f >/dev/null 2>&1
    wine reg delete 'HKCR\.htm' /f >/dev/null 2>&1
    rm -f "$folder/profile.xml"
    [ -e "$work/profile.saved" ] && mv "$work/profile.saved" "$folder/profile.xml"
    rm -rf "$work" "$temp/hvrecorded.txt"
}
trap finish EXIT
fail() {
    echo "FAILED: $*"
    exit 1
}
window() { # NAME: waits for a visible window titled NAME, prints its id
    for i in $(seq 1 150); do
        w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}
rm -f "$temp/hvrecorded.txt"
wine reg add 'HKCR\.htm' /ve /d HvSessionPage /f >/dev/null 2>&1
wine reg add 'HKCR\HvSessionPage\shell\open\command' /ve \
    /d "\"$winhelper\" record \"%1\"" /f >/dev/null 2>&1

wine "$HV_WIN32/halvanet.exe" -portfile "Z:$work/cp" </dev/null >/dev/null 2>&1 &
client=$!
dialog=$(window "Vek HVN Client Connection Settings") || fail "no connection settings dialog"
xdotool windowactivate --sync "$dialog" 2>/dev/null
sleep 0.5
import -window root "$shots/connsettings.png" 2>/dev/null
eval "$(xdotool getwindowgeometry --shell "$dialog")"
# The URL edit spans the dialog's width below "Server URL:".
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 26 / 100)) click 1
sleep 0.3
xdotool type --delay 20 "web.test/hvn"
xdotool key Return
box=$(window "Error: Invalid URL!") || fail "no box for a bad URL"
xdotool key --window "$box" Return
sleep 0.5
window "Vek HVN Client Connection Settings" >/dev/null || fail "the dialog closed on a bad URL"
xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 26 / 100)) click 1
xdotool key --delay 20 End $(printf 'BackSpace %.0s' $(seq 1 20))
xdotool type --delay 20 "  http://web.test/hvn/login.jsp?a=b  "
xdotool key alt+h Tab
xdotool type --delay 20 "127.0.0.1"
xdotool key Tab
xdotool type --delay 20 "8888"
xdotool key Return
for i in $(seq 1 150); do
    [ -s "$temp/hvrecorded.txt" ] && break
    sleep 0.1
done
[ -s "$temp/hvrecorded.txt" ] || fail "the browser was not started"
page=$(cat "$temp/hvrecorded.txt")
port=$(cat "$work/cp" 2>/dev/null)
grep -q "URL=http://web.test/hvn/login.jsp?a=b&amp;drxport=$port&amp;javaprobe=true\"" \
    <<<"$page" || fail "page: $page (port $port)"
wine "$helper" close >/dev/null 2>&1 || fail "no client window to close"
wait "$client"
client=
echo ok

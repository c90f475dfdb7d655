#!/usr/bin/env bash
# What the user sees of a demo session under Wine: the server raises the
# level by ns1:setState "logging_all" and sends a connection token; the
# tray icon shows the connected icon (177, green pixels) and, hovered, the
# tip "short@server" (read back from the tooltip Wine shows); a right click
# opens the menu and "&Event Log..." the log window (kept as a screenshot:
# row icons without black corners); the server's triggeruicomponent
# "connectioninfo" opens the connection information, whose Copy All has its live
# rows (code, log file, operating system, the screen Xvfb has, the drives
# the device channels the server asked for see); a sign-out
# while the menu is open ends the client with 0; drx.txt in "-logdir"
# parses strictly: UTF-16LE without a byte-order mark, every line
# "Level<TAB>N<TAB>YYYY/MM/DD hh:mm:ss<TAB>text<CR><LF>", N from 1, with
# the packets' 471 and 472 lines, and without the token. A hosts file that
# does not parse is set aside before the log file exists: drx.txt still
# names the copy kept (the prefix's own hosts file is put back after).
# Usage: run_sessionui.sh ROOT SHOT-DIR UI-PROBE-EXE
set -u
root=$1
shots=$2
ui_probe=$3
token=T0KEN-$$-SECRET
source "$root/tests/session/session_lib.sh"
window() { xdotool search --name "^$1\$" 2>/dev/null | head -n 1; }
has_window() { [ -n "$(window "$1")" ]; }
# Pixels of the colour $2 (within 15%) in the 20x20 square at $1.
count_colour() {
    import -window root -crop "20x20+$1" png:- 2>/dev/null |
        convert png:- -fuzz 15% -fill black +opaque "$2" -fill white -opaque "$2" \
            -format "%[fx:round(mean*w*h)]" info:
}

vhvn=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)/Vek/VHVN
hosts_saved=$(mktemp -d)
mkdir -p "$vhvn"
[ -e "$vhvn/hostsvisited" ] && mv "$vhvn/hostsvisited" "$hosts_saved/"
ls "$vhvn" >"$hosts_saved/before"
restore_hosts() {
    ls "$vhvn" | grep -vxF -f "$hosts_saved/before" | grep '^hostsvisited\.bad' |
        while read -r kept; do rm -f "$vhvn/$kept"; done
    rm -f "$vhvn/hostsvisited"
    [ -e "$hosts_saved/hostsvisited" ] && mv "$hosts_saved/hostsvisited" "$vhvn/"
    rm -rf "$hosts_saved"
}
trap restore_hosts EXIT
printf 'not a hosts file' >"$vhvn/hostsvisited"

python3 "$root/tests/peers/fake_halvanet.py" --scenario demo --logging logging_all \
    --token "$token" --devices --trigger connectioninfo --trigger-when "$work/trigger" \
    --logout-when "$work/go" --port-file "$work/sp" --transcript "$work/t" --lifetime 120 \
    </dev/null >/dev/null 2>&1 &
server=$!
await 100 test -s "$work/sp" || fail "the server did not start"
wine "$HV_WIN32/halvanet.exe" -server 127.0.0.1 -port "$(cat "$work/sp")" \
    -portfile "Z:$work/cp" -connectioncookie demo -logdir "Z:$work" -code CODE7 </dev/null >/dev/null 2>&1 &
client=$!
await 300 grep -q "session held" "$work/t" || fail "no session"
await 100 has_window "Wine System Tray" || fail "no tray icon"
eval "$(xdotool getwindowgeometry --shell "$(window "Wine System Tray")")"
icon="$X+$Y"
green() { [ "$(count_colour "$icon" "#2e9a3c")" -ge 40 ]; }
await 100 green || fail "the tray icon is not the connected one"
# The tip shows while the pointer rests on the icon.
tip() { wine "$ui_probe" tip 2>/dev/null | tr -d '\r' >"$work/tip"; grep -qx "demo@127.0.0.1" "$work/tip"; }
xdotool mousemove $((X + 10)) $((Y + 10)) sleep 0.2 mousemove $((X + 11)) $((Y + 11))
await 100 tip || fail "tray tip: '$(cat "$work/tip")'"

windows() { xdotool search --onlyvisible --class halvanet.exe 2>/dev/null | wc -l; }
# Right-clicks the icon and waits for the menu's window.
open_menu() {
    local before
    before=$(windows)
    xdotool mousemove $((X + 10)) $((Y + 10)) click 3
    await 50 eval '[ "$(windows)" -gt '"$before"' ]'
}
open_menu || fail "no menu"
xdotool key e
await 100 has_window "Event Log - Halvanet Client" || fail "Event Log did not open the log"
sleep 0.5 # the list paints after its window shows
mkdir -p "$shots"
import -window "$(window "Event Log - Halvanet Client")" "$shots/sessionui_eventlog.png" 2>/dev/null
# The windows open over the tray: move them off it.
xdotool windowmove "$(window "Event Log - Halvanet Client")" 300 300

touch "$work/trigger"
await 100 has_window "Connection Info - Halvanet Client" || fail "no connection information"
info=$(window "Connection Info - Halvanet Client")
# The dialog's "&Copy All" sits in its bottom-right corner.
eval "$(xdotool getwindowgeometry --shell "$info" | sed 's/^/I/')"
xdotool mousemove $((IX + IWIDTH - 40)) $((IY + IHEIGHT - 20)) click 1
copied() { xclip -o -selection clipboard 2>/dev/null | tr -d '\r' >"$work/copied" && grep -q "^DRX code	CODE7" "$work/copied"; }
await 100 copied || fail "Copy All: $(cat "$work/copied")"
for row in "Log file	.*drx.txt" "Display	1280 x 1024 @ 32-bit color depth" "User name	Demo User" \
    "Operating system	Windows XP" "Virtual Display	1280 x 1024" "Fixed drives	C: .*"; do
    grep -q "^$row\$" "$work/copied" || fail "no row '$row' in: $(cat "$work/copied")"
done

xdotool windowmove "$info" 600 300
open_menu || fail "no menu the second time"
touch "$work/go"
await 300 grep -q "client closed the connection" "$work/t" || fail "the sign-out did not end the session"
await 300 eval '! kill -0 $client 2>/dev/null' || fail "the client did not end with its menu open"
wait "$client" || fail "client exit code $?"
wait "$server" || fail "the server saw something it did not expect"
python3 - "$work/drx.txt" "$token" <<'PY' || fail "drx.txt"
import re, sys
data = open(sys.argv[1], "rb").read()
assert not data.startswith(b"\xff\xfe"), "byte-order mark"
text = data.decode("utf-16-le")
assert text.endswith("\r\n"), "last line unfinished"
line = re.compile(r"(Error|Warning|Info)\t([0-9]+)\t\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\t[^\r\n]*\Z")
lines = text[:-2].split("\r\n")
for n, l in enumerate(lines, 1):
    m = line.match(l)
    assert m, "line %d: %r" % (n, l)
    assert int(m.group(2)) == n, "line %d numbered %s" % (n, m.group(2))
for want in ("Received SOAP AIP/V request (ns1:getState)",
             "Sending SOAP AIP/V response (ns1:getStateResponse)"):
    assert any(want in l for l in lines), "no %r in %r" % (want, lines)
assert sys.argv[2] not in text, "the token is in drx.txt"
assert any("connectiontoken=***" in l for l in lines), "no masked page address"
assert any("an unreadable hostsvisited was kept as" in l for l in lines), "no kept hosts file"
PY
rm -rf "$work"
echo ok

#!/usr/bin/env bash
# The Start-menu mirror of the webtop after an integrated sign-in against
# the scripted server and its web side: the host's folder holds the webtop
# with icons downloaded from the web side (each shortcut's shell icon drawn
# on white has the GIF's colour, white where it is transparent: one PNG);
# starting an item's shortcut makes a second client ask the web service for
# that object; profile updates make and remove the Startup shortcut; after
# the client ends, only Login is left.
# Usage: run_icons.sh ROOT LNK-ICONS-EXE SHOTS-DIR
set -u
root=$1
drawer=$2
shots=$3
source "$root/tests/session/session_lib.sh"
mkdir -p "$shots"
winpath() { winepath -u "$(wine cmd /c echo "%$1%" 2>/dev/null | tr -d '\r')" 2>/dev/null; }
local_app=$(winpath LOCALAPPDATA)
appdata=$(winpath APPDATA)
folder="$local_app/Vek/VHVN"
programs="$appdata/Microsoft/Windows/Start Menu/Programs"
menu="$programs/Vek Halvanet/127.0.0.1"
startup="$programs/StartUp"
mkdir -p "$folder"
[ -e "$folder/profile.xml" ] && cp "$folder/profile.xml" "$work/profile.saved"
restore() {
    rm -f "$folder/profile.xml" "$folder/icons/cc2211.ico" "$folder/icons/2050d0.ico"
    rm -f "$startup/127.0.0.1.lnk"
    rm -rf "$menu"
    [ -e "$work/profile.saved" ] && cp "$work/profile.saved" "$folder/profile.xml"
}
trap 'restore; rm -rf "$work"' EXIT
rm -rf "$menu" "$startup/127.0.0.1.lnk" "$folder/icons/cc2211.ico" "$folder/icons/2050d0.ico"
fail_details() {
    echo "--- web calls"
    calls
    echo "--- menu"
    find "$programs/Vek Halvanet" 2>/dev/null
}
# The web-service calls as op(params) lines; icon downloads as GET(path).
calls() {
    python3 -c '
import json, sys
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e["errors"]:
        print("ERRORS", e["errors"])
    if e["op"] == "GET":
        print("GET(" + e["params"]["path"] + ")")
    else:
        print(e["op"] + "(" + ",".join(e["params"].get(k, "") for k in e["order"]) + ")")
' "$work/web.jsonl" 2>/dev/null
}

webtop='<webtop>'
webtop+='<obj name="webtopitem"><attr name="cn">Red App</attr>'
webtop+='<attr name="mrkqvlwebtopobjectname">redapp</attr><attr name="mrkqvlicon">cc2211.gif</attr></obj>'
webtop+='<obj name="webtopitem"><attr name="cn">Running</attr><attr name="mrkqvlsessionid">E-5</attr></obj>'
webtop+='<obj name="webtopgroup" groupname="Tools"><obj name="webtopitem"><attr name="cn">Blue Tool</attr>'
webtop+='<attr name="mrkqvlwebtopobjectname">bluetool</attr><attr name="mrkqvlicon">2050d0.gif</attr></obj></obj>'
webtop+='</webtop>'
profile() { echo "<profile name=\"Default\"><autostart>$1</autostart></profile>"; }

python3 "$root/tests/peers/fake_halvanet.py" --scenario webtop --cookie SO-42 \
    --port-file "$work/port" --web-port-file "$work/webport" \
    --web-transcript "$work/web.jsonl" --web-script "getWebtop=doc:$webtop" \
    --update-when "$work/on=$(profile true)" --update-when "$work/off=$(profile false)" \
    --logout-when "$work/out" --lifetime 180 --transcript "$work/t" \
    </dev/null >/dev/null 2>&1 &
server=$!
await 100 test -s "$work/webport" || fail "the server did not start"
web=$(cat "$work/webport")
printf '\xef\xbb\xbf<?xml version="1.0" encoding="UTF-8" ?>\r\n<cache><profiles><version>1.0</version><host name="127.0.0.1"><user ens=""><AT>tok-1</AT><profile name="Default"><url>http://127.0.0.1:%s/hvn/</url><mode>integrated</mode><autologin>true</autologin></profile></user></host></profiles><localsettings><drxclientid>7:9</drxclientid></localsettings></cache>\r\n' \
    "$web" >"$folder/profile.xml"

timeout 170 wine "$HV_WIN32/halvanet.exe" -profile 127.0.0.1::Default </dev/null >/dev/null 2>&1 &
client=$!
await 900 test -e "$menu/Logout.lnk" || fail "no Start-menu folder with the webtop"
for f in "Red App.lnk" "Tools/Blue Tool.lnk"; do
    [ -e "$menu/$f" ] || fail "no shortcut $f"
done
[ "$(calls | grep -c '^GET(/hvn/resources/images/icons/\(cc2211\|2050d0\).gif)$')" = 2 ] ||
    fail "icon downloads"

# The shell icons on white: the GIF's colour above, white (transparent) below.
wm=$(winepath -w "$menu")
colours=$(wine "$drawer" "$(winepath -w "$work")\\icons.bmp" "$wm\\Red App.lnk" \
    "$wm\\Tools\\Blue Tool.lnk" 2>/dev/null | tr -d '\r' | tr '\n' ' ')
convert "$work/icons.bmp" "$shots/session_icons.png" 2>/dev/null
[ "$colours" = "cc2211 ffffff 2050d0 ffffff " ] || fail "shell icon colours: $colours"

# An item's shortcut starts a second client that asks for its object.
wine start /unix "$menu/Red App.lnk" </dev/null >/dev/null 2>&1
await 600 sh -c "$(declare -f calls); work='$work'; calls | grep -q '^startEmulatorSession(IC-1,redapp)$'" ||
    fail "the shortcut did not start the object"

touch "$work/on"
await 300 test -e "$startup/127.0.0.1.lnk" || fail "no Startup shortcut after autostart on"
touch "$work/off"
await 300 test ! -e "$startup/127.0.0.1.lnk" || fail "the Startup shortcut stayed after autostart off"

touch "$work/out"
wait "$client"
rc=$?
client=
# The web side serves until its port file goes.
rm -f "$work/webport"
wait "$server"
src=$?
server=
left=$(cd "$menu" 2>/dev/null && find . -mindepth 1 | sort | tr '\n' ' ')
[ "$left" = "./Login.lnk " ] || fail "left in the Start menu: '$left'"
[ "$rc" = 0 ] || fail "client exit code $rc"
[ "$src" = 0 ] || fail "the server's scenario failed ($src)"
calls | grep -q ERRORS && fail "malformed requests"
echo ok

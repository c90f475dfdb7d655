#!/usr/bin/env bash
# The integrated sign-in of a stored profile ("mode" integrated, automatic
# login with a stored token) against the scripted server and its web side:
# the session is started through the web service, the outpost connects to
# the engine the session document names with the configuration's cookie,
# the token signs in with an empty user, and the server's user information
# brings the event registrations and the webtop. The server's restart event
# restarts the web session with its token and signs in again. The server
# then signs the client out; the client ends the web session on its way out.
# Usage: run_intlogin.sh ROOT
set -u
root=$1
source "$root/tools/lib/common.sh"
work=$(mktemp -d)
local_app=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)
folder="$local_app/Vek/VHVN"
server=
mkdir -p "$folder"
[ -e "$folder/profile.xml" ] && cp "$folder/profile.xml" "$work/profile.saved"
finish() {
    [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
    rm -f "$folder/profile.xml"
    [ -e "$work/profile.saved" ] && cp "$work/profile.saved" "$folder/profile.xml"
    rm -rf "$work"
}
trap finish EXIT
fail() {
    echo "FAILED: $*"
    echo "--- server:"
    cat "$work/server.txt" 2>/dev/null | tail -20
    exit 1
}

python3 "$root/tests/peers/fake_halvanet.py" --scenario demo --logout --restart rt-1 --cookie SO-42 \
    --port-file "$work/port" --web-port-file "$work/webport" \
    --web-transcript "$work/web.jsonl" --lifetime 90 --transcript "$work/server.txt" \
    </dev/null >/dev/null 2>&1 &
server=$!
for i in $(seq 1 100); do [ -s "$work/port" ] && [ -s "$work/webport" ] && break; sleep 0.1; done
[ -s "$work/webport" ] || fail "the server did not start"
web=$(cat "$work/webport")
printf '\xef\xbb\xbf<?xml version="1.0" encoding="UTF-8" ?>\r\n<cache><profiles><version>1.0</version><host name="127.0.0.1"><user ens="ann"><AT>tok-1</AT><profile name="Default"><url>http://127.0.0.1:%s/hvn/</url><mode>integrated</mode><autologin>true</autologin></profile></user></host></profiles><localsettings><drxclientid>7:9</drxclientid></localsettings></cache>\r\n' \
    "$web" >"$folder/profile.xml"

timeout 90 wine "$HV_WIN32/halvanet.exe" -profile 127.0.0.1:ann:Default </dev/null >/dev/null 2>&1
rc=$?
rm -f "$work/webport"
wait "$server"
src=$?
server=
calls=$(python3 -c '
import json, sys
out = []
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e["errors"]:
        out.append("ERRORS " + repr(e["errors"]))
    out.append(e["op"] + "(" + ",".join(e["params"].get(k, "") for k in e["order"]) + ")")
print(";".join(out))' "$work/web.jsonl" 2>/dev/null)
want="startSession(7:9,false);setDRXConfiguration(IC-1);startDRX(IC-1);authenticateSession(IC-1,,tok-1)"
want="$want;registerDRXEventListener(IC-1,Print);registerDRXEventListener(IC-1,Restart)"
want="$want;getWebtop(IC-1,false,true);restartSession(7:9,rt-1);authenticateSession(IC-1,,tok-1)"
want="$want;endSession(IC-1)"
[ "$calls" = "$want" ] || fail "web calls: $calls"
[ "$src" = 0 ] || fail "the server's scenario failed ($src)"
[ "$rc" = 0 ] || fail "client exit code $rc"
echo ok

#!/usr/bin/env bash
# The start-up paths of a stored session against the web side of the
# scripted server, one row each: the client's exit code, the web-service
# calls in order, and what reached the browser recorder or a message box.
# Usage: run_startpaths.sh ROOT RECORDER-EXE
set -u
root=$1
helper=$2
source "$root/tools/lib/common.sh"
work=$(mktemp -d)
winhelper="Z:$(echo "$helper" | tr / '\\')"
temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
local_app=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)
folder="$local_app/Vek/VHVN"
peer=
failures=0
mkdir -p "$folder"
[ -e "$folder/profile.xml" ] && cp "$folder/profile.xml" "$work/profile.saved"
restore() {
    wine reg delete 'HKCR\HvSessionPage' /f >/dev/null 2>&1
    wine reg delete 'HKCR\.htm' /f >/dev/null 2>&1
    rm -f "$folder/profile.xml" "$folder/hvpaths.dat"
    [ -e "$work/profile.saved" ] && cp "$work/profile.saved" "$folder/profile.xml"
}
stop_peer() {
    [ -n "$peer" ] && kill "$peer" 2>/dev/null && wait "$peer" 2>/dev/null
    peer=
}
trap 'stop_peer; restore; rm -rf "$work"' EXIT
wine reg add 'HKCR\.htm' /ve /d HvSessionPage /f >/dev/null 2>&1
wine reg add 'HKCR\HvSessionPage\shell\open\command' /ve \
    /d "\"$winhelper\" record \"%1\"" /f >/dev/null 2>&1

# Answers a message box titled "Error" (or "Error - " and the client's
# name) with Return, noting that it came;
# the certificate question with the keys in $cert_keys, noting it too.
# With the X focus at the root, keys go to the window under the pointer.
point_at() {
    xdotool windowactivate --sync "$1" 2>/dev/null
    eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null)"
    xdotool mousemove $((X + 5)) $((Y + 5)) 2>/dev/null
}
answer_boxes() {
    while :; do
        w=$(xdotool search --onlyvisible --name '^Error( - .*)?$' 2>/dev/null | head -n 1)
        if [ -n "$w" ]; then
            echo box >>"$work/boxes"
            point_at "$w"
            xdotool key --window "$w" Return 2>/dev/null
            sleep 0.5
        fi
        w=$(xdotool search --onlyvisible --name '^Security Warning$' 2>/dev/null | head -n 1)
        if [ -n "$w" ]; then
            echo cert >>"$work/asked"
            point_at "$w"
            xdotool key --window "$w" $cert_keys 2>/dev/null
            sleep 0.5
        fi
        sleep 0.2
    done
}

# row NAME EXPECTED-EXIT EXPECTED-CALLS BROWSER-PATTERN BOX SCRIPT -- CLIENT-ARGS...
# With $tls set the web side is https with a self-signed certificate (the
# question answered by $cert_keys); $profile_extra goes into the profile.
# BOX "box" wants an error box; "cert" the certificate question.
tls= cert_keys= profile_extra= stored_cookie="<sessioncookie>S1</sessioncookie>"
pki=$HV_WIN32/session-pki
[ -s "$pki/root.pem" ] || python3 "$root/tests/peers/make_pki.py" "$pki" >/dev/null || exit 1
row() {
    local name=$1 want_rc=$2 want_calls=$3 browser=$4 box=$5 script=$6
    shift 7
    rm -f "$work/port" "$work/transcript" "$work/boxes" "$work/asked" "$temp/hvrecorded.txt"
    local scripts=() url=http://127.0.0.1:%s/hvn/
    [ -n "$script" ] && scripts=(--script "$script")
    if [ -n "$tls" ]; then
        scripts+=(--cert "$pki/selflocal.pem" --key "$pki/selflocal.key")
        url=https://localhost:%s/hvn/
    fi
    python3 "$root/tests/peers/halvanet_web.py" --port-file "$work/port" --lifetime 120 \
        --transcript "$work/transcript" "${scripts[@]}" </dev/null >/dev/null 2>&1 &
    peer=$!
    for i in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
    local port
    port=$(cat "$work/port")
    printf '\xef\xbb\xbf<?xml version="1.0" encoding="UTF-8" ?>\r\n<cache><profiles><version>1.0</version><host name="127.0.0.1"><user ens="ann"><profile name="Default"><url>'"$url"'</url>%s%s</profile></user></host></profiles><localsettings><drxclientid>7:9</drxclientid></localsettings></cache>\r\n' \
        "$port" "$stored_cookie" "$profile_extra" >"$folder/profile.xml"
    printf '\xef\xbb\xbf<settings><sessioncookie>S1</sessioncookie><protocol>%s</protocol><server>%s</server><port>%s</port><jwslocation>axis/HVNWS.jws</jwslocation><emulatorcookies><cookie>e1</cookie><cookie>e2</cookie><cookie>e3</cookie></emulatorcookies></settings>' \
        "${tls:+https}${tls:-http}" "${tls:+localhost}${tls:-127.0.0.1}" "$port" >"$folder/hvpaths.dat"
    local args=()
    for a in "$@"; do args+=("${a//PORT/$port}"); done
    answer_boxes &
    local answerer=$!
    local rc
    if [ "$want_rc" = - ]; then
        # The client goes on to sign in through the browser and waits there
        # for the page's helper: it is stopped once the page has come.
        wine "$HV_WIN32/halvanet.exe" "${args[@]}" </dev/null >/dev/null 2>&1 &
        local client=$!
        for i in $(seq 1 1200); do [ -s "$temp/hvrecorded.txt" ] && break; sleep 0.1; done
        kill -0 "$client" 2>/dev/null && rc=- || rc=ended
        kill "$client" 2>/dev/null
        wait "$client" 2>/dev/null
    else
        timeout 120 wine "$HV_WIN32/halvanet.exe" "${args[@]}" </dev/null >/dev/null 2>&1
        rc=$?
    fi
    kill "$answerer" 2>/dev/null
    wait "$answerer" 2>/dev/null
    stop_peer
    local calls
    calls=$(python3 -c '
import json, sys
out = []
for line in open(sys.argv[1]):
    e = json.loads(line)
    out.append(e["op"] + "(" + ",".join(e["params"].get(k, "") for k in e["order"]) + ")")
print(";".join(out))' "$work/transcript" 2>/dev/null)
    local bad=
    [ "$rc" = "$want_rc" ] || bad="$bad exit $rc (want $want_rc);"
    [ "$calls" = "$want_calls" ] || bad="$bad calls '$calls' (want '$want_calls');"
    if [ -n "$browser" ]; then
        # The browser runs on after the client has ended: its copy of the
        # page may come later than the client's exit.
        for i in $(seq 1 100); do [ -s "$temp/hvrecorded.txt" ] && break; sleep 0.1; done
        grep -q -- "$browser" "$temp/hvrecorded.txt" 2>/dev/null ||
            bad="$bad browser '$(cat "$temp/hvrecorded.txt" 2>/dev/null)';"
    fi
    if [ "$box" = box ]; then
        [ -s "$work/boxes" ] || bad="$bad no message box;"
    elif [ "$box" = cert ]; then
        [ -s "$work/asked" ] || bad="$bad no certificate question;"
    fi
    if [ -n "$bad" ]; then
        echo "FAILED $name:$bad"
        failures=$((failures + 1))
    else
        echo "ok $name"
    fi
}

lf='fault11:SOAP-ENV:Server.userException|java.rmi.RemoteException: Server.LaunchFailed'
row "application started" 0 "startEmulatorSession(S1,calc)" "" "" "" -- \
    -profile 127.0.0.1:ann:Default -application calc
row "launch refused" 102 "startEmulatorSession(S1,calc)" "" box "startEmulatorSession=$lf" -- \
    -profile 127.0.0.1:ann:Default -application calc
row "webtop logout" 0 "endSession(S1)" "" "" "" -- \
    -profile 127.0.0.1:ann:Default -application ic_logout
row "webtop url" 0 "" "URL=http://127.0.0.1:[0-9]*/hvn/apps?x=1&amp;cid=7%3A9&amp;sid=S1\"" "" "" -- \
    -profile 127.0.0.1:ann:Default -application 'http://127.0.0.1:PORT/hvn/apps?x=1'
row "launch configuration" 0 \
    "suspendSession(S1,e1);suspendSession(S1,e2);suspendSession(S1,e3);resumeSession(S1,e1);resumeSession(S1,e2);resumeSession(S1,e3)" \
    "" "" "" -- -launchconfig hvpaths.dat
# Stalls end in their bounds; a self-signed server is asked about, and a
# refusal sends it nothing. A start-up path that failed so goes on to the
# browser's sign-in (exit "-": still running once the page came).
login='URL=http://127.0.0.1:[0-9]*/hvn/?drxport=[0-9]*&amp;javaprobe=true"'
row "application, stalled" - "startEmulatorSession(S1,calc)" "$login" "" \
    "startEmulatorSession=stall" -- -profile 127.0.0.1:ann:Default -application calc
tls=1 cert_keys=Escape
row "application, certificate refused" - "" "${login/http:\/\/127.0.0.1/https://localhost}" cert "" -- \
    -profile 127.0.0.1:ann:Default -application calc
cert_keys="alt+t alt+a"
row "application, certificate accepted" 0 "startEmulatorSession(S1,calc)" "" cert "" -- \
    -profile 127.0.0.1:ann:Default -application calc
cert_keys=Escape profile_extra="<mode>integrated</mode>" stored_cookie=
row "sign-in, certificate refused" 0 "" "" cert "" -- -profile 127.0.0.1:ann:Default
cert_keys="alt+t alt+a"
row "sign-in, certificate accepted" 0 "startSession(7:9,false)" "" cert "" -- \
    -profile 127.0.0.1:ann:Default
tls=
row "sign-in, stalled" 0 "startSession(7:9,false)" "" box "startSession=stall" -- \
    -profile 127.0.0.1:ann:Default
tls= cert_keys= profile_extra= stored_cookie="<sessioncookie>S1</sessioncookie>"
[ "$failures" = 0 ] || exit 1
echo ok

#!/usr/bin/env bash
# A new user's first two starts, behind an HTTP proxy that wants a password
# (a private tinyproxy). First start, no profile and no server: dialog 210
# asks; a URL the parser refuses gets box 40021, then the URL typed with
# blanks around it and the proxy chosen opens the browser (the recorder)
# with the trimmed URL, "drxport" and "javaprobe". The page's helper makes
# the client connect; the server signs it in and sends ns1:automaticLogin
# (integrated mode, automatic login, a token): profile.xml keeps the
# profile, the token and the proxy. Second start, no options: no dialog;
# the web service is called through the proxy, whose password is typed into
# dialog 188; the token signs in with an empty user; the outpost connects
# to the session document's engine with the configuration's cookie; the
# user information brings Print, Restart and the webtop; the server's X
# application shows on the screen. Signed out, the client ends the web
# session. Usage: run_intlogin_e2e.sh ROOT RECORDER-EXE SHOTS RELAY-EXE
set -u
root=$1
recorder=$2
shots=$3
relay=$4
source "$root/tests/session/session_lib.sh"
fail_details() {
    import -window root "$shots/intlogin_failure.png" 2>/dev/null
    echo "--- web calls"
    cat "$work/web.jsonl" 2>/dev/null
    echo "--- helper"
    cat "$work/h" 2>/dev/null
    echo "--- profile.xml"
    cat "$folder/profile.xml" 2>/dev/null
}
winrec="Z:$(echo "$recorder" | tr / '\\')"
temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
local_app=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)
folder="$local_app/Vek/VHVN"
proxy= helper= answerer=
mkdir -p "$folder" "$shots"
# Kept outside $work, which fail() removes before the exit trap runs.
saved=$(mktemp -d)
[ -e "$folder/profile.xml" ] && mv "$folder/profile.xml" "$saved/profile.xml"
finish() {
    for p in $client $answerer $helper $server; do kill "$p" 2>/dev/null; done
    rm -f "$work/pp" # stops the proxy launcher, which stops tinyproxy
    [ -n "$proxy" ] && wait "$proxy" 2>/dev/null
    wine reg delete 'HKCR\HvSessionPage' /f >/dev/null 2>&1
    wine reg delete 'HKCR\.htm' /f >/dev/null 2>&1
    rm -f "$folder/profile.xml" "$temp/hvrecorded.txt"
    [ -e "$saved/profile.xml" ] && mv "$saved/profile.xml" "$folder/profile.xml"
    rm -rf "$work" "$saved"
}
trap finish EXIT
window() { # NAME: waits for a visible window titled NAME, prints its id
    local w i
    for i in $(seq 1 150); do
        w=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}
web_calls() {
    python3 -c '
import json, sys
out = []
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e["errors"]:
        out.append("ERRORS " + repr(e["errors"]))
    out.append(e["op"] + "(" + ",".join(e["params"].get(k, "") for k in e["order"]) + ")")
print(";".join(out))' "$work/web.jsonl" 2>/dev/null
}
rm -f "$temp/hvrecorded.txt"
wine reg add 'HKCR\.htm' /ve /d HvSessionPage /f >/dev/null 2>&1
wine reg add 'HKCR\HvSessionPage\shell\open\command' /ve \
    /d "\"$winrec\" record \"%1\"" /f >/dev/null 2>&1

python3 "$root/tests/peers/proxy_launcher.py" tinyproxy --user alice --password s3cret \
    --port-file "$work/pp" --lifetime 280 </dev/null >/dev/null 2>&1 &
proxy=$!
python3 "$root/tests/peers/fake_halvanet.py" --scenario autologin --cookie SO-42 --login-token tok-7 \
    --port-file "$work/sp" --web-port-file "$work/wp" --web-transcript "$work/web.jsonl" \
    --logout-when "$work/logout" --lifetime 240 --transcript "$work/t" </dev/null >/dev/null 2>&1 &
server=$!
await 100 test -s "$work/pp" -a -s "$work/sp" -a -s "$work/wp" || fail "no proxy or server"
pport=$(cat "$work/pp")
[ "$pport" != 0 ] || fail "tinyproxy did not start"

# The proxy's password, typed whenever dialog 188 ("Authentication
# Required") comes up; never saved.
(
    while :; do
        w=$(xdotool search --onlyvisible --name '^Authentication Required$' 2>/dev/null | head -n 1)
        if [ -n "$w" ]; then
            echo asked >>"$work/asked"
            eval "$(xdotool getwindowgeometry --shell "$w")"
            xdotool mousemove $((X + WIDTH * 70 / 100)) $((Y + HEIGHT * 40 / 100)) click 1
            xdotool type --delay 20 alice
            xdotool key Tab
            xdotool type --delay 20 s3cret
            xdotool key Return
            sleep 1
        fi
        sleep 0.2
    done
) </dev/null >/dev/null 2>&1 &
answerer=$!

# First start.
wine "$HV_WIN32/halvanet.exe" </dev/null >/dev/null 2>&1 &
client=$!
dialog=$(window "Vek HVN Client Connection Settings") || fail "no connection settings dialog"
eval "$(xdotool getwindowgeometry --shell "$dialog")"
# Clicks into the URL edit with the X input focus on the dialog: without a
# window manager a click does not always move it there, and typed keys would
# go to whichever window held it.
url_edit() {
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT * 26 / 100)) click 1
    xdotool key --delay 20 End $(printf 'BackSpace %.0s' $(seq 1 20))
}
# A key typed before the dialog took the focus is lost: type again until
# the box comes (or three tries fail).
box=
for try in 1 2 3; do
    url_edit
    xdotool type --delay 20 "web.test/hvn"
    xdotool key Return
    box=$(window "Error: Invalid URL!") && break
done
[ -n "$box" ] || fail "no box for a bad URL"
xdotool windowactivate --sync "$box" 2>/dev/null
xdotool key --window "$box" Return
gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q "IsViewable"; }
await 50 gone "$box" || fail "the box stayed"
window "Vek HVN Client Connection Settings" >/dev/null || fail "the dialog closed on a bad URL"
import -window root "$shots/intlogin_connsettings.png" 2>/dev/null
url_edit
web=$(cat "$work/wp")
xdotool type --delay 20 "  http://127.0.0.1:$web/hvn/  "
xdotool key alt+h Tab
xdotool type --delay 20 "127.0.0.1"
xdotool key Tab
xdotool type --delay 20 "$pport"
xdotool key Return
await 150 test -s "$temp/hvrecorded.txt" || fail "the browser was not started"
page=$(cat "$temp/hvrecorded.txt")
drx=$(sed -n 's/.*URL=http:\/\/127\.0\.0\.1:'"$web"'\/hvn\/?drxport=\([0-9]*\)&amp;javaprobe=true".*/\1/p' \
    <<<"$page")
[ -n "$drx" ] || fail "page: $page"
echo "$drx" >"$work/cp"
# The page's helper tells the client where its server is, and the proxy
# the browser went through.
python3 "$root/tests/peers/fake_helper.py" --client-port-file "$work/cp" --steps init \
    --server-port "$(cat "$work/sp")" --connection-cookie HLP-1 --log "$work/h" --relay "$relay" \
    --proxy "127.0.0.1:$pport:HTTP" \
    --lifetime 60 </dev/null >/dev/null 2>&1 &
helper=$!
timeout 90 tail --pid="$client" -f /dev/null || fail "the first start did not end"
wait "$client"
rc=$?
client=
[ "$rc" = 0 ] || fail "first start: exit code $rc"
kill "$helper" 2>/dev/null
helper=
profile=$(iconv -f UTF-8 -t UTF-8 "$folder/profile.xml" 2>/dev/null | tr -d '\r\n')
for want in '<AT>tok-7</AT>' '<mode>integrated</mode>' '<autologin>true</autologin>' \
    "<lastproxyhost>127.0.0.1</lastproxyhost>" "<lastproxyport>$pport</lastproxyport>" \
    '<lastproxytype>HTTP</lastproxytype>' '<drxclientid>7:9</drxclientid>'; do
    grep -qF "$want" <<<"$profile" || fail "profile.xml lacks $want"
done
[ -s "$work/web.jsonl" ] && fail "the first start called the web service"
asked_first=$(wc -l <"$work/asked" 2>/dev/null || echo 0)

# Second start: no options.
wine "$HV_WIN32/halvanet.exe" </dev/null >/dev/null 2>&1 &
client=$!
await 900 grep -q "send request requestLaunch" "$work/t" || fail "no launch: the sign-in failed"
at=$(x_app_shown) || fail "the application's pixels are not on the screen: $at"
xdotool search --onlyvisible --name "^Vek HVN Client Connection Settings\$" >/dev/null 2>&1 &&
    fail "the second start asked for connection settings"
asked=$(wc -l <"$work/asked" 2>/dev/null || echo 0)
[ "$asked" -gt "$asked_first" ] || fail "the proxy password was not asked for"
touch "$work/logout"
timeout 90 tail --pid="$client" -f /dev/null || fail "the second start did not end"
wait "$client"
rc=$?
client=
[ "$rc" = 0 ] || fail "second start: exit code $rc"
rm -f "$work/wp" # ends the web side
wait "$server" || fail "the server saw something it did not expect"
server=
calls=$(web_calls)
want="startSession(7:9,false);setDRXConfiguration(IC-1);startDRX(IC-1)"
want="$want;authenticateSession(IC-1,,tok-7)"
want="$want;registerDRXEventListener(IC-1,Print);registerDRXEventListener(IC-1,Restart)"
want="$want;getWebtop(IC-1,false,true);endSession(IC-1)"
[ "$calls" = "$want" ] || fail "web calls: $calls"
grep -q "Proxy-Authorization" "$work/web.jsonl" && fail "the proxy password reached the server"
echo ok

#!/usr/bin/env bash
# Two launches over TLS to an application server with a self-signed
# certificate of "localhost" (fake_halvanet.py, scenario "tlslaunch"), with
# no certificate or host remembered before. The first shows the problem
# list with the remember choices, answered "permanently", then the first
# connection to the host: the certificate reaches certstore.pem. The second
# launch to that host connects without a question.
# Usage: run_launch_tls.sh ROOT
set -u
root=$1
source "$root/tests/session/session_lib.sh"
pki=$HV_WIN32/session-pki
[ -s "$pki/root.pem" ] || python3 "$root/tests/peers/make_pki.py" "$pki" >/dev/null || exit 1
local_app=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')" 2>/dev/null)
folder="$local_app/Vek/VHVN"
saved=$(mktemp -d)
mkdir -p "$folder"
for f in certstore.pem hostsvisited; do [ -e "$folder/$f" ] && mv "$folder/$f" "$saved/"; done
answerer=
finish() {
    [ -n "$answerer" ] && kill "$answerer" 2>/dev/null
    rm -f "$folder/certstore.pem" "$folder/hostsvisited"
    cp "$saved/"* "$folder/" 2>/dev/null
    rm -rf "$saved"
}
trap finish EXIT
fail_details() { echo "--- answered"; sort -u "$work/answered" 2>/dev/null; }
# Each window of these titles gets its keys; its id is noted once answered.
(
    while :; do
        for answer in "Security Warning|alt+p alt+a" "Untrusted Initial Connection|y"; do
            w=$(xdotool search --onlyvisible --name "^${answer%|*}\$" 2>/dev/null | head -n 1)
            [ -n "$w" ] || continue
            xdotool windowactivate --sync "$w" 2>/dev/null
            xdotool key --window "$w" ${answer#*|} 2>/dev/null &&
                echo "${answer%|*} $w" >>"$work/answered"
        done
        sleep 0.2
    done
) </dev/null >/dev/null 2>&1 &
answerer=$!

start_server_and_client --scenario tlslaunch --cert "$pki/selflocal.pem" --key "$pki/selflocal.key" \
    --lifetime 120
both_connected() { [ "$(grep -c "connect request as expected" "$work/t")" = 2 ]; }
await 600 both_connected || fail "the two launches did not both connect"
asked=$(sort -u "$work/answered" | cut -d' ' -f1-2 | tr '\n' ';')
[ "$asked" = "Security Warning;Untrusted Initial;" ] || fail "questions asked: $asked"
fingerprint() { openssl x509 -noout -fingerprint -in "$1" 2>/dev/null; }
want=$(fingerprint "$pki/selflocal.pem")
[ -n "$want" ] && [ "$(fingerprint "$folder/certstore.pem")" = "$want" ] ||
    fail "certstore.pem does not hold the server's certificate"
kill "$client" "$server" 2>/dev/null
wait "$client" 2>/dev/null
echo passed
rm -rf "$work"

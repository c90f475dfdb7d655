#!/usr/bin/env bash
# scard-client.sh CLIENT STANDIN_DIR [minimal]: smart cards through the whole
# client, started as tools/run starts it, on the stand-in PC/SC service in
# STANDIN_DIR (its winscard.dll). The scripted server must find the card
# service among the client's capabilities, and after ns1:doSCard its
# smart-card server (scard_peer.py) runs every call through the client to
# the service and ends a session under pending calls; "minimal" is the
# service without its optional entry points.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../tools/lib/common.sh"
client=$1 standin=$2 variant=${3:-full}
work=$(mktemp -d)
peer_pid=
client_pid=
trap '[ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null;
      [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$work/control"
/usr/bin/python3 "$here/../peers/fake_halvanet.py" --scenario scard --port-file "$work/sp" \
    --transcript "$work/t" --lifetime 150 --scard-control "$work/control" \
    $([ "$variant" = minimal ] && echo --scard-minimal) </dev/null >/dev/null 2>&1 &
peer_pid=$!
for i in $(seq 1 100); do [ -s "$work/sp" ] && break; sleep 0.1; done
[ -s "$work/sp" ] || { echo "fake_halvanet did not start"; exit 1; }
# Wine takes the native winscard.dll only when told, and for an import only
# from the program's own folder: the client runs from a copy beside it.
mkdir "$work/bin"
cp "$client" "$standin/winscard.dll" "$work/bin/"
(cd "$work" && HV_SCARD_STANDIN_DIR="Z:$work/control" WINEDLLOVERRIDES="winscard=n;$WINEDLLOVERRIDES" \
    exec wine "$work/bin/$(basename "$client")" -server 127.0.0.1 -port "$(cat "$work/sp")" \
    -portfile "Z:$work/cp" -connectioncookie demo </dev/null >/dev/null 2>&1) &
client_pid=$!
wait "$peer_pid"
rc=$?
peer_pid=
if [ "$rc" -ne 0 ] || ! grep -q "scard done" "$work/t"; then
    echo "fake_halvanet scard scenario failed:"
    cat "$work/t"
    echo "service calls: $(cat "$work/control/log" 2>/dev/null)"
    exit 1
fi
for i in $(seq 1 300); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
echo "smart cards ($variant): every call through the client, the ended session cleaned up"

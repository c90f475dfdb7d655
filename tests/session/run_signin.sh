#!/usr/bin/env bash
# One sign-in against the scripted server, which then signs the client out:
# the client must end with 0 and the server must have seen only what it
# expected. Usage: run_signin.sh ROOT [--yes TITLE] [server options] --
# [client options]. "@PKI@" in any option is replaced by a fresh test PKI
# folder (as Z:... in client options); with --yes, the window of that title
# is answered Yes when it comes up.
set -u
root=$1
shift
yes_title=
if [ "${1:-}" = "--yes" ]; then
    yes_title=$2
    shift 2
fi
source "$root/tools/lib/common.sh"
work=$(mktemp -d)
python3 "$root/tests/peers/make_pki.py" "$work/pki" || { rm -rf "$work"; exit 1; }
server_args=() client_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do server_args+=("${1//@PKI@/$work/pki}"); shift; done
[ $# -gt 0 ] && shift
for a in "$@"; do client_args+=("${a//@PKI@/Z:$work/pki}"); done
python3 "$root/tests/peers/fake_halvanet.py" --logout --port-file "$work/sp" \
    --transcript "$work/t" --lifetime 60 "${server_args[@]}" </dev/null >/dev/null 2>&1 &
server=$!
for i in $(seq 1 100); do [ -s "$work/sp" ] && break; sleep 0.1; done
if [ -n "$yes_title" ]; then
    (
        for i in $(seq 1 600); do
            w=$(xdotool search --onlyvisible --name "^$yes_title\$" 2>/dev/null | head -n 1)
            if [ -n "$w" ]; then
                xdotool windowactivate --sync "$w" 2>/dev/null
                xdotool key --window "$w" y
                break
            fi
            sleep 0.1
        done
    ) </dev/null >/dev/null 2>&1 &
    answerer=$!
fi
timeout 120 wine "$HV_WIN32/halvanet.exe" -port "$(cat "$work/sp")" -portfile "Z:$work/cp" \
    -connectioncookie demo "${client_args[@]}" </dev/null >/dev/null 2>&1
rc=$?
wait "$server"
src=$?
[ -n "$yes_title" ] && kill "$answerer" 2>/dev/null
cat "$work/t"
rm -rf "$work"
[ "$rc" = 0 ] || { echo "FAILED: client exit code $rc"; exit 1; }
[ "$src" = 0 ] || { echo "FAILED: the server saw something it did not expect"; exit 1; }
echo ok

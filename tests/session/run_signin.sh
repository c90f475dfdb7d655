#!/usr/bin/env bash
# One sign-in against the scripted server, which then signs the client out:
# the client must end with 0 and the server must have seen only what it
# expected. Usage: run_signin.sh ROOT [--answer TITLE KEY]... [server
# options] -- [client options]. "@PKI@" in any option is replaced by the
# test PKI folder of the build tree, made once so that the certificates stay
# the same from run to run (as Z:... in client options); each --answer
# presses KEY in the window of that title whenever it comes up. With
# "--close TITLE HELPER" (tests/core/hv_closemain) the main window is closed
# under that window first, with no host remembered and no sign-out: the
# client must connect once it is answered, then end with 0 by itself.
set -u
root=$1
shift
answers=() close=() logout=(--logout)
while [ "${1:-}" = "--answer" ] || [ "${1:-}" = "--close" ]; do
    [ "$1" = --close ] && close=("$2" "$3") || answers+=("$2" "$3")
    shift 3
done
source "$root/tools/lib/common.sh"
work=$(mktemp -d)
pki=$HV_WIN32/session-pki
[ -s "$pki/root.pem" ] || python3 "$root/tests/peers/make_pki.py" "$pki" || { rm -rf "$work"; exit 1; }
server_args=() client_args=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do server_args+=("${1//@PKI@/$pki}"); shift; done
[ $# -gt 0 ] && shift
for a in "$@"; do client_args+=("${a//@PKI@/Z:$pki}"); done
if [ ${#close[@]} -gt 0 ]; then
    certs=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")/Vek/VHVN
    mkdir -p "$work/certs" "$certs" && mv "$certs"/{certstore.pem,hostsvisited} "$work/certs/"
    logout=(--logout-when "$work/never")
fi 2>/dev/null
python3 "$root/tests/peers/fake_halvanet.py" "${logout[@]}" --port-file "$work/sp" \
    --transcript "$work/t" --lifetime 60 "${server_args[@]}" </dev/null >/dev/null 2>&1 &
server=$!
for i in $(seq 1 100); do [ -s "$work/sp" ] && break; sleep 0.1; done
answerer=
if [ ${#answers[@]} -gt 0 ]; then
    (
        for i in $(seq 1 600); do
            for ((k = 0; k < ${#answers[@]}; k += 2)); do
                w=$(xdotool search --onlyvisible --name "^${answers[k]}\$" 2>/dev/null | head -n 1)
                [ -n "$w" ] || continue
                [ "${answers[k]}" = "${close[0]:-}" ] && [ ! -e "$work/closed" ] &&
                    { hv_wine "${close[1]}" close wait </dev/null; echo $? >"$work/closed"; }
                xdotool windowactivate --sync "$w" 2>/dev/null
                xdotool key --window "$w" "${answers[k + 1]}"
            done
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
[ -n "$answerer" ] && kill "$answerer" 2>/dev/null
cat "$work/t"
if [ ${#close[@]} -gt 0 ]; then
    rm -f "$certs"/{certstore.pem,hostsvisited} && cp "$work/certs/"* "$certs/" 2>/dev/null
    [ "$(cat "$work/closed" 2>/dev/null)" = 0 ] && grep -q "recv request init" "$work/t" && src=0 ||
        src=1
fi
rm -rf "$work"
[ "$rc" = 0 ] || { echo "FAILED: client exit code $rc"; exit 1; }
[ "$src" = 0 ] || { echo "FAILED: the server saw something it did not expect"; exit 1; }
echo ok

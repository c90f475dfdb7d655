#!/usr/bin/env bash
# The log file of a whole demo session under Wine: the server raises the
# level by ns1:setState "logging_all", signs the client out, and drx.txt in
# "-logdir" then parses strictly: UTF-16LE without a byte-order mark, every
# line "Level<TAB>N<TAB>YYYY/MM/DD hh:mm:ss<TAB>text<CR><LF>", N counting
# from 1, with the packets' 471 and 472 lines.
# Usage: run_logfile.sh ROOT
set -u
root=$1
source "$root/tools/lib/common.sh"
work=$(mktemp -d)
server= client=
fail() {
    echo "FAILED: $*"
    cat "$work/t" 2>/dev/null
    [ -n "$client" ] && kill "$client" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null
    rm -rf "$work"
    exit 1
}
await() {
    local n=$1 i
    shift
    for i in $(seq 1 "$n"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
python3 "$root/tests/peers/fake_halvanet.py" --scenario demo --logging logging_all --logout \
    --port-file "$work/sp" --transcript "$work/t" --lifetime 120 </dev/null >/dev/null 2>&1 &
server=$!
await 100 test -s "$work/sp" || fail "the server did not start"
wine "$HV_WIN32/halvanet.exe" -server 127.0.0.1 -port "$(cat "$work/sp")" \
    -portfile "Z:$work/cp" -connectioncookie demo -logdir "Z:$work" </dev/null >/dev/null 2>&1 &
client=$!
await 600 eval '! kill -0 $client 2>/dev/null' || fail "the client did not end after the logout"
wait "$client" || fail "client exit code $?"
python3 - "$work/drx.txt" <<'PY' || fail "drx.txt"
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
for want in ("Received SOAP AIP/V request (ns1:getState)", "Sending SOAP AIP/V response (ns1:getStateResponse)"):
    assert any(want in l for l in lines), "no %r in %r" % (want, lines)
PY
wait "$server" || fail "the server saw something it did not expect"
rm -rf "$work"
echo ok

#!/usr/bin/env bash
# The log file behind a slow reader: drx.txt is a FIFO drained at 40 KB/s.
# Through a burst of 10,000 log lines (5,000 unknown server requests at
# level 3) the client's main window keeps answering WM_NULL within 200 ms,
# and every line arrives whole, numbered in order. Then, with the reader
# stopped and the pipe full, a sign-out still ends the client.
# Usage: run_logfifo.sh ROOT UI-PROBE-EXE
set -u
root=$1
ui_probe=$2
source "$root/tests/session/session_lib.sh"
reader= probe=
fail_details() {
    [ -n "$reader" ] && kill -CONT "$reader" 2>/dev/null && kill "$reader" 2>/dev/null
    [ -n "$probe" ] && kill "$probe" 2>/dev/null
    cat "$work/ping" 2>/dev/null
}
mkfifo "$work/drx.txt"
# Drains the FIFO at 40 KB/s into "got"; a read of nothing after data means
# the writer closed it.
python3 - "$work/drx.txt" "$work/got" <<'PY' >/dev/null 2>&1 &
import os, sys, time
fd = os.open(sys.argv[1], os.O_RDONLY | os.O_NONBLOCK)
out = open(sys.argv[2], "wb", buffering=0)
seen = False
end_at = time.time() + 280
while time.time() < end_at:
    try:
        data = os.read(fd, 4096)
    except BlockingIOError:
        data = None
    if data:
        seen = True
        out.write(data)
    elif data == b"" and seen:
        break
    time.sleep(0.1)
PY
reader=$!

start_server_and_client --scenario demo --logging logging_all --burst 5000 \
    --burst-when "$work/burst" --logout-when "$work/go" --lifetime 280
await 300 grep -q "session held" "$work/t" || fail "no session"

wine "$ui_probe" ping "Z:$work/pingstop" </dev/null >"$work/ping" 2>&1 &
probe=$!
await 100 test -s "$work/got" || fail "nothing read from the FIFO"
touch "$work/burst"
lines() { tr -d '\000' <"$work/got" | grep -c "hvBurst"; }
await 1200 eval '[ "$(lines)" -ge 10000 ]' || fail "$(lines) burst lines arrived"
touch "$work/pingstop"
wait "$probe" || fail "the main window did not answer: $(cat "$work/ping")"
probe=
echo "main window during the burst: $(cat "$work/ping")"

python3 - "$work/got" <<'PY' || fail "the lines read"
import re, sys
text = open(sys.argv[1], "rb").read().decode("utf-16-le")
lines = text[:text.rfind("\r\n")].split("\r\n")
line = re.compile(r"(Error|Warning|Info)\t([0-9]+)\t\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\t[^\r\n]*\Z")
for n, l in enumerate(lines, 1):
    m = line.match(l)
    assert m, "line %d: %r" % (n, l)
    assert int(m.group(2)) == n, "line %d numbered %s" % (n, m.group(2))
received = sum("request (ns1:hvBurst)" in l for l in lines)
unsupported = sum(l.endswith("ns1:hvBurst") and "request" not in l for l in lines)
assert received == 5000 and unsupported == 5000, (received, unsupported)
PY

# The reader stops; a second burst fills the pipe; the client must still end.
kill -STOP "$reader"
touch "$work/burst"
await 300 eval '[ "$(grep -c "requests sent" "$work/t")" -ge 2 ]' || fail "no second burst"
touch "$work/go"
await 300 grep -q "client closed the connection" "$work/t" || fail "the sign-out did not end the session"
await 300 eval '! kill -0 $client 2>/dev/null' || fail "the client hung on a stopped reader"
wait "$client" || fail "client exit code $?"
kill -CONT "$reader"
kill "$reader" 2>/dev/null
wait "$server" || fail "the server saw something it did not expect"
rm -rf "$work"
echo ok

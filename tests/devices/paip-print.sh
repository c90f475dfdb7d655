#!/usr/bin/env bash
# paip-print.sh HARNESS: the print channel end to end against a private CUPS
# server whose default is a PDF printer. paip_peer.py plays the print
# service: a deflated PostScript page in several messages, 2 copies. Two
# PDFs must come out holding the page's text, the queue must end "ready"
# with no spool file left; then the whole client and the scripted server
# (print, doprint, two more prints while the first job prints, getState
# printstate): three PDFs, one a job. Then three jobs that must not stop
# the queue, one PDF each: one that ends while the user has paused prints
# at the resume; through the whole client, a job whose doprint names a
# closed port is given up for the next, and a job of another print service
# prints after it; printstate "ready". A deflate bomb cut
# off by the connection's loss leaves no spool and little memory. Then, with
# 100 more printers, the client hello must fit 4096 bytes with the default
# printer last. Exit 77 (skipped) when CUPS or the PDF tools are not
# installed.
set -uo pipefail
here=$(dirname "$0")
source "$here/../../tools/lib/common.sh"
source "$here/../support/private-cupsd.sh"
harness=$1
peer_pid=
client_pid=
trap '[ -n "$peer_pid" ] && kill "$peer_pid" 2>/dev/null;
      [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null; hv_cupsd_stop; hv_cleanup' EXIT
hv_cupsd_start
work=$HV_CUPS_DIR/work
mkdir -p "$work"
pdfq=hvpaip$$
hv_cupsd_add_pdf "$pdfq"
hv_cupsd_default "$pdfq"

# run_peer SCENARIO [PEER OPTIONS] [-- HARNESS OPTIONS]: starts the peer
# and the harness; the harness's line.
run_peer() {
    local scenario=$1 peer_opts=() harness_opts=()
    shift
    while [ $# -gt 0 ] && [ "$1" != -- ]; do peer_opts+=("$1"); shift; done
    [ $# -gt 0 ] && shift && harness_opts=("$@")
    rm -f "$work/port" "$work/result"
    /usr/bin/python3 "$here/../peers/paip_peer.py" "$scenario" "http://srv/a/_service/job-$$" \
        --port-file "$work/port" --result-file "$work/result" "${peer_opts[@]}" </dev/null &
    peer_pid=$!
    for i in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
    [ -s "$work/port" ] || { echo "paip_peer did not start"; exit 1; }
    hv_wine "$harness" "$(cat "$work/port")" "http://srv/a/_service/job-$$" "${harness_opts[@]}" \
        </dev/null |
        tr -d '\r' >"$work/harness.out"
    wait "$peer_pid"
    peer_pid=
    [ -s "$work/result" ] || { echo "paip_peer wrote no result"; exit 1; }
    if [ "$(head -n 1 "$work/result")" != ok ]; then
        echo "paip_peer: $(head -n 1 "$work/result")"
        exit 1
    fi
}

# check_pdfs N: N PDFs, each holding the page's text, once CUPS is done.
check_pdfs() {
    local i pdfs pdf
    for i in $(seq 1 600); do
        [ "$(ls "$HV_CUPS_OUT"/*.pdf 2>/dev/null | wc -l)" -ge "$1" ] &&
            ! lpstat -o 2>/dev/null | grep -q . && break
        sleep 0.1
    done
    pdfs=$(ls "$HV_CUPS_OUT"/*.pdf 2>/dev/null | wc -l)
    [ "$pdfs" -eq "$1" ] || { echo "$pdfs PDFs came out, not $1"; exit 1; }
    for pdf in "$HV_CUPS_OUT"/*.pdf; do
        pdftotext "$pdf" - | grep -q "Halvanet print channel page" ||
            { echo "$pdf does not hold the page's text"; exit 1; }
    done
}

run_peer print
grep -q "^state ready spools 0 " "$work/harness.out" ||
    { echo "harness: $(cat "$work/harness.out")"; exit 1; }
check_pdfs 2
echo "print: 2 copies, text found, no spool left"

# run_client SCENARIO: the whole client, started as tools/run starts it,
# against the scripted server's print scenario, whose application servers
# play the print service; no spool is left behind.
run_client() {
    rm -f "$work/sp" "$work/t"
    python3 "$here/../peers/fake_halvanet.py" --scenario "$1" --port-file "$work/sp" \
        --transcript "$work/t" --lifetime 120 </dev/null >/dev/null 2>&1 &
    peer_pid=$!
    for i in $(seq 1 100); do [ -s "$work/sp" ] && break; sleep 0.1; done
    [ -s "$work/sp" ] || { echo "fake_halvanet did not start"; exit 1; }
    wine "$HV_WIN32/halvanet.exe" -server 127.0.0.1 -port "$(cat "$work/sp")" \
        -portfile "Z:$work/cp" -connectioncookie demo </dev/null >/dev/null 2>&1 &
    client_pid=$!
    wait "$peer_pid"
    rc=$?
    peer_pid=
    [ "$rc" -eq 0 ] && grep -q "print done" "$work/t" ||
        { echo "fake_halvanet $1 scenario failed:"; cat "$work/t"; exit 1; }
    spools=$(find "$WINEPREFIX/drive_c" -path "*QVLWinPrint/QVL*" 2>/dev/null | wc -l)
    [ "$spools" -eq 0 ] || { echo "$spools spool files left"; exit 1; }
    for i in $(seq 1 300); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
    kill "$client_pid" 2>/dev/null
    client_pid=
}

# The scripted server asks for the print capabilities, sends the job and
# doprint, and two more jobs while the first prints; all three print, and
# printstate is then "ready".
rm -f "$HV_CUPS_OUT"/*.pdf
run_client print
check_pdfs 3
echo "client: three jobs printed, printstate ready"

# A job that ends while the user has paused, and the client's jobs after a
# lost connection and for another print service.
rm -f "$HV_CUPS_OUT"/*.pdf "$work/paused"
run_peer print --wait-file "$work/paused" --copies 1 -- "Z:$work/paused"
grep -q "^state ready spools 0 " "$work/harness.out" ||
    { echo "paused: $(cat "$work/harness.out")"; exit 1; }
run_client printmore
check_pdfs 3
echo "paused, lost and other-service jobs: three printed, printstate ready"

# A deflate bomb cut off by the connection's loss: inflated in bounded
# pieces, its spool deleted, printing paused.
run_peer bomb
read -r _ state _ spools _ grew <"$work/harness.out"
[ "$state $spools" = "offline 0" ] && [ "$grew" -lt 20 ] ||
    { echo "bomb: $(cat "$work/harness.out")"; exit 1; }
echo "bomb: spool deleted, working set grew $grew MB"

for i in $(seq 1 100); do
    hv_cupsd_add_socket "hvpaip$$-other-printer-with-a-long-name-$i" 9
done
run_peer hello
/usr/bin/python3 - "$work/result" "$pdfq" <<'PY' || exit 1
import sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
size = int(lines[1].split()[1])
entries = [l for l in lines if l.startswith("pn=")]
if size > 4096:
    sys.exit("the hello is %d bytes" % size)
if not entries or entries[-1] != "pn=" + sys.argv[2]:
    sys.exit("the default printer is not last: %r" % entries[-1:])
print("hello: %d bytes, %d printers, default last" % (size, len(entries)))
PY

#!/usr/bin/env bash
# print-local.sh DEVICES_PROGRAM CLIP_PROGRAM: printing against a private
# CUPS server. First with no printer at all (no default, no description);
# then with a PDF printer (the default) and a raw printer whose jobs go to a
# listener on 127.0.0.1: the descriptions, a raw job of every byte value
# (which must arrive byte for byte), the PDF reader's command lines; last the
# session clipboard printed from a fake X server, 8-bit and UTF-16, whose
# pages must read back as the lines sent. Exit 77 (skipped) when CUPS or the
# PDF tools are not installed.
set -uo pipefail
here=$(dirname "$0")
source "$here/../../tools/lib/common.sh"
source "$here/../support/private-cupsd.sh"
program=$1
clip_program=$2
listener_pid=
trap '[ -n "$listener_pid" ] && kill "$listener_pid" 2>/dev/null; hv_cupsd_stop; hv_cleanup' EXIT
hv_cupsd_start
work=$HV_CUPS_DIR/work
mkdir -p "$work"

HV_TEST_NO_PRINTER=1 hv_wine "$program" --gtest_filter='LocalPrintNone.*' </dev/null || exit 1

# The raw printer's far end: one connection, its bytes kept.
/usr/bin/python3 - "$work/port" "$work/raw.bin" </dev/null >/dev/null 2>&1 <<'PY' &
import socket, sys
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(1)
s.settimeout(120)
open(sys.argv[1] + ".tmp", "w").write(str(s.getsockname()[1]))
import os
os.rename(sys.argv[1] + ".tmp", sys.argv[1])
c, _ = s.accept()
c.settimeout(60)
data = b""
while True:
    b = c.recv(65536)
    if not b:
        break
    data += b
open(sys.argv[2] + ".tmp", "wb").write(data)
os.rename(sys.argv[2] + ".tmp", sys.argv[2])
PY
listener_pid=$!
for i in $(seq 1 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "the listener did not start"; exit 1; }

pdfq=hvpdf$$
rawq=hvraw$$
hv_cupsd_add_pdf "$pdfq"
hv_cupsd_add_socket "$rawq" "$(cat "$work/port")"
hv_cupsd_default "$pdfq"
export HV_TEST_PRINTER=$pdfq HV_TEST_RAW_QUEUE=$rawq
hv_wine "$program" --gtest_filter='LocalPrint.*' </dev/null || exit 1

for i in $(seq 1 600); do [ -e "$work/raw.bin" ] && break; sleep 0.1; done
/usr/bin/python3 - "$work/raw.bin" <<'PY' || exit 1
import sys
want = bytes(i % 256 for i in range(256 * 9 + 100))
got = open(sys.argv[1], "rb").read()
if got != want:
    sys.exit("the raw job is %d bytes, not the %d sent" % (len(got), len(want))
             if len(got) != len(want) else "the raw job's bytes differ")
print("raw job: %d bytes, byte-identical" % len(got))
PY

# The session clipboard printed: each page must read back as the lines,
# and a selection longer than a page goes on to the next one.
for format in STRING UNICODE LONG; do
    rm -f "$HV_CUPS_OUT"/*.pdf
    hv_wine "$clip_program" --gtest_filter="*ClipPrint.*/$format" </dev/null || exit 1
    pdf=$(hv_cupsd_wait_pdf) || exit 1
    pdftotext -layout "$pdf" "$work/page.txt" || exit 1
    /usr/bin/python3 - "$work/page.txt" "$format" <<'PY' || exit 1
import sys
text = open(sys.argv[1], encoding="utf-8").read()
pages = text.count("\f")
lines = [l.rstrip() for l in text.replace("\f", "\n").split("\n")]
want = ["Printed from the session", "second line \u00e9 \u20ac", "", "after an empty line"]
if sys.argv[2] == "LONG":
    lines = [l for l in lines if l]
    want = ["line %03d" % i for i in range(1, 151)]
while lines and not lines[-1]:
    lines.pop()
if lines != want:
    sys.exit("%s page reads %r" % (sys.argv[2], lines[:8]))
if sys.argv[2] == "LONG" and pages < 2:
    sys.exit("150 lines on %d page(s)" % pages)
print("%s: %d lines as sent on %d page(s)" % (sys.argv[2], len(lines), pages))
PY
done

#!/usr/bin/env bash
# A server that floods the client with launch requests it cannot start:
# 10,000 ns1:requestLaunch, each with a new message id and no application
# server, through the real server connection. The client keeps at most
# DI_SO_MAX_LAUNCH_REQUESTS of them (each with its hidden progress window,
# counted by class inside the Wine desktop) and answers the rest with a
# fault, one log line each.
# Usage: run_flood.sh ROOT UI-PROBE-EXE
set -u
root=$1
ui_probe=$2
source "$root/tests/session/session_lib.sh"
cap=$(sed -n 's/.*DI_SO_MAX_LAUNCH_REQUESTS = \([0-9]*\).*/\1/p' "$root/src/session/diso.h")
[ -n "$cap" ] || fail "no cap in diso.h"
views() { wine "$ui_probe" count QVLViewClass 2>/dev/null | tr -d '\r'; }

start_server_and_client --scenario flood --flood-when "$work/go" --lifetime 240
await 300 grep -q "recv request init" "$work/t" || fail "no connection"
before=$(views)
touch "$work/go"
await 1800 grep -q "flood answered" "$work/t" || fail "the flood was not answered"
grep -q "flood answered: $cap replies, $((10000 - cap)) faults" "$work/t" ||
    fail "$(grep "flood answered" "$work/t")"
after=$(views)
made=$((after - before))
[ "$made" -ge 1 ] && [ "$made" -le "$cap" ] ||
    fail "$made progress windows made for the flood ($before before, $after after)"
refused=$(iconv -f UTF-16LE -t UTF-8 "$work/drx.txt" 2>/dev/null |
    grep -ac "cn=flood.*too many launch requests waiting")
[ "$refused" -eq $((10000 - cap)) ] || fail "$refused refusals logged"
kill "$client" 2>/dev/null
wait "$client" 2>/dev/null
kill "$server" 2>/dev/null
echo "passed ($made windows)"
rm -rf "$work"

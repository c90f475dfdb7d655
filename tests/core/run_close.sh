#!/usr/bin/env bash
# "tools/run -nostartimmediate" starts the client under Wine; posting
# WM_CLOSE to its main window ends it with exit code 0, and the trace file
# shows the start-up and shut-down steps.
set -u
root=$1
helper=$2
source "$root/tools/lib/common.sh"
log=$(mktemp)
"$root/tools/run" -nostartimmediate >"$log" 2>&1 &
pid=$!
if ! hv_wine "$helper" close; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    cat "$log"
    rm -f "$log"
    exit 1
fi
wait "$pid"
rc=$?
grep "exited with code" "$log"
rm -f "$log"
[ "$rc" = 0 ] || { echo "client exit code $rc"; exit 1; }
trace=$(hv_wine "$helper" trace)
for step in "step: root" "step: event loop" "step: shutdown: outpost" "step: shutdown: trace file"; do
    grep -q "$step" <<<"$trace" || { echo "trace lacks '$step'"; echo "$trace"; exit 1; }
done
echo "ok"

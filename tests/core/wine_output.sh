#!/usr/bin/env bash
# hv_wine hands on both outputs of every run also when the machine is so
# busy that its copiers start before the program: many short runs at once,
# with a stand-in for wine.
set -u
source "$(dirname "$0")/../../tools/lib/common.sh"
wine() { echo "out $1"; echo "err $1" >&2; }
runs() { # worker
    local i got
    for i in $(seq 1 25); do
        got=$( { out=$(hv_wine "$1.$i"); } 2>&1; echo "|$out")
        [ "$got" = "err $1.$i"$'\n'"|out $1.$i" ] || { echo "run $1.$i gave: $got"; return 1; }
    done
}
status=0
for w in $(seq 1 $(($(nproc) * 2))); do runs "$w" & done
for w in $(jobs -p); do wait "$w" || status=1; done
[ $status = 0 ] && echo ok
exit $status

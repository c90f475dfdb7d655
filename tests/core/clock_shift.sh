#!/usr/bin/env bash
# Runs test programs with the wall clock moved to DATE for every process of
# the run: a private Wine prefix whose server, whose programs and the host
# programs they start (the test PKI's openssl, the peers) all read the moved
# clock (tests/support/clockshift.c, preloaded for both word sizes), while
# the monotonic clocks, sleeps and waits stay as they are.
# Usage: clock_shift.sh DATE PROGRAM FILTER [PROGRAM FILTER ...]
set -u
when=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/hv-clock.XXXXXX) || exit 1
export WINEPREFIX=$work/prefix
source "$root/tools/lib/common.sh"
trap 'hv_cleanup; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

# ld.so reads $LIB as lib/<multiarch triple>: each process loads the copy
# of its own word size.
for triple in x86_64-linux-gnu i386-linux-gnu; do
    mkdir -p "$work/lib/$triple"
    clang --target=$triple -O2 -fPIC -shared -nostdlib -o "$work/lib/$triple/hvclockshift.so" \
        "$root/tests/support/clockshift.c" || { echo "the clock shim did not build"; exit 1; }
done
export HV_CLOCK_SHIFT=$(($(date -u -d "$when" +%s) - $(date -u +%s)))
export HV_CLOCK_YEAR=${when:0:4}
export LD_PRELOAD="$work/\$LIB/hvclockshift.so"
[ "$(date -u +%Y)" = "$HV_CLOCK_YEAR" ] || { echo "the clock did not move: $(date -u)"; exit 1; }

hv_start_wine
status=0
while [ $# -ge 2 ]; do
    echo "== $(basename "$1") --gtest_filter=$2 at $(date -u '+%Y-%m-%d %H:%M:%S')"
    hv_wine "$1" --gtest_filter="$2" </dev/null || status=1
    shift 2
done
exit $status

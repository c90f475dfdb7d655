#!/usr/bin/env bash
# Runs test programs with the wall clock moved to DATE for every process of
# the run: a private Wine prefix whose server, whose programs and the host
# programs they start (the test PKI's openssl, the peers) all read the moved
# clock (tests/support/clockshift.c, preloaded for both word sizes), while
# the monotonic clocks, sleeps and waits stay as they are.
# A run passes only when every pattern of each filter named a case and every
# case that started passed (a filter that matches nothing runs no case and
# exits 0; a skipped case did not run). The whole run is bounded by
# HV_CLOCK_LIMIT seconds (480), inside ctest's limit: a wait that never ends
# fails here, and the prefix (over a gigabyte) goes with the run.
# Usage: clock_shift.sh DATE PROGRAM FILTER [PROGRAM FILTER ...]
set -u
when=$1
shift
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/hv-clock.XXXXXX) || exit 1
export WINEPREFIX=$work/prefix
source "$root/tools/lib/common.sh"
watchdog=
trap '[ -n "$watchdog" ] && kill "$watchdog" 2>/dev/null; hv_cleanup; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM

# Past the limit every process of the private prefix is ended: the program
# that waits returns, and the run fails below.
limit=${HV_CLOCK_LIMIT:-480}
(
    trap 'kill "$sleeper" 2>/dev/null; exit 0' TERM
    sleep "$limit" &
    sleeper=$!
    wait "$sleeper"
    touch "$work/timed-out"
    wineserver -k 2>/dev/null
) </dev/null >/dev/null 2>&1 &
watchdog=$!

# The cases of one run's output ($1) against its filter ($2): prints what
# is wrong, nothing when each pattern named a case and all that ran passed.
cases_missing() {
    local out=$1 pattern patterns re started passed
    started=$(grep -c '^\[ RUN      \] ' "$out")
    passed=$(grep -c '^\[       OK \] ' "$out")
    [ "$started" = "$passed" ] || echo "$((started - passed)) of $started cases did not pass"
    IFS=: read -ra patterns <<<"$2"
    for pattern in "${patterns[@]}"; do
        re=$(sed 's/[.]/\\./g; s/[*]/.*/g; s/[?]/./g' <<<"$pattern")
        grep -qE "^\[       OK \] $re( |$)" "$out" || echo "no case of $pattern passed"
    done
}

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
    hv_wine "$1" --gtest_filter="$2" </dev/null | tee "$work/out"
    [ "${PIPESTATUS[0]}" = 0 ] || status=1
    if [ -e "$work/timed-out" ]; then
        echo "FAILED: the run did not end within $limit s"
        exit 1
    fi
    tr -d '\r' <"$work/out" >"$work/cases"
    missing=$(cases_missing "$work/cases" "$2")
    [ -z "$missing" ] || { echo "FAILED: $missing"; status=1; }
    shift 2
done
exit $status

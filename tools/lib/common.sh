# Shared by the tools: paths, the two build trees, Xvfb and the Wine prefix.
# Everything started here is stopped by the process id it was started with.
HV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
HV_WIN32=$HV_ROOT/build/win32
HV_HOST=$HV_ROOT/build/host
HV_JOBS=${HV_JOBS:-$(nproc)}
export WINEPREFIX=${WINEPREFIX:-$HV_WIN32/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}
export WINEARCH=win64
export LANG=C.UTF-8 LC_ALL=C.UTF-8

hv_started_pids=()
hv_cleanup() {
    local pid
    # Ends every Wine process of our prefix (services.exe and the like
    # outlive their server otherwise), then what we started ourselves.
    [ -n "${HV_WINE_STARTED:-}" ] && wineserver -k 2>/dev/null
    HV_WINE_STARTED=
    for pid in "${hv_started_pids[@]}"; do
        kill "$pid" 2>/dev/null
    done
    for pid in "${hv_started_pids[@]}"; do
        wait "$pid" 2>/dev/null
    done
    hv_started_pids=()
}

hv_configure_build() { # tree: win32 or host
    case $1 in
    win32)
        [ -f "$HV_WIN32/build.ninja" ] ||
            cmake -S "$HV_ROOT" -B "$HV_WIN32" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
                -DCMAKE_TOOLCHAIN_FILE="$HV_ROOT/cmake/mingw-i686.cmake" >/dev/null || return 1
        cmake --build "$HV_WIN32" -j "$HV_JOBS"
        ;;
    host)
        [ -f "$HV_HOST/build.ninja" ] ||
            cmake -S "$HV_ROOT" -B "$HV_HOST" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
                -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null || return 1
        cmake --build "$HV_HOST" -j "$HV_JOBS"
        ;;
    esac
}

# Starts Xvfb on a free display (depth $1, default 24; further arguments are
# extra server options, such as -linebias 216) and exports DISPLAY.
# Several checkouts may start one at once: a display whose server did not
# come up (taken meanwhile) is skipped.
hv_start_xvfb() {
    local depth=${1:-24} n i pid
    [ $# -gt 0 ] && shift
    for n in $(seq $((90 + RANDOM % 50)) 299); do
        [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] && continue
        Xvfb ":$n" -screen 0 "1280x1024x$depth" -nolisten tcp "$@" </dev/null >/dev/null 2>&1 &
        pid=$!
        for i in $(seq 1 100); do
            kill -0 "$pid" 2>/dev/null || break
            if DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
                hv_started_pids+=("$pid")
                export DISPLAY=":$n"
                return 0
            fi
            sleep 0.1
        done
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    echo "Xvfb could not be started" >&2
    return 1
}

# Starts a persistent wineserver for the private prefix and boots the prefix
# (creating it on first use) with its output detached: the services that boot
# starts would otherwise inherit the output pipe of the first test program
# and keep whatever reads it waiting.
hv_start_wine() {
    mkdir -p "$WINEPREFIX"
    wineserver -f -p </dev/null >/dev/null 2>&1 &
    hv_started_pids+=($!)
    HV_WINE_STARTED=1
    [ -f "$WINEPREFIX/system.reg" ] || echo "creating the Wine prefix $WINEPREFIX"
    wine wineboot </dev/null >/dev/null 2>&1
}

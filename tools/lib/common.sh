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

# Runs wine with the given arguments and returns its status. Wine hands a
# program's standard error to the helper processes the program starts (the
# desktop process above all, which lives on while any other program uses
# the desktop), and both outputs to the host programs it starts (peers
# that end by their own time limit): a reader of our output (ctest) would
# wait for them too, long after the program ended. So both outputs go
# through files, copied to ours until the program ends. The files exist
# before the program starts: a copier that found none would give up at once.
hv_wine() {
    local dir pid copier rc
    dir=$(mktemp -d) || return 1
    : >"$dir/out" && : >"$dir/err" || { rm -rf "$dir"; return 1; }
    wine "$@" <&0 >"$dir/out" 2>"$dir/err" &
    pid=$!
    tail -c +1 -s 0.05 -f --pid="$pid" "$dir/err" >&2 &
    copier=$!
    tail -c +1 -s 0.05 -f --pid="$pid" "$dir/out"
    wait "$copier"
    wait "$pid"
    rc=$?
    rm -rf "$dir"
    return $rc
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
# The server picks the display itself (-displayfd) and reports it once it
# listens: runs started at the same moment can neither take the same number
# nor mistake another run's server for their own.
hv_start_xvfb() {
    local depth=${1:-24} i n pid file
    [ $# -gt 0 ] && shift
    file=$(mktemp)
    Xvfb -displayfd 3 -screen 0 "1280x1024x$depth" -nolisten tcp "$@" 3>"$file" </dev/null >/dev/null 2>&1 &
    pid=$!
    for i in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        n=$(head -n 1 "$file")
        if [ -n "$n" ] && DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then
            rm -f "$file"
            hv_started_pids+=("$pid")
            export DISPLAY=":$n"
            return 0
        fi
        sleep 0.1
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    rm -f "$file"
    echo "Xvfb could not be started" >&2
    return 1
}

# Starts a persistent wineserver for the private prefix and boots the prefix
# (creating it on first use) with its output detached: the services that boot
# starts would otherwise inherit the output pipe of the first test program
# and keep whatever reads it waiting.
hv_start_wine() {
    local server audio
    mkdir -p "$WINEPREFIX"
    wineserver -f -p </dev/null >/dev/null 2>&1 &
    server=$!
    [ -f "$WINEPREFIX/system.reg" ] || echo "creating the Wine prefix $WINEPREFIX"
    wine wineboot </dev/null >/dev/null 2>&1
    # A second server for a prefix ends at once: the prefix's processes
    # belong to whoever started the running one (a test run beside us), and
    # only a server of our own is ended with everything in it at the end.
    if kill -0 "$server" 2>/dev/null; then
        hv_started_pids+=("$server")
        HV_WINE_STARTED=1
    fi
    # Without a sound card ALSA's library prints a dozen complaints on the
    # terminal whenever a program opens the sound system: Wine then uses
    # PulseAudio alone (a private server, hv_start_pulse, still plays).
    grep -q '^ *[0-9]' /proc/asound/cards 2>/dev/null || audio=pulse
    if [ "$(cat "$WINEPREFIX/.hv-audio" 2>/dev/null)" != "${audio:-default}" ]; then
        if [ -n "$audio" ]; then
            wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "$audio" /f
        else
            wine reg delete 'HKCU\Software\Wine\Drivers' /v Audio /f
        fi </dev/null >/dev/null 2>&1
        echo "${audio:-default}" >"$WINEPREFIX/.hv-audio"
    fi
    # A crashing test program must end at once with its failure code: the
    # default post-mortem debugger hangs on this display until ctest's
    # timeout. Replace it, in both registry views, by a command that exits.
    if [ ! -f "$WINEPREFIX/.hv-no-debugger" ]; then
        local key
        for key in 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
                   'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug'; do
            wine reg add "$key" /v Debugger /t REG_SZ /d 'cmd.exe /c exit 0 %ld %ld' /f \
                </dev/null >/dev/null 2>&1
            wine reg add "$key" /v Auto /t REG_SZ /d 1 /f </dev/null >/dev/null 2>&1
        done
        touch "$WINEPREFIX/.hv-no-debugger"
    fi
}

# Starts a private PulseAudio server in the folder $1 (its socket, runtime
# files and log; never a client-spawned one, no session bus) with a null sink
# "hvnull" as the default, and exports PULSE_SERVER so that the programs
# started afterwards, Wine's sound driver included, play into it. Its
# monitor source "hvnull.monitor" records what was played.
hv_start_pulse() {
    local dir=$1 i
    mkdir -p "$dir"
    printf 'autospawn = no\n' >"$dir/client.conf"
    export PULSE_CLIENTCONFIG=$dir/client.conf PULSE_RUNTIME_PATH=$dir
    export PULSE_SERVER=unix:$dir/native
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
        -L "module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
        -L "module-null-sink sink_name=hvnull" </dev/null >"$dir/log" 2>&1 &
    hv_started_pids+=($!)
    for i in $(seq 1 100); do
        pactl info >/dev/null 2>&1 && pactl set-default-sink hvnull && return 0
        sleep 0.1
    done
    echo "PulseAudio could not be started" >&2
    return 1
}

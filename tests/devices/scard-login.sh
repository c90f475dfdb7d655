#!/usr/bin/env bash
# scard-login.sh CLIENT STANDIN_DIR: the authentication dialog of a launch
# through the whole client, started as tools/run starts it, on the stand-in
# PC/SC service. The application server (laip_peer.py "card") offers the
# smart card, which was the last method; the user presses Return. With a
# reader in user scope, or in system scope only, the card is chosen and the
# answer is message 21 by card (method 1); with reader lists of two
# characters (empty) the card cannot be chosen and Return answers with the
# password form and the default user.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../tools/lib/common.sh"
client=$1 standin=$2
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
mkdir "$work/bin"
cp "$client" "$standin/winscard.dll" "$work/bin/"

wait_file() { # file seconds
    local i
    for i in $(seq 1 $(($2 * 10))); do [ -s "$1" ] && return 0; sleep 0.1; done
    return 1
}

# What a failed run saw: the windows of the display, the server's and the
# application server's logs, the client's log.
failed() {
    echo "FAILED: $*"
    echo "--- windows"
    for w in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        echo "$w pid $(xdotool getwindowpid "$w" 2>/dev/null) $(xdotool getwindowname "$w" 2>/dev/null)"
    done
    echo "--- X focus $(xdotool getwindowfocus 2>/dev/null), pointer $(xdotool getmouselocation 2>/dev/null)"
    echo "--- server transcript"
    cat "$run/t" 2>/dev/null
    echo "--- application server"
    cat "$run/laip" 2>/dev/null
    echo "--- client log"
    iconv -f UTF-16LE -t UTF-8 "$run/drx.txt" 2>/dev/null | tail -n 30
    exit 1
}

# run SCRIPT WANT: one launch whose answer must match the Python test WANT.
run() {
    local script=$1 want=$2 run=$work/$1 win i
    mkdir -p "$run"
    /usr/bin/python3 "$here/../peers/laip_peer.py" --scenario card --user alice \
        --port-file "$run/ap" --log "$run/laip" --lifetime 120 </dev/null >/dev/null 2>&1 &
    pids+=($!)
    wait_file "$run/ap" 10 || failed "laip_peer did not start"
    /usr/bin/python3 "$here/../peers/fake_halvanet.py" --scenario cardlogin \
        --app-port "$(cat "$run/ap")" --port-file "$run/sp" --transcript "$run/t" \
        --lifetime 120 </dev/null >/dev/null 2>&1 &
    pids+=($!)
    wait_file "$run/sp" 10 || failed "fake_halvanet did not start"
    # (From its own folder: the client writes its log where it starts.)
    (cd "$run" && HV_SCARD_STANDIN_SCRIPT=$script WINEDLLOVERRIDES="winscard=n;$WINEDLLOVERRIDES" \
        exec wine "$work/bin/$(basename "$client")" -server 127.0.0.1 -port "$(cat "$run/sp")" \
        -portfile "Z:$run/cp" -connectioncookie demo </dev/null >/dev/null 2>&1) &
    local client_pid=$!
    pids+=($client_pid)
    win=
    # Our client's dialog (Wine names each X window's process): a window
    # another program left on the display is not it.
    for i in $(seq 1 300); do
        win=$(xdotool search --all --pid "$client_pid" --name "^Authentication for" 2>/dev/null | head -n 1)
        [ -n "$win" ] && break
        sleep 0.1
    done
    [ -n "$win" ] || failed "${script:-readers}: no authentication dialog"
    # The keys go to the dialog whatever window held the X focus before: the
    # focus is put on it, and the pointer rests on its title bar.
    eval "$(xdotool getwindowgeometry --shell "$win")"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + 4))
    xdotool windowactivate "$win" 2>/dev/null
    for i in $(seq 1 100); do
        grep -q '"type": 21' "$run/laip" 2>/dev/null && break
        xdotool windowfocus "$win" 2>/dev/null
        xdotool key --clearmodifiers Return
        for j in $(seq 1 10); do grep -q '"type": 21' "$run/laip" 2>/dev/null && break; sleep 0.1; done
    done
    /usr/bin/python3 - "$run/laip" "$want" "$script" <<'PY' || failed "the answer"
import json, sys
answers = [json.loads(l) for l in open(sys.argv[1]) if '"type": 21' in l]
if not answers or not eval(sys.argv[2], {"a": answers[0]}):
    sys.exit("%s: the answer %r does not hold %s" % (sys.argv[3] or "readers", answers, sys.argv[2]))
PY
    kill "$client_pid" 2>/dev/null
    echo "${script:-readers}: $(grep '"type": 21' "$run/laip")"
}

card='a["method"] == 1 and a["pref"] == 0 and a["count"] == 1 and a["padding"] == "00" * 18'
run "" "$card"
run nouser "$card"
run userempty "$card"
run empty 'a.get("kind") == 1 and a.get("user") == "alice"'

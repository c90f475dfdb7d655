# Shared by the session scripts: sourced after "root" is set. Gives the
# scratch folder $work, the client and server process ids to stop on
# failure, fail() and await(). A script may define fail_details to print
# more (a log) after the server's transcript.
source "$root/tools/lib/common.sh"
work=$(mktemp -d)
server= client=
fail() {
    echo "FAILED: $*"
    echo "--- server transcript"
    cat "$work/t" 2>/dev/null
    declare -F fail_details >/dev/null && fail_details
    [ -n "$client" ] && kill "$client" 2>/dev/null
    [ -n "$server" ] && kill "$server" 2>/dev/null
    rm -rf "$work"
    exit 1
}
# Waits up to $1 tenths of a second for the command to succeed.
await() {
    local n=$1 i
    shift
    for i in $(seq 1 "$n"); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}
# The client's message box titled "$1 - ...": its window, whether it is up,
# and its dismissal with Return.
box() { xdotool search --name "^$1 - " 2>/dev/null | head -n 1; }
has_box() { [ -n "$(box "$1")" ]; }
dismiss() {
    local w
    w=$(box "$1")
    xdotool windowactivate --sync "$w" 2>/dev/null
    xdotool key --window "$w" Return
}
# Starts fake_halvanet.py with these options (port file $work/sp, transcript
# $work/t), then the client against it as tools/run starts it, its log in
# $work/drx.txt; sets $server and $client.
start_server_and_client() {
    python3 "$root/tests/peers/fake_halvanet.py" "$@" --port-file "$work/sp" \
        --transcript "$work/t" </dev/null >/dev/null 2>&1 &
    server=$!
    await 100 test -s "$work/sp" || fail "the server did not start"
    wine "$HV_WIN32/halvanet.exe" -server 127.0.0.1 -port "$(cat "$work/sp")" \
        -portfile "Z:$work/cp" -connectioncookie demo -logdir "Z:$work" </dev/null >/dev/null 2>&1 &
    client=$!
}
# Waits up to 10 s for the demo X application's picture (a red and a blue
# fill on white) somewhere on the X screen, read back with python3-xlib;
# prints where its red fill starts.
x_app_shown() {
    /usr/bin/python3 - <<'PY'
import sys, time
from Xlib import X, display
d = display.Display()
root = d.screen().root
g = root.get_geometry()
for attempt in range(100):
    img = root.get_image(0, 0, g.width, g.height, X.ZPixmap, 0xFFFFFFFF)
    data = img.data if isinstance(img.data, bytes) else bytes(img.data, "latin-1")
    px = [data[i:i + 3] for i in range(0, len(data), 4)]
    red = px.count(b"\x00\x00\xff")   # B G R
    blue = px.count(b"\xff\x00\x00")
    if red >= 40 * 30 and blue >= 30 * 40:
        i = px.index(b"\x00\x00\xff")
        print(i % g.width, i // g.width)
        sys.exit(0)
    time.sleep(0.1)
print("red %d blue %d" % (red, blue))
sys.exit(1)
PY
}

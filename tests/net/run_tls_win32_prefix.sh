#!/usr/bin/env bash
# The web-service TLS rows on 32-bit Windows, in a 32-bit Wine prefix made
# here. There "C:\Program Files (x86)" is no folder of the system: any user
# may create it, and with it the folder the TLS library was built to name
# for its settings file. A settings file planted there before the program
# starts names a module that leaves a file when it is loaded; the rows run,
# nothing loads it, and the default roots come from the folder the system
# names ("C:\Program Files\Common Files\SSL").
# Usage: run_tls_win32_prefix.sh ROOT TEST-EXE MARKER-MODULE
set -u
root=$1 exe=$2 marker=$3
source "$root/tools/lib/common.sh"
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEARCH=win32
server=
finish() {
    # Only this prefix's processes: the variable names it.
    [ -n "$server" ] && { wineserver -k 2>/dev/null; wait "$server" 2>/dev/null; }
    rm -f "$marker.ran"
    rm -rf "$work"
}
trap finish EXIT
fail() { echo "FAILED: $*"; exit 1; }
mkdir -p "$WINEPREFIX"
wineserver -f -p </dev/null >/dev/null 2>&1 &
server=$!
wine wineboot </dev/null >/dev/null 2>&1 || fail "the 32-bit prefix did not boot"
drive=$WINEPREFIX/drive_c
[ -d "$drive/Program Files (x86)" ] && fail "the prefix is not a 32-bit one"
planted="$drive/Program Files (x86)/Common Files/SSL"
mkdir -p "$planted" "$drive/Program Files/Common Files/SSL"
for dir in "$planted" "$drive/Program Files/Common Files/SSL"; do
    printf '%s\n' "openssl_conf = planted" "[planted]" "providers = planted_providers" \
        "[planted_providers]" "marker = marker_provider" "[marker_provider]" \
        "module = Z:$marker" "activate = 1" >"$dir/openssl.cnf"
done
rm -f "$marker.ran"
# A loaded module used to hang the first handshake: the run is bounded.
# Through a file: programs the rows start may keep an inherited output open.
timeout -k 5 240 wine "$exe" --gtest_filter='SoapTls.*' </dev/null >"$work/out" 2>&1
rc=$?
cat "$work/out"
[ -e "$marker.ran" ] && fail "the planted settings file loaded its module"
[ $rc = 0 ] || fail "the rows failed in the 32-bit prefix (status $rc)"
echo passed

#!/usr/bin/env bash
# "-loginurl" without "-server": the client opens the login page in the
# user's browser (here a recorder registered for .htm pages) with "drxport"
# = the port its port file holds and "javaprobe=true", then waits for the
# browser's helper until its window is closed, and ends with 0.
# Usage: run_loginurl.sh ROOT HELPER-EXE
set -u
root=$1
helper=$2
source "$root/tools/lib/common.sh"
work=$(mktemp -d)
client=
winhelper="Z:$(echo "$helper" | tr / '\\')"
temp=$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)
restore() {
    wine reg delete 'HKCR\HvSessionPage' /f >/dev/null 2>&1
    wine reg delete 'HKCR\.htm' /f >/dev/null 2>&1
}
fail() {
    echo "FAILED: $*"
    [ -n "$client" ] && kill "$client" 2>/dev/null
    restore
    rm -rf "$work"
    exit 1
}
[ -d "$temp" ] || fail "no temporary folder ($temp)"
rm -f "$temp/hvrecorded.txt"
wine reg add 'HKCR\.htm' /ve /d HvSessionPage /f >/dev/null 2>&1
wine reg add 'HKCR\HvSessionPage\shell\open\command' /ve \
    /d "\"$winhelper\" record \"%1\"" /f >/dev/null 2>&1

wine "$HV_WIN32/halvanet.exe" -loginurl 'http://web.test/hvn/login.jsp?a=b' \
    -portfile "Z:$work/cp" </dev/null >/dev/null 2>&1 &
client=$!
for i in $(seq 1 300); do
    [ -s "$temp/hvrecorded.txt" ] && break
    sleep 0.1
done
[ -s "$temp/hvrecorded.txt" ] || fail "the browser was not started"
page=$(cat "$temp/hvrecorded.txt")
port=$(cat "$work/cp" 2>/dev/null)
[ -n "$port" ] || fail "no port file"
grep -q "URL=http://web.test/hvn/login.jsp?a=b&amp;drxport=$port&amp;javaprobe=true\"" \
    <<<"$page" || fail "page: $page (port $port)"
wine "$helper" close >/dev/null 2>&1 || fail "no client window to close"
wait "$client"
rc=$?
client=
[ "$rc" = 0 ] || fail "client exit code $rc"
[ -e "$work/cp" ] && fail "the port file is still there"
restore
rm -rf "$work" "$temp/hvrecorded.txt"
echo ok

#!/usr/bin/env bash
# The Windows program names no folder of the machine that built it as a
# place to read from. The TLS library's settings, engine, module and
# default-root folders are fixed when it is built; a Unix folder of the
# build machine would be read on Windows from the root of the current
# drive, where any user may create it.
# Arguments: the program, the folder of the cross-built libraries.
set -u
exe=$1 deps=$2
status=0
fail() { echo "$*"; status=1; }

stripped=$(mktemp) || exit 1
trap 'rm -f "$stripped"' EXIT
# Debug information names the build's folders for the debugger alone.
i686-w64-mingw32-strip --strip-debug -o "$stripped" "$exe" || fail "cannot read $exe"
text=$(strings -a "$stripped")

for name in OPENSSLDIR ENGINESDIR MODULESDIR; do
    line=$(grep -m 1 "^$name: " <<<"$text")
    if [ -z "$line" ]; then
        fail "$(basename "$exe") names no $name"
    elif ! grep -qE "^$name: \"[A-Za-z]:[/\\\\]" <<<"$line"; then
        fail "$(basename "$exe"): $line is not a folder on a named drive"
    fi
done
cache=$(dirname "$deps")
named=$(grep -F -e "$cache" -e /usr/local/ <<<"$text" | sort -u)
[ -z "$named" ] || fail "$(basename "$exe") names folders of the build machine:" $named
[ $status = 0 ] && echo "ok: $(basename "$exe") names no folder of the build machine"
exit $status

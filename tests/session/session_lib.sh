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

#!/usr/bin/env bash
# The Windows program keeps time in 64 bits: neither it nor a library it
# links calls a 32-bit time function of the C runtime (their time_t ends in
# January 2038), and no object of ours hands the prebuilt thread library one
# of its 32-bit timespecs (a timed wait, a sleep, a clock read; the standard
# library's wall clock, std::chrono::system_clock::now, reads one: at
# 2038-06-01 it returns 1902).
# Arguments: the program, the folder of the cross-built libraries, the build
# tree whose objects are checked.
set -u
exe=$1 deps=$2 tree=$3
objdump=i686-w64-mingw32-objdump nm=i686-w64-mingw32-nm

crt32='time|_time32|gmtime|_gmtime32|_gmtime32_s|localtime|_localtime32|_localtime32_s|mktime|_mktime32|_mkgmtime|_mkgmtime32|difftime|_difftime32|ctime|_ctime32|_ctime32_s|_wctime|_wctime32|_wctime32_s|_ftime|_ftime32|_ftime32_s|_futime|_futime32|_utime|_utime32|_wutime|_wutime32|_stat|_stat32|_fstat|_fstat32|_wstat|_wstat32|_stati64|_fstati64|_wstati64|_stat32i64|_fstat32i64|_wstat32i64|_findfirst|_findfirst32|_findnext|_findnext32|_wfindfirst|_wfindfirst32|_wfindnext|_wfindnext32|_findfirsti64|_findnexti64|_wfindfirsti64|_wfindnexti64|_timespec32_get'
threads32='pthread_cond_timedwait|pthread_cond_timedwait_relative_np|pthread_mutex_timedlock|pthread_rwlock_timedrdlock|pthread_rwlock_timedwrlock|nanosleep|clock_nanosleep|__pthread_clock_nanosleep|clock_gettime|clock_settime|clock_getres|pthread_delay_np|sem_timedwait|_pthread_rel_time_in_ms|_pthread_time_in_ms_from_timespec'
# The same reads through the prebuilt C++ library, by their mangled names
# (the old and the current ABI of system_clock; high_resolution_clock is it).
cxx32='_ZNSt6chrono12system_clock3nowEv|_ZNSt6chrono3_V212system_clock3nowEv'

status=0
fail() { echo "$*"; status=1; }

# The program's imports from the C runtime.
[ -f "$exe" ] || fail "no program at $exe"
names=$($objdump -p "$exe" | awk '/DLL Name:/ {crt = (tolower($3) ~ /^(msvcr|ucrt|api-ms-win-crt)/)}
    crt && NF >= 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {print $3}')
[ -n "$names" ] || fail "$exe: no import from the C runtime was read"
bad=$(grep -xE "$crt32" <<<"$names")
[ -z "$bad" ] || fail "$(basename "$exe") imports 32-bit time functions:" $bad

# Undefined C symbols of objects and archives, without the import prefix and
# the leading underscore of the 32-bit C names.
undefined() { $nm -u "$@" 2>/dev/null | awk '$1 == "U" {print $2}' | sed 's/^__imp_//; s/^_//' | sort -u; }

libs=("$deps"/openssl/lib/libcrypto.a "$deps"/openssl/lib/libssl.a "$deps"/gsoap/lib/libgsoapssl++.a)
for lib in "${libs[@]}"; do
    [ -f "$lib" ] || { fail "no library at $lib"; continue; }
    bad=$(undefined "$lib" | grep -xE "$crt32")
    [ -z "$bad" ] || fail "$(basename "$lib") calls 32-bit time functions:" $bad
done

mapfile -t objs < <(find "$tree" -name '*.obj' -path '*CMakeFiles*')
[ ${#objs[@]} -gt 0 ] || fail "no object found under $tree"
for obj in "${objs[@]}"; do
    # The test framework's own objects read the wall clock only to time its
    # runs: the C++ clock is refused in ours.
    refused="$crt32|$threads32"
    [[ $obj == */googletest/* ]] || refused="$refused|$cxx32"
    bad=$(undefined "$obj" | grep -xE "$refused")
    [ -z "$bad" ] || fail "${obj#"$tree"/} calls 32-bit time functions:" $bad
done
[ $status = 0 ] && echo "ok: $(basename "$exe"), ${#libs[@]} libraries and ${#objs[@]} objects keep time in 64 bits"
exit $status

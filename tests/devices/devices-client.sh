#!/usr/bin/env bash
# devices-client.sh: drive mapping and audio output through the whole client,
# started as tools/run starts it, against fake_halvanet.py's "devices"
# scenario. A per-run folder is the client's fixed drive T:; the scenario
# checks the drive and audio capability items and ns1:startCdm, then
# cdm_peer.py writes, lists, reads, renames and deletes a file on T: and
# compares the folder, and io_peer.py plays 1 s of 440 Hz, growing louder,
# in four buffers.
# A private PulseAudio server (its own runtime folder and socket, a null
# sink) carries the sound; parec records the sink's monitor and the
# recording must hold 440 +- 5 Hz, sounding for at most the tone's second,
# with no stretch of the tone played twice. Then a
# second client with "EnableCDM" 0 in its store against the "nocdm"
# scenario: no drive offered, T: left as it was.
# Runs on the display of its caller (tools/test). Exit 77
# (skipped) when PulseAudio or numpy are not installed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../tools/lib/common.sh"
command -v pulseaudio >/dev/null && command -v parec >/dev/null &&
    /usr/bin/python3 -c "import numpy" 2>/dev/null || exit 77

work=$(mktemp -d)
rec_pid= peer_pid= client_pid= profile=
# Wine learns its drives when its server starts: this test has a prefix of
# its own (made once, then reused) whose T: is the folder emptied here for
# every run, and starts and stops that prefix's server itself.
export WINEPREFIX=$HV_WIN32/wineprefix-devices
drive=$HV_WIN32/devices-drive
cleanup() {
    local pid
    for pid in $client_pid $peer_pid $rec_pid; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    hv_cleanup
    rm -rf "$work" "$drive" "$profile"
}
trap cleanup EXIT
fail() {
    echo "$*"
    [ -f "$work/t" ] && cat "$work/t"
    exit 1
}

if [ ! -f "$WINEPREFIX/system.reg" ]; then # made without T:, which the next start finds
    hv_start_wine || exit 1
    hv_cleanup
fi
rm -rf "$drive"
mkdir -p "$drive/share"
ln -sfn "$drive" "$WINEPREFIX/dosdevices/t:"
hv_start_pulse "$work/pulse" || exit 1
hv_start_wine || exit 1

parec --device=hvnull.monitor --format=s16le --rate=22050 --channels=1 --latency-msec=20 \
    --raw "$work/rec.raw" </dev/null >/dev/null 2>&1 &
rec_pid=$!

/usr/bin/python3 "$here/../peers/fake_halvanet.py" --scenario devices --port-file "$work/sp" \
    --transcript "$work/t" --lifetime 120 --cdm-root "$drive/share" \
    </dev/null >/dev/null 2>&1 &
peer_pid=$!
for i in $(seq 1 100); do [ -s "$work/sp" ] && break; sleep 0.1; done
[ -s "$work/sp" ] || fail "fake_halvanet did not start"
wine "$HV_WIN32/halvanet.exe" -server 127.0.0.1 -port "$(cat "$work/sp")" \
    -portfile "Z:$work/cp" -connectioncookie demo </dev/null >/dev/null 2>&1 &
client_pid=$!
wait "$peer_pid"
rc=$?
peer_pid=
[ "$rc" -eq 0 ] && grep -q "devices done" "$work/t" || fail "fake_halvanet devices scenario failed:"
# The recording holds what the sink played until now; the monitor lags by
# its latency only.
sleep 0.3
kill "$rec_pid"
wait "$rec_pid" 2>/dev/null
rec_pid=
for i in $(seq 1 300); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done

/usr/bin/python3 - "$work/rec.raw" <<'PY' || exit 1
import sys
import numpy as np
rate = 22050
x = np.fromfile(sys.argv[1], dtype="<i2").astype(np.float64)
if x.size == 0:
    sys.exit("nothing was recorded")
# What was played: how long the tone sounded, not the span from its first
# to its last loud moment, which a gap in the recording (the sink or the
# machine late) stretches without anything played twice. Windows of
# 2.5 ms (about one period) sound when louder than a tenth of the peak;
# each counts the share of a whole window of the tone's local loudness
# that its energy makes, so that one half in a gap counts half.
win = rate // 400
frames = x[: x.size // win * win].reshape(-1, win)
env = np.abs(frames).max(axis=1)
if env.max() <= 100:
    sys.exit("the recording is silent")
loud = env > env.max() / 10
near = np.lib.stride_tricks.sliding_window_view
local = np.maximum(np.pad(np.median(near(env, 9), axis=1), 4, mode="edge"), env)
share = np.minimum((frames ** 2).mean(axis=1) / (local ** 2 / 2 + 1e-9), 1)
seconds = share[loud].sum() * win / rate
# Steady: windows among 9 (22.5 ms) that all sound, away from any gap,
# where a window holds enough of the tone to show its pitch and loudness.
steady = np.nonzero(near(loud, 9).all(axis=1))[0]
# The pitch: the median length of the periods between rising zero
# crossings as steep as the tone's (not the noise's) within each steady
# stretch.
periods = []
for run in np.split(steady, np.nonzero(np.diff(steady) > 1)[0] + 1):
    y = frames[run + 4].ravel()
    i = np.nonzero((y[:-1] < 0) & (y[1:] >= 0) & (y[1:] - y[:-1] > env.max() / 100))[0]
    periods.extend(np.diff(i + y[i] / (y[i] - y[i + 1])))
freq = rate / np.median(periods) if periods else 0
# The tone grows louder all through: a stretch of it played again falls
# back.
level = np.median(near(env, 9), axis=1)[steady]
fall = np.maximum.accumulate(level) - level if level.size else np.zeros(1)
print("recorded %.3f s of sound at %.1f Hz; loudness fell back by at most %.0f%% of its peak" %
      (seconds, freq, 100 * fall.max() / env.max()))
# A null sink's monitor here drops time: a plain waveOut program's 1 s tone
# records as 0.6-0.7 s, and a recording of about 4 s of wall clock holds
# 2.9 s. So the length is bounded, not matched: the tone is there, and not
# longer than it was; and no stretch of it came twice.
if not 0.3 <= seconds <= 1.05 or abs(freq - 440) > 5:
    sys.exit("want 0.3 to 1.05 s of 440 +- 5 Hz")
if fall.max() > 0.05 * env.max():
    sys.exit("a stretch of the tone was played again")
PY

# Drive mapping switched off ("EnableCDM" 0 in the store): T: not offered.
profile=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")/Vek/VHVN/profile.xml
mkdir -p "${profile%/*}"
printf '<cache><localsettings><enablecdm>0</enablecdm></localsettings></cache>' >"$profile"
before=$(ls -lAR --full-time "$drive")
/usr/bin/python3 "$here/../peers/fake_halvanet.py" --scenario nocdm --port-file "$work/sp2" \
    --transcript "$work/t" --lifetime 90 </dev/null >/dev/null 2>&1 &
peer_pid=$!
for i in $(seq 1 100); do [ -s "$work/sp2" ] && break; sleep 0.1; done
wine "$HV_WIN32/halvanet.exe" -server 127.0.0.1 -port "$(cat "$work/sp2")" \
    -connectioncookie demo </dev/null >/dev/null 2>&1 &
client_pid=$!
wait "$peer_pid" && grep -q "nocdm done" "$work/t" || fail "fake_halvanet nocdm scenario failed:"
peer_pid=
[ "$(ls -lAR --full-time "$drive")" = "$before" ] || fail "T: changed"
echo "devices: T: mapped and checked, tone played; not offered with drive mapping off"

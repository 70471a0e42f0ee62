#!/bin/sh
# kotarplusd beside the window's program and SvxLink (when installed:
# apt-get install svxlink-server) against a private sound server and session bus:
#   bench/station-figures.sh [BENCHBUILD] [CPU_SECONDS]   (after `make bench`)
set -eu
build=$(cd "${1:-build-bench}" && pwd)
cpu=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$build/bench-station-pulse
linesim=$(find "$build" -name liblinesim.so | head -n 1)
[ -n "$linesim" ] || { echo "liblinesim.so not built in $build" >&2; exit 1; }
"$root/scripts/pulse-fixture.sh" start "$dir"
# The idle figures record a null sink of their own, run like a sound card with
# a 20 ms period: the fixture's test sink feeds a 20 ms loopback, which drives
# its monitor (and every recorder's wakeups) at a third of that.
export PULSE_SERVER="unix:$dir/runtime/native"
pactl load-module module-null-sink sink_name=kotar_station rate=44100 channels=2 >/dev/null
parec -d kotar_station.monitor --latency-msec=20 >/dev/null &
card=$!
bus=
trap 'kill "$card"; [ -z "$bus" ] || kill "$bus"; "$root/scripts/pulse-fixture.sh" stop "$dir"' EXIT
rm -f "$dir/bus"
dbus-daemon --session --nofork --address="unix:path=$dir/bus" >/dev/null 2>&1 &
bus=$!
n=0
while [ ! -S "$dir/bus" ]; do
    n=$((n + 1))
    [ $n -le 100 ] || { echo "no session bus" >&2; exit 1; }
    sleep 0.1
done
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
"$build/bench/station_figures" "$linesim" "$build/kotarplusd" "$build/kotarplus" "$cpu"

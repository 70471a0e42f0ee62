#!/bin/sh
# PTT release after a sound-server stall, the capture's return after a server
# restart, and the built programs' PTT release when the server is killed and a
# deaf one takes its place, against a private sound server:
#   bench/server-figures.sh [BENCHBUILD]   (after `make bench`)
set -eu
build=$(cd "${1:-build-bench}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$build/bench-server-pulse
linesim=$(find "$build" -name liblinesim.so | head -n 1)
[ -n "$linesim" ] || { echo "liblinesim.so not built in $build" >&2; exit 1; }
"$root/scripts/pulse-fixture.sh" start "$dir"
trap '"$root/scripts/pulse-fixture.sh" stop "$dir"' EXIT
export PULSE_SERVER="unix:$dir/runtime/native" QT_QPA_PLATFORM=offscreen
"$build/bench/server_figures" "$root/scripts/pulse-fixture.sh" "$dir"
echo
"$build/bench/server_death_figures" "$root/scripts/pulse-fixture.sh" "$dir" "$linesim" \
    "$build/kotarplus" "$build/kotarplusd"

#!/bin/sh
# PTT release after a sound-server stall and the capture's return after a
# server restart, against a private sound server:
#   bench/server-figures.sh [BENCHBUILD]   (after `make bench`)
set -eu
build=$(cd "${1:-build-bench}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$build/bench-server-pulse
"$root/scripts/pulse-fixture.sh" start "$dir"
trap '"$root/scripts/pulse-fixture.sh" stop "$dir"' EXIT
export PULSE_SERVER="unix:$dir/runtime/native" QT_QPA_PLATFORM=offscreen
"$build/bench/server_figures" "$root/scripts/pulse-fixture.sh" "$dir"

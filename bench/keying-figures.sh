#!/bin/sh
# End-to-end keying figures against a private sound server, pseudo-terminals
# under linesim and rigctld dummies:
#   bench/keying-figures.sh [BENCHBUILD] [CPU_SECONDS]   (after `make bench`)
# CPU_SECONDS (default 60) is how long the program listens to silence for its
# CPU share; 0 skips it.
set -eu
build=$(cd "${1:-build-bench}" && pwd)
cpu=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$build/bench-keying-pulse
linesim=$(find "$build" -name liblinesim.so | head -n 1)
[ -n "$linesim" ] || { echo "liblinesim.so not built in $build" >&2; exit 1; }
display=$build/bench-keying-display
"$root/scripts/pulse-fixture.sh" start "$dir"
trap '"$root/scripts/pulse-fixture.sh" stop "$dir"; "$root/scripts/display-fixture.sh" stop "$display"' EXIT
export PULSE_SERVER="unix:$dir/runtime/native"
# The program's window is shown on a private X display with a tray.
"$root/scripts/display-fixture.sh" start "$display"
set -a
. "$display/display.env"
set +a
echo "## VOX level of speech and tones"
"$build/bench/level_figures"
echo
echo "## Key-up and release through the built program"
"$build/bench/keying_figures" "$build/kotarplus" "$linesim" "$cpu"
unset DISPLAY
echo
echo "## Render tick and rig control in-process"
QT_QPA_PLATFORM=offscreen "$build/bench/keying_bench"

#!/bin/sh
# Takes docs/screenshot.png of the main window: runs the built program (path as
# the argument; nothing is built here) on a private display in a temporary
# working directory, waits for its window, captures it and stops everything it
# started by pid.
#
#   scripts/screenshot.sh build/kotarplus [OUTPUT.png]
#
# The configuration selects PTT mode none and names a serial port that does not
# exist, so no device is opened. Start-up still tries that port in every mode
# and reports "Defined COM Port not available" in a message box before the main
# window shows; the script answers such boxes with Enter.
#
# The program records from the default source of the sound server named by
# PULSE_SERVER (none when unset). docs/screenshot.png shows speech played into
# a server of scripts/pulse-fixture.sh with paplay while the script ran.
set -eu
. "$(dirname "$0")/main-window.sh"

[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [OUTPUT.png]" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
output=${2:-$(cd "$here/.." && pwd)/docs/screenshot.png}
[ -x "$program" ] || { echo "screenshot: $program is not an executable" >&2; exit 2; }

work=$(mktemp -d)
app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null || true
    i=0
    while kill -0 "$app_pid" 2>/dev/null && [ $i -lt 100 ]; do sleep 0.05; i=$((i + 1)); done
    kill -9 "$app_pid" 2>/dev/null || true
  fi
  "$here/display-fixture.sh" stop "$work/display" || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

"$here/display-fixture.sh" start "$work/display" >/dev/null
. "$work/display/display.env"

mkdir "$work/run"
cat >"$work/run/KOTARPlus.INI" <<INI
[SETTINGS]
PTT=NONE
COMPORT=/nonexistent/kotar-no-port
BAUDRATE=4800
TRACE=TRUE
DEVICE=-1
GAIN=5
DELAY=500
INI

# No sound server of the caller's: no pulse daemon is spawned for this run.
: "${PULSE_SERVER:=unix:$work/no-pulse}"
export PULSE_SERVER
export XDG_RUNTIME_DIR="$work/runtime" ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
mkdir -m 700 "$XDG_RUNTIME_DIR"
(cd "$work/run" && exec "$program") </dev/null >"$work/program.log" 2>&1 &
app_pid=$!

# Wait for the main window, answering start-up's message boxes on the way.
window=$(main_window_of "$app_pid") || { echo "screenshot: no main window" >&2; cat "$work/program.log" >&2; exit 1; }

# Let the first frames of the controls and the spectrum paint.
sleep 1
mkdir -p "$(dirname "$output")"
import -window "$window" "$output"
echo "screenshot: wrote $output"

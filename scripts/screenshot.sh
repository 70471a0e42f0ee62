#!/bin/sh
# Takes the README's screenshots from the built program (path as the argument;
# nothing is built here), so that they show what the program really draws:
#
#   docs/main-window.png   the main window while a tone keys the VOX, with the
#                          squelch bar's tooltip
#   docs/tray-menu.png     the tray icon's menu, Mute on (check marks)
#   docs/options.png       the Options dialog
#   docs/com-settings.png  the COM Settings dialog
#   docs/about.png         the About box
#   docs/no-server.png     the main window started without a sound server
#
#   scripts/screenshot.sh build/kotarplus [OUTPUT-FOLDER]
#
# Runs everything privately and stops it by process id: a display with a window
# manager and a tray (display-fixture.sh), a PulseAudio server whose test sink
# plays a two-tone sound into the default source (pulse-fixture.sh), and the
# program in a temporary working directory with PTT mode none and a serial port
# that does not exist, so no device is opened. Start-up still tries that port
# and reports "Defined COM Port not available" in a message box; the script
# answers it with Enter.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
. "$here/main-window.sh"

[ $# -ge 1 ] || { echo "usage: $0 PROGRAM [OUTPUT-FOLDER]" >&2; exit 2; }
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
output=${2:-$(cd "$here/.." && pwd)/docs}
[ -x "$program" ] || { echo "screenshot: $program is not an executable" >&2; exit 2; }

work=$(mktemp -d)
program_pid= play_pid=
cleanup() {
  stop "$program_pid"
  stop "$play_pid"
  "$here/pulse-fixture.sh" stop "$work/pulse" >/dev/null 2>&1 || true
  "$here/display-fixture.sh" stop "$work/display" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() {
  echo "screenshot: $*" >&2
  [ -f "$work/program.log" ] && cat "$work/program.log" >&2
  exit 1
}


"$here/display-fixture.sh" start "$work/display" >/dev/null
. "$work/display/display.env"
"$here/pulse-fixture.sh" start "$work/pulse" >/dev/null
export PULSE_SERVER="unix:$work/pulse/runtime/native"

# Two tones at -20 dBFS each: the level reads about 5, above the squelch of 3.
sox -q -n -r 44100 -c 2 "$work/tones.wav" synth 60 sine 700 sine 1900 gain -14
paplay -d kotar_sink "$work/tones.wav" &
play_pid=$!

mkdir "$work/run"
cat >"$work/run/KOTARPlus.INI" <<INI
[SETTINGS]
PTT=NONE
COMPORT=/nonexistent/kotar-no-port
TRACE=NOT
GAIN=3
DELAY=500
INI
export XDG_RUNTIME_DIR="$work/runtime" ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
mkdir -m 700 "$XDG_RUNTIME_DIR"
(cd "$work/run" && exec setpriv --pdeathsig KILL "$program") </dev/null >"$work/program.log" 2>&1 &
program_pid=$!

window=$(main_window_of "$program_pid") || fail "no main window"
mkdir -p "$output"

# Keyed: the window icon turns to ON, a bright green microphone (the pixel at
# 12, 11 of the 32 x 32 _NET_WM_ICON lies in its head).
keyed() {
  icon=$(xprop -id "$window" -notype 32c _NET_WM_ICON | sed 's/^[^=]*= *//' | tr -d ' ')
  [ "$(echo "$icon" | cut -d, -f$((3 + 11 * 32 + 12)))" = "$(printf %d 0xff00ff00)" ]
}
wait_for keyed "the tone to key the VOX"

# The tray icon: the program's window among the windows below trayer's.
tray_icon() {
  for t in $(xdotool search --class trayer); do
    for id in $(xwininfo -children -tree -id "$t" | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p'); do
      for own in $(xdotool search --pid "$program_pid" 2>/dev/null || true); do
        [ "$(printf %d "$id")" = "$own" ] && { echo "$own"; return 0; }
      done
    done
  done
  return 1
}
wait_for tray_icon "the tray icon to dock"
icon=$(tray_icon)
# The program's mapped windows besides the main window and the icon.
popup() {
  for id in $(xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null || true); do
    [ "$id" = "$window" ] || [ "$id" = "$icon" ] || { echo "$id"; return 0; }
  done
  return 1
}
# Windows with their frames, cut from the screen as one picture, so that a
# tooltip over the window shows with it: shoot OUTPUT WINDOW...
outer() {
  _w=$1
  _root=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
  while _parent=$(xwininfo -tree -id "$_w" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p') &&
    [ -n "$_parent" ] && [ "$_parent" != "$_root" ]; do
    _w=$_parent
  done
  xwininfo -id "$_w" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
    /Width:/ { w = $NF } /Height:/ { h = $NF } END { print x, y, x + w, y + h }'
}
shoot() {
  _out=$1
  shift
  geometry=$(for _id in "$@"; do outer "$_id"; done | awk '
    NR == 1 || $1 < l { l = $1 } NR == 1 || $2 < t { t = $2 } NR == 1 || $3 > r { r = $3 } NR == 1 || $4 > b { b = $4 }
    END { printf "%dx%d+%d+%d", r - l, b - t, l, t }')
  import -window root -crop "$geometry" +repage "$_out"
}
# The squelch bar's tooltip: the pointer rests on the bar's groove.
xdotool mousemove --window "$window" 90 128
wait_for popup "the squelch bar's tooltip"
# A few frames more, so that the spectrum's bars have risen.
sleep 0.5
shoot "$output/main-window.png" "$window" "$(popup)"
xdotool mousemove --window "$window" 250 390

named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 | grep .; }
open_menu() {
  xdotool mousemove --window "$icon" 10 10 mousedown 3 mouseup 3
  wait_for popup "the tray menu"
}
close_dialog() {
  xdotool windowactivate --sync "$1" key --clearmodifiers Escape
  wait_for "! named '$2'" "the $2 window to close"
}

# Mute on, by its button: the menus show its check mark (and the active rig's).
xdotool mousemove --window "$window" 68 350 click 1
open_menu
menu=$(popup)
xdotool key Down Down Down Down Down
import -window "$menu" "$output/tray-menu.png"
xdotool key Return
wait_for "named Options" "the Options dialog"
dialog=$(named Options)
sleep 0.3
import -frame -window "$dialog" "$output/options.png"
close_dialog "$dialog" Options

open_menu
xdotool key Down Down Down Return
wait_for "named Setup" "COM Settings"
dialog=$(named Setup)
sleep 0.3
import -frame -window "$dialog" "$output/com-settings.png"
close_dialog "$dialog" Setup

open_menu
xdotool key Up Up Return
title="Soundcard based Control VOX System"
wait_for "named '$title'" "the About box"
dialog=$(named "$title")
sleep 0.3
import -frame -window "$dialog" "$output/about.png"
close_dialog "$dialog" "$title"

# Started again without a sound server: the spectrum says so.
stop "$program_pid"
program_pid=
(cd "$work/run" && PULSE_SERVER="unix:$work/no-pulse" exec setpriv --pdeathsig KILL "$program") \
  </dev/null >"$work/program.log" 2>&1 &
program_pid=$!
window=$(main_window_of "$program_pid") || fail "no main window without a server"
sleep 0.5
shoot "$output/no-server.png" "$window"

echo "screenshot: wrote main-window.png, tray-menu.png, options.png, com-settings.png, about.png and no-server.png in $output"

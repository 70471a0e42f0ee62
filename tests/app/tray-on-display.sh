#!/bin/sh
# End to end on a real display: the program's tray icon docked in trayer. A
# right press on the icon opens the tray menu, whose "Tune" keys the serial PTT
# (a pseudo-terminal under the linesim line driver) and releases it again; a
# left click or a double click does nothing; with the window minimised the
# right press restores it; "Exit", confirmed, ends the program.
# Needs the display fixture (KOTAR_DISPLAY_DIR), KOTAR_PROGRAM and
# KOTAR_LINESIM (the line driver library). With KOTAR_DEBUG_SHOT set, a failure
# saves a screenshot of the display under that name.
set -eu
. "$KOTAR_DISPLAY_DIR/display.env"
. "$KOTAR_SOURCE_DIR/scripts/main-window.sh"

work=$(mktemp -d)
program_pid= pty_pid=
cleanup() {
  stop "$program_pid"
  stop "$pty_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() {
  echo "FAIL: $*" >&2
  [ -z "${KOTAR_DEBUG_SHOT:-}" ] || import -window root "$KOTAR_DEBUG_SHOT" || true
  for log in program.log lines.log KOTARPlus.Log; do
    [ -f "$work/$log" ] && { echo "--- $log" >&2; cat "$work/$log" >&2; }
  done
  exit 1
}

# The pseudo-terminal: its holder keeps both ends open until stopped, or until
# this script ends however it ends, and links the slave where the configuration
# and the line driver look for it.
python3 -c '
import ctypes, os, signal, sys
PR_SET_PDEATHSIG = 1
ctypes.CDLL(None).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
if os.getppid() != int(sys.argv[2]):
    sys.exit(1)
master, slave = os.openpty()
os.symlink(os.ttyname(slave), sys.argv[1])
signal.pause()
' "$work/port" $$ </dev/null >"$work/pty.log" 2>&1 &
pty_pid=$!
poll_until '[ -e "$work/port" ]' 10 || fail "no pseudo-terminal: $(cat "$work/pty.log")"

printf '[SETTINGS]\nPTT=SERIAL\nCOMPORT=%s\nDELAY=500\n' "$work/port" >"$work/KOTARPlus.INI"
mkdir -m 700 "$work/runtime"
(
  cd "$work"
  export LD_PRELOAD="$KOTAR_LINESIM" LINESIM_DEVICE="$work/port" LINESIM_LOG="$work/lines.log"
  export ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0
  export PULSE_SERVER="unix:$work/no-pulse" XDG_RUNTIME_DIR="$work/runtime"
  # Killed with this script, should the script be killed before its clean-up.
  exec setpriv --pdeathsig KILL "$KOTAR_PROGRAM"
) </dev/null >"$work/program.log" 2>&1 &
program_pid=$!

# The main window. Any other titled window of the program is a start-up
# message box; it is answered.
window=$(main_window_of "$program_pid") || fail "no main window"

# The tray icon: the program's window among the windows below trayer's.
trayer_windows() {
  for t in $(xdotool search --class trayer); do
    xwininfo -children -tree -id "$t" | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p'
  done
}
find_icon() {
  mine=$(xdotool search --pid "$program_pid" 2>/dev/null || true)
  for id in $(trayer_windows); do
    for own in $mine; do
      [ "$(printf %d "$id")" = "$own" ] && { icon=$own; return 0; }
    done
  done
  return 1
}
icon=
wait_for find_icon "the tray icon to dock in trayer"

# Program windows that are mapped besides the main window and the icon: the
# tray menu when it is open.
popups() {
  for id in $(xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null || true); do
    [ "$id" = "$window" ] || [ "$id" = "$icon" ] || echo "$id"
  done
}
menu_open() { [ -n "$(popups)" ]; }
menu_closed() { [ -z "$(popups)" ]; }
viewable() { xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
lines() { sed 's/^[^ ]* //' "$work/lines.log" | tr '\n' ',' ; }
# A second press at the same spot within the double-click time is a double
# click, which the tray ignores; successive presses alternate between two spots
# further apart than the double-click distance instead of waiting it out.
spot=4
right_press() {
  spot=$((20 - spot))
  xdotool mousemove --window "$icon" $spot $spot mousedown 3 mouseup 3
}

[ "$(lines)" = "DTR 0,RTS 0," ] || fail "start-up lines $(lines), expected DTR and RTS lowered"

# Menu items from the top: Mute, Tune, ..., Exit at the bottom.
right_press
wait_for menu_open "the tray menu"
xdotool key Down Down Return
wait_for '[ "$(lines)" = "DTR 0,RTS 0,DTR 1,RTS 1," ]' "Tune to raise DTR and RTS"
wait_for menu_closed "the tray menu to close"
right_press
wait_for menu_open "the tray menu"
xdotool key Down Down Return
wait_for '[ "$(lines)" = "DTR 0,RTS 0,DTR 1,RTS 1,DTR 0,RTS 0," ]' "Tune again to lower DTR and RTS"
wait_for menu_closed "the tray menu to close"

# Nothing happens on the left button: there is no event to wait for, so the
# menu's absence is checked for a second.
xdotool mousemove --window "$icon" 10 10 click 1
xdotool click --repeat 2 --delay 80 1
i=0
while [ $i -lt 20 ]; do
  menu_closed || fail "a left click opened a menu"
  sleep 0.05
  i=$((i + 1))
done

xdotool windowminimize --sync "$window"
viewable "$window" && fail "the window did not minimise"
right_press
wait_for "viewable $window" "the right press to restore the minimised window"
wait_for menu_open "the tray menu over the restored window"
xdotool key Escape
wait_for menu_closed "the tray menu to close"

# Exit is the bottom item; its question is answered OK (Cancel has the focus).
rm "$work/KOTARPlus.INI"
right_press
wait_for menu_open "the tray menu"
xdotool key Up Return
question=
find_question() {
  for id in $(xdotool search --onlyvisible --name '^Warning!$' 2>/dev/null || true); do question=$id; return 0; done
  return 1
}
wait_for find_question "the exit question"
xdotool windowactivate --sync "$question" key --clearmodifiers shift+Tab space
wait_gone "$program_pid" "the program did not end after Exit"
wait "$program_pid" || fail "the program ended with status $?"
program_pid=
grep -q '^PTT=SERIAL' "$work/KOTARPlus.INI" || fail "Exit did not write the configuration"
[ "$(lines)" = "DTR 0,RTS 0,DTR 1,RTS 1,DTR 0,RTS 0," ] || fail "lines at the end $(lines)"
echo "tray icon docked; Tune keyed and released from its menu; left clicks ignored; minimised window restored; Exit ended the program"

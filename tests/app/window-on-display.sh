#!/bin/sh
# End to end on a real display: the program started with PTT mode none shows its
# main window with the IDLE icon, and closing the window through the window
# manager ends the program after writing its configuration.
# Needs the display fixture (KOTAR_DISPLAY_DIR) and KOTAR_PROGRAM.
set -eu
. "$KOTAR_DISPLAY_DIR/display.env"
. "$KOTAR_SOURCE_DIR/scripts/main-window.sh"

work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -9 "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$work/program.log" ] && cat "$work/program.log" >&2; exit 1; }

printf '[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-no-port\n' >"$work/KOTARPlus.INI"
export PULSE_SERVER="unix:$work/no-pulse" XDG_RUNTIME_DIR="$work"
(cd "$work" && exec "$KOTAR_PROGRAM") </dev/null >"$work/program.log" 2>&1 &
pid=$!

# Start-up may report the missing port in a message box first; answer it.
window=$(main_window_of "$pid") || fail "no main window"

# _NET_WM_ICON: width, height, then ARGB pixels row by row. The pixel at
# (12, 11) lies in the microphone's head: dark green for IDLE.
icon=$(xprop -id "$window" -notype 32c _NET_WM_ICON | sed 's/^[^=]*= *//' | tr -d ' ')
size=$(echo "$icon" | cut -d, -f1-2)
[ "$size" = "32,32" ] || fail "window icon size $size, expected 32,32"
pixel=$(echo "$icon" | cut -d, -f$((3 + 11 * 32 + 12)))
[ "$pixel" = "$(printf %d 0xff008000)" ] || fail "window icon pixel $(printf %#x "$pixel"), expected 0xff008000 (IDLE)"

rm "$work/KOTARPlus.INI"
xdotool windowactivate --sync "$window" key --clearmodifiers alt+F4
wait_gone "$pid" "the program did not end after closing its window"
wait "$pid" || fail "the program ended with status $?"
pid=
grep -q '^PTT=NONE' "$work/KOTARPlus.INI" || fail "the configuration was not written on close"
echo "main window shown with the IDLE icon; closed cleanly"

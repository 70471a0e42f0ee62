#!/bin/sh
# A private X display for end-to-end runs: Xvfb on a free display number, openbox
# as window manager and trayer as notification area.
#
#   display-fixture.sh start [DIR]   starts them; writes DIR/display.env
#   display-fixture.sh stop [DIR]    stops what DIR/display.env records, by pid
#
# DIR defaults to $KOTAR_DISPLAY_DIR. display.env holds DISPLAY,
# DBUS_SESSION_BUS_ADDRESS and the three pids; source it to use the display.
# The bus address names a dead path: otherwise libdbus starts a session bus
# that outlives the run.
set -eu

usage() { echo "usage: $0 start|stop [DIR]  (or set KOTAR_DISPLAY_DIR)" >&2; exit 2; }
[ $# -ge 1 ] || usage
command=$1
dir=${2:-${KOTAR_DISPLAY_DIR:-}}
[ -n "$dir" ] || usage
envfile=$dir/display.env

# Waits for a shell condition up to 10 s, scaled by how busy the machine is
# (the 1-minute load average per core, at least 1), so a busy machine makes the
# fixture slower, not red.
wait_for() {
  limit=$(awk -v cores="$(nproc)" '{ f = $1 / cores; if (f < 1) f = 1; printf "%d\n", 10 * f + 0.5 }' /proc/loadavg)
  until=$(($(date +%s) + limit))
  until eval "$1" >/dev/null 2>&1; do
    if [ "$(date +%s)" -gt "$until" ]; then
      echo "display-fixture: timed out waiting for $2 ($limit s)" >&2
      return 1
    fi
    sleep 0.05
  done
}

# True while the process runs; a zombie waiting for its reaper has ended.
running() {
  state=$(sed 's/.*) //' /proc/"$1"/stat 2>/dev/null | cut -c1)
  [ -n "$state" ] && [ "$state" != Z ]
}

# Stops one recorded process, but only if the pid still runs the program it
# was recorded for (a pid may have been reused since).
stop_pid() {
  pid=$1 name=$2
  [ -n "$pid" ] || return 0
  tr '\0' ' ' </proc/"$pid"/cmdline 2>/dev/null | grep -q "$name" || return 0
  kill "$pid" 2>/dev/null || return 0
  wait_for "! running $pid" "$name ($pid) to end" || kill -9 "$pid" 2>/dev/null || true
}

stop() {
  [ -f "$envfile" ] || return 0
  TRAYER_PID= OPENBOX_PID= XVFB_PID=
  . "$envfile"
  stop_pid "$TRAYER_PID" trayer
  stop_pid "$OPENBOX_PID" openbox
  stop_pid "$XVFB_PID" Xvfb
  rm -f "$envfile"
}

start() {
  mkdir -p "$dir"
  stop
  # Children get their own session and no tie to our stdout, so a caller that
  # waits for our output (CTest) does not wait for them.
  : >"$dir/displayfd"
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
    3>"$dir/displayfd" </dev/null >"$dir/xvfb.log" 2>&1 &
  xvfb=$!
  echo "XVFB_PID=$xvfb" >"$envfile"
  if ! wait_for "grep -q '^[0-9][0-9]*$' '$dir/displayfd'" "Xvfb to choose a display"; then
    stop; exit 1
  fi
  DISPLAY=:$(cat "$dir/displayfd")
  DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
  export DISPLAY DBUS_SESSION_BUS_ADDRESS
  {
    echo "DISPLAY=$DISPLAY"
    echo "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS"
  } >>"$envfile"

  setsid openbox --sm-disable </dev/null >"$dir/openbox.log" 2>&1 &
  echo "OPENBOX_PID=$!" >>"$envfile"
  if ! wait_for "xdotool get_desktop" "openbox to manage the display"; then
    stop; exit 1
  fi

  setsid trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
    </dev/null >"$dir/trayer.log" 2>&1 &
  echo "TRAYER_PID=$!" >>"$envfile"
  if ! wait_for "xdotool search --classname trayer" "trayer to open the tray"; then
    stop; exit 1
  fi
  echo "export DISPLAY DBUS_SESSION_BUS_ADDRESS" >>"$envfile"
  cat "$envfile"
}

case "$command" in
  start) start ;;
  stop) stop ;;
  *) usage ;;
esac

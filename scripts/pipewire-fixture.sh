#!/bin/sh
# A private, headless PipeWire with its pulse server, for tests and demos: the
# same devices and the same commands as scripts/pulse-fixture.sh.
#
#   pipewire-fixture.sh start DIR [FILE...]
#                                   start dbus, pipewire, wireplumber and pipewire-pulse in DIR,
#                                   the FILEs given to the pulse server as drop-ins (pipewire-pulse.conf.d)
#   pipewire-fixture.sh stop DIR    stop them, by their process ids
#   pipewire-fixture.sh env DIR     print the environment a client needs (for eval)
#
# Clients reach the pulse server with PULSE_SERVER=unix:DIR/runtime/native.
# DIR/pulse.pid holds the pulse server's process id (as with PulseAudio), the
# other daemons' ids are in DIR/*.pid; their output is in DIR/*.log.
set -eu

usage() { echo "usage: $0 start|stop|env DIR [FILE...]" >&2; exit 2; }
[ $# -ge 2 ] || usage
cmd=$1
dir=$2
shift 2
[ $# -eq 0 ] || [ "$cmd" = start ] || usage
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
export XDG_RUNTIME_DIR="$dir/runtime"
export XDG_CONFIG_HOME="$dir/config"
export XDG_STATE_HOME="$dir/state"
export HOME="$dir/home"
export PULSE_RUNTIME_PATH="$dir/runtime/pulse"
export PULSE_SERVER="unix:$dir/runtime/native"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
# libdbus would try to start a bus on an X server.
unset DISPLAY

# Waits up to $2 tenths of a second for the command $1 to succeed.
await() {
  n=0
  while ! eval "$1" >/dev/null 2>&1; do
    n=$((n + 1))
    [ $n -le "$2" ] || return 1
    sleep 0.1
  done
}

# A stopped daemon lingers for a moment as a zombie: that counts as gone.
gone() { [ ! -d "/proc/$1" ] || grep -q '^State:.*Z' "/proc/$1/status" 2>/dev/null; }

stop_one() {
  pidfile=$dir/$1.pid
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  if ! gone "$pid"; then
    kill -TERM "$pid" 2>/dev/null || true
    await "gone $pid" 50 || kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}

stop() {
  stop_one pulse
  stop_one wireplumber
  stop_one pipewire
  stop_one dbus
}

# start_one NAME COMMAND...: runs a daemon in the background, its id in DIR/NAME.pid.
start_one() {
  name=$1
  shift
  "$@" >"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
}

fail() {
  echo "pipewire-fixture: $1; see $dir/*.log" >&2
  stop
  exit 1
}

start() {
  stop
  rm -rf "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME"
  mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/pulse" "$XDG_STATE_HOME" "$HOME"
  chmod 700 "$XDG_RUNTIME_DIR"
  echo "autospawn = no" >"$XDG_CONFIG_HOME/pulse/client.conf"
  # The pulse server listens on the socket the clients are given.
  mkdir -p "$XDG_CONFIG_HOME/pipewire/pipewire-pulse.conf.d"
  cat >"$XDG_CONFIG_HOME/pipewire/pipewire-pulse.conf.d/socket.conf" <<CONF
pulse.properties = { server.address = [ "unix:$dir/runtime/native" ] }
CONF
  for dropin in "$@"; do
    cp "$dropin" "$XDG_CONFIG_HOME/pipewire/pipewire-pulse.conf.d/"
  done
  start_one dbus dbus-daemon --session --nofork --address="unix:path=$dir/bus"
  await "[ -S '$dir/bus' ]" 50 || fail "no session bus"
  start_one pipewire pipewire
  await "[ -S '$XDG_RUNTIME_DIR/pipewire-0' ]" 50 || fail "pipewire did not come up"
  start_one wireplumber wireplumber
  start_one pulse pipewire-pulse
  await "pactl info" 100 || fail "the pulse server did not come up"
  pactl load-module module-null-sink sink_name=kotar_sink rate=44100 channels=2 \
    "sink_properties='device.description=\"KOTAR Test Sink\"'" >/dev/null
  pactl load-module module-null-sink sink_name=kotar_drain rate=44100 channels=2 \
    "sink_properties='device.description=\"KOTAR Drain\"'" >/dev/null
  pactl load-module module-remap-source source_name=kotar_mic master=kotar_sink.monitor \
    "source_properties='device.description=\"KOTAR Test Microphone\"'" >/dev/null
  pactl load-module module-loopback source=kotar_sink.monitor sink=kotar_drain latency_msec=20 >/dev/null
  pactl load-module module-remap-source source_name=kotar_line master=kotar_drain.monitor \
    "source_properties='device.description=\"KOTAR Test Line In\"'" >/dev/null
  await "pactl list short sources | grep -q kotar_line" 50 || fail "the test devices are missing"
  pactl set-default-sink kotar_sink
  pactl set-default-source kotar_mic
  await "pactl get-default-source | grep -qx kotar_mic" 50 || fail "kotar_mic is not the default source"
  if ! await "timeout 1 parec -d kotar_mic --raw --latency-msec=10 | head -c 4096 | wc -c | grep -qx 4096" 50; then
    fail "no data from kotar_mic"
  fi
}

case "$cmd" in
  start) start "$@" ;;
  stop) stop ;;
  env) echo "PULSE_SERVER=unix:$dir/runtime/native" ;;
  *) usage ;;
esac

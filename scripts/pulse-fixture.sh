#!/bin/sh
# A private, headless PulseAudio server for tests and demos.
#
#   pulse-fixture.sh start DIR [FILE...]
#                                start a server whose files all live in DIR, reading
#                                the FILEs after its own set-up (as default.pa.d snippets)
#   pulse-fixture.sh stop DIR    stop the server started there, by its process id
#   pulse-fixture.sh env DIR     print the environment a client needs (for eval)
#
# Clients reach the server with
#   PULSE_SERVER=unix:DIR/runtime/native
# (XDG_RUNTIME_DIR=DIR/runtime and HOME=DIR/home are the server's own; clients
# need only PULSE_SERVER, the socket accepts anonymous clients).
#
# What the server offers:
#   sink   "kotar_sink"  (description "KOTAR Test Sink"), the default sink: play
#          test sound into it with  paplay -d kotar_sink FILE
#   source "kotar_mic"   (description "KOTAR Test Microphone"), the default source:
#          the sink's monitor under a name of its own (the monitor itself,
#          "kotar_sink.monitor", is listed too)
#   sink   "kotar_drain" and a 20 ms loopback from the monitor into it: it keeps
#          the monitor running, so captured data flow without a 1 to 2 s delay
#   source "kotar_line"  (description "KOTAR Test Line In"): a second recording
#          device, the drain's monitor, carrying the same sound 20 ms later
#
# "start" returns once a client can connect and the monitor delivers data; it
# leaves the server's process id in DIR/pulse.pid and its output in DIR/pulse.log.
set -eu

usage() { echo "usage: $0 start|stop|env DIR [FILE...]" >&2; exit 2; }
[ $# -ge 2 ] || usage
cmd=$1
dir=$2
shift 2
[ $# -eq 0 ] || [ "$cmd" = start ] || usage
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
pidfile=$dir/pulse.pid
export XDG_RUNTIME_DIR="$dir/runtime"
export HOME="$dir/home"
export PULSE_SERVER="unix:$dir/runtime/native"
# No session bus: libdbus would otherwise start one that outlives the server.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus"

alive() { [ -f "$pidfile" ] && kill -0 "$(cat "$pidfile")" 2>/dev/null; }

# Waits up to $2 tenths of a second for the command $1 to succeed.
await() {
  n=0
  while ! eval "$1" >/dev/null 2>&1; do
    n=$((n + 1))
    [ $n -le "$2" ] || return 1
    sleep 0.1
  done
}

stop() {
  alive || { rm -f "$pidfile"; return 0; }
  pid=$(cat "$pidfile")
  kill -TERM "$pid" 2>/dev/null || true
  await "! kill -0 $pid" 50 || kill -KILL "$pid" 2>/dev/null || true
  rm -f "$pidfile"
}

start() {
  stop
  rm -rf "$XDG_RUNTIME_DIR"
  mkdir -p "$XDG_RUNTIME_DIR" "$HOME"
  chmod 700 "$XDG_RUNTIME_DIR"
  cat >"$dir/server.pa" <<PA
load-module module-native-protocol-unix socket=$dir/runtime/native auth-anonymous=1
load-module module-null-sink sink_name=kotar_sink rate=44100 channels=2 sink_properties=device.description="KOTAR\ Test\ Sink"
load-module module-null-sink sink_name=kotar_drain rate=44100 channels=2 sink_properties=device.description="KOTAR\ Drain"
load-module module-remap-source source_name=kotar_mic master=kotar_sink.monitor source_properties=device.description="KOTAR\ Test\ Microphone"
load-module module-loopback source=kotar_sink.monitor sink=kotar_drain latency_msec=20
load-module module-remap-source source_name=kotar_line master=kotar_drain.monitor source_properties=device.description="KOTAR\ Test\ Line\ In"
set-default-sink kotar_sink
set-default-source kotar_mic
PA
  for snippet in "$@"; do
    echo ".include $(cd "$(dirname "$snippet")" && pwd)/$(basename "$snippet")" >>"$dir/server.pa"
  done
  pulseaudio -n -F "$dir/server.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --disallow-exit --log-target=stderr >"$dir/pulse.log" 2>&1 &
  echo $! >"$pidfile"
  if ! await "pactl info" 100; then
    echo "pulse-fixture: server did not come up; see $dir/pulse.log" >&2
    stop
    exit 1
  fi
  # The monitor starts delivering a moment after the server answers.
  if ! await "timeout 1 parec -d kotar_mic --raw --latency-msec=10 | head -c 4096 | wc -c | grep -qx 4096" 50; then
    echo "pulse-fixture: no data from kotar_mic; see $dir/pulse.log" >&2
    stop
    exit 1
  fi
}

case "$cmd" in
  start) start "$@" ;;
  stop) stop ;;
  env) echo "PULSE_SERVER=unix:$dir/runtime/native" ;;
  *) usage ;;
esac

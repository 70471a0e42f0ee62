#!/bin/sh
# rigctld with the dummy rig on a free loopback port, for end-to-end scripts.
#   rigctld-fixture.sh start DIR [nokey]  starts it; prints the port; DIR/rigctld.pid, DIR/rigctld.port
#   rigctld-fixture.sh stop DIR           stops it by its process id
#   rigctld-fixture.sh ptt DIR            prints the PTT state, "0" or "1", read from outside
# "nokey" leaves out "-P RIG": the dummy then refuses to key.
set -e
cmd=$1 dir=$2
[ -n "$dir" ] || { echo "usage: $0 start|stop|ptt DIR [nokey]" >&2; exit 2; }
case "$cmd" in
start)
  keying="-P RIG"
  [ "$3" = nokey ] && keying=""
  tries=0
  while [ $tries -lt 20 ]; do
    tries=$((tries + 1))
    port=$(shuf -i 20000-39999 -n 1)
    # shellcheck disable=SC2086
    rigctld -m 1 $keying -T 127.0.0.1 -t "$port" </dev/null >"$dir/rigctld.log" 2>&1 &
    pid=$!
    # Ready when it answers; one that lost the port exits.
    n=0
    while [ $n -lt 100 ] && kill -0 "$pid" 2>/dev/null; do
      if rigctl -m 2 -r "127.0.0.1:$port" t >/dev/null 2>&1; then
        echo "$pid" >"$dir/rigctld.pid"
        echo "$port" >"$dir/rigctld.port"
        echo "$port"
        exit 0
      fi
      n=$((n + 1))
      sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  echo "rigctld could not be started" >&2
  exit 1
  ;;
stop)
  [ -f "$dir/rigctld.pid" ] || exit 0
  pid=$(cat "$dir/rigctld.pid")
  kill "$pid" 2>/dev/null || true
  n=0
  while kill -0 "$pid" 2>/dev/null && [ $n -lt 40 ]; do n=$((n + 1)); sleep 0.05; done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$dir/rigctld.pid"
  ;;
ptt)
  rigctl -m 2 -r "127.0.0.1:$(cat "$dir/rigctld.port")" t
  ;;
*)
  echo "usage: $0 start|stop|ptt DIR [nokey]" >&2
  exit 2
  ;;
esac

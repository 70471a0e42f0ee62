#!/bin/sh
# End-to-end figures of the audio relay against a private sound server and a
# pseudo-terminal under linesim:
#   bench/relay-figures.sh [BENCHBUILD] [CPU_SECONDS]   (after `make bench`)
#   bench/relay-figures.sh BENCHBUILD soak [SECONDS]    speech soak, 600 s unless told
#   bench/relay-figures.sh BENCHBUILD modem [COUNT]     minimodem through the relay and
#                                                       straight into a sink, alternated
# LOAD=N runs N busy loops at normal priority beside it (stopped by their
# process ids at the end); SERVER=pipewire runs PipeWire's pulse server
# instead of PulseAudio; PROGRAM=kotarplusd measures the station; NORT=1
# runs it without real-time priority (no CAP_SYS_NICE, RLIMIT_RTPRIO 0), as
# an ordinary user without RealtimeKit.
set -eu
build=$(cd "${1:-build-bench}" && pwd)
[ $# -gt 0 ] && shift
[ $# -gt 0 ] || set -- 60
root=$(cd "$(dirname "$0")/.." && pwd)
server=${SERVER:-pulse}
dir=$build/bench-relay-$server
linesim=$(find "$build" -name liblinesim.so | head -n 1)
[ -n "$linesim" ] || { echo "liblinesim.so not built in $build" >&2; exit 1; }
command -v minimodem >/dev/null || apt-get install -y minimodem
command -v espeak-ng >/dev/null || apt-get install -y espeak-ng
"$root/scripts/$server-fixture.sh" start "$dir"
loops=
trap '[ -z "$loops" ] || kill $loops; "$root/scripts/$server-fixture.sh" stop "$dir"' EXIT
i=0
while [ $i -lt "${LOAD:-0}" ]; do
    sh -c 'while :; do :; done' &
    loops="$loops $!"
    i=$((i + 1))
done
# The one-minute load average shows them after a minute.
[ -z "$loops" ] || sleep 60
export PULSE_SERVER="unix:$dir/runtime/native"
set -- "$build/bench/relay_figures" "$build/${PROGRAM:-kotarplus}" "$linesim" "$@"
if [ -n "${NORT:-}" ]; then
    prlimit --rtprio=0:0 capsh --drop=cap_sys_nice -- -c 'exec "$0" "$@"' "$@"
else
    "$@"
fi

#!/bin/sh
# Runs the audio benchmarks against a private sound server:
#   bench/audio-figures.sh BENCHBUILD   (after `make bench`)
set -eu
build=$(cd "${1:-build-bench}" && pwd)
root=$(cd "$(dirname "$0")/.." && pwd)
dir=$build/bench-pulse
"$root/scripts/pulse-fixture.sh" start "$dir"
trap '"$root/scripts/pulse-fixture.sh" stop "$dir"' EXIT
export PULSE_SERVER="unix:$dir/runtime/native"
"$build/bench/audio_bench"
"$build/bench/audio_figures"

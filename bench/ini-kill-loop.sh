#!/bin/sh
# Kills a loop of INI writes with SIGKILL at random moments and checks that
# the file is always one whole version and that no temporary file is left:
#   bench/ini-kill-loop.sh [BENCHBUILD] [ROUNDS]   (after `make bench`)
set -eu
build=$(cd "${1:-build-bench}" && pwd)
rounds=${2:-40}
loop=$build/bench/ini_write_loop
[ -x "$loop" ] || { echo "ini_write_loop not built in $build" >&2; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/versions"
# About 30 KB of other sections and comments around the one key written.
{
    printf '; station notes\r\n[SETTINGS]\r\nGAIN=0\r\n'
    i=0
    while [ $i -lt 600 ]; do
        printf '[OTHER%d]\r\nname=value %d of someone else\r\n' $i $i
        i=$((i + 1))
    done
} >"$dir/versions/0"
for value in 1 2; do
    sed "s/^GAIN=0/GAIN=$value/" "$dir/versions/0" >"$dir/versions/$value"
done
passed=0
round=1
while [ $round -le "$rounds" ]; do
    mkdir "$dir/run"
    cp "$dir/versions/0" "$dir/run/KOTARPlus.INI"
    "$loop" "$dir/run/KOTARPlus.INI" &
    pid=$!
    # 10 to 300 ms of writing
    sleep "0.$(printf '%03d' $((10 + $(od -An -N2 -tu2 /dev/urandom) % 290)))"
    kill -KILL $pid
    wait $pid 2>/dev/null || true
    whole=no
    for version in 0 1 2; do
        cmp -s "$dir/run/KOTARPlus.INI" "$dir/versions/$version" && whole=yes
    done
    others=$(ls -A "$dir/run" | grep -vx KOTARPlus.INI || true)
    if [ $whole = yes ] && [ -z "$others" ]; then
        passed=$((passed + 1))
    else
        echo "round $round: whole=$whole, left behind: ${others:-nothing}"
    fi
    rm -rf "$dir/run"
    round=$((round + 1))
done
echo "INI writes killed at random moments: $passed/$rounds left one whole file and nothing else"
[ $passed -eq "$rounds" ]

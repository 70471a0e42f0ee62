# Sourced by the scripts that drive the program on a display. The sourcing
# script defines fail MESSAGE and may set program_pid once the program runs.

# stop PID: ends a process the script started, by its id (SIGKILL after 5 s).
stop() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || return 0
  _i=0
  while kill -0 "$1" 2>/dev/null && [ $_i -lt 100 ]; do sleep 0.05; _i=$((_i + 1)); done
  kill -9 "$1" 2>/dev/null || true
}

# patience SECONDS: a limit for a wait that takes a moment on an idle machine,
# scaled by how busy this one is (the 1-minute load average per core, at least
# 1; KOTAR_PATIENCE multiplies it further), so a busy machine makes the scripts
# slower, not red.
patience() {
  awk -v base="$1" -v cores="$(nproc)" -v extra="${KOTAR_PATIENCE:-1}" \
    '{ f = $1 / cores; if (f < 1) f = 1; printf "%d\n", base * f * extra + 0.5 }' /proc/loadavg
}

# poll_until CONDITION SECONDS: polls a shell condition until it holds (0) or
# the scaled limit passes (1).
poll_until() {
  _until=$(($(date +%s) + $(patience "$2")))
  until eval "$1" >/dev/null 2>&1; do
    [ "$(date +%s)" -le "$_until" ] || return 1
    sleep 0.05
  done
}

# wait_for CONDITION WHAT [SECONDS]: polls a shell condition (the program is an
# outside process: no event of its reaches a script) with a generous limit
# (30 s scaled, or SECONDS); fails when it times out or the program ends.
wait_for() {
  _until=$(($(date +%s) + $(patience "${3:-30}")))
  until eval "$1" >/dev/null 2>&1; do
    [ "$(date +%s)" -le "$_until" ] || fail "timed out waiting for $2"
    [ -z "${program_pid:-}" ] || kill -0 "$program_pid" 2>/dev/null || fail "the program ended while waiting for $2"
    sleep 0.05
  done
}

# wait_gone PID WHAT: waits for a process to end (scaled 30 s); fails otherwise.
wait_gone() {
  poll_until "! kill -0 $1" 30 || fail "$2"
}
#
# main_window_of PID: prints the id of the program's main window once it shows,
# answering any start-up message box on the way; fails when the program ends
# first or after 60 s (scaled).
main_window_of() {
  _pid=$1
  _limit=$(patience 60)
  _until=$(($(date +%s) + _limit))
  while :; do
    kill -0 "$_pid" 2>/dev/null || { echo "the program ended before showing its window" >&2; return 1; }
    [ "$(date +%s)" -le "$_until" ] || { echo "no main window within $_limit s" >&2; return 1; }
    for _id in $(xdotool search --onlyvisible --pid "$_pid" 2>/dev/null || true); do
      _name=$(xdotool getwindowname "$_id" 2>/dev/null || true)
      case "$_name" in
        "KotarPlus 1.0") echo "$_id"; return 0 ;;
        # Untitled windows (the tray icon among them) carry the program's name.
        "" | kotarplus) ;;
        *)
          echo "answering \"$_name\"" >&2
          xdotool windowactivate --sync "$_id" key --clearmodifiers Return 2>/dev/null || true
          ;;
      esac
    done
    sleep 0.05
  done
}

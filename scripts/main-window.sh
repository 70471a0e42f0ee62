# Sourced by the scripts that drive the program on a display. The sourcing
# script sets program_pid once the program runs and defines fail MESSAGE.

# stop PID: ends a process the script started, by its id (SIGKILL after 5 s).
stop() {
  [ -n "$1" ] || return 0
  kill "$1" 2>/dev/null || return 0
  _i=0
  while kill -0 "$1" 2>/dev/null && [ $_i -lt 100 ]; do sleep 0.05; _i=$((_i + 1)); done
  kill -9 "$1" 2>/dev/null || true
}

# wait_for CONDITION WHAT: polls a shell condition for up to about 10 s (the
# program is an outside process: no event of its reaches a script); fails when
# it times out or the program ends.
wait_for() {
  _tries=0
  until eval "$1" >/dev/null 2>&1; do
    _tries=$((_tries + 1))
    [ $_tries -le 200 ] || fail "timed out waiting for $2"
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended while waiting for $2"
    sleep 0.05
  done
}
#
# main_window_of PID: prints the id of the program's main window once it shows,
# answering any start-up message box on the way; fails when the program ends
# first or after 30 s.
main_window_of() {
  _pid=$1
  _tries=0
  while :; do
    kill -0 "$_pid" 2>/dev/null || { echo "the program ended before showing its window" >&2; return 1; }
    _tries=$((_tries + 1))
    [ $_tries -le 600 ] || { echo "no main window within 30 s" >&2; return 1; }
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

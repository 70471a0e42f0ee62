# Sourced by the scripts that drive the program on a display.
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

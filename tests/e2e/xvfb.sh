# Sourced by the end-to-end tests: a temporary home and work folder, a virtual X display, and
# cleanup of both and of the application when the test ends, however it ends.
work=$(mktemp -d)
cleanup() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# Qt's 9-point text at 86 dots to the inch is the 10.8 pixels the window was designed for, so
# the window is built at its archive's frames and the clicks below land where they name.
export QT_FONT_DPI=86
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/applications"

# The server picks a free display number itself and writes it once it is ready, so tests run
# side by side never share one.
Xvfb -displayfd 1 -screen 0 "${XVFB_SCREEN:-1024x768x24}" -nolisten tcp >"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=:$(head -n 1 "$work/display")
export DISPLAY=$display
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# xdotool warns about the missing window manager on every call; the warnings say nothing here.
xdo() { xdotool "$@" 2>/dev/null; }

# The id of the visible window with this exact name, waiting for it up to 20 seconds.
window_named() {
  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)
  [ -n "$id" ] || { echo "FAIL: no window named '$1'"; exit 1; }
  echo "$id"
}

# Waits up to 20 seconds for a command to succeed, trying it every tenth of a second; the
# test fails, naming what it waited for, when it does not.
wait_for() {  # what command...
  local what=$1
  shift
  for _ in $(seq 200); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "FAIL: waited 20 s for $what"
  exit 1
}

# Waits until a window has handled everything sent to it before: it answers the window
# manager's ping only once its event loop has reached it (X11_PROBE, from the build).
window_ready() {  # window-id
  wait_for "window $1 to answer" "$X11_PROBE" ping "$1"
}

# Gives a window the keyboard focus and waits until it has it.
focus_window() {  # window-id
  xdo windowfocus --sync "$1"
  window_ready "$1"
}

window_gone() {  # name
  ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1
}

# Starts the application on the display and waits until its window answers; sets app_pid
# and window.
start_app() {  # app
  QT_QPA_PLATFORM=xcb "$1" >>"$work/out" 2>>"$work/err" &
  app_pid=$!
  window=$(window_named Tarnwickloft)
  window_ready "$window"
}

# Replaces the text of the field at window coordinates x, y (from the archive's frames).
type_into() {  # x y text
  xdo mousemove --window "$window" "$1" "$2" click 1
  xdo key End shift+Home BackSpace  # (Ctrl+A is "Save As...")
  xdo type --delay 5 "$3"
}

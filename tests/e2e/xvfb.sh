# Sourced by the end-to-end tests: a temporary home and work folder, a virtual X display, and
# cleanup of both and of the application when the test ends, however it ends.
work=$(mktemp -d)
display=:$((100 + RANDOM % 800))
cleanup() {
  [ -n "${app_pid:-}" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/applications"

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
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

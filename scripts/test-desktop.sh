# Sourced by scripts/test: a private X server with a window manager for the tests, so that the
# synthetic key presses of the X11 tests never reach the developer's own desktop.
# Sets DISPLAY; desktop_stop ends what desktop_start started, by PID.

desktop_pids=()

desktop_start() {
  local scratch="$1" here
  here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
  command -v Xvfb >/dev/null || { echo "Xvfb is missing: the X11 tests will skip" >&2; return 0; }
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$scratch/display" >"$scratch/xvfb.log" 2>&1 &
  desktop_pids+=($!)
  for _ in $(seq 1 100); do [ -s "$scratch/display" ] && break; sleep 0.05; done
  if [ ! -s "$scratch/display" ]; then echo "Xvfb did not start: the X11 tests will skip" >&2; return 0; fi
  export DISPLAY=":$(cat "$scratch/display")"
  unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
  openbox --sm-disable --config-file "$here/openbox-rc.xml" >"$scratch/openbox.log" 2>&1 &
  desktop_pids+=($!)
  for _ in $(seq 1 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.05; done
  echo "X server for the tests on $DISPLAY" >&2
}

desktop_stop() {
  local i
  for ((i=${#desktop_pids[@]}-1; i>=0; i--)); do
    kill "${desktop_pids[$i]}" 2>/dev/null || true
    wait "${desktop_pids[$i]}" 2>/dev/null || true
  done
  desktop_pids=()
}

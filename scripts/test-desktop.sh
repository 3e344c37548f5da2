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
  # A system tray (XEmbed; Qt uses it when there is no D-Bus session).
  if command -v trayer >/dev/null; then
    trayer --edge top --align right --widthtype request --height 24 >"$scratch/trayer.log" 2>&1 &
    desktop_pids+=($!)
  fi
  echo "X server for the tests on $DISPLAY" >&2
}

# PulseAudio with a virtual microphone: whatever is played on the sink "vsink" is what the
# default source "vmic" hears. Sets PULSE_SERVER.
sound_start() {
  local scratch="$1"
  command -v pulseaudio >/dev/null || { echo "pulseaudio is missing: the capture tests will skip" >&2; return 0; }
  mkdir -p "$scratch/pulse/run" "$scratch/pulse/state"
  cat >"$scratch/pulse/test.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$scratch/pulse/native
load-module module-null-sink sink_name=vsink norewinds=1 rate=48000 channels=1
load-module module-remap-source master=vsink.monitor source_name=vmic
load-module module-remap-source master=vsink.monitor source_name=vmic2 source_properties=device.description=SecondMic
set-default-source vmic
set-default-sink vsink
PA
  PULSE_RUNTIME_PATH="$scratch/pulse/run" PULSE_STATE_PATH="$scratch/pulse/state" \
    pulseaudio -n -F "$scratch/pulse/test.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --realtime=no --high-priority=no >"$scratch/pulse/log" 2>&1 &
  desktop_pids+=($!)
  export PULSE_SERVER="unix:$scratch/pulse/native"
  for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  pactl info >/dev/null 2>&1 && echo "PulseAudio for the tests at $PULSE_SERVER" >&2 || unset PULSE_SERVER
}

desktop_stop() {
  local i
  for ((i=${#desktop_pids[@]}-1; i>=0; i--)); do
    kill "${desktop_pids[$i]}" 2>/dev/null || true
    wait "${desktop_pids[$i]}" 2>/dev/null || true
  done
  desktop_pids=()
}

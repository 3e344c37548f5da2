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

# A headless sway for the Wayland tests. sway refuses to run as root, so as root it runs as a
# throw-away system user; its home holds the runtime folder and what the tests write. Sets
# VELUTANORA_SWAY_* for tests/platform/run-under-sway, not WAYLAND_DISPLAY: the other
# tests stay off it.
sway_home=""
wayland_start() {
  local user socket
  command -v sway >/dev/null || { echo "sway is missing: the Wayland tests will skip" >&2; return 0; }
  user="$(id -un)"
  if [ "$(id -u)" -eq 0 ]; then
    user=velutanora-wl
    id -u "$user" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$user" \
      || { echo "cannot add a user for sway: the Wayland tests will skip" >&2; return 0; }
  fi
  sway_home="$(mktemp -d /tmp/velutanora-sway.XXXXXX)"
  chmod 755 "$sway_home"
  mkdir -p "$sway_home/run" "$sway_home/bin" "$sway_home/tmp" "$sway_home/config" "$sway_home/data"
  printf 'output HEADLESS-1 resolution 1280x800\ndefault_border none\nxwayland disable\n' >"$sway_home/sway.conf"
  chown -R "$user:" "$sway_home"
  chmod 700 "$sway_home/run"
  local run=(env -i HOME="$sway_home" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$sway_home/run" WLR_BACKENDS=headless
             WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 sway -c "$sway_home/sway.conf")
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups "${run[@]}" >"$sway_home/sway.log" 2>&1 &
  else
    "${run[@]}" >"$sway_home/sway.log" 2>&1 &
  fi
  desktop_pids+=($!)
  for _ in $(seq 1 100); do
    socket="$(find "$sway_home/run" -maxdepth 1 -name 'wayland-*' ! -name '*.lock' -printf '%f\n' 2>/dev/null | head -1)"
    [ -n "$socket" ] && break
    sleep 0.05
  done
  if [ -z "$socket" ]; then echo "sway did not start: the Wayland tests will skip" >&2; return 0; fi
  # A virtual microphone of its own that this user can reach, as sound_start's (vsink → vmic).
  if command -v pulseaudio >/dev/null; then
    mkdir -p "$sway_home/pulse/run" "$sway_home/pulse/state"
    printf '%s\n' "load-module module-native-protocol-unix auth-anonymous=1 socket=$sway_home/pulse/native" \
      "load-module module-null-sink sink_name=vsink norewinds=1 rate=48000 channels=1" \
      "load-module module-remap-source master=vsink.monitor source_name=vmic" \
      "set-default-source vmic" "set-default-sink vsink" >"$sway_home/pulse/test.pa"
    chown -R "$user:" "$sway_home/pulse"
    local pulse=(env -i HOME="$sway_home" PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$sway_home/run"
                 PULSE_RUNTIME_PATH="$sway_home/pulse/run" PULSE_STATE_PATH="$sway_home/pulse/state"
                 pulseaudio -n -F "$sway_home/pulse/test.pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no
                 --realtime=no --high-priority=no)
    if [ "$(id -u)" -eq 0 ]; then
      setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups "${pulse[@]}" >"$sway_home/pulse/log" 2>&1 &
    else
      "${pulse[@]}" >"$sway_home/pulse/log" 2>&1 &
    fi
    desktop_pids+=($!)
    for _ in $(seq 1 200); do [ -S "$sway_home/pulse/native" ] && break; sleep 0.05; done
    [ -S "$sway_home/pulse/native" ] && export VELUTANORA_SWAY_PULSE="unix:$sway_home/pulse/native"
  fi
  export VELUTANORA_SWAY_USER="$user" VELUTANORA_SWAY_HOME="$sway_home" VELUTANORA_SWAY_DISPLAY="$socket"
  VELUTANORA_SWAY_IPC="$(find "$sway_home/run" -maxdepth 1 -name 'sway-ipc.*.sock' | head -1)"
  export VELUTANORA_SWAY_IPC
  echo "headless sway for the Wayland tests at $sway_home/run/$socket" >&2
}

desktop_stop() {
  local i
  for ((i=${#desktop_pids[@]}-1; i>=0; i--)); do
    kill "${desktop_pids[$i]}" 2>/dev/null || true
    wait "${desktop_pids[$i]}" 2>/dev/null || true
  done
  desktop_pids=()
  if [ -n "$sway_home" ]; then rm -rf "$sway_home"; sway_home=""; fi
}

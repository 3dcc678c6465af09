#!/usr/bin/env bash
# Runs a command with a private headless PipeWire (with its session manager and
# its PulseAudio server, as today's desktops run it), set up as with-pulse.sh
# sets up PulseAudio: a virtual speaker (null sink "speaker") and a virtual
# microphone ("mic", fed through the null sink "micfeed"). PULSE_SERVER points
# the command at it; everything is stopped afterwards. Fails loudly when the
# servers cannot be started.
set -euo pipefail

runtime=$(mktemp -d /tmp/kavelo-pipewire.XXXXXX)
chmod 700 "$runtime"
PIDS=""
cleanup() {
  # Newest first: the PulseAudio server and the session manager before PipeWire.
  local pid
  for pid in $PIDS; do kill -CONT "$pid" 2>/dev/null || true; done
  for pid in $PIDS; do kill "$pid" 2>/dev/null || true; done
  for pid in $PIDS; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$runtime"
}
trap cleanup EXIT

mkdir -p "$runtime/home" "$runtime/config" "$runtime/state"
export XDG_RUNTIME_DIR="$runtime"
export PIPEWIRE_RUNTIME_DIR="$runtime"
export PULSE_SERVER="unix:$runtime/pulse/native"
# The servers read no one's own settings and keep their state here.
server_env=(env HOME="$runtime/home" XDG_CONFIG_HOME="$runtime/config" XDG_STATE_HOME="$runtime/state")

start() { # name command...
  local name=$1
  shift
  "${server_env[@]}" "$@" >"$runtime/$name.log" 2>&1 &
  PIDS="$! $PIDS"
}

# The session manager needs a session bus; a private one, as for everything here.
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 --address="unix:path=$runtime/bus")
PIDS="$(echo "$bus" | sed -n 2p) $PIDS"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"

start pipewire pipewire
for _ in $(seq 50); do [ -S "$runtime/pipewire-0" ] && break; sleep 0.1; done
start wireplumber wireplumber
start pipewire-pulse pipewire-pulse
for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
if ! pactl info 2>/dev/null | grep -q "on PipeWire"; then
  echo "with-pipewire: PipeWire's PulseAudio server does not answer at $PULSE_SERVER" >&2
  tail -n 20 "$runtime"/*.log >&2 || true
  exit 1
fi

pactl load-module module-null-sink sink_name=speaker >/dev/null
pactl load-module module-null-sink sink_name=micfeed >/dev/null
pactl load-module module-remap-source source_name=mic master=micfeed.monitor >/dev/null
# The defaults are the session manager's to set; it may take a moment to come up.
for _ in $(seq 100); do
  pactl set-default-sink speaker 2>/dev/null && pactl set-default-source mic 2>/dev/null &&
    pactl info | grep -q "^Default Source: mic$" && break
  sleep 0.1
done
if ! pactl info | grep -q "^Default Sink: speaker$"; then
  echo "with-pipewire: the virtual speaker and microphone are not the defaults:" >&2
  pactl info >&2
  tail -n 20 "$runtime"/wireplumber.log >&2 || true
  exit 1
fi

"$@"

#!/usr/bin/env bash
# Runs a command with a private headless PulseAudio server: a virtual speaker
# (null sink "speaker") and a virtual microphone ("mic", fed through the null
# sink "micfeed"). PULSE_SERVER points the command at it; the server is stopped
# afterwards. Fails loudly when the server cannot be started.
set -euo pipefail

runtime=$(mktemp -d /tmp/kavelo-pulse.XXXXXX)
chmod 700 "$runtime"
cleanup() {
  if [ -n "${KEEPERS:-}" ]; then kill $KEEPERS 2>/dev/null || true; fi
  local pid=""
  if [ -s "$runtime/pulse/pid" ]; then pid=$(cat "$runtime/pulse/pid"); fi
  # A test may have left the server frozen (SIGSTOP) when it died; wake it so it can quit.
  if [ -n "$pid" ]; then kill -CONT "$pid" 2>/dev/null || true; fi
  XDG_RUNTIME_DIR="$runtime" PULSE_SERVER="unix:$runtime/pulse/native" timeout 5 pactl exit 2>/dev/null || true
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$runtime"
}
trap cleanup EXIT

cat > "$runtime/test.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$runtime/pulse/native
load-module module-null-sink sink_name=speaker
load-module module-null-sink sink_name=micfeed
load-module module-remap-source source_name=mic master=micfeed.monitor
set-default-sink speaker
set-default-source mic
PA
mkdir -p "$runtime/pulse"

export XDG_RUNTIME_DIR="$runtime"
export PULSE_SERVER="unix:$runtime/pulse/native"
pulseaudio -D -n --exit-idle-time=-1 --disallow-exit=false --log-target=file:"$runtime/pulse.log" \
  -F "$runtime/test.pa" --system=false 2>"$runtime/start.err" || {
  echo "with-pulse: the PulseAudio server did not start:" >&2
  cat "$runtime/start.err" "$runtime/pulse.log" >&2 2>/dev/null || true
  exit 1
}
for _ in $(seq 50); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
if ! pactl info >/dev/null 2>&1; then
  echo "with-pulse: the PulseAudio server does not answer at $PULSE_SERVER" >&2
  exit 1
fi

# An idle null sink renders in 2-second blocks; one small stream on each keeps it awake.
# They play zero bytes as signed samples: true silence, no offset added to what is heard.
KEEPERS=""
for sink in speaker micfeed; do
  pacat --playback --device="$sink" --latency-msec=20 --raw --format=s16le --rate=8000 --channels=1 </dev/zero &
  KEEPERS="$KEEPERS $!"
done
# A null sink that started idle has rendered up to 2 s ahead; until real time has
# caught up, anything played or fed is heard that much later. Wait for that.
settled=""
for _ in $(seq 40); do
  if pactl list sinks | awk '/^[[:space:]]*Latency:/ { if ($2 > 50000) late = 1; seen = 1 }
                             END { exit !(seen && !late) }'; then
    settled=yes
    break
  fi
  sleep 0.1
done
if [ -z "$settled" ]; then
  echo "with-pulse: the virtual sinks did not settle to a low latency:" >&2
  pactl list sinks | grep -E 'Name:|Latency:' >&2 || true
  exit 1
fi

"$@"

# shellcheck shell=bash
# Sourced by the scripts that run Kavelo on namespaced test hosts (the two-host
# call, the fault and flood tests, the soak and the call benchmarks). Each host
# is a network namespace on one private bridge with its own PulseAudio server
# (null sinks "speaker" and "micfeed", remap source "mic"), Xvfb display, session
# and accessibility bus, home and program folder.
#
#   hosts_prepare LABEL                 checks root and tools, makes $work and $out_dir
#                                       and installs the EXIT trap that stops everything
#   hosts_setup TAG HOST=ADDRESS...     e.g. hosts_setup kvffl$$ a=10.232.7.1 b=10.232.7.2
#
# Callers set $kavelo, $phone_wav and $out_dir (empty: a folder inside $work) before
# hosts_prepare. Optional: $bare_hosts (hosts that only send datagrams: no servers),
# $keepalive_ms (period of the quiet stream kept on each sink, 20; 0: none).
# Afterwards $address maps each host to its address and $work/<host>/env holds
# what a driver needs to reach the host (the keys two_host_call.Host reads).
# Anything that cannot be set up fails (exit 1), never a skip.

fail() {
  echo "${hosts_label:-e2e}: FAILED: $*" >&2
  exit 1
}

hosts_require() {
  [ "$(id -u)" -eq 0 ] || fail "network namespaces need root (run as root)"
  for tool in ip Xvfb dbus-daemon pulseaudio pactl pacat paplay parecord espeak-ng sox import xdotool xprop; do
    command -v "$tool" >/dev/null 2>&1 || fail "missing tool '$tool' (scripts/install-deps.sh installs it)"
  done
  if [ "${KAVELO_E2E_SOUND:-pulseaudio}" = pipewire ]; then
    for tool in pipewire wireplumber pipewire-pulse; do
      command -v "$tool" >/dev/null 2>&1 || fail "missing tool '$tool' (scripts/install-deps.sh --tests installs it)"
    done
  fi
  spi_launcher=""
  for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
    [ -x "$candidate" ] && spi_launcher=$candidate && break
  done
  [ -n "$spi_launcher" ] || fail "missing at-spi-bus-launcher (package at-spi2-core)"
  /usr/bin/python3 -c 'import pyatspi, numpy' 2>/dev/null ||
    fail "Debian python3 needs pyatspi and numpy (python3-pyatspi, python3-numpy)"
}

hosts_prepare() {
  hosts_label=$1
  [ -x "$kavelo" ] || fail "no Kavelo program at $kavelo"
  [ -f "$phone_wav" ] || fail "no ring sound at $phone_wav"
  # Each program runs in its own program folder.
  kavelo=$(realpath "$kavelo")
  hosts_require
  work=$(mktemp -d "/tmp/kavelo-$hosts_label.XXXXXX")
  chmod 755 "$work"
  [ -n "$out_dir" ] || out_dir="$work/out"
  mkdir -p "$out_dir"
  hosts=()
  tag=""
  trap hosts_cleanup EXIT
  trap 'exit 1' INT TERM
}

# Runs a command on host $1 with a clean environment: nothing of the calling
# session (its sound server, display or buses) leaks into a host.
in_ns() {
  local h=$1
  shift
  ip netns exec "${tag}$h" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}

hosts_cleanup() {
  local rc=$?
  set +e
  if [ -n "$tag" ]; then
    for h in "${hosts[@]}"; do
      local ns="${tag}$h"
      ip netns list 2>/dev/null | grep -qw "$ns" || continue
      # Everything of a host runs inside its namespace: those are exactly our processes.
      local pids
      pids=$(ip netns pids "$ns" 2>/dev/null)
      # shellcheck disable=SC2086 # one pid per word
      [ -n "$pids" ] && kill $pids 2>/dev/null
      for _ in $(seq 30); do
        [ -z "$(ip netns pids "$ns" 2>/dev/null)" ] && break
        sleep 0.1
      done
      pids=$(ip netns pids "$ns" 2>/dev/null)
      # shellcheck disable=SC2086
      [ -n "$pids" ] && kill -9 $pids 2>/dev/null
      ip netns del "$ns" 2>/dev/null
    done
    ip netns list 2>/dev/null | grep -qw "${tag}sw" && ip netns del "${tag}sw" 2>/dev/null
  fi
  if [ "$rc" -ne 0 ]; then
    for h in "${hosts[@]}"; do
      for log in "$work/$h"/kavelo.log "$work/$h"/agent.log "$work/$h"/*-start.log "$work/$h"/xvfb.log; do
        [ -s "$log" ] || continue
        echo "---- host $h: $(basename "$log") (last lines) ----" >&2
        tail -n 15 "$log" >&2
      done
      mkdir -p "$out_dir/logs-$h" && cp "$work/$h"/*.log "$out_dir/logs-$h/" 2>/dev/null
    done
    echo "$hosts_label: screenshots, recordings and each host's logs (logs-*) kept in $out_dir" >&2
  fi
  case "$out_dir" in "$work"/*) [ "$rc" -eq 0 ] && rm -rf "$work" ;; *) rm -rf "$work" ;; esac
  exit "$rc"
}

# PipeWire as a host's sound server (KAVELO_E2E_SOUND=pipewire), as today's
# desktops run it: PipeWire, its session manager on the host's session bus and
# its PulseAudio server, with the same virtual speaker and microphone.
hosts_start_pipewire() {
  local h=$1 dir=$2 bus=$3 pulse=$4
  local server_env=(HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" PIPEWIRE_RUNTIME_DIR="$dir/runtime"
                    XDG_CONFIG_HOME="$dir/pipewire-config" XDG_STATE_HOME="$dir/pipewire-state"
                    DBUS_SESSION_BUS_ADDRESS="$bus")
  mkdir -p "$dir/pipewire-config" "$dir/pipewire-state"
  in_ns "$h" "${server_env[@]}" pipewire >"$dir/pipewire.log" 2>&1 &
  for _ in $(seq 50); do
    [ -S "$dir/runtime/pipewire-0" ] && break
    sleep 0.1
  done
  in_ns "$h" "${server_env[@]}" wireplumber >"$dir/wireplumber.log" 2>&1 &
  in_ns "$h" "${server_env[@]}" pipewire-pulse >"$dir/pulse.log" 2>&1 &
  for _ in $(seq 100); do
    PULSE_SERVER=$pulse pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  PULSE_SERVER=$pulse pactl info 2>/dev/null | grep -q "on PipeWire" ||
    fail "PipeWire's PulseAudio server of host $h does not answer"
  PULSE_SERVER=$pulse pactl load-module module-null-sink sink_name=speaker >/dev/null
  PULSE_SERVER=$pulse pactl load-module module-null-sink sink_name=micfeed >/dev/null
  PULSE_SERVER=$pulse pactl load-module module-remap-source source_name=mic master=micfeed.monitor >/dev/null
  for _ in $(seq 100); do
    PULSE_SERVER=$pulse pactl set-default-sink speaker 2>/dev/null &&
      PULSE_SERVER=$pulse pactl set-default-source mic 2>/dev/null &&
      PULSE_SERVER=$pulse pactl info | grep -q "^Default Source: mic$" && break
    sleep 0.1
  done
  PULSE_SERVER=$pulse pactl info | grep -q "^Default Sink: speaker$" ||
    fail "PipeWire's session manager of host $h did not take the virtual speaker and microphone"
  hosts_keep_sinks_awake "$h" "$pulse"
}

# An idle null sink renders in 2-second blocks: one quiet stream on each keeps it
# awake, at the pace of a busy desktop's sound card. Without them (keepalive_ms=0)
# each sink runs at the pace its clients (Kavelo among them) ask for.
hosts_keep_sinks_awake() {
  local h=$1 pulse=$2
  if [ "${keepalive_ms:-20}" != 0 ]; then
    for sink in speaker micfeed; do
      in_ns "$h" PULSE_SERVER="$pulse" pacat --playback --device="$sink" --latency-msec="${keepalive_ms:-20}" \
        --raw --format=s16le --rate=8000 --channels=1 </dev/zero >/dev/null 2>&1 &
    done
  fi
}

hosts_start_host() {
  local h=$1 address=$2
  local dir="$work/$h"
  mkdir -p "$dir/runtime/pulse" "$dir/home" "$dir/config" "$dir/program"
  chmod 700 "$dir/runtime"
  local pulse="unix:$dir/runtime/pulse/native"

  # Sound server: a virtual speaker and a virtual microphone fed through "micfeed".
  # PipeWire needs the session bus first and comes up after it, below.
  if [ "${KAVELO_E2E_SOUND:-pulseaudio}" = pulseaudio ]; then
    cat >"$dir/test.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/runtime/pulse/native
load-module module-null-sink sink_name=speaker
load-module module-null-sink sink_name=micfeed
load-module module-remap-source source_name=mic master=micfeed.monitor
set-default-sink speaker
set-default-source mic
PA
    in_ns "$h" HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" \
      pulseaudio -D -n --exit-idle-time=-1 --log-target=file:"$dir/pulse.log" -F "$dir/test.pa" \
      2>"$dir/pulse-start.log" || fail "the PulseAudio server of host $h did not start"
    for _ in $(seq 50); do
      PULSE_SERVER=$pulse pactl info >/dev/null 2>&1 && break
      sleep 0.1
    done
    PULSE_SERVER=$pulse pactl info >/dev/null 2>&1 || fail "the PulseAudio server of host $h does not answer"
    hosts_keep_sinks_awake "$h" "$pulse"
  fi

  # X display; Xvfb picks a free display number and writes it once it accepts clients.
  : >"$dir/display"
  in_ns "$h" Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  local xvfb=$!
  for _ in $(seq 100); do
    [ -s "$dir/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$dir/display" ] || fail "the Xvfb display of host $h did not start"
  local display=":$(tr -d '[:space:]' <"$dir/display")"

  # Session bus and accessibility bus.
  local bus="unix:path=$dir/runtime/bus"
  in_ns "$h" HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" DISPLAY="$display" \
    dbus-daemon --session --address="$bus" --nofork --nopidfile >"$dir/dbus.log" 2>&1 &
  for _ in $(seq 50); do
    [ -S "$dir/runtime/bus" ] && break
    sleep 0.1
  done
  [ -S "$dir/runtime/bus" ] || fail "the D-Bus session bus of host $h did not start"
  in_ns "$h" HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" DISPLAY="$display" \
    DBUS_SESSION_BUS_ADDRESS="$bus" "$spi_launcher" --launch-immediately >"$dir/atspi.log" 2>&1 &
  if [ "${KAVELO_E2E_SOUND:-pulseaudio}" = pipewire ]; then
    hosts_start_pipewire "$h" "$dir" "$bus" "$pulse"
  fi

  cp "$phone_wav" "$dir/program/Phone.wav"
  cat >"$dir/env" <<ENV
KAVELO_E2E_NS=${tag}$h
KAVELO_E2E_ADDRESS=$address
DISPLAY=$display
DBUS_SESSION_BUS_ADDRESS=$bus
XDG_RUNTIME_DIR=$dir/runtime
PULSE_SERVER=$pulse
HOME=$dir/home
XDG_CONFIG_HOME=$dir/config
PROGRAM_FOLDER=$dir/program
ENV
}

# hosts_setup TAG h=addr...: the bridge in a switch namespace, one namespace and
# veth pair per host, and each host's servers.
hosts_setup() {
  tag=$1
  shift
  hosts=()
  declare -gA address=()
  local spec
  for spec in "$@"; do
    hosts+=("${spec%%=*}")
    address[${spec%%=*}]=${spec#*=}
  done
  ip netns add "${tag}sw" || fail "cannot create network namespace ${tag}sw"
  ip -n "${tag}sw" link add br0 type bridge || fail "cannot create the test bridge"
  ip -n "${tag}sw" link set br0 up
  ip -n "${tag}sw" link set lo up
  local h ns
  for h in "${hosts[@]}"; do
    ns="${tag}$h"
    ip netns add "$ns" || fail "cannot create network namespace $ns"
    ip link add "${tag}$h" netns "$ns" type veth peer name "p$h" netns "${tag}sw" ||
      fail "cannot create the veth pair of host $h"
    ip -n "$ns" link set "${tag}$h" name eth0
    ip -n "$ns" addr add "${address[$h]}/16" dev eth0
    ip -n "$ns" link set eth0 up
    ip -n "$ns" link set lo up
    ip -n "${tag}sw" link set "p$h" master br0
    ip -n "${tag}sw" link set "p$h" up
  done
  for h in "${hosts[@]}"; do
    case " ${bare_hosts:-} " in *" $h "*) continue ;; esac
    hosts_start_host "$h" "${address[$h]}"
  done
}

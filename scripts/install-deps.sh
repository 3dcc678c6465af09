#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Kavelo needs.
# With --package also Debian's tools for making and checking its package
# (scripts/package.sh). With --tests also what only the test suite needs beside
# it: PipeWire (which a desktop that runs PulseAudio should not get as a side
# effect of building), a Wayland compositor, and the package tools (the test
# suite builds and installs the package).
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgsm1-dev libpulse-dev libsndfile1-dev
  # the call microphone's echo cancellation, noise suppression and level control
  libwebrtc-audio-processing-dev libspeexdsp-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # fuzzing: clang's libFuzzer with ASan and UBSan
  clang libclang-rt-14-dev
  # running and whole-program tests
  qt6-qpa-plugins libqt6widgets6 pulseaudio pulseaudio-utils
  xvfb xauth x11-utils imagemagick
  espeak-ng sox ffmpeg
  # two-host call test: network namespaces, session and accessibility buses, window driving
  iproute2 dbus at-spi2-core python3-pyatspi xdotool python3-numpy
  # call-safety test: a window manager and a second application to type in
  openbox xterm
  # close-fault test: a system tray for the window manager's desktop
  trayer
  # sound-server fault test: window-manager pings that time the event loop
  python3-xlib
)
with_package=""
with_tests=""
for option in "$@"; do
  case "$option" in
    --package) with_package=yes ;;
    --tests) with_tests=yes with_package=yes ;;
    *) echo "install-deps: unknown option $option (known: --package, --tests)" >&2; exit 2 ;;
  esac
done
if [ -n "$with_package" ]; then
  # the package: dpkg-shlibdeps and dpkg-buildflags, its checks
  PACKAGES+=(dpkg-dev lintian desktop-file-utils appstream)
fi
if [ -n "$with_tests" ]; then
  # device tests and the two-host call on PipeWire and its PulseAudio server, as today's desktops run them
  PACKAGES+=(pipewire pipewire-pulse wireplumber)
  # the call with one side on Wayland: a headless compositor and Qt's Wayland platform
  PACKAGES+=(weston qt6-wayland)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

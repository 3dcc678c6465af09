#!/usr/bin/env bash
# Installs what is missing, builds Kavelo and starts it from its build folder,
# where its ring sound lies and its contact list and settings are kept.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target kavelo

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "kavelo: no display found (DISPLAY is not set); to run it under a virtual display: cd build/default && xvfb-run -a ./kavelo"
  exit 1
fi
cd build/default
exec ./kavelo "$@"

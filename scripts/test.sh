#!/usr/bin/env bash
# Installs what is missing, builds both presets (normal and ASan+UBSan) and runs
# the whole test suite on each, with a private headless sound server.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

jobs=$(nproc)
status=0
for preset in default asan; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: tests"
  if ! ./scripts/with-pulse.sh ctest --preset "$preset" -j "$jobs"; then
    status=1
  fi
done
exit $status

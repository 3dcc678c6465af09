#!/usr/bin/env bash
# Installs what is missing, builds both presets (normal and ASan+UBSan) and runs
# the whole test suite on each, with a private headless sound server.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh --tests

jobs=$(nproc)
status=0
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
for preset in default asan; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: tests"
  if ! ./scripts/with-pulse.sh ctest --preset "$preset" -j "$jobs" | tee -a "$summary"; then
    status=1
  fi
  # The device tests once more on PipeWire and its PulseAudio server, as today's
  # desktops run them (the whole-program call runs on both in every preset).
  if [ "$preset" = default ]; then
    echo "=== $preset: device tests on PipeWire"
    if ! ./scripts/with-pipewire.sh ctest --preset "$preset" -j "$jobs" -L devices | tee -a "$summary"; then
      status=1
    fi
  fi
done
# A short fuzzing smoke of every untrusted-input reader (clang, ASan + UBSan).
echo "=== fuzz smoke"
if ! ./scripts/fuzz.sh "${KAVELO_FUZZ_SECONDS:-20}"; then
  status=1
fi
# One closing line over both presets, from ctest's own counts.
awk '/tests passed, [0-9]+ tests? failed out of/ {
       failed += $4; total += $NF
     } END { printf "tests: %d passed, %d failed\n", total - failed, failed }' "$summary"
exit $status

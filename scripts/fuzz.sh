#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a while.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 30 s, all targets)
#   scripts/fuzz.sh --runs=N [TARGET...]                 (N executions per target)
# Each run starts from the seeds in fuzz/corpus/<target> and keeps what it finds
# new in a scratch corpus; a crash leaves its input in build/fuzz/artifacts and
# fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."

limit=(-max_total_time="${1:-30}")
what="${1:-30}s"
if [[ "${1:-}" == --runs=* ]]; then
  limit=(-runs="${1#--runs=}")
  what="${1#--runs=} runs"
fi
shift || true
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(datagram contacts app_txt component_data gsm_decode)
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null

# Absolute paths: the dispatch target moves into a scratch program folder.
root="$PWD"
# The file readers' targets write each input to a scratch file: keep those in memory.
if [[ -d /dev/shm && -w /dev/shm ]]; then
  export TMPDIR=/dev/shm
fi
mkdir -p build/fuzz/artifacts
status=0
for target in "${targets[@]}"; do
  scratch="$root/build/fuzz/corpus/$target"
  mkdir -p "$scratch"
  cp -n "fuzz/corpus/$target"/* "$scratch"/ 2>/dev/null || true
  echo "=== fuzz_$target for $what"
  if ! QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
       "$root/build/fuzz/fuzz/fuzz_$target" "${limit[@]}" -timeout=10 -rss_limit_mb=4096 \
       -artifact_prefix="$root/build/fuzz/artifacts/$target-" -print_final_stats=1 \
       "$scratch" 2>"build/fuzz/$target.log"; then
    echo "fuzz_$target FAILED; see build/fuzz/$target.log and build/fuzz/artifacts/"
    tail -40 "build/fuzz/$target.log"
    status=1
  fi
  grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "build/fuzz/$target.log" || true
done
exit $status

#!/usr/bin/env bash
# Runs every benchmark once and prints each figure next to its anchor measured in
# the same run. Not part of the test command.
#
#   scripts/bench.sh [BUILD_DIR]      (default build-bench; run as root: the call
#                                      benchmarks need network namespaces)
# Environment: KAVELO_BENCH_CALL_S (CPU span of the call, 60), KAVELO_BENCH_LATENCY_S
# (click train, 40), KAVELO_BENCH_IDLE_S (idle span,
# 30), KAVELO_BENCH_VOWEL_S (the vowel whose silence is measured, 30), KAVELO_BENCH_RUNS (start-up runs, 7), KAVELO_BENCH_KEEPALIVE_MS (period of
# the quiet stream that keeps each virtual sink awake, 20; 0: none), KAVELO_BENCH_OUT
# (where the call's recordings and JSON go).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
out=${KAVELO_BENCH_OUT:-$(mktemp -d /tmp/kavelo-bench-out.XXXXXX)}
mkdir -p "$out"

echo "=== machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo "    memory: $(free -h | awk '/^Mem:/ {print $2 " total, " $7 " available"}'); load before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "    commit: $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target kavelo ring_sound \
  bench_converter bench_udp_receive bench_gsm_minute bench_bare_window bench_audio_latency \
  bench_playout kavelo_voice_peer

counter() { # counter JSON BENCHMARK_NAME COUNTER
  python3 -c 'import json,sys; d=json.load(open(sys.argv[1]))
print(next(b[sys.argv[3]] for b in d["benchmarks"] if b["name"].startswith(sys.argv[2])))' "$@"
}

echo "=== converter next to raw libgsm"
"$build/bench/bench_converter" --benchmark_out="$out/converter.json" --benchmark_out_format=json
echo "converter: $(counter "$out/converter.json" BM_Converter audio_s_per_cpu_s) s of audio per CPU-s;" \
  "raw libgsm: $(counter "$out/converter.json" BM_RawLibgsm audio_s_per_cpu_s)"

echo "=== receive path next to bare recvfrom"
"$build/bench/bench_udp_receive" --benchmark_out="$out/udp.json" --benchmark_out_format=json
echo "receive path: $(counter "$out/udp.json" BM_EndpointToBareRatio endpoint_per_s) datagrams/s;" \
  "bare recvfrom: $(counter "$out/udp.json" BM_EndpointToBareRatio bare_per_s); ratio $(counter "$out/udp.json" BM_EndpointToBareRatio ratio)"

echo "=== capture and playback latency on a headless sound server"
./scripts/with-pulse.sh "$build/bench/bench_audio_latency" || echo "bench: audio latency benchmark failed"

echo "=== libgsm alone: one call minute encoded and decoded"
"$build/bench/bench_gsm_minute" --benchmark_out="$out/gsm.json" --benchmark_out_format=json
gsm_minute=$(counter "$out/gsm.json" BM_LibgsmOneCallMinute cpu_s_per_call_min)

echo "=== playout buffer on a simulated clock: CPU, a 30-minute call with clocks 0.1 % apart, a flood"
"$build/bench/bench_playout" --benchmark_out="$out/playout.json" --benchmark_out_format=json

echo "=== what a listener hears of a 2000-byte sender, clean and with 30 ms jitter and 2 % loss (3 runs each)"
tests/e2e/run_voice_continuity.sh "$build/kavelo" "$build/tests/kavelo_voice_peer" "$build/Phone.wav" "$out/voice" \
  --runs 3

echo "=== two namespaced hosts: start-up, idle, mouth-to-ear, call CPU, silence at the speaker"
tests/e2e/bench_call_metrics.sh "$build/kavelo" "$build/bench/bench_bare_window" "$build/Phone.wav" "$out"
python3 - "$out/call-metrics.json" "$gsm_minute" <<'PY'
import json, sys
m = json.load(open(sys.argv[1]))
cpu = m["call"]["cpu_s_per_min"]
server = m["call"]["sound_server_cpu_s_per_min"]
print("call CPU per minute: Kavelo A %.3f s, B %.3f s; libgsm alone %.3f s (goal <= 0.3);"
      " sound servers A %.3f s, B %.3f s" % (cpu["a"], cpu["b"], float(sys.argv[2]), server["a"], server["b"]))
PY
echo "=== load after: $(cut -d' ' -f1-3 /proc/loadavg); results in $out"

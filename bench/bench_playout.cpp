// The playout buffer on a simulated clock (the same simulator as its tests):
//   BM_PlayoutCallMinute   CPU of one minute of received voice (push + pull at
//                          20 ms), counter "cpu_s_per_call_min"
//   BM_PlayoutLongCallSkew a 30-minute call whose sender's clock runs 0.1 % fast
//                          or slow: counters "delay_start_ms" and "delay_end_ms"
//                          (mean depth over the second and the last minute) and
//                          "silence_pct"
//   BM_PlayoutFlood        100 s of sound arriving within a tenth of a second:
//                          counter "sound_after_3s_s", seconds of sound heard
//                          from 3 s after the flood on
#include "voice/PlayoutBuffer.h"
#include "voice/PlayoutSimulation.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <numeric>

namespace {

using namespace kavelo;

double meanOf(const std::vector<double>& values, std::size_t from, std::size_t to)
{
    return std::accumulate(values.begin() + long(from), values.begin() + long(to), 0.0) / double(to - from);
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void BM_PlayoutCallMinute(benchmark::State& state)
{
    sim::Link link;
    link.seconds = 60;
    link.jitterMs = 10;
    const std::vector<sim::Arrival> arrivals = sim::schedule(link);
    double cpu = 0;
    for (auto _ : state) {
        PlayoutBuffer playout;
        const double before = cpuSeconds();
        benchmark::DoNotOptimize(sim::run(playout, arrivals, 60).played.data());
        cpu += cpuSeconds() - before;
    }
    state.counters["cpu_s_per_call_min"] = cpu / double(state.iterations());
}
BENCHMARK(BM_PlayoutCallMinute)->Unit(benchmark::kMillisecond);

void BM_PlayoutLongCallSkew(benchmark::State& state)
{
    // The sender's 240 ms by the receiver's clock.
    const double periodMs = 240.0 * (1 + double(state.range(0)) / 1000);
    sim::Link link;
    link.periodMs = periodMs;
    link.seconds = 30 * 60;
    link.jitterMs = 5;
    for (auto _ : state) {
        PlayoutBuffer playout;
        const sim::Result result = sim::run(playout, link);
        const auto& depth = result.depthMsAtArrivals;
        const std::size_t perMinute = std::size_t(60'000 / periodMs);
        state.counters["delay_start_ms"] = meanOf(depth, perMinute, 2 * perMinute);
        state.counters["delay_end_ms"] = meanOf(depth, depth.size() - perMinute, depth.size());
        state.counters["silence_pct"] = 100 * sim::silenceShare(result.played);
    }
}
// Range: the sender's clock, in thousandths slower (+1) or faster (-1).
BENCHMARK(BM_PlayoutLongCallSkew)->Arg(-1)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

void BM_PlayoutFlood(benchmark::State& state)
{
    std::vector<sim::Arrival> arrivals;
    for (int k = 0; k < 417; ++k)
        arrivals.push_back({1000 + k * 0.24, std::vector<std::int16_t>(sim::kDatagramSamples, 8000)});
    for (auto _ : state) {
        PlayoutBuffer playout;
        const sim::Result result = sim::run(playout, arrivals, 8);
        state.counters["sound_after_3s_s"] = sim::soundAfter(result.played, 1.1 + 3);
        state.counters["dropped_s"] = double(playout.droppedSamples()) / PlayoutBuffer::kSampleRate;
    }
}
BENCHMARK(BM_PlayoutFlood)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

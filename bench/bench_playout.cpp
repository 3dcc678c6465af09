// The playout buffer on a simulated clock (the same simulator as its tests):
//   BM_PlayoutCallMinute   CPU of one minute of received voice (push + pull at
//                          20 ms), counter "cpu_s_per_call_min"
//   BM_PlayoutLongCallSkew a 30-minute call whose sender's clock runs 0.1 % fast
//                          or slow: counters "delay_start_ms" and "delay_end_ms"
//                          (mean depth over the second and the last minute) and
//                          "silence_pct"
//   BM_PlayoutLinks        what a listener hears from each kind of sender and
//                          link (30 s): "silence_pct", "concealed_ms" and
//                          "stretched_ms" while the talk ran, "depth_ms" (mean
//                          depth before a datagram after 5 s), "speed_min" and
//                          "speed_max" over the same span
//   BM_PlayoutLateDatagram one datagram (or a one-block sender's whole stream for
//                          a moment) 150 ms late at 20 s: "depth_before_ms",
//                          "depth_after_10s_ms", "depth_after_20s_ms"
//   BM_PlayoutFlood        100 s of sound arriving within a tenth of a second:
//                          counter "sound_after_3s_s", seconds of sound heard
//                          from 3 s after the flood on
#include "voice/PlayoutBuffer.h"
#include "voice/PlayoutSimulation.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <iterator>
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
    // Range: blocks per datagram.
    sim::Link link;
    link.datagramSamples = int(state.range(0)) * 320;
    link.periodMs = 40.0 * double(state.range(0));
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
BENCHMARK(BM_PlayoutCallMinute)->Arg(1)->Arg(2)->Arg(6)->Unit(benchmark::kMillisecond);

struct Scenario {
    const char* name;
    int blocks;
    double periodMs;
    int droppedAfter;
    double jitterMs;
    double loss;
};

constexpr Scenario kScenarios[] = {
    {"one block every 40 ms, clean", 1, 40, 0, 0, 0},
    {"two blocks every 80 ms, clean", 2, 80, 0, 0, 0},
    {"six blocks every 240 ms, clean", 6, 240, 0, 0, 0},
    {"2000-byte sender, 240 ms every 250 ms, clean", 6, 250, 80, 0, 0},
    {"one block, 30 ms jitter, 2 % loss", 1, 40, 0, 30, 0.02},
    {"two blocks, 30 ms jitter, 2 % loss", 2, 80, 0, 30, 0.02},
    {"six blocks, 30 ms jitter, 2 % loss", 6, 240, 0, 30, 0.02},
    {"2000-byte sender, 30 ms jitter, 2 % loss", 6, 250, 80, 30, 0.02},
};

void BM_PlayoutLinks(benchmark::State& state)
{
    const Scenario& s = kScenarios[state.range(0)];
    state.SetLabel(s.name);
    sim::Link link;
    link.datagramSamples = s.blocks * 320;
    link.periodMs = s.periodMs;
    link.dropSamplesAfter = s.droppedAfter;
    link.jitterMs = s.jitterMs;
    link.lossShare = s.loss;
    link.seconds = 30;
    for (auto _ : state) {
        PlayoutBuffer playout;
        const sim::Result result = sim::run(playout, link);
        const auto from = static_cast<std::size_t>(5000 / s.periodMs);
        state.counters["silence_pct"] = 100 * sim::silenceShare(result.played);
        state.counters["concealed_ms"] = result.concealedMs;
        state.counters["stretched_ms"] = result.stretchedMs;
        state.counters["depth_ms"] = meanOf(result.depthMsAtArrivals, from, result.depthMsAtArrivals.size());
        const auto [slowest, fastest] = std::minmax_element(result.speedAtArrivals.begin() + long(from),
                                                            result.speedAtArrivals.end());
        state.counters["speed_min"] = *slowest;
        state.counters["speed_max"] = *fastest;
    }
}
BENCHMARK(BM_PlayoutLinks)->DenseRange(0, std::size(kScenarios) - 1)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PlayoutLateDatagram(benchmark::State& state)
{
    // Range: blocks per datagram (6: one datagram late; 1: the stream held for 150 ms).
    const int blocks = int(state.range(0));
    sim::Link link;
    link.datagramSamples = blocks * 320;
    link.periodMs = 40.0 * blocks;
    link.jitterMs = 2;
    link.seconds = 50;
    std::vector<sim::Arrival> arrivals = sim::schedule(link);
    const auto first = std::size_t(20'000 / link.periodMs);
    const double heldUntil = arrivals[first].atMs + 150;
    for (std::size_t k = first; k < arrivals.size() && arrivals[k].atMs < heldUntil; ++k)
        arrivals[k].atMs = heldUntil;
    for (auto _ : state) {
        PlayoutBuffer playout;
        const sim::Result result = sim::run(playout, arrivals, 53);
        const auto& depth = result.depthMsAtArrivals;
        const auto perSecond = std::size_t(1000 / link.periodMs);
        state.counters["depth_before_ms"] = meanOf(depth, first - 5 * perSecond, first);
        state.counters["depth_after_10s_ms"] = meanOf(depth, first + 10 * perSecond, first + 11 * perSecond);
        state.counters["depth_after_20s_ms"] = meanOf(depth, first + 20 * perSecond, first + 21 * perSecond);
        state.counters["concealed_ms"] = result.concealedMs;
    }
}
BENCHMARK(BM_PlayoutLateDatagram)->Arg(6)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PlayoutLongCallSkew(benchmark::State& state)
{
    // Range: the sender's clock, in thousandths slower (+1) or faster (-1), and blocks per datagram.
    const int blocks = int(state.range(1));
    const double periodMs = 40.0 * blocks * (1 + double(state.range(0)) / 1000);
    sim::Link link;
    link.datagramSamples = blocks * 320;
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
        state.counters["concealed_ms"] = result.concealedMs;
    }
}
BENCHMARK(BM_PlayoutLongCallSkew)->Args({-1, 1})->Args({1, 1})->Args({-1, 6})->Args({1, 6})->Iterations(1)->Unit(benchmark::kSecond);

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

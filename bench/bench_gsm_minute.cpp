// The CPU a call's audio coding needs, without the program around it: one minute
// of 8 kHz audio encoded and one minute decoded with libgsm in 65-byte blocks, as
// one side of a full-duplex call does. scripts/bench.sh prints it next to the CPU
// a whole Kavelo process spends per minute of such a call.
//
// Counter "cpu_s_per_call_min": CPU-seconds for one minute encoded plus one decoded.
#include <benchmark/benchmark.h>
#include <gsm.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 8000;
constexpr int kSeconds = 60;
constexpr int kBlockSamples = 320;
constexpr int kBlockBytes = 65;

// Voiced sound with a wandering pitch and breath noise, as 16-bit samples made
// from 8-bit ones (the capture format): the coder works as hard as on speech.
std::vector<gsm_signal> minuteOfSound()
{
    std::vector<gsm_signal> pcm(kRate * kSeconds);
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0.0, 6.0);
    double phase = 0;
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        phase += 2 * M_PI * (140 + 40 * std::sin(2 * M_PI * 0.7 * t)) / kRate;
        const double voiced = 45 * std::sin(phase) + 20 * std::sin(3 * phase) + 10 * std::sin(5 * phase);
        const double v = std::clamp(voiced * (0.6 + 0.4 * std::sin(2 * M_PI * 2.5 * t)) + noise(random), -127.0, 127.0);
        pcm[i] = static_cast<gsm_signal>(std::lround(v) << 8);
    }
    return pcm;
}

gsm makeCoder()
{
    gsm g = gsm_create();
    int one = 1;
    gsm_option(g, GSM_OPT_WAV49, &one);
    return g;
}

void BM_LibgsmOneCallMinute(benchmark::State& state)
{
    const std::vector<gsm_signal> pcm = minuteOfSound();
    const std::size_t blocks = pcm.size() / kBlockSamples;
    std::vector<gsm_byte> coded(blocks * kBlockBytes);
    std::vector<gsm_signal> decoded(pcm.size());
    gsm encoder = makeCoder();
    gsm decoder = makeCoder();
    for (auto _ : state) {
        for (std::size_t b = 0; b < blocks; ++b) {
            gsm_signal* in = const_cast<gsm_signal*>(pcm.data()) + b * kBlockSamples;
            gsm_byte* out = coded.data() + b * kBlockBytes;
            gsm_encode(encoder, in, out);
            gsm_encode(encoder, in + 160, out + 32);
        }
        for (std::size_t b = 0; b < blocks; ++b) {
            gsm_byte* in = coded.data() + b * kBlockBytes;
            gsm_signal* out = decoded.data() + b * kBlockSamples;
            gsm_decode(decoder, in, out);
            gsm_decode(decoder, in + 33, out + 160);
        }
        benchmark::DoNotOptimize(decoded.data());
        benchmark::ClobberMemory();
    }
    gsm_destroy(encoder);
    gsm_destroy(decoder);
    // Per iteration = per call minute; the CPU timer makes this CPU-seconds per minute.
    state.counters["cpu_s_per_call_min"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LibgsmOneCallMinute)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();

// How fast the converter codes the call's audio, next to libgsm called directly on
// the same quarter-second buffers. The counter "audio_s_per_cpu_s" is seconds of
// audio coded per CPU-second (1 = real time).
#include "audio/GsmConverter.h"
#include "platform/compression/GsmCompressionManager.h"

#include <benchmark/benchmark.h>
#include <gsm.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace kavelo;

constexpr std::size_t kBufferBytes = 2000;
constexpr std::size_t kBuffers = 40;  // ten seconds, so the coder does not see one buffer over and over
constexpr double kBufferSeconds = 0.25;

// Voiced sound with a wandering pitch and some breath noise: the coder's search
// does as much work on it as on speech.
const std::vector<std::uint8_t>& audio()
{
    static const std::vector<std::uint8_t> samples = [] {
        std::vector<std::uint8_t> pcm(kBufferBytes * kBuffers);
        std::mt19937 random(7);
        std::normal_distribution<double> noise(0.0, 6.0);
        double phase = 0;
        for (std::size_t i = 0; i < pcm.size(); ++i) {
            const double t = static_cast<double>(i) / 8000.0;
            const double pitch = 140 + 40 * std::sin(2 * M_PI * 0.7 * t);
            phase += 2 * M_PI * pitch / 8000.0;
            const double voiced = 45 * std::sin(phase) + 20 * std::sin(3 * phase) + 10 * std::sin(5 * phase);
            const double envelope = 0.6 + 0.4 * std::sin(2 * M_PI * 2.5 * t);
            const double v = std::clamp(voiced * envelope + noise(random), -127.0, 127.0);
            pcm[i] = static_cast<std::uint8_t>(128 + std::lround(v));
        }
        return pcm;
    }();
    return samples;
}

void setCallFormats(GsmConverter& convertor)
{
    WaveFormat& in = convertor.ACMFormatIn();
    in = WaveFormat{};
    in.setFormatTag(kWaveFormatPcm);
    in.setChannels(1);
    in.setSamplesPerSec(8000);
    in.setAvgBytesPerSec(8000);
    in.setBlockAlign(1);
    in.setBitsPerSample(8);
    in.setExtraSize(4);
    WaveFormat& out = convertor.ACMFormatOut();
    out = WaveFormat{};
    out.setFormatTag(kWaveFormatGsm610);
    out.setChannels(1);
    out.setSamplesPerSec(8000);
    out.setAvgBytesPerSec(1625);
    out.setBlockAlign(65);
    out.setExtraSize(2);
    out.setExtraU16(0, 320);
}

void reportAudioRate(benchmark::State& state)
{
    state.counters["audio_s_per_cpu_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBufferSeconds, benchmark::Counter::kIsRate);
}

// The call's path: copy a captured buffer in, Convert, take the 390 bytes.
void BM_Converter(benchmark::State& state)
{
    GsmConverter convertor(nullptr, std::make_shared<GsmCompressionManager>());
    setCallFormats(convertor);
    convertor.setInputBufferSize(kBufferBytes);
    convertor.setActive(true);
    const std::uint8_t* pcm = audio().data();
    std::size_t next = 0;
    for (auto _ : state) {
        std::memcpy(convertor.InputBuffer(), pcm + next * kBufferBytes, kBufferBytes);
        const int produced = convertor.Convert();
        benchmark::DoNotOptimize(produced);
        benchmark::DoNotOptimize(convertor.OutputBuffer()[produced - 1]);
        next = (next + 1) % kBuffers;
    }
    reportAudioRate(state);
}

// The least any converter must do: widen to 16 bits and code frame pairs with libgsm.
void BM_RawLibgsm(benchmark::State& state)
{
    gsm coder = gsm_create();
    int wav49 = 1;
    gsm_option(coder, GSM_OPT_WAV49, &wav49);
    const std::uint8_t* pcm = audio().data();
    std::array<gsm_byte, 390> out{};
    std::array<gsm_signal, 320> wide{};
    std::size_t next = 0;
    for (auto _ : state) {
        const std::uint8_t* buffer = pcm + next * kBufferBytes;
        for (std::size_t block = 0; block < 6; ++block) {
            for (std::size_t i = 0; i < 320; ++i)
                wide[i] = static_cast<gsm_signal>((buffer[block * 320 + i] - 128) * 256);
            gsm_encode(coder, wide.data(), out.data() + block * 65);
            gsm_encode(coder, wide.data() + 160, out.data() + block * 65 + 32);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        next = (next + 1) % kBuffers;
    }
    gsm_destroy(coder);
    reportAudioRate(state);
}

} // namespace

BENCHMARK(BM_Converter);
BENCHMARK(BM_RawLibgsm);

BENCHMARK_MAIN();

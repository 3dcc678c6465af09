// The call microphone's echo canceller on a simulated room, with the engine
// the program uses and with the other candidate from Debian (speexdsp's
// canceller and preprocessor) on the same signals: what the far side hears
// of itself after the first two seconds and within them, how much a near
// talker loses while both talk, and the CPU per 10 ms frame.
//
//   bench_echo [--benchmark_filter=...]

#include "voice/EchoCanceller.h"
#include "voice/EchoRoomSimulation.h"

#include <benchmark/benchmark.h>
#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <array>
#include <chrono>
#include <stdexcept>

namespace kavelo {
namespace {

class SpeexEchoEngine final : public EchoEngine {
public:
    SpeexEchoEngine()
        : echo_(speex_echo_state_init(static_cast<int>(kFrameSamples), kTailSamples), &speex_echo_state_destroy),
          preprocess_(speex_preprocess_state_init(static_cast<int>(kFrameSamples), kRate), &speex_preprocess_state_destroy)
    {
        if (!echo_ || !preprocess_)
            throw std::runtime_error("speexdsp did not start");
        int rate = kRate;
        speex_echo_ctl(echo_.get(), SPEEX_ECHO_SET_SAMPLING_RATE, &rate);
        int on = 1;
        speex_preprocess_ctl(preprocess_.get(), SPEEX_PREPROCESS_SET_DENOISE, &on);
        speex_preprocess_ctl(preprocess_.get(), SPEEX_PREPROCESS_SET_AGC, &on);
        speex_preprocess_ctl(preprocess_.get(), SPEEX_PREPROCESS_SET_ECHO_STATE, echo_.get());
    }

    void process(ConstFrame reference, Frame microphone, bool cancelEcho) override
    {
        if (cancelEcho) {
            speex_echo_cancellation(echo_.get(), microphone.data(), reference.data(), cleaned_.data());
            std::copy(cleaned_.begin(), cleaned_.end(), microphone.begin());
        }
        speex_preprocess_run(preprocess_.get(), microphone.data());
    }

private:
    // 128 ms: the room's 30 ms, the alignment's lead and reverb, with room to spare.
    static constexpr int kTailSamples = 1024;
    std::unique_ptr<SpeexEchoState, void (*)(SpeexEchoState*)> echo_;
    std::unique_ptr<SpeexPreprocessState, void (*)(SpeexPreprocessState*)> preprocess_;
    std::array<std::int16_t, kFrameSamples> cleaned_{};
};

std::unique_ptr<EchoEngine> makeSpeex() { return std::make_unique<SpeexEchoEngine>(); }

template <std::unique_ptr<EchoEngine> (*Make)()>
void BM_EchoInARoom(benchmark::State& state)
{
    const double delayMs = static_cast<double>(state.range(0));
    const std::size_t second = EchoEngine::kRate;
    const auto far = sim::speechLike(12.0, 120.0, 1);
    auto near = sim::speechLike(12.0, 210.0, 2);
    std::fill(near.begin(), near.begin() + 8 * static_cast<std::ptrdiff_t>(second), 0.0);
    const std::vector<double> quiet(far.size(), 0.0);
    std::vector<double> heard;
    double seconds = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        heard = sim::throughRoom(Make(), delayMs, far, near, true);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    const auto alone = sim::throughRoom(Make(), delayMs, quiet, near, true);
    const double farLevel = sim::levelDb(far, 2 * second, 8 * second);
    state.counters["echo_dB"] = sim::levelDb(heard, 2 * second, 8 * second) - farLevel;
    state.counters["echo_first_2s_dB"] = sim::levelDb(heard, second / 2, 2 * second) - sim::levelDb(far, second / 2, 2 * second);
    state.counters["double_talk_dB"] = sim::levelDb(heard, 8 * second + second / 2, 12 * second)
        - sim::levelDb(alone, 8 * second + second / 2, 12 * second);
    const double frames = static_cast<double>(state.iterations()) * static_cast<double>(near.size()) / EchoEngine::kFrameSamples;
    state.counters["us_per_frame"] = seconds * 1e6 / frames;
    // 6000 frames a minute of call.
    state.counters["cpu_s_per_call_min"] = seconds / frames * 6000.0;
}

BENCHMARK(BM_EchoInARoom<makeWebRtcEchoEngine>)->Name("BM_EchoInARoom/webrtc")->Arg(30)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EchoInARoom<makeSpeex>)->Name("BM_EchoInARoom/speex")->Arg(30)->Arg(100)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace kavelo

BENCHMARK_MAIN();

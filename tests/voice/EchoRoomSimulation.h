#pragma once

// A room for the echo canceller on a simulated clock: the speaker plays the
// far side's voice, the microphone hears the near talker plus the speaker
// through the room (its delay, 6 dB down, a little reverb, a faint hiss).
// Both streams' times are reported exactly, as a sound server would.

#include "voice/EchoCanceller.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace kavelo::sim {

// Something an echo canceller takes for speech: syllables of 120-300 ms with
// pauses between, a pitch that glides, harmonics shaped by two moving formants.
inline std::vector<double> speechLike(double seconds, double basePitchHz, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const auto total = static_cast<std::size_t>(seconds * EchoEngine::kRate);
    std::vector<double> sound(total, 0.0);
    std::size_t at = 0;
    double phase = 0.0;
    while (at < total) {
        const auto length = static_cast<std::size_t>((0.12 + 0.18 * uniform(random)) * EchoEngine::kRate);
        const double pitchFrom = basePitchHz * (0.85 + 0.3 * uniform(random));
        const double pitchTo = basePitchHz * (0.85 + 0.3 * uniform(random));
        const double formant1 = 400 + 500 * uniform(random);
        const double formant2 = 1100 + 1200 * uniform(random);
        for (std::size_t n = 0; n < length && at + n < total; ++n) {
            const double x = static_cast<double>(n) / static_cast<double>(length);
            const double pitch = pitchFrom + (pitchTo - pitchFrom) * x;
            phase += 2 * std::numbers::pi * pitch / EchoEngine::kRate;
            double value = 0.0;
            for (int h = 1; pitch * h < 3600; ++h) {
                const double f = pitch * h;
                const double shape = 1.0 / (1.0 + std::pow((f - formant1) / 150.0, 2)) + 0.5 / (1.0 + std::pow((f - formant2) / 250.0, 2));
                value += shape * std::sin(h * phase);
            }
            sound[at + n] = value * std::sin(std::numbers::pi * x);
        }
        at += length + static_cast<std::size_t>((0.05 + 0.2 * uniform(random)) * EchoEngine::kRate);
    }
    // To -20 dBFS over the whole.
    double energy = 0.0;
    for (double s : sound)
        energy += s * s;
    const double scale = 0.1 * 32768.0 / std::sqrt(energy / static_cast<double>(total));
    for (double& s : sound)
        s *= scale;
    return sound;
}

inline double levelDb(const std::vector<double>& sound, std::size_t from, std::size_t to)
{
    double energy = 1e-9;
    for (std::size_t n = from; n < to && n < sound.size(); ++n)
        energy += sound[n] * sound[n];
    return 10.0 * std::log10(energy / static_cast<double>(to - from));
}

// The microphone hears `near` plus the room's echo of `far`; both streams'
// times are reported exactly. Answers what the engine let through.
inline std::vector<double> throughRoom(std::unique_ptr<EchoEngine> engine, double delayMs, const std::vector<double>& far,
                                       const std::vector<double>& near, bool cancelling)
{
    EchoCanceller canceller(std::move(engine));
    canceller.setCancelling(cancelling);
    const auto delay = static_cast<std::size_t>(delayMs * StreamClock::kSamplesPerMs);
    std::mt19937 random(3);
    std::normal_distribution<double> hiss(0.0, 3.0); // about -80 dBFS
    std::vector<double> heard;
    std::vector<std::int16_t> out;
    const std::size_t piece = 320;
    const auto clip = [](double v) { return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0)); };
    for (std::size_t at = 0; at + piece <= near.size(); at += piece) {
        std::vector<std::int16_t> played(piece);
        for (std::size_t i = 0; i < piece; ++i)
            played[i] = clip(at + i < far.size() ? far[at + i] : 0.0);
        canceller.played(played, static_cast<double>(at) / StreamClock::kSamplesPerMs);
        std::vector<std::int16_t> recorded(piece);
        for (std::size_t i = 0; i < piece; ++i) {
            const std::size_t n = at + i;
            double echo = 0.0;
            for (auto [tap, gain] : {std::pair{0.0, 0.5}, std::pair{3.0, 0.12}, std::pair{11.0, -0.06}, std::pair{23.0, 0.03}}) {
                const auto back = delay + static_cast<std::size_t>(tap * StreamClock::kSamplesPerMs);
                if (n >= back && n - back < far.size())
                    echo += gain * far[n - back];
            }
            recorded[i] = clip(near[n] + echo + hiss(random));
        }
        out.clear();
        canceller.record(recorded, static_cast<double>(at) / StreamClock::kSamplesPerMs, out);
        heard.insert(heard.end(), out.begin(), out.end());
    }
    return heard;
}

} // namespace kavelo::sim

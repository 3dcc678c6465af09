#pragma once

// Plays a steady voiced signal through a PlayoutBuffer on a simulated clock:
// a sender cuts it into datagrams (one GSM block or six) on a schedule, the network delays, drops,
// reorders or bunches them, the speaker pulls 20 ms at a time. What the
// speaker played is kept, to measure what a listener hears.

#include "voice/PlayoutBuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <numbers>
#include <random>
#include <vector>

namespace kavelo::sim {

constexpr int kRate = PlayoutBuffer::kSampleRate;
constexpr int kDatagramSamples = 1920;

// Harmonics of 150 Hz, as a sustained vowel.
inline std::int16_t voicedSample(std::int64_t n)
{
    double value = 0;
    for (int h = 1; h <= 5; ++h)
        value += std::sin(2 * std::numbers::pi * 150.0 * h * double(n) / kRate) / h;
    return static_cast<std::int16_t>(value * 6000);
}

struct Link {
    int datagramSamples = kDatagramSamples;  // sound per datagram (320: one GSM block)
    double periodMs = 240;       // sender's period by the receiver's clock
    int dropSamplesAfter = 0;    // samples the sender skips after each datagram (80: 2000-byte buffers)
    double jitterMs = 0;         // half-normal sigma of the network delay
    double lossShare = 0;
    double reorderShare = 0;     // share of datagrams swapped with the next
    double seconds = 20;
    double talkerStopsAtSeconds = 1e9;
    std::uint32_t seed = 1;
};

struct Arrival {
    double atMs;
    std::vector<std::int16_t> sound;
};

inline std::vector<Arrival> schedule(const Link& link)
{
    std::mt19937 random(link.seed);
    std::normal_distribution<double> jitter(0, 1);
    std::uniform_real_distribution<double> unit(0, 1);
    std::vector<Arrival> arrivals;
    std::int64_t sample = 0;
    const int count = static_cast<int>(std::min(link.seconds, link.talkerStopsAtSeconds) * 1000 / link.periodMs);
    for (int k = 0; k < count; ++k) {
        Arrival a;
        a.atMs = 300 + k * link.periodMs + std::abs(jitter(random)) * link.jitterMs;
        for (int i = 0; i < link.datagramSamples; ++i)
            a.sound.push_back(voicedSample(sample++));
        sample += link.dropSamplesAfter;
        if (unit(random) < link.lossShare)
            continue;
        arrivals.push_back(std::move(a));
    }
    for (std::size_t k = 0; k + 1 < arrivals.size(); ++k) {
        if (unit(random) < link.reorderShare) {
            std::swap(arrivals[k].sound, arrivals[k + 1].sound);
            k++;
        }
    }
    std::stable_sort(arrivals.begin(), arrivals.end(),
                     [](const Arrival& a, const Arrival& b) { return a.atMs < b.atMs; });
    return arrivals;
}

struct Result {
    std::vector<std::int16_t> played;
    int maxDepthSamples = 0;
    std::vector<double> depthMsAtArrivals;  // just before each arrival
    std::vector<double> speedAtArrivals;    // chosen for each arrival's sound
    // From the first arrival to the last: what a listener heard in place of
    // the sender's sound, and how much was stretched or squeezed.
    double concealedMs = 0;
    double stretchedMs = 0;
};

// Runs the speaker for `seconds` (default: the link's length plus 3 s).
inline Result run(PlayoutBuffer& playout, const std::vector<Arrival>& arrivals, double seconds)
{
    Result result;
    constexpr int kPullSamples = 160;
    std::size_t next = 0;
    const auto ticks = static_cast<std::int64_t>(seconds * 1000 / 20);
    std::vector<std::int16_t> out(kPullSamples);
    result.played.reserve(static_cast<std::size_t>(ticks * kPullSamples));
    std::int64_t concealedAtFirst = 0;
    std::int64_t stretchedAtFirst = 0;
    for (std::int64_t tick = 0; tick < ticks; ++tick) {
        const double nowMs = double(tick) * 20;
        while (next < arrivals.size() && arrivals[next].atMs <= nowMs + 20) {
            result.depthMsAtArrivals.push_back(double(playout.depthSamples()) / PlayoutBuffer::kSamplesPerMs);
            if (next == 0) {
                concealedAtFirst = playout.concealedSamples();
                stretchedAtFirst = playout.stretchedSamples();
            }
            playout.push(arrivals[next].sound, arrivals[next].atMs);
            result.speedAtArrivals.push_back(playout.speed());
            result.maxDepthSamples = std::max(result.maxDepthSamples, playout.depthSamples());
            if (++next == arrivals.size()) {
                result.concealedMs = double(playout.concealedSamples() - concealedAtFirst) / PlayoutBuffer::kSamplesPerMs;
                result.stretchedMs = double(playout.stretchedSamples() - stretchedAtFirst) / PlayoutBuffer::kSamplesPerMs;
            }
        }
        playout.pull(out);
        result.played.insert(result.played.end(), out.begin(), out.end());
    }
    return result;
}

inline Result run(PlayoutBuffer& playout, const Link& link)
{
    return run(playout, schedule(link), link.seconds + 3);
}

inline std::vector<double> frameLevels(const std::vector<std::int16_t>& played)
{
    constexpr int kFrame = 5 * kRate / 1000;
    std::vector<double> levels;
    for (std::size_t i = 0; i + kFrame <= played.size(); i += kFrame) {
        double sum = 0;
        for (int j = 0; j < kFrame; ++j)
            sum += double(played[i + j]) * played[i + j];
        levels.push_back(std::sqrt(sum / kFrame));
    }
    return levels;
}

// Share of 5 ms frames inside the sounding span that a listener hears as
// silence: below a tenth of the median level.
inline double silenceShare(const std::vector<std::int16_t>& played)
{
    const std::vector<double> levels = frameLevels(played);
    std::vector<double> sorted = levels;
    std::sort(sorted.begin(), sorted.end());
    const double loud = sorted.empty() ? 0 : sorted.back();
    const double floor = loud / 10;
    auto first = std::find_if(levels.begin(), levels.end(), [&](double l) { return l > floor; });
    auto last = std::find_if(levels.rbegin(), levels.rend(), [&](double l) { return l > floor; }).base();
    if (first >= last)
        return 1.0;
    std::vector<double> span(first, last);
    std::vector<double> spanSorted = span;
    std::nth_element(spanSorted.begin(), spanSorted.begin() + spanSorted.size() / 2, spanSorted.end());
    const double threshold = spanSorted[spanSorted.size() / 2] / 10;
    const auto silent = std::count_if(span.begin(), span.end(), [&](double l) { return l < threshold; });
    return double(silent) / double(span.size());
}

// Seconds of sound (frames above a tenth of the loudest) from `fromSeconds` on.
inline double soundAfter(const std::vector<std::int16_t>& played, double fromSeconds)
{
    const std::vector<double> levels = frameLevels(played);
    const double loud = levels.empty() ? 0 : *std::max_element(levels.begin(), levels.end());
    const auto from = static_cast<std::size_t>(fromSeconds * 200);
    std::size_t count = 0;
    for (std::size_t i = from; i < levels.size(); ++i)
        count += levels[i] > loud / 10;
    return double(count) / 200;
}

} // namespace kavelo::sim

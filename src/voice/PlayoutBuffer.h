#pragma once

#include "voice/SampleRing.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <vector>

namespace kavelo {

// Turns voice that arrives in bursts of sound (one datagram: 240 ms, early,
// late or never) into a continuous stream for the speaker.
//
// Decoded sound waits in a ring of at most half a second. The speaker side
// pulls whatever it needs and always gets it: the waiting sound, made a little
// shorter or longer on arrival by whole pitch periods (so a voice keeps its
// pitch) so that the ring's
// depth at the moment a datagram arrives stays near a target that follows the
// measured arrival jitter; when the ring runs dry, the last pitch period
// repeated and faded out, then quiet comfort noise. Senders that send 240 ms
// every 250 ms, clocks that run apart and talkers that stop are all absorbed
// the same way.
//
// Not thread-safe: the owner serialises push and pull (the playback device
// holds its server lock for both).
class PlayoutBuffer {
public:
    static constexpr int kSampleRate = 8000;
    static constexpr int kSamplesPerMs = kSampleRate / 1000;
    // Sound beyond this much waiting is dropped, oldest first.
    static constexpr int kMaxDepthSamples = 500 * kSamplesPerMs;
    static constexpr double kMinTargetMs = 10;
    static constexpr double kMaxTargetMs = 200;

    PlayoutBuffer();
    ~PlayoutBuffer();
    PlayoutBuffer(const PlayoutBuffer&) = delete;
    PlayoutBuffer& operator=(const PlayoutBuffer&) = delete;

    // One datagram's sound, arrived at `arrivalMs` on a steady clock.
    void push(std::span<const std::int16_t> sound, double arrivalMs);
    // Fills all of `out`.
    void pull(std::span<std::int16_t> out);

    // Sound waiting to be heard.
    int depthSamples() const;
    double targetMs() const { return targetMs_; }
    double speed() const { return speed_; }
    // Totals since construction, for tests and benchmarks.
    std::int64_t concealedSamples() const { return concealed_; }
    std::int64_t droppedSamples() const { return dropped_; }

private:
    class Concealment;

    void updateTiming(double arrivalMs);
    void updateSpeed();
    void restart();
    // Drops the oldest sound so that `incoming` more samples fit.
    void makeRoom(int incoming);
    int pullSound(std::span<std::int16_t> out);
    void remember(std::span<const std::int16_t> played);

    SampleRing ring_;
    std::vector<std::int16_t> stretched_;
    double stretchDebt_ = 0;  // samples still to add (or, below zero, to remove)
    std::unique_ptr<Concealment> concealment_;

    // Arrival timing.
    bool started_ = false;
    double lastArrivalMs_ = 0;
    double expectedMs_ = 0;
    std::deque<double> arrivalsMs_;  // the last few arrivals, oldest first
    std::deque<long> slots_;         // sender periods between each and the one before
    std::deque<double> latenessMs_;  // against the expected line, oldest first
    double periodMs_ = 240;
    double targetMs_ = kMinTargetMs * 1.5;
    double smoothedLevelMs_ = 0;
    double speed_ = 1.0;

    // What was played last, for concealment to continue from.
    std::vector<std::int16_t> history_;
    std::int64_t concealed_ = 0;
    std::int64_t dropped_ = 0;
};

} // namespace kavelo

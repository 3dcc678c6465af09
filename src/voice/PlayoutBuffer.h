#pragma once

#include "voice/ArrivalTiming.h"
#include "voice/SampleRing.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace kavelo {

// Turns voice that arrives in datagrams (each some whole GSM blocks of 40 ms:
// early, late or never) into a continuous stream for the speaker.
//
// Decoded sound waits in a ring of at most half a second. The speaker side
// pulls whatever it needs and always gets it: the waiting sound, made a little
// shorter or longer on arrival by whole pitch periods (so a voice keeps its
// pitch) so that the ring's depth at the moment a datagram arrives stays near
// a target that follows the measured arrival jitter; when the ring runs dry,
// the last pitch period repeated and faded out within 60 ms, then quiet
// comfort noise. Each datagram's sound is as long as it is, and the sender's
// pace is learnt from the arrivals: senders of one block every 40 ms, of six
// every 240 ms or every 250 ms, clocks that run apart and talkers that stop
// are all absorbed the same way.
//
// Not thread-safe: the owner serialises push and pull (the playback device
// holds its server lock for both).
class PlayoutBuffer {
public:
    static constexpr int kSampleRate = 8000;
    static constexpr int kSamplesPerMs = kSampleRate / 1000;
    // Sound beyond this much waiting is dropped, oldest first.
    static constexpr int kMaxDepthSamples = 500 * kSamplesPerMs;
    static constexpr double kMinTargetMs = 20;
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
    // The sender's time per unit of the sound it sends, as learnt.
    double senderPace() const;
    // Totals since construction, for tests and benchmarks: played in place of
    // missing sound while a talk runs (not the quiet before the first
    // datagram or after the talker stopped), added or taken out by
    // stretching, dropped for lack of room.
    std::int64_t concealedSamples() const { return concealed_; }
    std::int64_t stretchedSamples() const { return stretched_; }
    std::int64_t droppedSamples() const { return dropped_; }

private:
    class Concealment;

    void updateTarget(double arrivalMs);
    void updateSpeed(double soundMs);
    void restart();
    // Drops the oldest sound so that `incoming` more samples fit.
    void makeRoom(int incoming);
    void remember(std::span<const std::int16_t> played);

    SampleRing ring_;
    std::vector<std::int16_t> incoming_;
    double stretchDebt_ = 0;  // samples still to add (or, below zero, to remove)
    std::unique_ptr<Concealment> concealment_;
    ArrivalTiming timing_;

    bool started_ = false;
    double lastArrivalMs_ = 0;
    double targetMs_;
    double smoothedLevelMs_ = 0;
    double speed_ = 1.0;

    // What was played last, for concealment to continue from.
    std::vector<std::int16_t> history_;
    std::int64_t gapSamples_ = 0;  // concealed since the ring last had sound
    std::int64_t concealed_ = 0;
    std::int64_t stretched_ = 0;
    std::int64_t dropped_ = 0;
};

} // namespace kavelo

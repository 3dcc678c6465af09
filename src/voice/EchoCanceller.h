#pragma once

#include "voice/EchoEngine.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kavelo {

// Where a stream's samples are in time: each sample's moment on a steady
// clock, in milliseconds, from the moments the sound server reports for some
// of them. A report within kJumpMs of what the clock expects nudges it (the
// server's figures jitter by a few milliseconds; the device's clock drifts by
// a few in a minute). A report further off is taken for a stray one (a loop
// thread that ran late, a timing update that came in between), unless
// kStrayReportsToRestart come in a row: the stream then started anew there.
class StreamClock {
public:
    static constexpr double kSamplesPerMs = EchoEngine::kRate / 1000.0;
    static constexpr double kJumpMs = 20.0;
    static constexpr int kStrayReportsToRestart = 4;

    // Sample `index` was (or will be) heard at `ms`. Answers whether the
    // clock starts anew there.
    bool observe(std::int64_t index, double ms);
    bool known() const { return known_; }
    double timeOf(std::int64_t index) const { return anchorMs_ + static_cast<double>(index - anchorIndex_) / kSamplesPerMs; }
    double indexAt(double ms) const { return static_cast<double>(anchorIndex_) + (ms - anchorMs_) * kSamplesPerMs; }

private:
    // A sixteenth of each report's difference: jitter is averaged out over
    // about half a second of reports, drift followed within a second.
    static constexpr double kFollow = 1.0 / 16.0;

    bool known_ = false;
    int strayReports_ = 0;
    std::int64_t anchorIndex_ = 0;
    double anchorMs_ = 0.0;
};

// The call's microphone with the speaker's sound taken out of it, cleaned of
// noise and kept at a steady level.
//
// The speaker's side reports what it plays and when; the microphone's side
// hands in what it recorded and when. Each 10 ms of microphone sound goes to
// the engine with the 10 ms the speaker played from kLeadMs after it was
// recorded: the echo of that sound cannot be in it yet, and everything the
// speaker played before is within the engine's reach, even when the times
// the servers report are a few milliseconds off. The reference runs on in
// step with the microphone, sample after sample, and is moved to where the
// clocks say only when either stream started anew, or when it has strayed by
// more than kStrayMs on average over a second (two sound cards' clocks drift
// apart). Every move makes the engine learn the room again: the servers'
// reports wander by several milliseconds (PipeWire's more than PulseAudio's),
// and following them cost the echo 30 dB.
//
// Not thread-safe: the owner serialises the calls.
class EchoCanceller {
public:
    static constexpr std::size_t kFrameSamples = EchoEngine::kFrameSamples;
    static constexpr double kLeadMs = 10.0;
    static constexpr double kStrayMs = 20.0;
    // What is kept of the speaker's sound: more than any sound server holds
    // plus the longest echo the engine follows.
    static constexpr std::size_t kReferenceSamples = EchoEngine::kRate;

    explicit EchoCanceller(std::unique_ptr<EchoEngine> engine);

    // `samples` go to the speaker, the first of them heard at `firstHeardMs`
    // (nothing: the server has not said yet; a guess would misplace the
    // reference for as long as it takes the true times to outweigh it).
    void played(std::span<const std::int16_t> samples, std::optional<double> firstHeardMs);
    // `samples` came from the microphone, the first of them recorded at
    // `firstRecordedMs` (nothing: not known yet). Every whole 10 ms frame
    // comes out cleaned, appended to `out`; a part frame waits for the next call.
    void record(std::span<const std::int16_t> samples, std::optional<double> firstRecordedMs,
                std::vector<std::int16_t>& out);

    // Off: the speaker's sound is not looked for (a headset); noise and level
    // are still seen to.
    void setCancelling(bool on) { cancelling_ = on; }
    bool cancelling() const { return cancelling_; }

    // How many samples the reference was moved by in all, for tests.
    std::int64_t realignments() const { return realignments_; }

private:
    void processFrame(std::int64_t firstIndex);
    void takeReference(std::int64_t from, EchoEngine::Frame frame) const;

    std::unique_ptr<EchoEngine> engine_;
    bool cancelling_ = true;

    std::vector<std::int16_t> reference_ = std::vector<std::int16_t>(kReferenceSamples);
    std::int64_t playedCount_ = 0;
    // Samples before this one belong to a stream that ended: not used.
    std::int64_t referenceValidFrom_ = 0;
    StreamClock playClock_;

    std::int64_t recordedCount_ = 0;
    StreamClock recordClock_;
    std::array<std::int16_t, kFrameSamples> frame_{};
    std::size_t frameFill_ = 0;
    std::array<std::int16_t, kFrameSamples> referenceFrame_{};

    bool aligned_ = false;
    std::int64_t cursor_ = 0;
    double strayAverage_ = 0.0;
    std::int64_t realignments_ = 0;
};

} // namespace kavelo

#include "voice/EchoCanceller.h"

#include <algorithm>
#include <cmath>

namespace kavelo {
namespace {

// The reference's stray is averaged over about a second of frames before it counts.
constexpr double kStrayFollow = 1.0 / 100.0;

} // namespace

bool StreamClock::observe(std::int64_t index, double ms)
{
    const double off = ms - timeOf(index);
    if (known_ && std::abs(off) > kJumpMs && ++strayReports_ < kStrayReportsToRestart)
        return false;
    strayReports_ = 0;
    if (!known_ || std::abs(off) > kJumpMs) {
        known_ = true;
        anchorIndex_ = index;
        anchorMs_ = ms;
        return true;
    }
    anchorMs_ = timeOf(index) + kFollow * off;
    anchorIndex_ = index;
    return false;
}

EchoCanceller::EchoCanceller(std::unique_ptr<EchoEngine> engine)
    : engine_(std::move(engine))
{
}

void EchoCanceller::played(std::span<const std::int16_t> samples, std::optional<double> firstHeardMs)
{
    if (samples.empty())
        return;
    // Sound handed over before the first time given is the same stream's;
    // before a later restart, an earlier stream's.
    const bool timed = playClock_.known();
    if (firstHeardMs && playClock_.observe(playedCount_, *firstHeardMs)) {
        if (timed)
            referenceValidFrom_ = playedCount_;
        aligned_ = false;
    }
    // More than is kept: only the newest count.
    const std::size_t skipped = samples.size() - std::min(samples.size(), reference_.size());
    playedCount_ += static_cast<std::int64_t>(skipped);
    const auto kept = static_cast<std::int64_t>(reference_.size());
    for (const std::int16_t sample : samples.subspan(skipped))
        reference_[static_cast<std::size_t>(playedCount_++ % kept)] = sample;
}

void EchoCanceller::record(std::span<const std::int16_t> samples, std::optional<double> firstRecordedMs,
                           std::vector<std::int16_t>& out)
{
    if (samples.empty())
        return;
    if (firstRecordedMs && recordClock_.observe(recordedCount_, *firstRecordedMs))
        aligned_ = false;
    while (!samples.empty()) {
        const std::size_t count = std::min(samples.size(), kFrameSamples - frameFill_);
        std::copy_n(samples.begin(), count, frame_.begin() + static_cast<std::ptrdiff_t>(frameFill_));
        frameFill_ += count;
        recordedCount_ += static_cast<std::int64_t>(count);
        samples = samples.subspan(count);
        if (frameFill_ == kFrameSamples) {
            processFrame(recordedCount_ - static_cast<std::int64_t>(kFrameSamples));
            out.insert(out.end(), frame_.begin(), frame_.end());
            frameFill_ = 0;
        }
    }
}

void EchoCanceller::processFrame(std::int64_t firstIndex)
{
    if (cancelling_ && playClock_.known() && recordClock_.known()) {
        const double wanted = playClock_.indexAt(recordClock_.timeOf(firstIndex) + kLeadMs);
        const double stray = static_cast<double>(cursor_) - wanted;
        strayAverage_ += kStrayFollow * (stray - strayAverage_);
        const double strayLimit = kStrayMs * StreamClock::kSamplesPerMs;
        if (!aligned_ || std::abs(strayAverage_) > strayLimit) {
            const auto moved = static_cast<std::int64_t>(std::lround(wanted));
            realignments_ += aligned_ ? std::abs(moved - cursor_) : 0;
            cursor_ = moved;
            strayAverage_ = 0.0;
            aligned_ = true;
        }
        takeReference(cursor_, referenceFrame_);
        cursor_ += static_cast<std::int64_t>(kFrameSamples);
    } else {
        aligned_ = false;
        referenceFrame_.fill(0);
    }
    engine_->process(referenceFrame_, frame_, cancelling_);
}

void EchoCanceller::takeReference(std::int64_t from, EchoEngine::Frame frame) const
{
    // Sound not played yet, or no longer kept, is silence to the engine.
    const auto kept = static_cast<std::int64_t>(reference_.size());
    const std::int64_t oldest = std::max(referenceValidFrom_, playedCount_ - kept);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        const std::int64_t index = from + static_cast<std::int64_t>(i);
        frame[i] = index >= oldest && index < playedCount_ ? reference_[static_cast<std::size_t>(index % kept)] : 0;
    }
}

} // namespace kavelo

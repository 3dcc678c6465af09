#include "voice/PlayoutBuffer.h"

#include "voice/PitchPeriods.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kavelo {
namespace {

constexpr int kHistorySamples = 60 * PlayoutBuffer::kSamplesPerMs;
constexpr int kPitchWindow = 20 * PlayoutBuffer::kSamplesPerMs;
// Concealment repeats the last pitch period at full level this long, then
// fades it out linearly: silent 60 ms into the gap, as a listener expects of
// a voice that breaks off, instead of a buzz.
constexpr int kFullLevelSamples = 10 * PlayoutBuffer::kSamplesPerMs;
constexpr int kFadeSamples = 50 * PlayoutBuffer::kSamplesPerMs;
// Crossfades where sound is cut (dropped, resumed after concealment).
constexpr int kBlendSamples = 5 * PlayoutBuffer::kSamplesPerMs;
// About -55 dBFS: the line is open, nobody is talking.
constexpr int kComfortNoisePeak = 100;
// A talk pause longer than this starts playout afresh.
constexpr double kRestartAfterMs = 1000;
// Before the link's jitter is known: a talk's first second, when the sender's
// capture and the network settle, is the likeliest to bring a late datagram.
constexpr double kStartTargetMs = 60;
// Kept above the latest arrivals (the 95th percentile of lateness): room for a
// datagram a little later than any seen lately.
constexpr double kJitterMarginMs = 10;
// The target falls this fast when the link calms down (and rises at once).
constexpr double kTargetFallPerMs = 10.0 / 1000;
// The speed follows the level's distance from the target, taking it back over
// about this long. The target is the level to keep at least: up to a band
// above it the sound is left as it came, and so is a speed within
// kSteadySpeed of 1.
constexpr double kLevelBandMs = 10;
constexpr double kSettleMs = 2000;
constexpr double kSteadySpeed = 0.002;
constexpr double kSlowest = 0.9;
constexpr double kFastest = 1.1;
// Above this much waiting, play faster at once.
constexpr double kTooDeepMs = 300;

std::int16_t clampSample(double value)
{
    return static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
}

} // namespace

// Fills a gap from the last pitch period heard, fading out, then comfort noise;
// crossfades back into sound when it resumes.
class PlayoutBuffer::Concealment {
public:
    bool active() const { return active_; }

    void start(const std::vector<std::int16_t>& history)
    {
        active_ = true;
        blended_ = 0;
        generated_ = 0;
        position_ = 0;
        period_.clear();
        const int length = static_cast<int>(history.size());
        if (length < 2 * kMaxPitchPeriod)
            return;
        double energy = 0;
        for (int n = length - kPitchWindow; n < length; ++n)
            energy += double(history[n]) * history[n];
        if (energy < double(kComfortNoisePeak) * kComfortNoisePeak * kPitchWindow)
            return;
        const int best = findPitchPeriod(history, length - kMaxPitchPeriod);
        period_.assign(history.end() - best, history.end());
    }

    // Continues the gap's sound into `out`.
    void generate(std::span<std::int16_t> out)
    {
        for (std::int16_t& sample : out) {
            double value = noise();
            if (!period_.empty() && generated_ < kFullLevelSamples + kFadeSamples) {
                const double gain = generated_ < kFullLevelSamples
                    ? 1.0
                    : 1.0 - double(generated_ - kFullLevelSamples + 1) / kFadeSamples;
                value += gain * period_[position_];
                position_ = (position_ + 1) % period_.size();
            }
            ++generated_;
            sample = clampSample(value);
        }
    }

    // Crossfades from the gap's sound into `sound`, which resumes the voice.
    void blendInto(std::span<std::int16_t> sound)
    {
        std::array<std::int16_t, kBlendSamples> fill{};
        const int count = std::min<int>(kBlendSamples - blended_, static_cast<int>(sound.size()));
        generate(std::span(fill).first(static_cast<std::size_t>(count)));
        for (int i = 0; i < count; ++i) {
            const double weight = double(blended_ + i + 1) / (kBlendSamples + 1);
            sound[i] = clampSample(fill[i] * (1 - weight) + sound[i] * weight);
        }
        blended_ += count;
        if (blended_ >= kBlendSamples)
            active_ = false;
    }

private:
    double noise()
    {
        seed_ = seed_ * 1664525u + 1013904223u;
        return static_cast<int>(seed_ >> 16) % (2 * kComfortNoisePeak + 1) - kComfortNoisePeak;
    }

    bool active_ = false;
    std::vector<std::int16_t> period_;
    std::size_t position_ = 0;
    int generated_ = 0;
    int blended_ = 0;
    std::uint32_t seed_ = 0x2545F491u;
};

PlayoutBuffer::PlayoutBuffer()
    : ring_(kMaxDepthSamples),
      concealment_(std::make_unique<Concealment>()),
      targetMs_(kStartTargetMs)
{
    history_.reserve(kHistorySamples);
}

PlayoutBuffer::~PlayoutBuffer() = default;

int PlayoutBuffer::depthSamples() const
{
    return ring_.size();
}

double PlayoutBuffer::senderPace() const
{
    return timing_.pace();
}

void PlayoutBuffer::push(std::span<const std::int16_t> sound, double arrivalMs)
{
    if (sound.empty())
        return;
    const double soundMs = double(sound.size()) / kSamplesPerMs;
    const bool restarting = !started_ || arrivalMs - lastArrivalMs_ > kRestartAfterMs;
    timing_.arrived(arrivalMs, soundMs, !restarting);
    updateTarget(arrivalMs);
    lastArrivalMs_ = arrivalMs;
    if (restarting)
        restart();
    else
        updateSpeed(soundMs);
    // Whatever does not fit in the ring is the oldest of the new sound.
    if (static_cast<int>(sound.size()) > kMaxDepthSamples) {
        dropped_ += static_cast<std::int64_t>(sound.size()) - kMaxDepthSamples;
        sound = sound.last(kMaxDepthSamples);
    }
    // Played at `speed_`, this sound lasts that much more or less; what whole
    // pitch periods cannot give now is carried to the next datagram.
    incoming_.assign(sound.begin(), sound.end());
    stretchDebt_ += double(sound.size()) / speed_ - double(sound.size());
    const int change = stretchByPitchPeriods(incoming_, static_cast<int>(std::lround(stretchDebt_)));
    stretched_ += std::abs(change);
    stretchDebt_ -= change;
    stretchDebt_ = std::clamp(stretchDebt_, -2.0 * kMaxPitchPeriod, 2.0 * kMaxPitchPeriod);
    if (static_cast<int>(incoming_.size()) > kMaxDepthSamples) {
        dropped_ += static_cast<std::int64_t>(incoming_.size()) - kMaxDepthSamples;
        incoming_.erase(incoming_.begin(), incoming_.end() - kMaxDepthSamples);
    }
    makeRoom(static_cast<int>(incoming_.size()));
    ring_.write(incoming_);
}

void PlayoutBuffer::restart()
{
    started_ = true;
    stretchDebt_ = 0;
    speed_ = 1.0;
    // Start behind by the target, so that the next datagram may come that much
    // late without a gap. Sound still waiting from before the pause stays (the
    // speed takes it back); none of it is cut.
    const int missing = static_cast<int>(targetMs_ * kSamplesPerMs) - depthSamples();
    if (missing > 0)
        ring_.writeSilence(missing);
    smoothedLevelMs_ = double(depthSamples()) / kSamplesPerMs;
}

void PlayoutBuffer::updateTarget(double arrivalMs)
{
    if (timing_.judged() == 0)
        return;
    const double wanted = std::clamp(timing_.recentLatenessMs() + kJitterMarginMs, kMinTargetMs, kMaxTargetMs);
    const double elapsed = started_ ? std::max(0.0, arrivalMs - lastArrivalMs_) : 0.0;
    targetMs_ = wanted >= targetMs_ ? wanted : std::max(wanted, targetMs_ - elapsed * kTargetFallPerMs);
}

void PlayoutBuffer::updateSpeed(double soundMs)
{
    // The depth just before new sound arrives is its lowest: that is what must
    // stay near the target. Smoothed over about a third of a second whatever
    // the datagrams' length.
    const double levelMs = double(depthSamples()) / kSamplesPerMs;
    smoothedLevelMs_ += (levelMs - smoothedLevelMs_) * soundMs / (soundMs + 280);
    const double error = smoothedLevelMs_ - targetMs_;
    const double beyond = error < 0 ? error : std::max(0.0, error - kLevelBandMs);
    // The sender's own pace first: 240 ms of sound every 250 ms is played at 0.96.
    speed_ = std::clamp((1 + beyond / kSettleMs) / timing_.pace(), kSlowest, kFastest);
    if (std::abs(speed_ - 1) < kSteadySpeed)
        speed_ = 1;
    if (levelMs > kTooDeepMs)
        speed_ = kFastest;
}

void PlayoutBuffer::makeRoom(int incoming)
{
    const int excess = depthSamples() + incoming - kMaxDepthSamples;
    if (excess <= 0)
        return;
    const int drop = std::min(excess, ring_.size());
    std::array<std::int16_t, kBlendSamples> cut{};
    const int blend = std::min(kBlendSamples, ring_.size() - drop);
    for (int i = 0; i < blend; ++i)
        cut[i] = ring_[i];
    ring_.drop(drop);
    for (int i = 0; i < blend; ++i) {
        const double weight = double(i + 1) / (kBlendSamples + 1);
        ring_[i] = clampSample(cut[i] * (1 - weight) + ring_[i] * weight);
    }
    dropped_ += drop;
}

void PlayoutBuffer::pull(std::span<std::int16_t> out)
{
    std::size_t done = 0;
    while (done < out.size()) {
        const auto rest = out.subspan(done);
        const int got = ring_.read(rest);
        if (got > 0) {
            gapSamples_ = 0;
            if (concealment_->active())
                concealment_->blendInto(rest.first(static_cast<std::size_t>(got)));
            remember(rest.first(static_cast<std::size_t>(got)));
            done += static_cast<std::size_t>(got);
            continue;
        }
        if (!concealment_->active())
            concealment_->start(history_);
        concealment_->generate(rest);
        // A gap longer than a talk pause is the talker gone quiet, not sound missing.
        if (started_ && gapSamples_ < kRestartAfterMs * kSamplesPerMs)
            concealed_ += static_cast<std::int64_t>(rest.size());
        gapSamples_ += static_cast<std::int64_t>(rest.size());
        remember(rest);
        done = out.size();
    }
}

void PlayoutBuffer::remember(std::span<const std::int16_t> played)
{
    const auto keep = std::min<std::size_t>(played.size(), kHistorySamples);
    const std::size_t overflow = history_.size() + keep > kHistorySamples ? history_.size() + keep - kHistorySamples : 0;
    history_.erase(history_.begin(), history_.begin() + static_cast<std::ptrdiff_t>(overflow));
    history_.insert(history_.end(), played.end() - static_cast<std::ptrdiff_t>(keep), played.end());
}

} // namespace kavelo

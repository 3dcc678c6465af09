#include "voice/PlayoutBuffer.h"

#include "voice/PitchPeriods.h"

#include <algorithm>
#include <array>
#include <new>
#include <cmath>
#include <numeric>

namespace kavelo {
namespace {

constexpr int kHistorySamples = 60 * PlayoutBuffer::kSamplesPerMs;
constexpr int kPitchWindow = 20 * PlayoutBuffer::kSamplesPerMs;
// Concealment holds the level this long, then fades by a fifth every 10 ms.
constexpr int kFullLevelSamples = 20 * PlayoutBuffer::kSamplesPerMs;
// Crossfades where sound is cut (dropped, resumed after concealment).
constexpr int kBlendSamples = 5 * PlayoutBuffer::kSamplesPerMs;
// About -55 dBFS: the line is open, nobody is talking.
constexpr int kComfortNoisePeak = 100;
// A talk pause longer than this starts playout afresh.
constexpr double kRestartAfterMs = 1000;
constexpr std::size_t kArrivalWindow = 33;
constexpr std::size_t kLatenessWindow = 40;
constexpr double kNominalPeriodMs = 240;
// Kept above the latest arrivals (the 95th percentile of lateness): room for a
// datagram a little later than any seen lately.
constexpr double kJitterMarginMs = 10;

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
        gain_ = 1.0;
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
        static const double fadePerSample = std::pow(0.8, 1.0 / (10 * kSamplesPerMs));
        for (std::int16_t& sample : out) {
            double value = noise();
            if (!period_.empty() && gain_ > 0) {
                value += gain_ * period_[position_];
                position_ = (position_ + 1) % period_.size();
                if (++generated_ > kFullLevelSamples) {
                    gain_ *= fadePerSample;
                    if (gain_ < 0.02)
                        gain_ = 0;
                }
            }
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
    double gain_ = 1.0;
    std::uint32_t seed_ = 0x2545F491u;
};

PlayoutBuffer::PlayoutBuffer()
    : ring_(kMaxDepthSamples),
      concealment_(std::make_unique<Concealment>())
{
    history_.reserve(kHistorySamples);
}

PlayoutBuffer::~PlayoutBuffer() = default;

int PlayoutBuffer::depthSamples() const
{
    return ring_.size();
}

void PlayoutBuffer::push(std::span<const std::int16_t> sound, double arrivalMs)
{
    const bool restarting = !started_ || arrivalMs - lastArrivalMs_ > kRestartAfterMs;
    if (restarting)
        restart();
    updateTiming(arrivalMs);
    if (restarting) {
        // Start behind by the target, so that the next datagram may come that
        // much late without a gap.
        ring_.writeSilence(static_cast<int>(targetMs_ * kSamplesPerMs) - depthSamples());
        smoothedLevelMs_ = targetMs_;
    } else {
        updateSpeed();
    }
    // Whatever does not fit in the ring is the oldest of the new sound.
    if (static_cast<int>(sound.size()) > kMaxDepthSamples) {
        dropped_ += static_cast<std::int64_t>(sound.size()) - kMaxDepthSamples;
        sound = sound.last(kMaxDepthSamples);
    }
    // Played at `speed_`, this sound lasts that much more or less; what whole
    // pitch periods cannot give now is carried to the next datagram.
    stretched_.assign(sound.begin(), sound.end());
    stretchDebt_ += double(sound.size()) / speed_ - double(sound.size());
    stretchDebt_ -= stretchByPitchPeriods(stretched_, static_cast<int>(std::lround(stretchDebt_)));
    stretchDebt_ = std::clamp(stretchDebt_, -2.0 * kMaxPitchPeriod, 2.0 * kMaxPitchPeriod);
    if (static_cast<int>(stretched_.size()) > kMaxDepthSamples) {
        dropped_ += static_cast<std::int64_t>(stretched_.size()) - kMaxDepthSamples;
        stretched_.erase(stretched_.begin(), stretched_.end() - kMaxDepthSamples);
    }
    makeRoom(static_cast<int>(stretched_.size()));
    ring_.write(stretched_);
}

void PlayoutBuffer::restart()
{
    started_ = true;
    stretchDebt_ = 0;
    arrivalsMs_.clear();
    slots_.clear();
}

void PlayoutBuffer::updateTiming(double arrivalMs)
{
    if (!arrivalsMs_.empty()) {
        // A gap of two periods is a lost datagram; a gap near zero, the second of a burst.
        const double gap = arrivalMs - arrivalsMs_.back();
        slots_.push_back(std::max(0L, std::lround(gap / periodMs_)));
        expectedMs_ += slots_.back() * periodMs_;
    } else {
        expectedMs_ = arrivalMs;
    }
    arrivalsMs_.push_back(arrivalMs);
    if (arrivalsMs_.size() > kArrivalWindow) {
        arrivalsMs_.pop_front();
        slots_.pop_front();
    }
    // The sender's period over the last few seconds: drift between the two
    // clocks shows here, jitter and losses average out.
    const int slots = std::accumulate(slots_.begin(), slots_.end(), 0);
    if (slots >= 2)
        periodMs_ = std::clamp((arrivalsMs_.back() - arrivalsMs_.front()) / slots, 200.0, 300.0);
    lastArrivalMs_ = arrivalMs;
    // Until the period is known, lateness says more about the estimate than the link.
    if (slots < 4)
        return;

    // Lateness against a line through the earliest arrivals, which creeps up
    // slowly so that an estimate a little off does not add up.
    double lateness = arrivalMs - expectedMs_;
    if (lateness < 0) {
        expectedMs_ = arrivalMs;
        lateness = 0;
    } else {
        expectedMs_ += lateness / 32;
    }
    latenessMs_.push_back(lateness);
    if (latenessMs_.size() > kLatenessWindow)
        latenessMs_.pop_front();
    std::vector<double> sorted(latenessMs_.begin(), latenessMs_.end());
    const auto rank = static_cast<std::ptrdiff_t>(std::ceil(0.95 * static_cast<double>(sorted.size())) - 1);
    std::nth_element(sorted.begin(), sorted.begin() + rank, sorted.end());
    const double latest = sorted[static_cast<std::size_t>(rank)];
    const double wanted = std::clamp(latest + kJitterMarginMs, kMinTargetMs, kMaxTargetMs);
    // Up at once after a late datagram, down by at most 1 ms a second.
    const double elapsed = arrivalsMs_.size() > 1 ? arrivalMs - arrivalsMs_[arrivalsMs_.size() - 2] : 0.0;
    targetMs_ = wanted >= targetMs_ ? wanted : std::max(wanted, targetMs_ - elapsed / 1000);
}

void PlayoutBuffer::updateSpeed()
{
    // The depth just before new sound arrives is its lowest: that is what must
    // stay near the target.
    const double levelMs = double(depthSamples()) / kSamplesPerMs;
    smoothedLevelMs_ += (levelMs - smoothedLevelMs_) / 8;
    const double base = kNominalPeriodMs / periodMs_;
    speed_ = std::clamp(base * (1 + 0.5 * (smoothedLevelMs_ - targetMs_) / targetMs_), 0.9, 1.1);
    if (levelMs > 300)
        speed_ = 1.1;
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
        const int got = pullSound(rest);
        if (got > 0) {
            if (concealment_->active())
                concealment_->blendInto(rest.first(static_cast<std::size_t>(got)));
            remember(rest.first(static_cast<std::size_t>(got)));
            done += static_cast<std::size_t>(got);
            continue;
        }
        if (!concealment_->active())
            concealment_->start(history_);
        concealment_->generate(rest);
        concealed_ += static_cast<std::int64_t>(rest.size());
        remember(rest);
        done = out.size();
    }
}

int PlayoutBuffer::pullSound(std::span<std::int16_t> out)
{
    return ring_.read(out);
}

void PlayoutBuffer::remember(std::span<const std::int16_t> played)
{
    const auto keep = std::min<std::size_t>(played.size(), kHistorySamples);
    const std::size_t overflow = history_.size() + keep > kHistorySamples ? history_.size() + keep - kHistorySamples : 0;
    history_.erase(history_.begin(), history_.begin() + static_cast<std::ptrdiff_t>(overflow));
    history_.insert(history_.end(), played.end() - static_cast<std::ptrdiff_t>(keep), played.end());
}

} // namespace kavelo

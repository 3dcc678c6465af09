#include "voice/ArrivalTiming.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kavelo {
namespace {

// The pace is the sender's over its last ten seconds of sound (and at least
// its last 16 datagrams): enough to average the jitter out to a tenth of a
// percent, short enough to follow a sender that changes its datagrams.
constexpr double kPaceSoundMs = 10'000;
constexpr std::size_t kMinPaceSteps = 16;
constexpr std::size_t kMaxPaceSteps = 512;
constexpr std::size_t kPaceStepsToTrust = 2;
// A step whose gap is far from the usual one carried a loss (the gap spans the
// missing sound too), a late datagram or a burst: it says nothing about pace.
constexpr double kUsualStepSpread = 0.5;
constexpr double kSlowestPace = 0.8;
constexpr double kFastestPace = 1.25;

// A datagram is judged once this long and this many datagrams came after it.
constexpr double kJudgeAfterMs = 200;
constexpr std::size_t kJudgeAfterDatagrams = 2;
// Its neighbours before it: the line the sender's datagrams came on lately.
constexpr double kNeighboursBeforeMs = 2000;
constexpr double kLatenessWindowMs = 10'000;
// Bounds on what is kept, whatever arrives: a flood is judged in part.
constexpr std::size_t kMaxArrivals = 256;
constexpr std::size_t kMaxLateness = 1024;

} // namespace

void ArrivalTiming::arrived(double arrivalMs, double soundMs, bool continues)
{
    if (continues) {
        const double gapMs = arrivalMs - lastArrivalMs_;
        learnPace(gapMs, lastSoundMs_);
        relativeMs_ += gapMs - pace_ * lastSoundMs_;
    } else {
        arrivals_.clear();
        relativeMs_ = 0;
    }
    arrivals_.push_back({arrivalMs, relativeMs_, false});
    if (arrivals_.size() > kMaxArrivals)
        arrivals_.pop_front();
    lastArrivalMs_ = arrivalMs;
    lastSoundMs_ = soundMs;
    judgeSettled(arrivalMs);
}

void ArrivalTiming::learnPace(double gapMs, double soundMs)
{
    if (soundMs <= 0)
        return;
    steps_.push_back({std::max(gapMs, 0.0), soundMs});
    paceSoundMs_ += soundMs;
    while (steps_.size() > kMaxPaceSteps
           || (steps_.size() > kMinPaceSteps && paceSoundMs_ - steps_.front().soundMs >= kPaceSoundMs)) {
        paceSoundMs_ -= steps_.front().soundMs;
        steps_.pop_front();
    }
    if (steps_.size() < kPaceStepsToTrust)
        return;
    std::vector<double> ratios;
    ratios.reserve(steps_.size());
    for (const Step& step : steps_)
        ratios.push_back(step.gapMs / step.soundMs);
    const auto middle = ratios.begin() + static_cast<std::ptrdiff_t>(ratios.size() / 2);
    std::nth_element(ratios.begin(), middle, ratios.end());
    const double usual = *middle;
    // Over the usual steps, the time they took for the sound they carried:
    // unlike the median of single steps, this settles to a fraction of a
    // percent however jittery each step is.
    double gaps = 0;
    double sound = 0;
    for (const Step& step : steps_) {
        const double ratio = step.gapMs / step.soundMs;
        if (std::abs(ratio - usual) <= kUsualStepSpread * usual) {
            gaps += step.gapMs;
            sound += step.soundMs;
        }
    }
    if (sound > 0)
        pace_ = std::clamp(gaps / sound, kSlowestPace, kFastestPace);
}

void ArrivalTiming::judgeSettled(double nowMs)
{
    for (std::size_t i = 0; i < arrivals_.size(); ++i) {
        Arrival& arrival = arrivals_[i];
        if (arrival.judged)
            continue;
        if (nowMs - arrival.atMs < kJudgeAfterMs || arrivals_.size() - 1 - i < kJudgeAfterDatagrams)
            break;
        double after = arrivals_[i + 1].relativeMs;
        for (std::size_t j = i + 2; j < arrivals_.size(); ++j)
            after = std::min(after, arrivals_[j].relativeMs);
        // The line it should have come on: the earliest of its neighbours
        // before it, but never below the earliest after it (when those all
        // came later, sound went missing before them or the route changed:
        // the line moved, and this datagram was not late).
        double line = after;
        bool hasBefore = false;
        double before = 0;
        for (std::size_t j = 0; j < i; ++j) {
            if (arrival.atMs - arrivals_[j].atMs > kNeighboursBeforeMs)
                continue;
            before = hasBefore ? std::min(before, arrivals_[j].relativeMs) : arrivals_[j].relativeMs;
            hasBefore = true;
        }
        if (hasBefore)
            line = std::max(before, after);
        lateness_.push_back({arrival.atMs, std::max(0.0, arrival.relativeMs - line)});
        arrival.judged = true;
        ++judged_;
    }
    while (!arrivals_.empty() && arrivals_.front().judged && nowMs - arrivals_.front().atMs > 2 * kNeighboursBeforeMs)
        arrivals_.pop_front();
    while (!lateness_.empty() && (nowMs - lateness_.front().atMs > kLatenessWindowMs || lateness_.size() > kMaxLateness))
        lateness_.pop_front();
    if (lateness_.empty())
        return;
    std::vector<double> sorted;
    sorted.reserve(lateness_.size());
    for (const Lateness& l : lateness_)
        sorted.push_back(l.ms);
    const auto rank = static_cast<std::ptrdiff_t>(std::ceil(0.95 * static_cast<double>(sorted.size())) - 1);
    std::nth_element(sorted.begin(), sorted.begin() + rank, sorted.end());
    latenessPercentileMs_ = sorted[static_cast<std::size_t>(rank)];
}

} // namespace kavelo

#include "voice/PitchPeriods.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace kavelo {
namespace {

// Neighbouring periods whose energies differ more than this (6 dB) are not
// joined.
constexpr double kLevelRatio = 4;
// Periods whose match is this close to the best count as equally good.
constexpr double kPeriodScoreTolerance = 0.03;

// Appends `fadingOut` turning into `fadingIn` (both of the same length).
void appendCrossfade(std::vector<std::int16_t>& out, std::span<const std::int16_t> fadingOut,
                     std::span<const std::int16_t> fadingIn)
{
    const auto length = fadingOut.size();
    for (std::size_t i = 0; i < length; ++i) {
        const double weight = double(i + 1) / double(length + 1);
        out.push_back(static_cast<std::int16_t>(std::lround(fadingOut[i] * (1 - weight) + fadingIn[i] * weight)));
    }
}

double energyOf(std::span<const std::int16_t> sound)
{
    double energy = 0;
    for (const std::int16_t sample : sound)
        energy += double(sample) * sample;
    return energy;
}

// Periods on either side of an onset or a decay differ in level: repeating
// or removing one there would be heard as a second attack or a cut.
bool levelsMatch(std::span<const std::int16_t> before, std::span<const std::int16_t> after)
{
    // Below this (about -60 dBFS) either side is silence, which matches anything quiet.
    const double quiet = 32.0 * 32.0 * static_cast<double>(before.size());
    const double a = energyOf(before) + quiet;
    const double b = energyOf(after) + quiet;
    return std::max(a, b) <= kLevelRatio * std::min(a, b);
}

} // namespace

int findPitchPeriod(std::span<const std::int16_t> sound, int at)
{
    const int size = static_cast<int>(sound.size());
    if (at < kMaxPitchPeriod || at + kMaxPitchPeriod > size)
        return kMinPitchPeriod;
    std::array<double, kMaxPitchPeriod + 1> scores{};
    double bestScore = -2;
    for (int p = kMinPitchPeriod; p <= kMaxPitchPeriod; ++p) {
        double cross = 0;
        double before = 0;
        double after = 0;
        for (int i = 0; i < p; ++i) {
            const double a = sound[static_cast<std::size_t>(at - p + i)];
            const double b = sound[static_cast<std::size_t>(at + i)];
            cross += a * b;
            before += a * a;
            after += b * b;
        }
        scores[static_cast<std::size_t>(p)] = before > 0 && after > 0 ? cross / std::sqrt(before * after) : 0;
        bestScore = std::max(bestScore, scores[static_cast<std::size_t>(p)]);
    }
    // Two or three periods match nearly as well as one: the shortest that
    // matches about as well as the best is the voice's own.
    for (int p = kMinPitchPeriod; p <= kMaxPitchPeriod; ++p) {
        if (scores[static_cast<std::size_t>(p)] >= bestScore - kPeriodScoreTolerance)
            return p;
    }
    return kMinPitchPeriod;
}

int stretchByPitchPeriods(std::vector<std::int16_t>& sound, int wanted)
{
    const std::span<const std::int16_t> in(sound);
    const int size = static_cast<int>(in.size());
    std::vector<std::int16_t> out;
    out.reserve(in.size() + static_cast<std::size_t>(std::abs(wanted) + kMaxPitchPeriod));
    int copied = 0;
    int change = 0;
    for (int at = kMaxPitchPeriod; at + kMaxPitchPeriod <= size;) {
        const int remaining = wanted - change;
        if (2 * std::abs(remaining) < kMinPitchPeriod)
            break;
        const int period = findPitchPeriod(in, at);
        // Longer than what is left to change: a later, shorter one may fit.
        if (2 * std::abs(remaining) < period) {
            at += kMinPitchPeriod;
            continue;
        }
        const auto before = in.subspan(static_cast<std::size_t>(at - period), static_cast<std::size_t>(period));
        const auto after = in.subspan(static_cast<std::size_t>(at), static_cast<std::size_t>(period));
        if (!levelsMatch(before, after)) {
            at += kMinPitchPeriod;
            continue;
        }
        if (remaining > 0) {
            // ...x[at-p, at) x[at, at+p) becomes ...x[at-p, at) (x[at, at+p) into x[at-p, at)) x[at, at+p)...
            out.insert(out.end(), in.begin() + copied, in.begin() + at);
            appendCrossfade(out, after, before);
            copied = at;
            change += period;
        } else {
            if (at - period < copied)
                break;
            // ...x[at-p, at) x[at, at+p)... becomes ...(x[at-p, at) into x[at, at+p))...
            out.insert(out.end(), in.begin() + copied, in.begin() + (at - period));
            appendCrossfade(out, before, after);
            copied = at + period;
            change -= period;
        }
        at += period + kMaxPitchPeriod;
    }
    out.insert(out.end(), in.begin() + copied, in.end());
    sound = std::move(out);
    return change;
}

} // namespace kavelo

#include "voice/PitchPeriods.h"
#include "voice/PlayoutSimulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace kavelo {
namespace {

std::vector<std::int16_t> voiced(int samples)
{
    std::vector<std::int16_t> sound;
    for (int n = 0; n < samples; ++n)
        sound.push_back(sim::voicedSample(n));
    return sound;
}

int largestStep(const std::vector<std::int16_t>& sound)
{
    int largest = 0;
    for (std::size_t n = 1; n < sound.size(); ++n)
        largest = std::max(largest, std::abs(sound[n] - sound[n - 1]));
    return largest;
}

TEST(PitchPeriods, FindsThePeriodOfAVoice)
{
    // 150 Hz at 8 kHz: 53.3 samples; 53 is the whole period closest to it.
    const auto sound = voiced(1920);
    EXPECT_NEAR(findPitchPeriod(sound, 960), 53, 1);
}

class StretchByPitchPeriods : public ::testing::TestWithParam<int> {};

TEST_P(StretchByPitchPeriods, ChangesTheLengthByAboutWhatIsWantedWithoutAJump)
{
    auto sound = voiced(1920);
    const int before = largestStep(sound);
    const int wanted = GetParam();
    const int change = stretchByPitchPeriods(sound, wanted);
    EXPECT_EQ(static_cast<int>(sound.size()), 1920 + change);
    EXPECT_LE(std::abs(change - wanted), kMaxPitchPeriod / 2) << "wanted " << wanted << ", changed " << change;
    EXPECT_LE(largestStep(sound), before * 5 / 4);
}

INSTANTIATE_TEST_SUITE_P(Wanted, StretchByPitchPeriods, ::testing::Values(0, 10, 80, 213, -80, -175));

// Sounds of speech besides a steady vowel: a stretch must not add a second
// attack to an onset, cut into the start of a word, or change the level of
// noise (unvoiced sounds).
std::vector<std::int16_t> onset(int quietSamples, int samples)
{
    std::vector<std::int16_t> sound(static_cast<std::size_t>(quietSamples), 0);
    for (int n = 0; n < samples; ++n)
        sound.push_back(sim::voicedSample(n));
    return sound;
}

std::vector<std::int16_t> hiss(int samples)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(-3000, 3000);
    std::vector<std::int16_t> sound;
    for (int n = 0; n < samples; ++n)
        sound.push_back(static_cast<std::int16_t>(value(random)));
    return sound;
}

double rmsOf(const std::vector<std::int16_t>& sound)
{
    double sum = 0;
    for (const std::int16_t s : sound)
        sum += double(s) * s;
    return std::sqrt(sum / double(sound.size()));
}

struct OnsetCase {
    int quietSamples;
    int wanted;
};

class StretchAnOnset : public ::testing::TestWithParam<OnsetCase> {};

TEST_P(StretchAnOnset, KeepsTheQuietBeforeItAndASingleAttack)
{
    // Quiet, then a voice: 1920 samples as a datagram brings them.
    const int quiet = GetParam().quietSamples;
    auto sound = onset(quiet, 1920 - quiet);
    const int change = stretchByPitchPeriods(sound, GetParam().wanted);
    ASSERT_EQ(static_cast<int>(sound.size()), 1920 + change);
    EXPECT_NE(change, 0) << "the voice after the onset offers places to stretch";
    // 5 ms frames: quiet until the voice starts, loud from then on (a period
    // repeated across the onset would sound before it, then break off).
    std::vector<bool> loud;
    for (std::size_t i = 0; i + 40 <= sound.size(); i += 40) {
        int peak = 0;
        for (std::size_t j = i; j < i + 40; ++j)
            peak = std::max(peak, std::abs(int(sound[j])));
        loud.push_back(peak > 200);
    }
    const auto firstLoud = std::find(loud.begin(), loud.end(), true);
    ASSERT_NE(firstLoud, loud.end());
    EXPECT_EQ(std::find(firstLoud, loud.end(), false), loud.end()) << "the voice breaks off after its onset";
    // The quiet before it may grow or shrink by the change, no more.
    const auto quietFrames = static_cast<int>(firstLoud - loud.begin());
    EXPECT_GE(quietFrames * 40, quiet - std::max(0, -change) - 40);
    EXPECT_LE(quietFrames * 40, quiet + std::max(0, change));
}

// Onsets where the first place to stretch (120 samples in) straddles them, and
// where it lies in the quiet before.
INSTANTIATE_TEST_SUITE_P(Wanted, StretchAnOnset,
                         ::testing::Values(OnsetCase{150, 80}, OnsetCase{150, 160}, OnsetCase{150, -80}, OnsetCase{150, -160},
                                           OnsetCase{240, 80}, OnsetCase{240, -80}, OnsetCase{90, 80}, OnsetCase{90, -80}));

TEST(StretchByPitchPeriods, KeepsTheLevelOfNoise)
{
    auto sound = hiss(1920);
    const double before = rmsOf(sound);
    const int change = stretchByPitchPeriods(sound, 160);
    EXPECT_EQ(static_cast<int>(sound.size()), 1920 + change);
    EXPECT_NEAR(rmsOf(sound), before, before * 0.2);
}

TEST(StretchByPitchPeriods, OneBlockOfSoundCanBeStretchedOnce)
{
    // 40 ms, what one datagram of a one-block sender carries.
    auto sound = voiced(320);
    const int change = stretchByPitchPeriods(sound, 53);
    EXPECT_NEAR(change, 53, 1);
    EXPECT_EQ(static_cast<int>(sound.size()), 320 + change);
}

} // namespace
} // namespace kavelo

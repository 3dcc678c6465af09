#include "voice/PitchPeriods.h"
#include "voice/PlayoutSimulation.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace kavelo

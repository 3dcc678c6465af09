#include "voice/PlayoutBuffer.h"
#include "voice/PlayoutSimulation.h"

#include <gtest/gtest.h>

#include <numeric>

namespace kavelo {
namespace {

using sim::Link;

double meanOf(const std::vector<double>& values, std::size_t from, std::size_t to)
{
    to = std::min(to, values.size());
    return std::accumulate(values.begin() + static_cast<std::ptrdiff_t>(from),
                           values.begin() + static_cast<std::ptrdiff_t>(to), 0.0)
        / double(to - from);
}

struct LinkCase {
    const char* name;
    Link link;
    double maxSilenceShare;
};

class PlayoutOnLinks : public ::testing::TestWithParam<LinkCase> {};

TEST_P(PlayoutOnLinks, SoundsContinuousAndStaysWithinItsBounds)
{
    PlayoutBuffer playout;
    const sim::Result result = sim::run(playout, GetParam().link);
    EXPECT_LE(sim::silenceShare(result.played), GetParam().maxSilenceShare);
    EXPECT_LE(result.maxDepthSamples, PlayoutBuffer::kMaxDepthSamples);
    // After the first seconds the depth just before a datagram sits near the target, not far above it.
    const double settled = meanOf(result.depthMsAtArrivals, 20, result.depthMsAtArrivals.size());
    EXPECT_LE(settled, PlayoutBuffer::kMaxTargetMs + 20);
    EXPECT_GE(playout.targetMs(), PlayoutBuffer::kMinTargetMs);
    EXPECT_LE(playout.targetMs(), PlayoutBuffer::kMaxTargetMs);
}

Link link(double periodMs, int dropped, double jitterMs = 0, double loss = 0, double reorder = 0)
{
    Link l;
    l.periodMs = periodMs;
    l.dropSamplesAfter = dropped;
    l.jitterMs = jitterMs;
    l.lossShare = loss;
    l.reorderShare = reorder;
    l.seconds = 30;
    return l;
}

INSTANTIATE_TEST_SUITE_P(
    Schedules, PlayoutOnLinks,
    ::testing::Values(LinkCase{"WholeBlocksEvery240ms", link(240, 0), 0.005},
                      LinkCase{"TwoThousandByteBuffersEvery250ms", link(250, 80), 0.005},
                      LinkCase{"JitterAndLoss", link(240, 0, 30, 0.02), 0.02},
                      LinkCase{"JitterAndLossFrom250msSender", link(250, 80, 30, 0.02), 0.02},
                      LinkCase{"Reordering", link(240, 0, 10, 0, 0.05), 0.01},
                      LinkCase{"HeavyJitter", link(240, 0, 80), 0.05}),
    [](const auto& info) { return std::string(info.param.name); });

struct SkewCase {
    const char* name;
    double periodMs;
};

class PlayoutClockSkew : public ::testing::TestWithParam<SkewCase> {};

// Two clocks 0.1 % apart over ten minutes of continuous talk: the delay stays
// where it was instead of creeping up or running dry.
TEST_P(PlayoutClockSkew, DepthStaysNearItsStartOverALongCall)
{
    Link l = link(GetParam().periodMs, GetParam().periodMs > 245 ? 80 : 0, 5);
    l.seconds = 600;
    PlayoutBuffer playout;
    const sim::Result result = sim::run(playout, l);
    const auto& depth = result.depthMsAtArrivals;
    ASSERT_GT(depth.size(), 2000u);
    const double early = meanOf(depth, 40, 280);
    const double late = meanOf(depth, depth.size() - 240, depth.size());
    EXPECT_NEAR(late, early, 50) << "early " << early << " ms, late " << late << " ms";
    EXPECT_LE(sim::silenceShare(result.played), 0.005);
}

INSTANTIATE_TEST_SUITE_P(Clocks, PlayoutClockSkew,
                         ::testing::Values(SkewCase{"SenderSlow240", 240.24}, SkewCase{"SenderFast240", 239.76},
                                           SkewCase{"SenderSlow250", 250.25}, SkewCase{"SenderFast250", 249.75}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PlayoutBuffer, AFloodIsDroppedBeyondHalfASecondAndIsNotHeardLater)
{
    // 100 s of sound arriving within a tenth of a second.
    std::vector<sim::Arrival> arrivals;
    for (int k = 0; k < 417; ++k)
        arrivals.push_back({1000 + k * 0.24, std::vector<std::int16_t>(sim::kDatagramSamples, 8000)});
    PlayoutBuffer playout;
    const sim::Result result = sim::run(playout, arrivals, 6);
    EXPECT_LE(result.maxDepthSamples, PlayoutBuffer::kMaxDepthSamples);
    EXPECT_GT(playout.droppedSamples(), 90 * PlayoutBuffer::kSampleRate);
    EXPECT_EQ(sim::soundAfter(result.played, 1.1 + 3), 0.0) << "still playing 3 s after the flood";
}

TEST(PlayoutBuffer, AnOversizedDatagramKeepsOnlyItsNewestHalfSecond)
{
    PlayoutBuffer playout;
    std::vector<std::int16_t> huge(3 * PlayoutBuffer::kMaxDepthSamples, 1000);
    playout.push(huge, 0);
    EXPECT_LE(playout.depthSamples(), PlayoutBuffer::kMaxDepthSamples);
}

TEST(PlayoutBuffer, BeforeAnySoundAndAfterTheTalkerStopsItPlaysOnlyQuietNoise)
{
    PlayoutBuffer playout;
    std::vector<std::int16_t> out(800);
    playout.pull(out);
    for (const std::int16_t s : out)
        ASSERT_LE(std::abs(s), 120);

    Link l = link(240, 0);
    l.seconds = 10;
    l.talkerStopsAtSeconds = 5;
    PlayoutBuffer talking;
    const sim::Result result = sim::run(talking, l);
    EXPECT_EQ(sim::soundAfter(result.played, 5.3 + 0.5), 0.0) << "the last sound fades out within half a second";
    EXPECT_GT(sim::soundAfter(result.played, 0), 4.5);
}


class PlayoutLoss : public ::testing::TestWithParam<int> {};

// A lost datagram is concealed from the last pitch period, fading out; what
// follows comes back with a crossfade, never with a jump (a click).
TEST_P(PlayoutLoss, IsConcealedAndResumesWithoutAClick)
{
    Link l = link(240, 0);
    l.seconds = 10;
    std::vector<sim::Arrival> arrivals = sim::schedule(l);
    const int lost = GetParam();
    arrivals.erase(arrivals.begin() + 20, arrivals.begin() + 20 + lost);
    PlayoutBuffer playout;
    const sim::Result result = sim::run(playout, arrivals, 13);
    EXPECT_GT(playout.concealedSamples(), 0);
    // No step between neighbouring samples larger than the signal itself makes.
    int largestSignalStep = 0;
    for (std::int64_t n = 1; n < 8000; ++n)
        largestSignalStep = std::max(largestSignalStep, std::abs(sim::voicedSample(n) - sim::voicedSample(n - 1)));
    int largestStep = 0;
    for (std::size_t n = 1; n < result.played.size(); ++n)
        largestStep = std::max(largestStep, std::abs(result.played[n] - result.played[n - 1]));
    EXPECT_LE(largestStep, largestSignalStep * 2);
    // One datagram lost: the gap is bridged in part by sound, not by silence.
    const double silence = sim::silenceShare(result.played);
    EXPECT_LT(silence, 0.01 + lost * 0.2 / 10);
}

INSTANTIATE_TEST_SUITE_P(InARow, PlayoutLoss, ::testing::Values(1, 2, 3));

TEST(PlayoutBuffer, ABurstAfterAStallIsPlayedAndTheDepthComesBack)
{
    Link l = link(240, 0);
    l.seconds = 30;
    std::vector<sim::Arrival> arrivals = sim::schedule(l);
    // Datagrams 30 and 31 arrive together, late by one period.
    arrivals[30].atMs = arrivals[31].atMs;
    PlayoutBuffer playout;
    const sim::Result result = sim::run(playout, arrivals, 33);
    const auto& depth = result.depthMsAtArrivals;
    EXPECT_NEAR(meanOf(depth, depth.size() - 20, depth.size()), meanOf(depth, 10, 29), 30);
    EXPECT_LE(sim::silenceShare(result.played), 0.02);
}

} // namespace
} // namespace kavelo

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
    double maxConcealedMs;       // while the talk runs
    double maxSettledDepthMs;    // mean depth just before a datagram, after the first five seconds
    double speedNear;            // 0: the speed may follow the jitter
};

void PrintTo(const LinkCase& c, std::ostream* os)
{
    *os << c.name;
}

class PlayoutOnLinks : public ::testing::TestWithParam<LinkCase> {};

TEST_P(PlayoutOnLinks, SoundsContinuousWithoutNeedlessDelayOrChange)
{
    const LinkCase& c = GetParam();
    PlayoutBuffer playout;
    const sim::Result result = sim::run(playout, c.link);
    EXPECT_LE(sim::silenceShare(result.played), c.maxSilenceShare);
    EXPECT_LE(result.concealedMs, c.maxConcealedMs);
    const auto settledFrom = static_cast<std::size_t>(5000 / c.link.periodMs);
    const double settled = meanOf(result.depthMsAtArrivals, settledFrom, result.depthMsAtArrivals.size());
    EXPECT_LE(settled, c.maxSettledDepthMs);
    if (c.speedNear > 0) {
        // Sound from a sender paced as the sound it sends is played as it came.
        const auto [slowest, fastest] = std::minmax_element(result.speedAtArrivals.begin() + static_cast<std::ptrdiff_t>(settledFrom),
                                                            result.speedAtArrivals.end());
        EXPECT_NEAR(*slowest, c.speedNear, 0.01 * c.speedNear);
        EXPECT_NEAR(*fastest, c.speedNear, 0.01 * c.speedNear);
    }
}

Link link(double periodMs, int dropped, double jitterMs = 0, double loss = 0, double reorder = 0, int blocks = 6)
{
    Link l;
    l.datagramSamples = blocks * 320;
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
    ::testing::Values(LinkCase{"OneBlockEvery40ms", link(40, 0, 0, 0, 0, 1), 0.005, 0, 35, 1.0},
                      LinkCase{"TwoBlocksEvery80ms", link(80, 0, 0, 0, 0, 2), 0.005, 0, 35, 1.0},
                      LinkCase{"SixBlocksEvery240ms", link(240, 0), 0.005, 0, 35, 1.0},
                      // 240 ms of sound every 250 ms: its missing 10 ms are stretched in, never a gap.
                      LinkCase{"TwoThousandByteBuffersEvery250ms", link(250, 80), 0.005, 0, 35, 0.96},
                      LinkCase{"OneBlockJitterAndLoss", link(40, 0, 30, 0.02, 0, 1), 0.02, 1500, 150, 0},
                      LinkCase{"JitterAndLoss", link(240, 0, 30, 0.02), 0.02, 1500, 150, 0},
                      LinkCase{"JitterAndLossFrom250msSender", link(250, 80, 30, 0.02), 0.02, 1500, 150, 0},
                      LinkCase{"Reordering", link(240, 0, 10, 0, 0.05), 0.01, 1000, 100, 0},
                      LinkCase{"HeavyJitter", link(240, 0, 80), 0.05, 3000, 260, 0}),
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

struct LateCase {
    const char* name;
    int blocks;
    double periodMs;
    int late;  // datagrams held back together (a stall)
};

void PrintTo(const LateCase& c, std::ostream* os)
{
    *os << c.name;
}

class PlayoutAfterALateDatagram : public ::testing::TestWithParam<LateCase> {};

// A hiccup of the link (one datagram, or everything for a moment, 150 ms
// late) costs a short concealment; it does not leave the delay raised: ten
// seconds later the depth is where it was.
TEST_P(PlayoutAfterALateDatagram, CostsAMomentNotTheRestOfTheCall)
{
    const LateCase& c = GetParam();
    Link l = link(c.periodMs, 0, 2, 0, 0, c.blocks);
    l.seconds = 40;
    std::vector<sim::Arrival> arrivals = sim::schedule(l);
    const auto first = static_cast<std::size_t>(20'000 / c.periodMs);
    const double heldUntil = arrivals[first].atMs + 150;
    for (std::size_t k = first; k < first + static_cast<std::size_t>(c.late); ++k)
        arrivals[k].atMs = heldUntil;
    std::stable_sort(arrivals.begin(), arrivals.end(), [](const auto& a, const auto& b) { return a.atMs < b.atMs; });
    PlayoutBuffer playout;
    const sim::Result result = sim::run(playout, arrivals, 43);
    const auto& depth = result.depthMsAtArrivals;
    const auto perSecond = static_cast<std::size_t>(1000 / c.periodMs);
    const double before = meanOf(depth, first - 5 * perSecond, first);
    const double tenSecondsLater = meanOf(depth, first + 10 * perSecond, first + 15 * perSecond);
    EXPECT_NEAR(tenSecondsLater, before, 20) << "depth before " << before << " ms, ten seconds after " << tenSecondsLater;
    EXPECT_LE(result.concealedMs, 200);
    EXPECT_LE(sim::silenceShare(result.played), 0.01);
}

INSTANTIATE_TEST_SUITE_P(Hiccups, PlayoutAfterALateDatagram,
                         ::testing::Values(LateCase{"SixBlocks", 6, 240, 1}, LateCase{"SixBlocksStall", 6, 240, 2},
                                           LateCase{"OneBlockStall", 1, 40, 4}, LateCase{"TwoBlocksStall", 2, 80, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// When the talker breaks off, the last pitch period goes on briefly and is
// gone within 60 ms: what follows is the quiet of an open line, not a buzz.
TEST(PlayoutBuffer, ConcealmentIsSilentWithin60msOfTheGap)
{
    PlayoutBuffer playout;
    std::vector<std::int16_t> sound;
    for (int n = 0; n < 1920; ++n)
        sound.push_back(sim::voicedSample(n));
    playout.push(sound, 0);
    const int waiting = playout.depthSamples();
    std::vector<std::int16_t> out(static_cast<std::size_t>(waiting + 100 * PlayoutBuffer::kSamplesPerMs));
    playout.pull(out);
    const auto gap = out.begin() + waiting;
    const auto loudest = [](auto from, auto to) {
        int peak = 0;
        for (auto it = from; it != to; ++it)
            peak = std::max(peak, std::abs(int(*it)));
        return peak;
    };
    EXPECT_GT(loudest(gap, gap + 10 * PlayoutBuffer::kSamplesPerMs), 3000) << "the voice goes on into the gap";
    EXPECT_LE(loudest(gap + 60 * PlayoutBuffer::kSamplesPerMs, out.end()), 120) << "still sounding 60 ms into the gap";
    EXPECT_GT(playout.concealedSamples(), 0);
}

// After a pause, sound still waiting from before it is neither cut nor
// shortened: the talk starts again behind it.
TEST(PlayoutBuffer, ATalkResumingAboveTheTargetKeepsEverySample)
{
    PlayoutBuffer playout;
    const std::vector<std::int16_t> long_(3200, 1000);
    playout.push(long_, 0);
    const int before = playout.depthSamples();
    ASSERT_GT(before, static_cast<int>(playout.targetMs()) * PlayoutBuffer::kSamplesPerMs);
    const std::vector<std::int16_t> next(320, 2000);
    playout.push(next, 1500);
    EXPECT_EQ(playout.depthSamples(), before + 320);
    EXPECT_EQ(playout.droppedSamples(), 0);
}

} // namespace
} // namespace kavelo

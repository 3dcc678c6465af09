#include "voice/ArrivalTiming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

namespace kavelo {
namespace {

// A sender's datagrams: `soundMs` each, every `periodMs`, with half-normal
// network jitter; `late` (index, ms) holds one back, `lost` drops one.
struct Sender {
    double soundMs = 40;
    double periodMs = 40;
    double jitterMs = 0;
    int count = 500;
    int lateIndex = -1;
    double lateMs = 0;
    int lostIndex = -1;
};

ArrivalTiming replay(const Sender& s)
{
    std::mt19937 random(3);
    std::normal_distribution<double> jitter(0, 1);
    std::vector<double> arrivals;
    for (int k = 0; k < s.count; ++k) {
        if (k == s.lostIndex)
            continue;
        double at = 1000 + k * s.periodMs + std::abs(jitter(random)) * s.jitterMs;
        if (k == s.lateIndex)
            at += s.lateMs;
        arrivals.push_back(at);
    }
    std::sort(arrivals.begin(), arrivals.end());
    ArrivalTiming timing;
    bool first = true;
    for (const double at : arrivals) {
        timing.arrived(at, s.soundMs, !first);
        first = false;
    }
    return timing;
}

struct PaceCase {
    const char* name;
    Sender sender;
    double pace;
};

void PrintTo(const PaceCase& c, std::ostream* os)
{
    *os << c.name;
}

class LearnsThePace : public ::testing::TestWithParam<PaceCase> {};

TEST_P(LearnsThePace, FromTheSoundEachDatagramCarries)
{
    const ArrivalTiming timing = replay(GetParam().sender);
    EXPECT_NEAR(timing.pace(), GetParam().pace, 0.002);
}

Sender sender(double soundMs, double periodMs, double jitterMs = 0, int lost = -1)
{
    Sender s;
    s.soundMs = soundMs;
    s.periodMs = periodMs;
    s.jitterMs = jitterMs;
    s.lostIndex = lost;
    s.count = static_cast<int>(60'000 / periodMs);
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Senders, LearnsThePace,
    ::testing::Values(PaceCase{"OneBlock", sender(40, 40), 1.0}, PaceCase{"OneBlockJittery", sender(40, 40, 10), 1.0},
                      PaceCase{"SixBlocks", sender(240, 240), 1.0},
                      PaceCase{"SixBlocksEvery250ms", sender(240, 250), 250.0 / 240},
                      PaceCase{"SixBlocksEvery250msLosingOneLate", sender(240, 250, 5, 230), 250.0 / 240},
                      PaceCase{"ClockFast", sender(40, 39.96), 0.999}, PaceCase{"ClockSlow", sender(240, 250.25), 250.25 / 240}),
    [](const auto& info) { return std::string(info.param.name); });

// A late datagram is jitter a playout reserve must cover; a lost one is not
// (everything after it comes as late as it did, for the sound it carried is
// missing, not delayed). Neither is counted as the other.
// 30 datagrams of 240 ms, on time but for those in `lateMs` (index, ms) and
// those in `lost`.
ArrivalTiming sixBlockTalk(std::map<int, double> lateMs, std::set<int> lost)
{
    ArrivalTiming timing;
    for (int k = 0; k < 30; ++k) {
        if (!lost.contains(k))
            timing.arrived(1000 + k * 240 + (lateMs.contains(k) ? lateMs[k] : 0), 240, k > 0);
    }
    return timing;
}

TEST(ArrivalTiming, CountsALateDatagramAsLateAndALostOneAsNothing)
{
    EXPECT_NEAR(sixBlockTalk({{25, 150}}, {}).recentLatenessMs(), 0, 1)
        << "one late datagram among 26 judged is above the 95th percentile";
    EXPECT_NEAR(sixBlockTalk({{20, 150}, {24, 150}}, {}).recentLatenessMs(), 150, 1)
        << "two late datagrams among 28 judged are the 95th percentile";
    const ArrivalTiming afterLosses = sixBlockTalk({}, {10, 20});
    EXPECT_NEAR(afterLosses.recentLatenessMs(), 0, 1) << "losses were taken for lateness";
    EXPECT_GE(afterLosses.judged(), 25);
}

} // namespace
} // namespace kavelo

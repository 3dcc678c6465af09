#include "voice/EchoCanceller.h"
#include "voice/EchoRoomSimulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <string>

namespace kavelo {
namespace {

constexpr double kSamplesPerMs = StreamClock::kSamplesPerMs;

// ---- Alignment: which of the speaker's samples go with which microphone frame.

// Hands back the reference it was given with each frame, and leaves the
// microphone alone.
class RecordingEngine final : public EchoEngine {
public:
    explicit RecordingEngine(std::vector<std::vector<std::int16_t>>& references) : references_(references) {}
    void process(ConstFrame reference, Frame, bool) override { references_.emplace_back(reference.begin(), reference.end()); }

private:
    std::vector<std::vector<std::int16_t>>& references_;
};

// How the two sound streams of a call run, on one steady clock.
struct Streams {
    std::string name;
    // The speaker's sound is handed over this much ahead of being heard, in
    // pieces of this many samples, and the server's report of when is off by
    // up to `playJitterMs` either way.
    double playAheadMs = 40.0;
    int playPiece = 80;
    double playJitterMs = 0.0;
    // The microphone's pieces come this long after their first sample was recorded.
    double recordBehindMs = 40.0;
    int recordPiece = 320;
    double recordJitterMs = 0.0;
    // The speaker's device runs this much fast against the microphone's.
    double playDriftPpm = 0.0;
    // Every so many reports of each stream, one comes this late (a loop
    // thread that ran late).
    int strayReportEvery = 0;
    double strayReportMs = 0.0;
};

// Each sample's value is its index in the speaker's stream (modulo 30000), so
// a reference frame says which samples it holds. Runs `seconds` of a call and
// answers, for each microphone frame, where its reference starts relative to
// what was heard kLeadMs after the frame was recorded, in samples (nullopt
// for a frame with no sound played yet).
struct AlignmentRun {
    std::vector<double> offsets;
    std::int64_t realignments = 0;
    int discontinuities = 0;
};

AlignmentRun runAlignment(const Streams& s, double seconds)
{
    std::vector<std::vector<std::int16_t>> references;
    EchoCanceller canceller(std::make_unique<RecordingEngine>(references));
    std::mt19937 random(7);
    std::uniform_real_distribution<double> playJitter(-s.playJitterMs, s.playJitterMs);
    std::uniform_real_distribution<double> recordJitter(-s.recordJitterMs, s.recordJitterMs);
    const double playRate = kSamplesPerMs * (1.0 + s.playDriftPpm * 1e-6);

    std::int64_t played = 0;
    std::int64_t recorded = 0;
    std::vector<std::int16_t> out;
    const double startPlayMs = 1000.0;
    const auto heardAt = [&](std::int64_t index) { return startPlayMs + static_cast<double>(index) / playRate; };
    for (double now = 0.0; now < seconds * 1000.0; now += 1.0) {
        // Hand over what is heard within playAheadMs from now.
        while (heardAt(played) <= now + s.playAheadMs) {
            std::vector<std::int16_t> piece(static_cast<std::size_t>(s.playPiece));
            for (int i = 0; i < s.playPiece; ++i)
                piece[static_cast<std::size_t>(i)] = static_cast<std::int16_t>((played + i) % 30000);
            const bool stray = s.strayReportEvery > 0 && (played / s.playPiece) % s.strayReportEvery == 3;
            canceller.played(piece, heardAt(played) + playJitter(random) + (stray ? s.strayReportMs : 0.0));
            played += s.playPiece;
        }
        // Take what was recorded recordBehindMs ago.
        const auto due = static_cast<std::int64_t>((now - s.recordBehindMs) * kSamplesPerMs);
        while (recorded + s.recordPiece <= due) {
            const std::vector<std::int16_t> piece(static_cast<std::size_t>(s.recordPiece));
            const double firstMs = static_cast<double>(recorded) / kSamplesPerMs;
            const bool stray = s.strayReportEvery > 0 && (recorded / s.recordPiece) % s.strayReportEvery == 5;
            canceller.record(piece, firstMs + recordJitter(random) + (stray ? s.strayReportMs : 0.0), out);
            recorded += s.recordPiece;
        }
    }
    AlignmentRun run;
    run.realignments = canceller.realignments();
    // Every microphone sample comes out, but for a part frame at the end.
    EXPECT_EQ(out.size(), static_cast<std::size_t>(recorded - recorded % 80));
    EXPECT_EQ(references.size(), out.size() / 80);
    for (std::size_t k = 0; k < references.size(); ++k) {
        const double wantedMs = static_cast<double>(k) * 10.0 + EchoCanceller::kLeadMs;
        if (wantedMs < startPlayMs + 20.0)
            continue;
        const double wantedIndex = (wantedMs - startPlayMs) * playRate;
        double offset = references[k][0] - std::fmod(wantedIndex, 30000.0);
        if (offset > 15000)
            offset -= 30000;
        if (offset < -15000)
            offset += 30000;
        run.offsets.push_back(offset);
        if (k > 0 && references[k - 1][0] != 0 && (references[k - 1][79] + 1) % 30000 != references[k][0])
            ++run.discontinuities;
    }
    return run;
}

class EchoAlignment : public ::testing::TestWithParam<Streams> {};

TEST_P(EchoAlignment, TheReferenceIsWhatWasHeardJustAfterEachFrameAndRunsOnUnbroken)
{
    const Streams& streams = GetParam();
    const AlignmentRun run = runAlignment(streams, 60.0);
    ASSERT_GT(run.offsets.size(), 5000u);
    // Within what is left of the reports' jitter, and where the clocks drift
    // apart, within the stray allowed before the reference is moved.
    const double strayAllowed = streams.playDriftPpm != 0.0 ? EchoCanceller::kStrayMs : 0.0;
    const double allowed = (strayAllowed + 1.0 + std::max(streams.playJitterMs, streams.recordJitterMs)) * kSamplesPerMs;
    const auto [least, most] = std::minmax_element(run.offsets.begin(), run.offsets.end());
    EXPECT_GE(*least, -allowed) << streams.name;
    EXPECT_LE(*most, allowed) << streams.name;
    // Moved only as far as the clocks drift apart: each move is a small
    // break in the reference, which the engine has to learn again.
    const double drift = std::abs(streams.playDriftPpm) * 1e-6 * 60.0 * 8000.0;
    EXPECT_LE(run.realignments, static_cast<std::int64_t>(drift + 2 * allowed)) << streams.name;
    EXPECT_LE(run.discontinuities, static_cast<int>(drift / (EchoCanceller::kStrayMs * kSamplesPerMs)) + 2) << streams.name;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, EchoAlignment,
    ::testing::Values(Streams{.name = "exact"},
                      Streams{.name = "jittery reports", .playJitterMs = 4.0, .recordJitterMs = 4.0},
                      Streams{.name = "small pieces and long delays", .playAheadMs = 120.0, .playPiece = 37, .recordBehindMs = 90.0, .recordPiece = 50},
                      Streams{.name = "playback 100 ppm fast", .playJitterMs = 2.0, .recordJitterMs = 2.0, .playDriftPpm = 100.0},
                      Streams{.name = "playback 300 ppm slow", .playJitterMs = 2.0, .playDriftPpm = -300.0},
                      Streams{.name = "a stray report now and then", .playJitterMs = 2.0, .recordJitterMs = 2.0, .strayReportEvery = 7, .strayReportMs = 45.0}),
    [](const auto& info) {
        std::string name = info.param.name;
        std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
        return name;
    });

TEST(EchoAlignment, APlaybackThatStartsAnewIsFollowedAtOnceAndItsOldSoundNeverUsed)
{
    std::vector<std::vector<std::int16_t>> references;
    EchoCanceller canceller(std::make_unique<RecordingEngine>(references));
    std::vector<std::int16_t> out;
    const std::vector<std::int16_t> old(800, 1000);
    const std::vector<std::int16_t> fresh(800, 2000);
    const std::vector<std::int16_t> microphone(80);
    // The first stream is heard from 0 to 100 ms; a new one from 500 ms on,
    // handed over in 10 ms pieces as a device does: its times are believed
    // from its fourth piece on. The microphone records all along.
    canceller.played(old, 0.0);
    const auto recordUntil = [&](double until) {
        for (double ms = static_cast<double>(references.size()) * 10.0; ms <= until; ms += 10.0)
            canceller.record(microphone, ms, out);
    };
    recordUntil(40.0);
    EXPECT_EQ(references.back()[0], 1000);
    for (int piece = 0; piece < 10; ++piece)
        canceller.played(std::span(fresh).subspan(static_cast<std::size_t>(piece) * 80, 80), 500.0 + piece * 10.0);
    // Between the streams nothing was heard.
    recordUntil(200.0);
    EXPECT_EQ(references.back()[0], 0);
    EXPECT_EQ(references.back()[79], 0);
    recordUntil(540.0);
    EXPECT_EQ(references.back()[0], 2000);
}

TEST(EchoAlignment, WithNothingPlayedOrCancellingOffTheReferenceIsSilence)
{
    std::vector<std::vector<std::int16_t>> references;
    EchoCanceller canceller(std::make_unique<RecordingEngine>(references));
    std::vector<std::int16_t> out;
    const std::vector<std::int16_t> microphone(240, 5);
    canceller.record(microphone, 0.0, out);
    canceller.played(std::vector<std::int16_t>(800, 700), 30.0);
    canceller.setCancelling(false);
    canceller.record(microphone, 30.0, out);
    ASSERT_EQ(references.size(), 6u);
    for (const auto& reference : references)
        EXPECT_TRUE(std::all_of(reference.begin(), reference.end(), [](std::int16_t s) { return s == 0; }));
    EXPECT_EQ(out, std::vector<std::int16_t>(480, 5));
}

TEST(EchoAlignment, SoundPlayedBeforeTheServerSaidWhenIsPlacedByTheFirstTimeItGives)
{
    std::vector<std::vector<std::int16_t>> references;
    EchoCanceller canceller(std::make_unique<RecordingEngine>(references));
    std::vector<std::int16_t> out;
    const std::vector<std::int16_t> microphone(80);
    canceller.played(std::vector<std::int16_t>(80, 500), std::nullopt);
    canceller.record(microphone, 70.0, out);
    EXPECT_EQ(references.back()[0], 0) << "nothing is placed before a time is known";
    // The second piece is heard from 100 ms, so the first one from 90 ms:
    // what the frame recorded at 80 ms goes with.
    canceller.played(std::vector<std::int16_t>(80, 600), 100.0);
    canceller.record(microphone, 80.0, out);
    EXPECT_EQ(references.back()[0], 500);
    canceller.record(microphone, 90.0, out);
    EXPECT_EQ(references.back()[0], 600);
    // A microphone without a time yet is cleaned all the same.
    canceller.record(microphone, std::nullopt, out);
    EXPECT_EQ(out.size(), 320u);
}

TEST(EchoAlignment, APartFrameWaitsForTheRestOfItsSound)
{
    std::vector<std::vector<std::int16_t>> references;
    EchoCanceller canceller(std::make_unique<RecordingEngine>(references));
    std::vector<std::int16_t> out;
    canceller.record(std::vector<std::int16_t>(50, 1), 0.0, out);
    EXPECT_TRUE(out.empty());
    canceller.record(std::vector<std::int16_t>(50, 2), 6.25, out);
    ASSERT_EQ(out.size(), 80u);
    EXPECT_EQ(out[49], 1);
    EXPECT_EQ(out[50], 2);
}

// ---- The engines on a room: what the far side would hear back.

struct Room {
    std::string engine;
    std::function<std::unique_ptr<EchoEngine>()> make;
    // The echo's path from the speaker to the microphone, beyond the
    // reference's alignment: the room's delay, 6 dB down, with a little reverb.
    double delayMs = 30.0;
};

class EchoInARoom : public ::testing::TestWithParam<Room> {};

TEST_P(EchoInARoom, TheFarSideHearsLittleOfItselfAfterTwoSecondsAndTheNearTalkerWhole)
{
    const Room& room = GetParam();
    const std::size_t second = EchoEngine::kRate;
    const auto far = sim::speechLike(12.0, 120.0, 1);
    std::vector<double> quiet(far.size(), 0.0);
    // The far side talks alone for 8 s; then the near talker too.
    auto nearLate = sim::speechLike(12.0, 210.0, 2);
    std::fill(nearLate.begin(), nearLate.begin() + 8 * static_cast<std::ptrdiff_t>(second), 0.0);
    auto farEarly = far;
    const auto heard = sim::throughRoom(room.make(), room.delayMs, farEarly, nearLate, true);

    const double farLevel = sim::levelDb(far, 2 * second, 8 * second);
    const double echo = sim::levelDb(heard, 2 * second, 8 * second) - farLevel;
    // Measured: -44 dB (30 ms room) and -42 dB (100 ms); with nothing taken
    // out the echo reads -6 dB, and with the shorter filter -23 dB.
    EXPECT_LE(echo, -35.0) << room.engine;

    // The near talker alone through the same engine, against both at once:
    // measured 2.4-2.8 dB apart (12 dB with the library's default suppression).
    const auto nearAlone = sim::throughRoom(room.make(), room.delayMs, quiet, nearLate, true);
    const double alone = sim::levelDb(nearAlone, 8 * second + second / 2, 12 * second);
    const double together = sim::levelDb(heard, 8 * second + second / 2, 12 * second);
    EXPECT_NEAR(together, alone, 3.0) << room.engine << ": double talk";
}

TEST_P(EchoInARoom, WithCancellingOffTheEchoGoesThrough)
{
    const Room& room = GetParam();
    const std::size_t second = EchoEngine::kRate;
    const auto far = sim::speechLike(6.0, 120.0, 1);
    const std::vector<double> quiet(far.size(), 0.0);
    const auto heard = sim::throughRoom(room.make(), room.delayMs, far, quiet, false);
    const double echo = sim::levelDb(heard, 2 * second, 6 * second) - sim::levelDb(far, 2 * second, 6 * second);
    EXPECT_GE(echo, -15.0) << room.engine;
}

INSTANTIATE_TEST_SUITE_P(Engines, EchoInARoom,
                         ::testing::Values(Room{"room_30ms", makeWebRtcEchoEngine}, Room{"room_100ms", makeWebRtcEchoEngine, 100.0}),
                         [](const auto& info) { return info.param.engine; });

TEST(EchoEngineLevel, AQuietTalkerIsRaisedAndSteadyNoiseLoweredAgainstTheTalk)
{
    const std::size_t second = EchoEngine::kRate;
    auto engine = makeWebRtcEchoEngine();
    // -40 dBFS speech, then -50 dBFS steady noise alone.
    auto talk = sim::speechLike(8.0, 150.0, 4);
    for (double& s : talk)
        s *= 0.01;
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.0, 0.00316 * 32768.0);
    std::vector<double> sound = talk;
    for (std::size_t n = 0; n < 6 * second; ++n)
        sound.push_back(noise(random));
    std::vector<double> heard;
    const std::array<std::int16_t, 80> silence{};
    for (std::size_t at = 0; at + 80 <= sound.size(); at += 80) {
        std::array<std::int16_t, 80> frame;
        for (std::size_t i = 0; i < 80; ++i)
            frame[i] = static_cast<std::int16_t>(sound[at + i]);
        engine->process(silence, frame, true);
        heard.insert(heard.end(), frame.begin(), frame.end());
    }
    const double raised = sim::levelDb(heard, 4 * second, 8 * second) - sim::levelDb(sound, 4 * second, 8 * second);
    // Measured: raised 12 dB, the noise then 9 dB lower against the talk than
    // it went in (3 dB with the library's lowest level, which this catches).
    EXPECT_GE(raised, 6.0) << "a quiet talker is raised";
    const double noiseChange = sim::levelDb(heard, 11 * second, 14 * second) - sim::levelDb(sound, 11 * second, 14 * second);
    EXPECT_GE(raised - noiseChange, 6.0) << "the noise is lowered against the talk";
}

} // namespace
} // namespace kavelo

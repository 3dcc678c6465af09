// While a call plays, the speaker's sink (on PipeWire, the whole graph) runs at
// the pace the playback stream asks for. A stream that leaves the server no room between what it holds and
// what it refills drives the sink at its shortest period (half a millisecond on
// a null sink), and the sound server then spends a tenth of a core on one call.
#include "DeviceTestSupport.h"
#include "support/TestSupport.h"

#include "voice/GsmCodec.h"
#include "platform/pulse/PulseAudioBackend.h"

#include <algorithm>

namespace kavelo::test {
namespace {

constexpr std::size_t kDatagramBytes = 6 * GsmCodec::kBlockBytes; // a quarter second of sound

class PulsePlaybackPaceTest : public SoundServerTest {};

TEST_F(PulsePlaybackPaceTest, ASpeakerNobodyElseUsesRunsAtAPeriodOfMillisecondsNotAtItsShortest)
{
    PrivateNullSink speaker(QStringLiteral("quietspeaker"));
    ASSERT_TRUE(speaker.loaded()) << "pactl cannot load a null sink";
    const bool pipeWire = soundServerIsPipeWire();
    const double idlePeriod = pipeWire ? 0 : speaker.configuredLatencyUsec();
    ASSERT_TRUE(pipeWire || idlePeriod > 0) << "pactl does not report the sink's latency";

    MessageLog log;
    std::unique_ptr<WaveOutDevice> device;
    ASSERT_EQ(makePulseAudioBackend({{}, {}, speaker.sink()})->openWaveOut(device, gsm610(), log.target()), MMSYSERR_NOERROR);

    // Two seconds of speech, written at once as a call's datagrams would be after a stall.
    const EncodedSpeech encoded = encodeSpeech();
    ASSERT_GE(encoded.blocks.size(), 8 * kDatagramBytes);
    std::vector<std::unique_ptr<OwnedHeader>> buffers;
    for (int i = 0; i < 8; ++i) {
        buffers.push_back(std::make_unique<OwnedHeader>(kDatagramBytes));
        const auto from = encoded.blocks.begin() + static_cast<std::ptrdiff_t>(i * kDatagramBytes);
        std::copy(from, from + static_cast<std::ptrdiff_t>(kDatagramBytes), buffers.back()->data.begin());
        ASSERT_EQ(device->prepareHeader(buffers.back()->header), MMSYSERR_NOERROR);
        ASSERT_EQ(device->write(buffers.back()->header), MMSYSERR_NOERROR);
    }
    processEventsFor(700); // well into the sound, the stream's latency settled at the sink
    // PipeWire's graph runs at the shortest period any stream asks for.
    const double playingPeriod =
        pipeWire ? pipeWirePeriodAskedUsec(QStringLiteral("Kavelo call")) : speaker.configuredLatencyUsec();
    EXPECT_EQ(device->reset(), MMSYSERR_NOERROR);
    EXPECT_EQ(device->close(), MMSYSERR_NOERROR);

    if (!pipeWire) {
        EXPECT_LT(playingPeriod, idlePeriod) << "the stream did not set the sink's pace at all";
    }
    // At least 10 ms a period; at most what the stream holds ahead of the speaker.
    EXPECT_GE(playingPeriod, 10'000) << "the sink renders every " << playingPeriod << " us";
    EXPECT_LE(playingPeriod, 80'000) << "the sink renders every " << playingPeriod << " us";
}

} // namespace
} // namespace kavelo::test

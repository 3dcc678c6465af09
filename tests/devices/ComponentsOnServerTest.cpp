#include "DeviceTestSupport.h"
#include "support/TestSupport.h"

#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"
#include "voice/GsmCodec.h"
#include "platform/pulse/PulseAudioBackend.h"

#include <algorithm>

namespace kavelo::test {
namespace {

// The capture and playback components as the main window uses them, on the
// server's default source and sink (device 0).
class ComponentsOnServerTest : public SoundServerTest {
protected:
    void SetUp() override
    {
        SoundServerTest::SetUp();
        if (HasFatalFailure())
            return;
        // The devices as they record: the call's cleaning is the echo path's business.
        setDefaultAudioBackend(makePulseAudioBackend(PulseEndpoints{.server = {}, .source = {}, .sink = {}, .cleanMicrophone = false}));
    }
    void TearDown() override
    {
        setDefaultAudioBackend(nullptr);
        SoundServerTest::TearDown();
    }

    QObject owner;
};

TEST_F(ComponentsOnServerTest, CaptureDeliversTheSpokenWordsInEventsOf2000Bytes)
{
    AudioCapture capture(&owner);
    capture.setBufferSize(2000);
    capture.setNumBuffers(10);
    std::vector<qint32> sizes;
    std::vector<std::uint8_t> recorded;
    capture.OnBufferFull = [&](QObject* sender, const void* data, qint32 size) {
        EXPECT_EQ(sender, &capture);
        sizes.push_back(size);
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        recorded.insert(recorded.end(), bytes, bytes + size);
    };
    capture.Open(pcm8kU8());
    ASSERT_TRUE(capture.Active());
    ASSERT_TRUE(processEventsUntil([&] { return !sizes.empty(); }, 5000)) << "the microphone records nothing";

    feedSpeechToMicrophone();
    if (HasFatalFailure())
        return;
    processEventsFor(1000);
    capture.Close();
    const std::size_t delivered = sizes.size();
    processEventsFor(300);
    EXPECT_EQ(sizes.size(), delivered) << "an event after Close";

    EXPECT_TRUE(std::all_of(sizes.begin(), sizes.end(), [](qint32 n) { return n == 2000; }));
    const int span = loudBufferSpan(recorded, 2000);
    ASSERT_GT(span, 0) << "no speech was recorded";
    EXPECT_NEAR(span, spokenBuffers(2000), 2.0);
    EXPECT_GE(alignedCorrelation(centredU8(speech().samples), centredU8(recorded)), 0.9);
}

TEST_F(ComponentsOnServerTest, PlaybackOfGsmBlocksSoundsAsTheDecodedSpeech)
{
    const EncodedSpeech encoded = encodeSpeech();
    SpeakerRecorder recorder;
    ASSERT_TRUE(recorder.started());
    processEventsFor(800);

    AudioPlayback playback(&owner);
    int played = 0;
    playback.OnBufferPlayed = [&](QObject*) { ++played; };
    playback.setNumBuffers(0);
    playback.Open(gsm610());
    ASSERT_TRUE(playback.Active());
    // One voice datagram every 240 ms, as the receive dispatch hands them over.
    const std::size_t datagram = 6 * GsmCodec::kBlockBytes;
    int blocks = 0;
    for (std::size_t at = 0; at < encoded.blocks.size(); at += datagram, ++blocks) {
        if (at > 0)
            processEventsFor(240);
        playback.Play(encoded.blocks.data() + at, static_cast<qint32>(std::min(datagram, encoded.blocks.size() - at)));
    }
    ASSERT_TRUE(processEventsUntil([&] { return played == blocks; }, 30000));
    processEventsFor(700);
    playback.Close();
    const std::vector<std::int16_t> heard = recorder.stop();

    EXPECT_GE(piecewiseCorrelation(fromS16(encoded.decoded), fromS16(heard)), 0.9);
}

} // namespace
} // namespace kavelo::test

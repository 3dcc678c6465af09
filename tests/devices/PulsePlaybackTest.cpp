#include "DeviceTestSupport.h"
#include "support/TestSupport.h"

#include "voice/GsmCodec.h"
#include "platform/pulse/PulseAudioBackend.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace kavelo::test {
namespace {

constexpr std::size_t kBlocksPerWrite = 6; // 390 bytes, a voice datagram

class PulsePlaybackTest : public SoundServerTest {
protected:
    void SetUp() override
    {
        SoundServerTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_EQ(makePulseAudioBackend()->openWaveOut(device, gsm610(), log.target()), MMSYSERR_NOERROR);
    }

    WaveHeader& write(const std::uint8_t* bytes, std::size_t size)
    {
        buffers.push_back(std::make_unique<OwnedHeader>(size));
        std::copy(bytes, bytes + size, buffers.back()->data.begin());
        WaveHeader& header = buffers.back()->header;
        EXPECT_EQ(device->prepareHeader(header), MMSYSERR_NOERROR);
        EXPECT_EQ(device->write(header), MMSYSERR_NOERROR);
        return header;
    }

    void expectAllDoneInOrder()
    {
        ASSERT_EQ(log.messages.size(), buffers.size());
        for (std::size_t i = 0; i < buffers.size(); ++i) {
            EXPECT_EQ(log.messages[i].number, kMmWomDone);
            EXPECT_EQ(log.messages[i].wParam, device->id());
            EXPECT_EQ(log.messages[i].lParam, reinterpret_cast<qintptr>(&buffers[i]->header)) << "at " << i;
            EXPECT_TRUE(buffers[i]->header.dwFlags & WHDR_DONE);
            EXPECT_FALSE(buffers[i]->header.dwFlags & WHDR_INQUEUE);
        }
    }

    MessageLog log;
    std::unique_ptr<WaveOutDevice> device;
    std::vector<std::unique_ptr<OwnedHeader>> buffers;
};

TEST_F(PulsePlaybackTest, GsmBlocksComeOutOfTheSpeakerAsTheDecodedSpeech)
{
    const EncodedSpeech encoded = encodeSpeech();
    ASSERT_GT(encoded.decoded.size(), 8000u);
    SpeakerRecorder recorder;
    ASSERT_TRUE(recorder.started());
    processEventsFor(800); // the recorder's stream gets going

    // One datagram every 240 ms, as a talker sends them. Each write carries a
    // few bytes past its whole blocks; the device must drop them, or every
    // later block would be decoded from the wrong place.
    const std::size_t chunk = kBlocksPerWrite * GsmCodec::kBlockBytes;
    for (std::size_t at = 0; at < encoded.blocks.size(); at += chunk) {
        if (at > 0)
            processEventsFor(240);
        std::vector<std::uint8_t> bytes(encoded.blocks.begin() + static_cast<std::ptrdiff_t>(at),
                                        encoded.blocks.begin()
                                            + static_cast<std::ptrdiff_t>(std::min(at + chunk, encoded.blocks.size())));
        bytes.insert(bytes.end(), {0xDE, 0xAD, 0xBE, 0xEF, 0x55, 0xAA, 0x01});
        write(bytes.data(), bytes.size());
    }
    ASSERT_TRUE(processEventsUntil([&] { return log.messages.size() == buffers.size(); }, 30000));
    processEventsFor(700); // what was handed over last still plays
    const std::vector<std::int16_t> heard = recorder.stop();

    expectAllDoneInOrder();
    EXPECT_GE(piecewiseCorrelation(fromS16(encoded.decoded), fromS16(heard)), 0.9);
}

TEST_F(PulsePlaybackTest, VoiceBuffersAreDoneAtOnceAndAFloodIsNotQueued)
{
    const EncodedSpeech encoded = encodeSpeech();
    const std::size_t chunk = kBlocksPerWrite * GsmCodec::kBlockBytes;
    const std::size_t datagrams = encoded.blocks.size() / chunk;
    ASSERT_GE(datagrams, 8u);
    SpeakerRecorder recorder;
    ASSERT_TRUE(recorder.started());
    processEventsFor(800);

    // 100 s of sound arriving within moments, as from a flooding sender.
    for (std::size_t i = 0; i < 417; ++i)
        write(encoded.blocks.data() + (i % datagrams) * chunk, chunk);
    ASSERT_TRUE(processEventsUntil([&] { return log.messages.size() == buffers.size(); }, 2000))
        << "voice buffers wait at the device";
    expectAllDoneInOrder();
    processEventsFor(4500);
    const std::vector<std::int16_t> heard = recorder.stop();

    ASSERT_GT(heard.size(), 8000u);
    const auto loud = [](std::int16_t s) { return std::abs(int(s)) > 2000; };
    EXPECT_TRUE(std::any_of(heard.begin(), heard.end(), loud)) << "the flood was not heard at all";
    // The last second lies well past the half second the device keeps: only
    // the quiet comfort noise of an open line is left.
    EXPECT_TRUE(std::none_of(heard.end() - 8000, heard.end(), loud)) << "the flood is still playing";
}

TEST_F(PulsePlaybackTest, ResetStopsAtOnceAndReturnsEveryQueuedBufferAsDone)
{
    // Plain sound (the ring) waits in the device's queue until it is played.
    std::unique_ptr<WaveOutDevice> ring;
    ASSERT_EQ(makePulseAudioBackend()->openWaveOut(ring, pcm8kU8(), log.target()), MMSYSERR_NOERROR);
    constexpr std::size_t kQuarterSecond = 2000;
    for (std::size_t i = 0; i < 10; ++i) {
        buffers.push_back(std::make_unique<OwnedHeader>(kQuarterSecond, 0x90));
        ASSERT_EQ(ring->prepareHeader(buffers.back()->header), MMSYSERR_NOERROR);
        ASSERT_EQ(ring->write(buffers.back()->header), MMSYSERR_NOERROR);
    }
    processEventsFor(200);
    ASSERT_LT(log.messages.size(), buffers.size()) << "2.5 s of sound was done within 200 ms";

    ASSERT_EQ(ring->reset(), MMSYSERR_NOERROR);
    ASSERT_TRUE(processEventsUntil([&] { return log.messages.size() == buffers.size(); }, 2000));
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        EXPECT_EQ(log.messages[i].wParam, ring->id());
        EXPECT_EQ(log.messages[i].lParam, reinterpret_cast<qintptr>(&buffers[i]->header)) << "at " << i;
        EXPECT_TRUE(buffers[i]->header.dwFlags & WHDR_DONE);
    }

    // The device plays on after a reset.
    log.settleAndClear();
    buffers.clear();
    buffers.push_back(std::make_unique<OwnedHeader>(kQuarterSecond, 0x90));
    ASSERT_EQ(ring->prepareHeader(buffers.back()->header), MMSYSERR_NOERROR);
    ASSERT_EQ(ring->write(buffers.back()->header), MMSYSERR_NOERROR);
    EXPECT_TRUE(processEventsUntil([&] { return log.messages.size() == 1; }, 5000));
    EXPECT_EQ(ring->close(), MMSYSERR_NOERROR);
}

TEST_F(PulsePlaybackTest, AfterCloseNothingIsPostedAndNoHeaderIsTouched)
{
    const EncodedSpeech encoded = encodeSpeech();
    const std::size_t chunk = kBlocksPerWrite * GsmCodec::kBlockBytes;
    for (std::size_t i = 0; i < 8; ++i)
        write(encoded.blocks.data() + i * chunk, chunk);
    processEventsFor(100);

    ASSERT_EQ(device->close(), MMSYSERR_NOERROR);
    log.settleAndClear();
    for (auto& buffer : buffers) {
        buffer->header.dwFlags = 0x4000;
        std::fill(buffer->data.begin(), buffer->data.end(), 'k');
    }
    processEventsFor(700);
    EXPECT_TRUE(log.messages.empty());
    for (const auto& buffer : buffers)
        EXPECT_EQ(buffer->header.dwFlags, 0x4000u);
    EXPECT_EQ(device->write(buffers[0]->header), MMSYSERR_INVALHANDLE);
}

TEST_F(PulsePlaybackTest, WriteWithoutAWholeBlockIsDoneWithoutSound)
{
    const std::uint8_t partial[10] = {};
    write(partial, sizeof partial);
    EXPECT_TRUE(processEventsUntil([&] { return log.messages.size() == 1; }, 2000));
    expectAllDoneInOrder();
}

TEST_F(PulsePlaybackTest, BufferMustBePrepared)
{
    OwnedHeader buffer(390);
    EXPECT_EQ(device->write(buffer.header), 34u);
    EXPECT_TRUE(log.messages.empty());
}

} // namespace
} // namespace kavelo::test

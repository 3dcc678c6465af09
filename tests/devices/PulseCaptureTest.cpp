#include "DeviceTestSupport.h"
#include "support/TestSupport.h"

#include "platform/pulse/PulseAudioBackend.h"

#include <algorithm>
#include <cstdlib>

namespace kavelo::test {
namespace {

constexpr std::size_t kBufferBytes = 2000;

class PulseCaptureTest : public SoundServerTest {
protected:
    void SetUp() override
    {
        SoundServerTest::SetUp();
        if (HasFatalFailure())
            return;
        // The device as it records: the call's cleaning is the echo path's business.
        ASSERT_EQ(makePulseAudioBackend(PulseEndpoints{.server = {}, .source = {}, .sink = {}, .cleanMicrophone = false})->openWaveIn(device, pcm8kU8(), log.target()),
                  MMSYSERR_NOERROR);
    }

    void queue(std::size_t count, std::size_t size)
    {
        for (std::size_t i = 0; i < count; ++i) {
            buffers.push_back(std::make_unique<OwnedHeader>(size));
            ASSERT_EQ(device->prepareHeader(buffers.back()->header), MMSYSERR_NOERROR);
            ASSERT_EQ(device->addBuffer(buffers.back()->header), MMSYSERR_NOERROR);
        }
    }

    // Puts every returned buffer back, as the capture component does.
    void keepCirculating()
    {
        log.onMessage = [this](const NotificationMessage& message) {
            auto* header = reinterpret_cast<WaveHeader*>(message.lParam);
            EXPECT_EQ(message.number, kMmWimData);
            EXPECT_EQ(message.wParam, device->id());
            EXPECT_TRUE(header->dwFlags & WHDR_DONE);
            sizes.push_back(header->dwBytesRecorded);
            recorded.insert(recorded.end(), header->lpData, header->lpData + header->dwBytesRecorded);
            EXPECT_EQ(device->unprepareHeader(*header), MMSYSERR_NOERROR);
            header->dwBytesRecorded = 0;
            header->dwFlags = 0;
            EXPECT_EQ(device->prepareHeader(*header), MMSYSERR_NOERROR);
            EXPECT_EQ(device->addBuffer(*header), MMSYSERR_NOERROR);
        };
    }

    MessageLog log;
    std::unique_ptr<WaveInDevice> device;
    std::vector<std::unique_ptr<OwnedHeader>> buffers;
    std::vector<std::uint32_t> sizes;
    std::vector<std::uint8_t> recorded;
};

TEST_F(PulseCaptureTest, SpeechFedToTheMicrophoneArrivesInWholeBuffersAboutFourPerSecond)
{
    const Speech& spoken = speech();
    ASSERT_GT(spoken.samples.size(), 8000u);
    queue(10, kBufferBytes);
    keepCirculating();
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(processEventsUntil([&] { return !sizes.empty(); }, 5000)) << "the microphone records nothing";

    feedSpeechToMicrophone();
    if (HasFatalFailure())
        return;
    processEventsFor(1000);
    log.onMessage = nullptr;
    ASSERT_EQ(device->reset(), MMSYSERR_NOERROR);
    ASSERT_EQ(device->close(), MMSYSERR_NOERROR);

    EXPECT_TRUE(std::all_of(sizes.begin(), sizes.end(), [](std::uint32_t n) { return n == kBufferBytes; }));

    // The speech spans as many buffers as its bytes fill: 8000 bytes, four buffers, per second.
    const int span = loudBufferSpan(recorded, kBufferBytes);
    ASSERT_GT(span, 0) << "no speech was recorded";
    EXPECT_NEAR(span, spokenBuffers(kBufferBytes), 2.0);

    EXPECT_GE(alignedCorrelation(centredU8(spoken.samples), centredU8(recorded)), 0.9);
}

TEST_F(PulseCaptureTest, ResetReturnsEveryQueuedBufferAsDoneWithTheBytesRecordedSoFar)
{
    queue(1, kBufferBytes);
    queue(3, 16000);
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(processEventsUntil([&] { return log.messages.size() == 1; }, 5000));
    processEventsFor(800);
    ASSERT_EQ(log.messages.size(), 1u) << "a two-second buffer came back early";

    ASSERT_EQ(device->reset(), MMSYSERR_NOERROR);
    // Returned by reset() itself, before any message is handled.
    for (const auto& buffer : buffers) {
        EXPECT_TRUE(buffer->header.dwFlags & WHDR_DONE);
        EXPECT_FALSE(buffer->header.dwFlags & WHDR_INQUEUE);
    }
    EXPECT_GT(buffers[1]->header.dwBytesRecorded, 0u);
    EXPECT_LT(buffers[1]->header.dwBytesRecorded, 16000u);
    EXPECT_EQ(buffers[2]->header.dwBytesRecorded, 0u);

    ASSERT_TRUE(processEventsUntil([&] { return log.messages.size() == 4; }, 2000));
    for (std::size_t i = 0; i < buffers.size(); ++i) {
        EXPECT_EQ(log.messages[i].number, kMmWimData);
        EXPECT_EQ(log.messages[i].wParam, device->id());
        EXPECT_EQ(log.messages[i].lParam, reinterpret_cast<qintptr>(&buffers[i]->header)) << "out of order at " << i;
    }
    // A reset device records again once restarted.
    for (auto& buffer : buffers) {
        ASSERT_EQ(device->unprepareHeader(buffer->header), MMSYSERR_NOERROR);
        buffer->header.dwFlags = 0;
    }
    ASSERT_EQ(device->prepareHeader(buffers[0]->header), MMSYSERR_NOERROR);
    ASSERT_EQ(device->addBuffer(buffers[0]->header), MMSYSERR_NOERROR);
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);
    EXPECT_TRUE(processEventsUntil([&] { return log.messages.size() == 5; }, 5000));
}

TEST_F(PulseCaptureTest, AfterCloseNothingIsPostedAndNoHeaderIsTouched)
{
    queue(4, kBufferBytes);
    keepCirculating();
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(processEventsUntil([&] { return sizes.size() >= 2; }, 5000));
    log.onMessage = nullptr;

    ASSERT_EQ(device->close(), MMSYSERR_NOERROR);
    log.settleAndClear();
    for (auto& buffer : buffers) {
        std::fill(buffer->data.begin(), buffer->data.end(), 'k');
        buffer->header.dwBytesRecorded = 12345;
    }
    processEventsFor(700);
    EXPECT_TRUE(log.messages.empty());
    for (const auto& buffer : buffers) {
        EXPECT_EQ(buffer->header.dwBytesRecorded, 12345u);
        EXPECT_TRUE(std::all_of(buffer->data.begin(), buffer->data.end(), [](char c) { return c == 'k'; }));
    }
    EXPECT_EQ(device->addBuffer(buffers[0]->header), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(device->close(), MMSYSERR_NOERROR) << "a second close is harmless";
}

TEST_F(PulseCaptureTest, BufferMustBePreparedAndNotAlreadyQueued)
{
    OwnedHeader buffer(kBufferBytes);
    EXPECT_EQ(device->addBuffer(buffer.header), 34u);
    ASSERT_EQ(device->prepareHeader(buffer.header), MMSYSERR_NOERROR);
    ASSERT_EQ(device->addBuffer(buffer.header), MMSYSERR_NOERROR);
    EXPECT_EQ(device->addBuffer(buffer.header), 33u);
    EXPECT_EQ(device->unprepareHeader(buffer.header), 33u);
    ASSERT_EQ(device->reset(), MMSYSERR_NOERROR);
    EXPECT_EQ(device->unprepareHeader(buffer.header), MMSYSERR_NOERROR);
    log.settleAndClear();
}

} // namespace
} // namespace kavelo::test

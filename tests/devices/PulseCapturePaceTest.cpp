// A microphone nobody else records from runs at whatever pace its clients ask
// for; left alone it hands over sound in blocks of up to two seconds. Captured
// buffers must still come back one by one as they fill, or a call goes out in bursts.
#include "DeviceTestSupport.h"
#include "support/TestSupport.h"

#include "platform/pulse/PulseWaveIn.h"

#include <QElapsedTimer>

namespace kavelo::test {
namespace {

constexpr std::size_t kBufferBytes = 2000; // a quarter second at 8000 bytes/s

class PulseCapturePaceTest : public SoundServerTest {};

TEST_F(PulseCapturePaceTest, BuffersFromAnUnusedMicrophoneComeBackAsTheyFillNotInBursts)
{
    // The monitor of a sink nobody plays to is a microphone no other client uses.
    PrivateNullSink microphone(QStringLiteral("quietfeed"));
    ASSERT_TRUE(microphone.loaded()) << "pactl cannot load a null sink";
    MessageLog log;
    std::unique_ptr<WaveInDevice> device;
    ASSERT_EQ(PulseWaveIn::open(device, pcm8kU8(), log.target(), {}, microphone.monitor(), nullptr), MMSYSERR_NOERROR);

    std::vector<std::unique_ptr<OwnedHeader>> buffers;
    for (int i = 0; i < 12; ++i) {
        buffers.push_back(std::make_unique<OwnedHeader>(kBufferBytes));
        ASSERT_EQ(device->prepareHeader(buffers.back()->header), MMSYSERR_NOERROR);
        ASSERT_EQ(device->addBuffer(buffers.back()->header), MMSYSERR_NOERROR);
    }
    QElapsedTimer clock;
    std::vector<qint64> arrivals;
    log.onMessage = [&](const NotificationMessage& message) {
        if (message.number == kMmWimData)
            arrivals.push_back(clock.elapsed());
    };
    clock.start();
    ASSERT_EQ(device->start(), MMSYSERR_NOERROR);
    ASSERT_TRUE(processEventsUntil([&] { return arrivals.size() >= 10; }, 8000))
        << arrivals.size() << " buffers came back in 8 s";
    log.onMessage = nullptr;
    EXPECT_EQ(device->reset(), MMSYSERR_NOERROR);
    EXPECT_EQ(device->close(), MMSYSERR_NOERROR);

    // Each buffer holds a quarter second more than the one before. Bursts show
    // as buffers coming back together after a long gap. (The first buffer may
    // wait for the idle sink's block in progress to end: that is the sink's.)
    for (std::size_t i = 2; i < arrivals.size(); ++i) {
        const qint64 gap = arrivals[i] - arrivals[i - 1];
        EXPECT_GT(gap, 100) << "buffers " << i - 1 << " and " << i << " came back together";
        EXPECT_LT(gap, 450) << "buffer " << i << " came back " << gap << " ms after the one before";
    }
}

} // namespace
} // namespace kavelo::test

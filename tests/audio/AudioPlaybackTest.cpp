#include "audio/AudioPlayback.h"
#include "platform/ComponentData.h"
#include "support/FakeAudioBackend.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace kavelo {
namespace {

using test::FakeAudioBackend;
using Op = FakeAudioBackend::Op;

WaveFormat gsm610()
{
    WaveFormat format;
    format.setFormatTag(kWaveFormatGsm610);
    format.setChannels(1);
    format.setSamplesPerSec(8000);
    format.setAvgBytesPerSec(1625);
    format.setBlockAlign(65);
    format.setBitsPerSample(0);
    format.setExtraSize(2);
    format.setExtraU16(0, 320);
    return format;
}

void deliver()
{
    QCoreApplication::sendPostedEvents();
}

class AudioPlaybackTest : public ::testing::Test {
protected:
    AudioPlaybackTest()
    {
        out.OnBufferPlayed = [this](QObject* sender) {
            EXPECT_EQ(sender, &out);
            ++played;
        };
    }
    ~AudioPlaybackTest() override
    {
        out.Close();
        deliver();
        EXPECT_TRUE(fake->misuse().isEmpty()) << fake->misuse().join(QLatin1Char('\n')).toStdString();
    }

    void play(const QByteArray& block) { out.Play(block.constData(), static_cast<qint32>(block.size())); }

    // Blocks handed to the device so far, in the order written.
    QStringList written() const
    {
        QStringList blocks;
        for (const auto& call : fake->calls()) {
            if (call.op == Op::WaveOutWrite)
                blocks.append(QString::fromLatin1(call.bytes));
        }
        return blocks;
    }

    template <class F>
    QString errorOf(F&& operation)
    {
        try {
            operation();
        } catch (const AudioPlaybackError& e) {
            return e.Message();
        }
        return {};
    }

    std::shared_ptr<FakeAudioBackend> fake = std::make_shared<FakeAudioBackend>();
    AudioPlayback out{nullptr, fake};
    int played = 0;
};

TEST(AudioPlaybackDefaults, NumBuffersIsFourAndStoredDataCanChangeIt)
{
    QObject owner;
    auto* out = new AudioPlayback(&owner, std::make_shared<FakeAudioBackend>());
    out->setObjectName(QStringLiteral("playback"));
    EXPECT_EQ(out->NumBuffers(), 4);
    EXPECT_FALSE(out->Active());
    EXPECT_TRUE(writeComponentData({out}).contains("NumBuffers = 4\n"));
    readComponentData(&owner, "object playback: AudioPlayback\n  NumBuffers = 0\nend\n");
    EXPECT_EQ(out->NumBuffers(), 0);
}

TEST_F(AudioPlaybackTest, OpensTheDeviceInTheGivenFormatOnlyOnce)
{
    out.Open(gsm610());
    ASSERT_TRUE(out.Active());
    WaveFormat pcm;
    pcm.setFormatTag(kWaveFormatPcm);
    out.Open(pcm);
    EXPECT_EQ(fake->count(Op::WaveOutOpen), 1);
    EXPECT_EQ(fake->openPlayback()->format, gsm610());
}

TEST_F(AudioPlaybackTest, EmptyBlocksAndBlocksWhileInactiveAreDropped)
{
    play("early");
    out.Open(gsm610());
    out.Play(nullptr, 0);
    play(QByteArray());
    out.Play("x", -1);
    EXPECT_EQ(fake->count(Op::WaveOutPrepareHeader), 0);
    // None of them counted against the hold-back of four.
    for (const char* block : {"a", "b", "c", "d"})
        play(block);
    EXPECT_TRUE(written().isEmpty());
    play("e");
    EXPECT_EQ(written(), (QStringList{"a", "b", "c", "d", "e"}));
}

class AudioPlaybackHoldBack : public AudioPlaybackTest, public ::testing::WithParamInterface<int> {};

TEST_P(AudioPlaybackHoldBack, TheFirstBlocksWaitAndGoOutTogetherInArrivalOrder)
{
    const int held = GetParam();
    out.setNumBuffers(static_cast<quint8>(held));
    out.Open(gsm610());
    QStringList sent;
    for (int i = 0; i < held + 3; ++i) {
        const QString block = QStringLiteral("block%1").arg(i);
        sent.append(block);
        play(block.toLatin1());
        if (i < held)
            EXPECT_TRUE(written().isEmpty()) << "block " << i;
        else
            EXPECT_EQ(written(), sent) << "block " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, AudioPlaybackHoldBack, ::testing::Values(0, 1, 3));

TEST_F(AudioPlaybackTest, NumBuffersWrittenWhileActiveWaitsForTheNextOpen)
{
    out.setNumBuffers(0);
    out.Open(gsm610());
    out.setNumBuffers(2);
    play("now");
    EXPECT_EQ(written().size(), 1);
    out.Close();
    out.Open(gsm610());
    play("held");
    EXPECT_EQ(written().size(), 1);
}

TEST_F(AudioPlaybackTest, PlayCopiesTheBlock)
{
    out.setNumBuffers(1);
    out.Open(gsm610());
    QByteArray block("original");
    play(block);
    block.fill('#');
    play("next");
    EXPECT_EQ(written(), (QStringList{"original", "next"}));
}

TEST_F(AudioPlaybackTest, EachFinishedBufferIsReportedOnceInOrderAfterItsRelease)
{
    out.setNumBuffers(0);
    out.Open(gsm610());
    for (const char* block : {"one", "two", "three"})
        play(block);
    const std::vector<const WaveHeader*> queued = fake->headers(Op::WaveOutWrite);
    out.OnBufferPlayed = [&](QObject*) {
        // Unprepared before it is released and reported, in the order finished.
        EXPECT_EQ(fake->headers(Op::WaveOutUnprepareHeader).back(), queued[static_cast<std::size_t>(played)]);
        ++played;
    };
    while (fake->finish())
        deliver();
    EXPECT_EQ(played, 3);
    EXPECT_EQ(fake->played(), "onetwothree");
}

TEST_F(AudioPlaybackTest, CloseThrowsAwayHeldAndPlayingBlocksWithoutReports)
{
    out.setNumBuffers(0);
    out.Open(gsm610());
    play("playing");
    play("queued");
    out.Close();
    deliver();  // the reset's messages arrive after Close
    EXPECT_EQ(played, 0);
    EXPECT_EQ(fake->count(Op::WaveOutReset), 1);
    EXPECT_TRUE(fake->devices().back()->dropped);

    out.setNumBuffers(3);
    out.Open(gsm610());
    play("held");
    out.Close();
    deliver();
    EXPECT_EQ(written().size(), 2);
    EXPECT_EQ(played, 0);
}

TEST_F(AudioPlaybackTest, LateMessagesOfAClosedDeviceAreNotTakenForBuffersOfTheNewOne)
{
    out.setNumBuffers(0);
    out.Open(gsm610());
    const FakeAudioBackend::Device& first = *fake->devices().back();
    play("old1");
    play("old2");
    fake->holdNotifications(true);
    ASSERT_TRUE(fake->finish());
    out.Close();
    out.Open(gsm610());
    fake->holdNotifications(false);
    play("new");
    EXPECT_EQ(fake->heldCount(), 2u);
    fake->deliverHeld();
    fake->postAs(first, kMmWomDone, fake->openPlayback()->queue.front());
    deliver();
    EXPECT_EQ(played, 0);
    EXPECT_EQ(fake->count(Op::WaveOutUnprepareHeader), 0);

    ASSERT_TRUE(fake->finish());
    deliver();
    EXPECT_EQ(played, 1);
    EXPECT_EQ(fake->played(), "old1new");
}

TEST_F(AudioPlaybackTest, ARefusedFormatRaisesAndLeavesItInactive)
{
    fake->answer(Op::WaveOutOpen, 32);
    EXPECT_EQ(errorOf([&] { out.Open(gsm610()); }), QStringLiteral("WaveOutOpen Unsupported audio format."));
    EXPECT_FALSE(out.Active());
    play("dropped");
    EXPECT_EQ(fake->count(Op::WaveOutPrepareHeader), 0);
    out.Open(gsm610());
    EXPECT_TRUE(out.Active());
}

struct QueueFailure {
    Op op;
    MMRESULT code;
    const char* message;
    bool stillActive; // a device that is gone is closed, to be opened afresh
};

class AudioPlaybackQueueFailure : public AudioPlaybackTest, public ::testing::WithParamInterface<QueueFailure> {};

TEST_P(AudioPlaybackQueueFailure, RaisesToTheCallerAndTheRefusedBlockIsReleasedAtOnce)
{
    out.setNumBuffers(0);
    out.Open(gsm610());
    fake->answer(GetParam().op, GetParam().code);
    EXPECT_EQ(errorOf([&] { play("refused"); }), QString::fromUtf8(GetParam().message));
    // A written header is unprepared again at once; one never prepared is not.
    EXPECT_EQ(fake->count(Op::WaveOutUnprepareHeader), GetParam().op == Op::WaveOutWrite ? 1 : 0);
    EXPECT_EQ(out.Active(), GetParam().stillActive);
    if (!out.Active())
        out.Open(gsm610());
    play("fine");
    EXPECT_EQ(written().last(), QStringLiteral("fine"));
    EXPECT_TRUE(out.Active());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AudioPlaybackQueueFailure,
    ::testing::Values(
        QueueFailure{Op::WaveOutPrepareHeader, 7, "WaveOut-PrepareHeader The system is unable to allocate resources.",
                     true},
        QueueFailure{Op::WaveOutWrite, 40, "WaveOut-Write raised an unknown error (code #40)", true},
        QueueFailure{Op::WaveOutWrite, 35, "WaveOut-Write The specified device does not support asynchronous operation.",
                     true},
        QueueFailure{Op::WaveOutWrite, 2, "WaveOut-Write The specified resource does not exist.", false},
        QueueFailure{Op::WaveOutWrite, 6,
                     "WaveOut-Write A suitable driver is not available to provide valid format selections.", false}));

TEST_F(AudioPlaybackTest, ADeviceThatStopsFinishingBlocksIsGivenNoMoreThanEight)
{
    out.setNumBuffers(0);
    out.Open(gsm610());
    for (int i = 0; i < 20; ++i)
        play(QByteArray::number(i));
    EXPECT_EQ(written().size(), 8);
    // Once the device finishes one, the next block goes out again.
    ASSERT_TRUE(fake->finish());
    deliver();
    play("next");
    EXPECT_EQ(written().last(), QStringLiteral("next"));
}

TEST_F(AudioPlaybackTest, WhenAHeldBlockIsRefusedTheRestStayHeldAndNoneIsQueuedTwice)
{
    out.setNumBuffers(3);
    out.Open(gsm610());
    for (const char* block : {"h1", "h2", "h3"})
        play(block);
    fake->answer(Op::WaveOutWrite, 11, 2);
    EXPECT_EQ(errorOf([&] { play("b4"); }), QStringLiteral("WaveOut-Write At least one parameter is invalid."));
    play("b5");
    // h2 was refused; h3 and b4 waited and go out before b5.
    EXPECT_EQ(written(), (QStringList{"h1", "h2", "h3", "b4", "b5"}));
    while (fake->finish())
        deliver();
    EXPECT_EQ(fake->played(), "h1h3b4b5");
    EXPECT_EQ(played, 4);
}

TEST_F(AudioPlaybackTest, AFailedUnprepareIsAnErrorBoxAndThatBufferIsNotReported)
{
    test::ErrorBoxCatcher errors;
    out.setNumBuffers(0);
    out.Open(gsm610());
    play("a");
    play("b");
    fake->answer(Op::WaveOutUnprepareHeader, 5);
    ASSERT_TRUE(fake->finish());
    ASSERT_TRUE(fake->finish());
    deliver();
    EXPECT_EQ(errors.messages, QStringList{QStringLiteral("WaveOut-UnprepareHeader The specified handle is invalid.")});
    EXPECT_EQ(played, 1);
}

TEST(AudioPlaybackLifetime, DestroyingAnActiveComponentClosesTheDevice)
{
    auto fake = std::make_shared<FakeAudioBackend>();
    {
        AudioPlayback out(nullptr, fake);
        out.Open(gsm610());
        for (int i = 0; i < 5; ++i)
            out.Play("block", 5);
        ASSERT_TRUE(fake->finish());
    }
    deliver();
    EXPECT_TRUE(fake->devices().back()->closed);
    EXPECT_TRUE(fake->misuse().isEmpty()) << fake->misuse().join(QLatin1Char('\n')).toStdString();
}

} // namespace
} // namespace kavelo

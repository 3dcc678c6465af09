#include "audio/AudioCapture.h"
#include "platform/ComponentData.h"
#include "support/FakeAudioBackend.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace kavelo {
namespace {

using test::FakeAudioBackend;
using Op = FakeAudioBackend::Op;

WaveFormat pcm8k()
{
    WaveFormat format;
    format.setFormatTag(kWaveFormatPcm);
    format.setChannels(1);
    format.setSamplesPerSec(8000);
    format.setAvgBytesPerSec(8000);
    format.setBlockAlign(1);
    format.setBitsPerSample(8);
    return format;
}

// Messages the fake posted are handled now, the way the event loop would.
void deliver()
{
    QCoreApplication::sendPostedEvents();
}

struct Event {
    QObject* sender;
    bool nullData;
    QByteArray bytes;
};

class AudioCaptureTest : public ::testing::Test {
protected:
    AudioCaptureTest()
    {
        in.setBufferSize(16);
        in.OnBufferFull = [this](QObject* sender, const void* data, qint32 size) {
            events.push_back({sender, data == nullptr,
                              data ? QByteArray(static_cast<const char*>(data), size) : QByteArray()});
        };
    }
    ~AudioCaptureTest() override
    {
        in.Close();
        deliver();
        EXPECT_TRUE(fake->misuse().isEmpty()) << fake->misuse().join(QLatin1Char('\n')).toStdString();
    }

    std::vector<WaveHeader*> queue() const
    {
        const auto* device = fake->openCapture();
        return device ? std::vector<WaveHeader*>(device->queue.begin(), device->queue.end())
                      : std::vector<WaveHeader*>{};
    }

    // The message of the AudioCaptureError that Open raises, or empty.
    QString openError()
    {
        try {
            in.Open(pcm8k());
        } catch (const AudioCaptureError& e) {
            return e.Message();
        }
        return {};
    }

    std::shared_ptr<FakeAudioBackend> fake = std::make_shared<FakeAudioBackend>();
    AudioCapture in{nullptr, fake};
    std::vector<Event> events;
};

TEST(AudioCaptureDefaults, PropertiesAfterConstructionAndNoDeviceYet)
{
    auto fake = std::make_shared<FakeAudioBackend>();
    AudioCapture in(nullptr, fake);
    EXPECT_EQ(in.BufferSize(), 8192u);
    EXPECT_EQ(in.NumBuffers(), 4);
    EXPECT_FALSE(in.Active());
    EXPECT_TRUE(fake->calls().empty());
}

TEST(AudioCaptureDefaults, StoredDataSetsAndWritesBothPublishedProperties)
{
    QObject owner;
    auto* in = new AudioCapture(&owner, std::make_shared<FakeAudioBackend>());
    in->setObjectName(QStringLiteral("capture"));
    readComponentData(&owner, "object capture: AudioCapture\n  BufferSize = 1024\n  NumBuffers = 10\nend\n");
    EXPECT_EQ(in->BufferSize(), 1024u);
    EXPECT_EQ(in->NumBuffers(), 10);
    const QByteArray written = writeComponentData({in});
    EXPECT_TRUE(written.contains("BufferSize = 1024\n")) << written.toStdString();
    EXPECT_TRUE(written.contains("NumBuffers = 10\n")) << written.toStdString();
}

TEST_F(AudioCaptureTest, OpenQueuesEveryBufferInOrderThenStarts)
{
    in.Open(pcm8k());
    ASSERT_TRUE(in.Active());
    std::vector<Op> ops;
    for (const auto& call : fake->calls())
        ops.push_back(call.op);
    const std::vector<Op> expected{Op::WaveInOpen,
                                   Op::WaveInPrepareHeader, Op::WaveInAddBuffer,
                                   Op::WaveInPrepareHeader, Op::WaveInAddBuffer,
                                   Op::WaveInPrepareHeader, Op::WaveInAddBuffer,
                                   Op::WaveInPrepareHeader, Op::WaveInAddBuffer,
                                   Op::WaveInStart};
    EXPECT_EQ(ops, expected);
    EXPECT_EQ(fake->openCapture()->format, pcm8k());
    for (const WaveHeader* header : queue())
        EXPECT_EQ(header->dwBufferLength, 16u);
}

TEST_F(AudioCaptureTest, FilledBuffersArriveAsCopiesInOrderAndGoBackZeroedAtTheEnd)
{
    in.Open(pcm8k());
    const std::vector<WaveHeader*> before = queue();
    ASSERT_TRUE(fake->fill("first"));
    ASSERT_TRUE(fake->fill(QByteArray(16, 'x')));
    deliver();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].sender, &in);
    EXPECT_EQ(events[0].bytes, "first");
    EXPECT_EQ(events[1].bytes, QByteArray(16, 'x'));

    const std::vector<WaveHeader*> after = queue();
    const std::vector<WaveHeader*> rotated{before[2], before[3], before[0], before[1]};
    EXPECT_EQ(after, rotated);
    for (const WaveHeader* header : {before[0], before[1]}) {
        EXPECT_EQ(header->dwBufferLength, 16u);
        EXPECT_EQ(header->dwBytesRecorded, 0u);
        EXPECT_EQ(QByteArray(header->lpData, 16), QByteArray(16, '\0'));
    }
}

TEST_F(AudioCaptureTest, OpenWhileActiveChangesNothing)
{
    in.Open(pcm8k());
    const auto callsBefore = fake->calls().size();
    WaveFormat other = pcm8k();
    other.setSamplesPerSec(44100);
    in.Open(other);
    EXPECT_EQ(fake->calls().size(), callsBefore);
    EXPECT_EQ(fake->devices().size(), 1u);
    EXPECT_TRUE(in.Active());
}

TEST_F(AudioCaptureTest, CloseResetsAndClosesOnceAndRepeatedClosesAreHarmless)
{
    in.Close();
    EXPECT_TRUE(fake->calls().empty());
    in.Open(pcm8k());
    in.Close();
    in.Close();
    EXPECT_FALSE(in.Active());
    EXPECT_EQ(fake->count(Op::WaveInReset), 1);
    EXPECT_EQ(fake->count(Op::WaveInClose), 1);
    EXPECT_TRUE(fake->devices().back()->dropped);
}

TEST_F(AudioCaptureTest, SizeAndCountAreFixedWhileActiveAndTakeEffectAtTheNextOpen)
{
    in.Open(pcm8k());
    in.setBufferSize(100);
    in.setNumBuffers(2);
    EXPECT_EQ(in.BufferSize(), 16u);
    EXPECT_EQ(in.NumBuffers(), 4);
    in.Close();
    in.setBufferSize(100);
    in.setNumBuffers(2);
    in.Open(pcm8k());
    ASSERT_EQ(queue().size(), 2u);
    EXPECT_EQ(queue()[0]->dwBufferLength, 100u);
}

TEST_F(AudioCaptureTest, WithoutAHandlerTheBuffersStillCirculate)
{
    in.OnBufferFull = nullptr;
    in.Open(pcm8k());
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(fake->fill("abc"));
        deliver();
    }
    EXPECT_EQ(queue().size(), 4u);
    EXPECT_EQ(fake->count(Op::WaveInAddBuffer), 14);
}

TEST_F(AudioCaptureTest, AnEmptyBufferFiresWithSizeZeroAndNoData)
{
    in.Open(pcm8k());
    ASSERT_TRUE(fake->fill(QByteArrayView()));
    deliver();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].nullData);
    EXPECT_TRUE(events[0].bytes.isEmpty());
    EXPECT_EQ(queue().size(), 4u) << "the empty buffer goes back too";
}

TEST_F(AudioCaptureTest, ACountAboveTheBufferIsCutToTheBuffer)
{
    in.Open(pcm8k());
    ASSERT_TRUE(fake->fill(QByteArray(16, 'z'), 100000));
    deliver();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].bytes, QByteArray(16, 'z'));
}

TEST_F(AudioCaptureTest, WithNoBuffersTheDeviceStartsAndNothingIsEverReported)
{
    in.setNumBuffers(0);
    in.Open(pcm8k());
    EXPECT_TRUE(in.Active());
    EXPECT_EQ(fake->count(Op::WaveInStart), 1);
    EXPECT_FALSE(fake->fill("lost"));
    deliver();
    EXPECT_TRUE(events.empty());
}

TEST_F(AudioCaptureTest, ThePartlyFilledBufferTheCloseReturnsIsNeverReported)
{
    fake->setBytesRecordedAtReset(7);
    in.Open(pcm8k());
    in.Close();
    deliver();  // four messages from the reset, for buffers already freed
    EXPECT_TRUE(events.empty());
}

TEST_F(AudioCaptureTest, LateMessagesOfAClosedDeviceAreNotTakenForBuffersOfTheNewOne)
{
    in.Open(pcm8k());
    const FakeAudioBackend::Device& first = *fake->devices().back();
    fake->holdNotifications(true);
    ASSERT_TRUE(fake->fill("late"));  // filled just before the close
    in.Close();
    in.Open(pcm8k());
    fake->holdNotifications(false);
    EXPECT_EQ(fake->heldCount(), 4u);
    fake->deliverHeld();
    // The old device's id with the header of a live buffer of the new device,
    // as when the allocator hands out the freed address again.
    fake->postAs(first, kMmWimData, queue().front());
    deliver();
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(fake->count(Op::WaveInUnprepareHeader), 0);
    EXPECT_EQ(queue().size(), 4u);

    ASSERT_TRUE(fake->fill("new"));
    deliver();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].bytes, "new");
}

TEST_F(AudioCaptureTest, AMessageForAHeaderTheComponentDoesNotOwnIsIgnored)
{
    in.Open(pcm8k());
    WaveHeader stranger;
    fake->postAs(*fake->devices().back(), kMmWimData, &stranger);
    fake->postAs(*fake->devices().back(), kMmWomDone, queue().front());
    deliver();
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(fake->count(Op::WaveInUnprepareHeader), 0);
}

struct OpenFailure {
    Op op;
    int nth;
    MMRESULT code;
    const char* message;
};

class AudioCaptureOpenFailure : public AudioCaptureTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(AudioCaptureOpenFailure, RaisesTheStepsMessageLeavesItInactiveAndTheNextOpenWorks)
{
    const OpenFailure& failure = GetParam();
    fake->answer(failure.op, failure.code, failure.nth);
    EXPECT_EQ(openError(), QString::fromUtf8(failure.message));
    EXPECT_FALSE(in.Active());
    // What the failed Open obtained is given back.
    EXPECT_EQ(fake->openCapture(), nullptr);
    in.Close();
    EXPECT_EQ(fake->count(Op::WaveInClose), failure.op == Op::WaveInOpen ? 0 : 1);

    deliver();
    EXPECT_EQ(openError(), QString());
    EXPECT_TRUE(in.Active());
    EXPECT_EQ(queue().size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AudioCaptureOpenFailure,
    ::testing::Values(
        OpenFailure{Op::WaveInOpen, 1, 4, "WaveIn-Open The specified resource is already in use."},
        OpenFailure{Op::WaveInOpen, 1, 2, "WaveIn-Open The specified resource does not exist."},
        OpenFailure{Op::WaveInOpen, 1, 32, "WaveIn-Open Unsupported audio format."},
        OpenFailure{Op::WaveInPrepareHeader, 3, 7, "WaveIn-PrepareHeader The system is unable to allocate resources."},
        OpenFailure{Op::WaveInAddBuffer, 2, 11, "WaveIn-AddBuffer At least one parameter is invalid."},
        OpenFailure{Op::WaveInStart, 1, 33, "WaveIn-Start raised an unknown error (code #33)"}));

struct ReturnFailure {
    Op op;
    MMRESULT code;
    const char* message;
    bool reported;  // whether OnBufferFull ran before the step failed
};

class AudioCaptureReturnFailure : public AudioCaptureTest, public ::testing::WithParamInterface<ReturnFailure> {};

TEST_P(AudioCaptureReturnFailure, BecomesAnErrorBoxAndOnlyThatBufferStopsCirculating)
{
    const ReturnFailure& failure = GetParam();
    test::ErrorBoxCatcher errors;
    in.Open(pcm8k());
    const WaveHeader* failing = queue().front();
    fake->answer(failure.op, failure.code);
    ASSERT_TRUE(fake->fill("one"));
    deliver();
    EXPECT_EQ(errors.messages, QStringList{QString::fromUtf8(failure.message)});
    EXPECT_EQ(events.size(), failure.reported ? 1u : 0u);
    const std::vector<WaveHeader*> queued = queue();
    ASSERT_EQ(queued.size(), 3u);
    EXPECT_EQ(std::count(queued.begin(), queued.end(), failing), 0);

    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(fake->fill("more"));
        deliver();
    }
    EXPECT_EQ(events.size(), failure.reported ? 7u : 6u);
    EXPECT_EQ(errors.messages.size(), 1);
    EXPECT_TRUE(in.Active());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AudioCaptureReturnFailure,
    ::testing::Values(
        ReturnFailure{Op::WaveInUnprepareHeader, 5, "WaveIn-UnprepareHeader The specified handle is invalid.", false},
        ReturnFailure{Op::WaveInPrepareHeader, 514,
                      "WaveIn-PrepareHeader Cannot perform this action on a header that has not been prepared.", true},
        ReturnFailure{Op::WaveInAddBuffer, 33, "WaveInAddBuffer raised an unknown error (code #33)", true}));

// A device that is gone (unplugged, its server lost) hands back every buffer
// it held and refuses each one put back: the component closes at the first,
// so the loss is told once, and a new Open records again.
TEST_F(AudioCaptureTest, ADeviceFoundGoneClosesTheComponentAndIsToldOnce)
{
    test::ErrorBoxCatcher errors;
    in.Open(pcm8k());
    for (const MMRESULT gone : {MMSYSERR_BADDEVICEID, MMSYSERR_NODRIVER}) {
        SCOPED_TRACE(gone);
        errors.messages.clear();
        events.clear();
        fake->answerAlways(Op::WaveInAddBuffer, gone);
        int handedBack = 0;
        while (fake->fill(QByteArrayView()))
            ++handedBack;
        EXPECT_EQ(handedBack, 4);
        deliver();
        EXPECT_EQ(errors.messages.size(), 1) << errors.messages.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(events.size(), 1u) << "buffers handed back after the loss are not reported";
        EXPECT_FALSE(in.Active());
        ASSERT_FALSE(fake->devices().empty());
        EXPECT_TRUE(fake->devices().back()->closed);

        fake->clearAnswers();
        in.Open(pcm8k());
        ASSERT_TRUE(in.Active());
        ASSERT_TRUE(fake->fill("back"));
        deliver();
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events.back().bytes, QByteArray("back"));
    }
}

TEST_F(AudioCaptureTest, AHandlerThatRaisesKeepsItsBufferAndTheOthersCirculate)
{
    test::ErrorBoxCatcher errors;
    int calls = 0;
    in.OnBufferFull = [&](QObject*, const void*, qint32) {
        if (++calls % 2 == 1)
            throw Exception(QStringLiteral("send failed"));
    };
    in.Open(pcm8k());
    // Every raise takes one buffer out of circulation; with four buffers the
    // fourth raise leaves none queued.
    int filled = 0;
    while (fake->fill("x")) {
        ++filled;
        deliver();
    }
    EXPECT_EQ(calls, 7);
    EXPECT_EQ(filled, 7);
    EXPECT_EQ(errors.messages.size(), 4);
    EXPECT_EQ(errors.messages.value(0), QStringLiteral("send failed"));
    EXPECT_TRUE(in.Active());

    in.Close();
    in.Open(pcm8k());
    EXPECT_EQ(queue().size(), 4u) << "a new Open brings all buffers back";
}

TEST_F(AudioCaptureTest, AHandlerThatClosesOrReopensLeavesTheFreedBufferAlone)
{
    in.Open(pcm8k());
    in.OnBufferFull = [this](QObject*, const void*, qint32) { in.Close(); };
    ASSERT_TRUE(fake->fill("stop"));
    deliver();
    EXPECT_FALSE(in.Active());

    in.OnBufferFull = [this](QObject*, const void*, qint32) {
        in.Close();
        in.Open(pcm8k());
    };
    in.Open(pcm8k());
    ASSERT_TRUE(fake->fill("again"));
    deliver();
    EXPECT_TRUE(in.Active());
    EXPECT_EQ(queue().size(), 4u);
}

TEST_F(AudioCaptureTest, AHandlerMayUnassignItselfWhileItRuns)
{
    in.OnBufferFull = [this, marker = std::make_shared<QByteArray>("still here")](QObject*, const void*, qint32) {
        in.OnBufferFull = nullptr;
        events.push_back({nullptr, false, *marker});
    };
    in.Open(pcm8k());
    ASSERT_TRUE(fake->fill("a"));
    ASSERT_TRUE(fake->fill("b"));
    deliver();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].bytes, "still here");
    EXPECT_EQ(queue().size(), 4u);
}

TEST(AudioCaptureLifetime, DestroyingAnActiveComponentClosesTheDeviceAndLateMessagesAreHarmless)
{
    auto fake = std::make_shared<FakeAudioBackend>();
    {
        AudioCapture in(nullptr, fake);
        in.setBufferSize(32);
        in.Open(pcm8k());
        ASSERT_TRUE(fake->fill("pending"));
    }
    deliver();
    ASSERT_EQ(fake->devices().size(), 1u);
    EXPECT_TRUE(fake->devices()[0]->closed);
    EXPECT_TRUE(fake->devices()[0]->dropped);
    EXPECT_TRUE(fake->misuse().isEmpty()) << fake->misuse().join(QLatin1Char('\n')).toStdString();
}

TEST(AudioCaptureLifetime, ComponentsRecordThroughTheInstalledBackend)
{
    test::InstalledFakeAudio fake;
    AudioCapture in(nullptr);
    in.Open(pcm8k());
    EXPECT_EQ(fake->count(Op::WaveInOpen), 1);
    in.Close();
}

} // namespace
} // namespace kavelo

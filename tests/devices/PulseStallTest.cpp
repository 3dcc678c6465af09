#include "DeviceTestSupport.h"
#include "support/TestSupport.h"

#include "voice/GsmCodec.h"
#include "platform/pulse/PulseAudioBackend.h"

#include <QFile>
#include <csignal>
#include <sys/types.h>

namespace kavelo::test {
namespace {

// The private server's process, read from its pid file.
pid_t serverPid()
{
    QFile file(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/pulse/pid"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return static_cast<pid_t>(file.readAll().trimmed().toLong());
}

// Freezes the server while it lives: it answers nothing, as a hung server would.
class FrozenServer {
public:
    explicit FrozenServer(pid_t pid) : pid_(pid) { ::kill(pid_, SIGSTOP); }
    ~FrozenServer() { ::kill(pid_, SIGCONT); }
    FrozenServer(const FrozenServer&) = delete;
    FrozenServer& operator=(const FrozenServer&) = delete;

private:
    pid_t pid_;
};

// Suspends the default source while it lives.
class SuspendedMicrophone {
public:
    SuspendedMicrophone() { runTool(QStringLiteral("pactl"), {QStringLiteral("suspend-source"), QStringLiteral("mic"), QStringLiteral("1")}); }
    ~SuspendedMicrophone() { runTool(QStringLiteral("pactl"), {QStringLiteral("suspend-source"), QStringLiteral("mic"), QStringLiteral("0")}); }
    SuspendedMicrophone(const SuspendedMicrophone&) = delete;
    SuspendedMicrophone& operator=(const SuspendedMicrophone&) = delete;
};

class PulseStallTest : public SoundServerTest {
protected:
    void queueCapture(WaveInDevice& device, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            buffers.push_back(std::make_unique<OwnedHeader>(2000));
            ASSERT_EQ(device.prepareHeader(buffers.back()->header), MMSYSERR_NOERROR);
            ASSERT_EQ(device.addBuffer(buffers.back()->header), MMSYSERR_NOERROR);
        }
    }

    void expectAllReturned(quint32 number)
    {
        for (const auto& buffer : buffers) {
            EXPECT_TRUE(buffer->header.dwFlags & WHDR_DONE);
            EXPECT_FALSE(buffer->header.dwFlags & WHDR_INQUEUE);
        }
        ASSERT_TRUE(processEventsUntil([&] { return log.messages.size() >= buffers.size(); }, 2000));
        for (const auto& message : log.messages)
            EXPECT_EQ(message.number, number);
    }

    MessageLog log;
    std::vector<std::unique_ptr<OwnedHeader>> buffers;
};

// Nothing below may wait for the frozen server: were reset() or close() to
// wait for an answer, the test would never end.
TEST_F(PulseStallTest, ResetAndCloseDoNotWaitForAHungServer)
{
    const pid_t pid = serverPid();
    ASSERT_GT(pid, 0) << "no pid file of the private server";
    auto backend = makePulseAudioBackend();
    std::unique_ptr<WaveInDevice> in;
    std::unique_ptr<WaveOutDevice> out;
    ASSERT_EQ(backend->openWaveIn(in, pcm8kU8(), log.target()), MMSYSERR_NOERROR);
    ASSERT_EQ(backend->openWaveOut(out, gsm610(), log.target()), MMSYSERR_NOERROR);
    queueCapture(*in, 4);
    ASSERT_EQ(in->start(), MMSYSERR_NOERROR);

    FrozenServer frozen(pid);
    ASSERT_EQ(in->reset(), MMSYSERR_NOERROR);
    expectAllReturned(kMmWimData);
    EXPECT_EQ(in->close(), MMSYSERR_NOERROR);

    log.settleAndClear();
    buffers.clear();
    std::vector<std::uint8_t> silence(390, 0);
    for (int i = 0; i < 5; ++i) {
        buffers.push_back(std::make_unique<OwnedHeader>(silence.size()));
        ASSERT_EQ(out->prepareHeader(buffers.back()->header), MMSYSERR_NOERROR);
        ASSERT_EQ(out->write(buffers.back()->header), MMSYSERR_NOERROR);
    }
    ASSERT_EQ(out->reset(), MMSYSERR_NOERROR);
    expectAllReturned(kMmWomDone);
    EXPECT_EQ(out->close(), MMSYSERR_NOERROR);
}

// An open does not wait for a server that does not answer: the device is
// pending, takes buffers, and fails once the server has had its time.
TEST_F(PulseStallTest, ADeviceThatTheHungServerNeverAnswersFailsAndGivesItsBuffersBack)
{
    const pid_t pid = serverPid();
    ASSERT_GT(pid, 0) << "no pid file of the private server";
    FrozenServer frozen(pid);
    std::unique_ptr<WaveOutDevice> out;
    ASSERT_EQ(makePulseAudioBackend()->openWaveOut(out, pcm8kU8(), log.target()), MMSYSERR_NOERROR);
    for (int i = 0; i < 3; ++i) {
        buffers.push_back(std::make_unique<OwnedHeader>(800));
        ASSERT_EQ(out->prepareHeader(buffers.back()->header), MMSYSERR_NOERROR);
        ASSERT_EQ(out->write(buffers.back()->header), MMSYSERR_NOERROR);
    }
    processEventsFor(300);
    EXPECT_TRUE(log.messages.empty()) << "nothing is played before the server answers";
    ASSERT_TRUE(processEventsUntil([&] { return log.messages.size() >= buffers.size(); }, 10000))
        << "the device never gave up on the server";
    expectAllReturned(kMmWomDone);
    OwnedHeader late(800);
    ASSERT_EQ(out->prepareHeader(late.header), MMSYSERR_NOERROR);
    EXPECT_EQ(out->write(late.header), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(out->close(), MMSYSERR_NOERROR);
}

TEST_F(PulseStallTest, APendingDeviceRecordsOnceTheServerAnswers)
{
    const pid_t pid = serverPid();
    ASSERT_GT(pid, 0) << "no pid file of the private server";
    std::unique_ptr<WaveInDevice> in;
    {
        FrozenServer frozen(pid);
        ASSERT_EQ(makePulseAudioBackend()->openWaveIn(in, pcm8kU8(), log.target()), MMSYSERR_NOERROR);
        queueCapture(*in, 2);
        ASSERT_EQ(in->start(), MMSYSERR_NOERROR);
        processEventsFor(300);
        EXPECT_TRUE(log.messages.empty());
    }
    ASSERT_TRUE(processEventsUntil([&] { return log.messages.size() >= buffers.size(); }, 5000));
    for (const auto& buffer : buffers)
        EXPECT_EQ(buffer->header.dwBytesRecorded, 2000u) << "the buffers came back without what was recorded";
    EXPECT_EQ(in->reset(), MMSYSERR_NOERROR);
    EXPECT_EQ(in->close(), MMSYSERR_NOERROR);
}

TEST_F(PulseStallTest, ResetReturnsTheBuffersWhileTheMicrophoneIsSuspended)
{
    SuspendedMicrophone suspended;
    if (HasFatalFailure())
        return;
    std::unique_ptr<WaveInDevice> in;
    const MMRESULT opened = makePulseAudioBackend()->openWaveIn(in, pcm8kU8(), log.target());
    // Whether the server lets a stream start on a suspended source is its own
    // affair; either way the open ends, and an open device can be reset.
    if (opened != MMSYSERR_NOERROR) {
        EXPECT_EQ(in, nullptr);
        return;
    }
    queueCapture(*in, 4);
    ASSERT_EQ(in->start(), MMSYSERR_NOERROR);
    processEventsFor(300);
    ASSERT_EQ(in->reset(), MMSYSERR_NOERROR);
    expectAllReturned(kMmWimData);
    EXPECT_EQ(in->close(), MMSYSERR_NOERROR);
}

} // namespace
} // namespace kavelo::test

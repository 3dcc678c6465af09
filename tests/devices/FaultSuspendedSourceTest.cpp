// "Speak" while the microphone is suspended on the sound server (as a desktop
// does with an idle or muted source). The press must end one way or the other:
// recording that delivers sound, or a refusal in plain words. A capture that
// opens and then never delivers would leave the user talking into nothing.
#include "DeviceTestSupport.h"
#include "support/TestSupport.h"

#include "audio/AudioCapture.h"
#include "platform/pulse/PulseAudioBackend.h"

#include <QElapsedTimer>

namespace kavelo::test {
namespace {

class SuspendedSource {
public:
    SuspendedSource() { runTool(QStringLiteral("pactl"), {QStringLiteral("suspend-source"), QStringLiteral("mic"), QStringLiteral("1")}); }
    ~SuspendedSource() { runTool(QStringLiteral("pactl"), {QStringLiteral("suspend-source"), QStringLiteral("mic"), QStringLiteral("0")}); }
    SuspendedSource(const SuspendedSource&) = delete;
    SuspendedSource& operator=(const SuspendedSource&) = delete;
};

using FaultSuspendedSourceTest = SoundServerTest;

TEST_F(FaultSuspendedSourceTest, SpeakOnASuspendedMicrophoneRecordsOrSaysWhyNot)
{
    ErrorBoxCatcher errors;
    SuspendedSource suspended;
    AudioCapture in(nullptr, makePulseAudioBackend());
    in.setBufferSize(2000);
    int buffers = 0;
    in.OnBufferFull = [&](QObject*, const void*, qint32) { ++buffers; };
    QString refusal;
    QElapsedTimer opening;
    opening.start();
    try {
        in.Open(pcm8kU8());
    } catch (const AudioCaptureError& e) {
        refusal = e.Message();
    }
    const qint64 openMs = opening.elapsed();
    ::testing::Test::RecordProperty("open_ms", static_cast<int>(openMs));
    if (!refusal.isEmpty()) {
        EXPECT_TRUE(refusal.startsWith(QStringLiteral("WaveIn-"))) << refusal.toStdString();
        EXPECT_FALSE(in.Active());
        return;
    }
    // Opened: sound, or a reported failure, must follow (a quarter-second buffer
    // takes 250 ms; a busy machine gets ten times that).
    const bool answered = processEventsUntil([&] { return buffers > 0 || !errors.messages.isEmpty(); }, 3000);
    ::testing::Test::RecordProperty("buffers", buffers);
    EXPECT_TRUE(answered) << "the microphone opened (in " << openMs
                          << " ms) but neither delivers sound nor reports a failure";
    in.Close();
}

} // namespace
} // namespace kavelo::test
